// The members of an ordered group-by's group: one member inline, more in a map, the
// smallest first in either form, and the form changing back as members leave.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>

#include "corvane/Corvane.h"
#include "corvane/engine/Operators.h"

using namespace Corvane;

namespace {

using Members = detail::GroupMembers<IntfId, IntfId>;
IntfId const et1 = IntfId::ethernet(1);
IntfId const et2 = IntfId::ethernet(2);
IntfId const et3 = IntfId::ethernet(3);
IntfId const lag1 = IntfId("Port-Channel1");
IntfId const lag2 = IntfId("Port-Channel2");

static_assert(sizeof(detail::GroupMembers<IntfId, Unit>) <= 16, "a port's LAG group fits two words");
static_assert(triviallyRelocatable<Members>, "tables move groups as bytes");

TEST(GroupMembers, SmallestFirstThroughEveryForm) {
  Members g;
  EXPECT_TRUE(g.empty());
  g.assign(et2, lag2);
  EXPECT_EQ(g.bytesHeld(), 0u) << "one member needs no map";
  g.assign(et2, lag1);  // a new value for the member held inline
  EXPECT_EQ(g.firstValue(), lag1);
  g.erase(et3);  // not a member
  EXPECT_EQ(g.size(), 1u);

  g.assign(et3, lag2);
  g.assign(et1, lag2);
  EXPECT_GT(g.bytesHeld(), 0u);
  EXPECT_EQ(g.size(), 3u);
  EXPECT_EQ(g.firstMember(), et1);
  g.assign(et1, lag1);
  EXPECT_EQ(g.firstValue(), lag1);
  g.erase(et1);
  EXPECT_EQ(g.firstMember(), et2);
  EXPECT_EQ(g.firstValue(), lag1);

  g.erase(et2);  // back to one member, inline
  EXPECT_EQ(g.bytesHeld(), 0u);
  EXPECT_EQ(g.firstMember(), et3);
  EXPECT_EQ(g.firstValue(), lag2);
  g.erase(et3);
  EXPECT_TRUE(g.empty());
}

// Groups in a table that grows and moves them, checked against std::map after every
// change: the map form must survive being moved as bytes, and nothing may leak.
TEST(GroupMembers, GroupsInAGrowingTableMatchAReference) {
  HashMap<uint32_t, Members> groups;
  std::map<uint32_t, std::map<IntfId, IntfId>> want;
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; ++i) {
    uint32_t const gk = rng() % 3000;
    IntfId const m = IntfId::ethernet(uint16_t(rng() % 4 + 1));
    Members& g = groups.insert(gk).first->second;
    if (rng() % 3 != 0) {
      IntfId const v = IntfId::ethernet(uint16_t(rng() % 100 + 1));
      g.assign(m, v);
      want[gk][m] = v;
    } else {
      g.erase(m);
      want[gk].erase(m);
    }
    if (g.empty()) {
      groups.erase(gk);
      want.erase(gk);
      continue;
    }
    ASSERT_EQ(g.size(), want[gk].size());
    ASSERT_EQ(g.firstMember(), want[gk].begin()->first);
    ASSERT_EQ(g.firstValue(), want[gk].begin()->second);
  }
  ASSERT_EQ(groups.size(), want.size());
  for (auto const& [gk, members] : want) {
    Members const* g = groups.find(gk);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->firstValue(), members.begin()->second);
  }
}

}  // namespace
