// The small value readers of the resource types: TagFormat (decimal, 0 to 33) and
// the VLAN-domain feature names.
#include <cstdint>

#include "RoundTrip.h"
#include "corvane/resources/VlanDomainResourceTypes.h"
#include "corvane/resources/VlanEditResourceTypes.h"

using Corvane::TagFormat;
using VeltVlanDomain::VlanDomainFeature;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);

  auto const parseTag = [](std::string_view s) { return TagFormat::parse(s); };
  if (auto t = CorvaneFuzz::checkRoundTrip<TagFormat>("TagFormat", parseTag, text)) {
    if (t->value() > TagFormat::Tag_Max_) CorvaneFuzz::failure("TagFormat", text, "parsed past Tag_Max_");
  }
  CorvaneFuzz::checkPrefix<TagFormat>(
      "TagFormat", [](std::string_view s, TagFormat& out) { return TagFormat::parsePrefix(s, out); }, parseTag,
      text);

  auto const parseFeature = [](std::string_view s) { return VeltVlanDomain::vlanDomainFeatureFromName(s); };
  if (auto f = CorvaneFuzz::checkRoundTrip<VlanDomainFeature>("VlanDomainFeature", parseFeature, text)) {
    if (VeltVlanDomain::vlanDomainFeatureName(*f) != text) {
      CorvaneFuzz::failure("VlanDomainFeature", text, "the name differs from the text it was read from");
    }
  }
  return 0;
}
