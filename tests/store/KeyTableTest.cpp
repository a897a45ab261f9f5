#include "corvane/store/KeyTable.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

using Corvane::KeyTable;

// Random adds and erases against std::map, over few enough keys that probe runs
// collide, wrap around the slot array and are shifted back by erases; every record
// keeps its address while it lives.
TEST(KeyTable, AgreesWithAMapAndRecordsStayPut) {
  KeyTable<int> table;
  std::map<std::string, std::pair<int, KeyTable<int>::Record*>> model;
  std::mt19937 rng(7);
  for (int step = 0; step < 200000; ++step) {
    std::string const key = "Ethernet" + std::to_string(rng() % 3000);
    if (rng() % 3 == 0) {
      auto* r = table.find(key);
      ASSERT_EQ(r != nullptr, model.count(key) == 1) << key;
      if (r) {
        ASSERT_EQ(r, model[key].second);
        table.erase(*r);
        model.erase(key);
      }
    } else {
      auto& r = table.findOrAdd(key);
      auto [it, added] = model.try_emplace(key, step, &r);
      if (added) r.state = step;
      ASSERT_EQ(&r, it->second.second) << key;
      ASSERT_EQ(r.state, it->second.first) << key;
    }
    ASSERT_EQ(table.size(), model.size());
  }
  size_t visited = 0;
  table.forEach([&](KeyTable<int>::Record& r) {
    ++visited;
    EXPECT_EQ(model.at(r.key).second, &r);
  });
  EXPECT_EQ(visited, model.size());
}

}  // namespace
