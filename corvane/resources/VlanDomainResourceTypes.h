// Features that may ask for a VLAN domain (the resource grouping an interface's VLANs
// into one forwarding context), and whether each may share one with other features.
// Used by the hardware layer when it decides whether two features can cohabit.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "corvane/framework/Export.h"
#include "corvane/framework/Node.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TextForm.h"

namespace VeltVlanDomain {

enum class VlanDomainFeature : uint8_t {
  featureUnknown = 0,
  featureVeltRoutedPort = 1,
  featureVeltL3SubIntf = 2,
  featureVeltVlanTrans = 3,
};

inline constexpr uint8_t vlanDomainFeatureMax = 3;

// The names, parsing and registry entry of the feature list; the conversions below
// are its shorthands.
CORVANE_API Corvane::EnumTable const& enumTable(VlanDomainFeature) noexcept;

// The enumerator's name; a number outside the list prints as that number.
CORVANE_API std::ostream& operator<<(std::ostream& os, VlanDomainFeature feature);

// Number and name conversions. An unknown number raises RangeError, an unknown name
// ParseError (attribute "VeltVlanDomain::VlanDomainFeature").
constexpr uint8_t vlanDomainFeatureValue(VlanDomainFeature feature) noexcept {
  return static_cast<uint8_t>(feature);
}
CORVANE_API VlanDomainFeature vlanDomainFeatureFromValue(uint32_t value);
CORVANE_API VlanDomainFeature vlanDomainFeatureFromName(std::string_view name);
// Empty for a number outside the list.
CORVANE_API std::string_view vlanDomainFeatureName(VlanDomainFeature feature) noexcept;

class CORVANE_API VlanDomainFeatureUtil {
 public:
  VlanDomainFeatureUtil() = delete;

  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;

  // Every listed feature may share a VLAN domain. A number outside the list is the
  // caller's mistake and raises Corvane::InternalError.
  static bool isFeatureCohab(VlanDomainFeature feature);
};

}  // namespace VeltVlanDomain

CORVANE_FORMATTER(VeltVlanDomain::VlanDomainFeature);
