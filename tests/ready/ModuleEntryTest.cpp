// What loading the library must have done before any agent code runs: every SM
// source name has a trace handler, and the readiness types are in the type registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "corvane/Corvane.h"

using namespace Corvane;

TEST(ModuleEntry, EverySmSourceNameHasAHandlerAfterLoad) {
  char const* const names[] = {"IntfTcamSm",          "LagHwConfigPortToLagSm",    "IntfPortMapSm",
                               "PortMapToIntfSm",     "ConfigExpSm",               "ConfigPortMapExpSm",
                               "ConfigLagMemberExpSm", "IntfPerTcamFeatureStatusSm", "IntfFeatureStatusSm",
                               "IntfFeatureStatusOutputSm"};
  for (char const* name : names) {
    Ptr<DebugHandler> h = getDebugHandler(name, false);
    ASSERT_TRUE(h) << name;
    EXPECT_EQ(h->name(), name);
  }
  // The published list and the names above must not drift apart.
  ASSERT_EQ(smSourceNames.size(), std::size(names));
  for (char const* name : names) {
    EXPECT_NE(std::find(smSourceNames.begin(), smSourceNames.end(), name), smSourceNames.end()) << name;
  }
}

TEST(ModuleEntry, ReadyTypesAreRegisteredInOrderWithTheirParents) {
  auto const types = TypeRegistry::types();
  auto place = [&](char const* name) {
    auto it = std::find_if(types.begin(), types.end(), [&](TypeData const* t) { return std::string(t->name()) == name; });
    return it == types.end() ? -1 : int(it - types.begin());
  };
  int const lag = place("Corvane::LagInfoReady");
  int const tcam = place("Corvane::TcamDbStatusInterfaceReady");
  int const container = place("Corvane::RedundancyStatusContainer");
  int const foo = place("Corvane::Foo");
  ASSERT_GE(lag, 0);
  EXPECT_LT(lag, tcam);
  EXPECT_LT(tcam, container);
  EXPECT_LT(container, foo);

  EXPECT_EQ(TypeRegistry::type("Corvane::LagInfoReady"), &LagInfoReady::typeDataStatic());
  EXPECT_EQ(TypeRegistry::type("Corvane::Foo"), &Foo::typeDataStatic());
  // Named entities descend from NamedEntity; Foo is a plain entity.
  EXPECT_EQ(LagInfoReady::typeDataStatic().parent(), &NamedEntity::typeDataStatic());
  EXPECT_EQ(TcamDbStatusInterfaceReady::typeDataStatic().parent(), &NamedEntity::typeDataStatic());
  EXPECT_EQ(RedundancyStatusContainer::typeDataStatic().parent(), &NamedEntity::typeDataStatic());
  EXPECT_EQ(Foo::typeDataStatic().parent(), &Entity::typeDataStatic());
}
