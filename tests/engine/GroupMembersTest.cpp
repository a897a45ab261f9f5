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

static_assert(sizeof(detail::GroupMembers<IntfId, Unit>) <= 16, "a port's LAG group fits two words");
static_assert(triviallyRelocatable<Members>, "tables move groups as bytes");

// Groups of up to four members in a table that grows and moves them, checked against
// std::map after every change: each group passes between the inline form and the map
// both ways, the map form must survive being moved as bytes, and nothing may leak.
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
    ASSERT_EQ(g.bytesHeld() == 0, want[gk].size() == 1) << "one member needs no map";
  }
  ASSERT_EQ(groups.size(), want.size());
  for (auto const& [gk, members] : want) {
    Members const* g = groups.find(gk);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->firstValue(), members.begin()->second);
  }
}

}  // namespace
