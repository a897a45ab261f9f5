#include "corvane/resources/VlanDomainResourceTypes.h"

#include <array>
#include <ostream>
#include <string>

#include <fmt/format.h>

#include "corvane/framework/Errors.h"
#include "corvane/framework/TypeRegistry.h"

namespace VeltVlanDomain {

namespace {

constexpr std::array<std::string_view, vlanDomainFeatureMax + 1> featureNames = {
    "featureUnknown", "featureVeltRoutedPort", "featureVeltL3SubIntf", "featureVeltVlanTrans"};

constexpr char const* featureTypeName = "VeltVlanDomain::VlanDomainFeature";

}  // namespace

std::ostream& operator<<(std::ostream& os, VlanDomainFeature feature) {
  std::string_view const name = vlanDomainFeatureName(feature);
  if (name.empty()) return os << unsigned(vlanDomainFeatureValue(feature));
  return os << name;
}

std::string_view vlanDomainFeatureName(VlanDomainFeature feature) noexcept {
  uint8_t const v = vlanDomainFeatureValue(feature);
  return v <= vlanDomainFeatureMax ? featureNames[v] : std::string_view();
}

VlanDomainFeature vlanDomainFeatureFromValue(uint32_t value) {
  if (value > vlanDomainFeatureMax) {
    throw Corvane::RangeError(fmt::format("{}: {} is not a listed feature", featureTypeName, value));
  }
  return static_cast<VlanDomainFeature>(value);
}

VlanDomainFeature vlanDomainFeatureFromName(std::string_view name) {
  for (size_t i = 0; i < featureNames.size(); ++i) {
    if (featureNames[i] == name) return static_cast<VlanDomainFeature>(i);
  }
  throw Corvane::ParseError(featureTypeName, fmt::format("{}: unknown name '{}'", featureTypeName, name));
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
  Corvane::TypeRegistry::typeRegister(VlanDomainFeatureUtil::typeDataStatic());
  return true;
}();
}  // namespace

}  // namespace VeltVlanDomain
