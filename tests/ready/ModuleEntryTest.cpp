// What loading the library must have done before any agent code runs: every SM
// source name has a trace handler, and the readiness types are in the type registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

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
  EXPECT_TRUE(CorvaneTest::registeredInOrder({&LagInfoReady::typeDataStatic(), &TcamDbStatusInterfaceReady::typeDataStatic(),
                                               &RedundancyStatusContainer::typeDataStatic(), &Foo::typeDataStatic()}));
  // (The readiness types' names: Directory.ReadinessEntitiesTakeOnlyTheirName makes them by name.)
  EXPECT_STREQ(Foo::typeDataStatic().name(), "Corvane::Foo");
  // Named entities descend from NamedEntity; Foo is a plain entity.
  EXPECT_EQ(LagInfoReady::typeDataStatic().parent(), &NamedEntity::typeDataStatic());
  EXPECT_EQ(TcamDbStatusInterfaceReady::typeDataStatic().parent(), &NamedEntity::typeDataStatic());
  EXPECT_EQ(RedundancyStatusContainer::typeDataStatic().parent(), &NamedEntity::typeDataStatic());
  EXPECT_EQ(Foo::typeDataStatic().parent(), &Entity::typeDataStatic());
}
