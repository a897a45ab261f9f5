// The library's module entry. Loading libcorvane registers the readiness and
// container types with Corvane::TypeRegistry and gives every state machine's source
// name its default trace handler. Foo is a placeholder type the entry registers too.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "corvane/framework/Publisher.h"
#include "corvane/platform/VeltStatus.h"

namespace Corvane {

// Source names of the library's state machines; each has a trace handler from load on.
inline constexpr std::array<std::string_view, 10> smSourceNames = {
    "IntfTcamSm",           "LagHwConfigPortToLagSm",     "IntfPortMapSm",       "PortMapToIntfSm",
    "ConfigExpSm",          "ConfigPortMapExpSm",         "ConfigLagMemberExpSm", "IntfPerTcamFeatureStatusSm",
    "IntfFeatureStatusSm",  "IntfFeatureStatusOutputSm"};

// Carries no meaning; it exists so that the type reflection lists it.
class CORVANE_API Foo : public Entity {
  CORVANE_NODE_TYPE(Foo)

  static constexpr uint32_t attrFoo = 1;

  static Ptr<Foo> FooIs();
  Foo();
  ~Foo() override;

  Ptr<Hardware::Velt::LagHwConfig const> const& foo() const noexcept { return foo_; }
  // Same rules as every entity reference: identity check, previous released after notifying.
  void fooIs(Ptr<Hardware::Velt::LagHwConfig const> foo);

 private:
  Ptr<Hardware::Velt::LagHwConfig const> foo_;
};

}  // namespace Corvane
