#include "corvane/resources/VlanDomainResourceTypes.h"

#include <ostream>
#include <string>

#include <fmt/format.h>

#include "corvane/framework/Errors.h"
#include "corvane/framework/TypeRegistry.h"

namespace VeltVlanDomain {

namespace {

constexpr char const* featureNames[vlanDomainFeatureMax + 1] = {"featureUnknown", "featureVeltRoutedPort",
                                                                "featureVeltL3SubIntf", "featureVeltVlanTrans"};

constexpr char const* featureTypeName = "VeltVlanDomain::VlanDomainFeature";

constinit Corvane::EnumTable features(featureTypeName, featureNames);

}  // namespace

Corvane::EnumTable const& enumTable(VlanDomainFeature) noexcept { return features; }

std::ostream& operator<<(std::ostream& os, VlanDomainFeature feature) {
  return features.print(os, vlanDomainFeatureValue(feature));
}

std::string_view vlanDomainFeatureName(VlanDomainFeature feature) noexcept {
  return features.name(vlanDomainFeatureValue(feature));
}

VlanDomainFeature vlanDomainFeatureFromValue(uint32_t value) {
  if (features.name(value).empty()) {
    throw Corvane::RangeError(fmt::format("{}: {} is not a listed feature", featureTypeName, value));
  }
  return static_cast<VlanDomainFeature>(value);
}

VlanDomainFeature vlanDomainFeatureFromName(std::string_view name) {
  std::optional<uint64_t> const v = features.find(name);
  if (!v) throw Corvane::ParseError(featureTypeName, fmt::format("{}: unknown name '{}'", featureTypeName, name));
  return static_cast<VlanDomainFeature>(*v);
}

Corvane::TypeData& VlanDomainFeatureUtil::typeDataStatic() noexcept {
  // Not a node: it has no parent and never has live objects.
  static Corvane::TypeData td("VeltVlanDomain::VlanDomainFeatureUtil", nullptr);
  return td;
}

bool VlanDomainFeatureUtil::isFeatureCohab(VlanDomainFeature feature) {
  // A new feature must be placed here deliberately; falling through would let it
  // share a VLAN domain by accident.
  switch (feature) {
    case VlanDomainFeature::featureUnknown:
    case VlanDomainFeature::featureVeltRoutedPort:
    case VlanDomainFeature::featureVeltL3SubIntf:
    case VlanDomainFeature::featureVeltVlanTrans:
      return true;
  }
  throw Corvane::InternalError("feature has to be defined as either cohab or non-cohab");
}

namespace {
[[maybe_unused]] bool const registered = [] {
  features.typeRegister();
  Corvane::TypeRegistry::typeRegister(VlanDomainFeatureUtil::typeDataStatic(),
                                      Corvane::Describe<VlanDomainFeatureUtil>(Corvane::TypeKind::utility)
                                          .operation<&VlanDomainFeatureUtil::isFeatureCohab>("isFeatureCohab")
                                          .done());
  return true;
}();
}  // namespace

}  // namespace VeltVlanDomain
