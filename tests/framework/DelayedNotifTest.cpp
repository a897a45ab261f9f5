// The delayed-notification holder: one pending entry per distinct attribute and key,
// announced through the given publisher on trigger.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;

namespace {
struct Collect : Subscriber {
  std::multiset<std::pair<uint32_t, uint64_t>> seen;
  Publisher* publisher = nullptr;
  DelayedNotifHolder* holder = nullptr;
  void dispatch(uint32_t attrId, void const* key) override {
    IntfId i = *static_cast<IntfId const*>(key);
    seen.emplace(attrId, i.value());
    // A change made while announcing waits for the next trigger.
    if (holder && i == IntfId::ethernet(1)) holder->delayedNotifDelegatePtr()->enqueue(attrId, IntfId::ethernet(9));
  }
};
}  // namespace

TEST(DelayedNotif, OncePerDistinctKeyOnTrigger) {
  auto holder = DelayedNotifHolder::DelayedNotifHolderIs();
  Publisher pub;
  Collect c;
  pub.subscriberAdd(&c);
  auto* q = holder->delayedNotifDelegatePtr();
  for (int round = 0; round < 3; ++round) q->enqueue(1, IntfId::ethernet(1));
  q->enqueue(1, IntfId::ethernet(2));
  q->enqueue(2, IntfId::ethernet(1));
  EXPECT_EQ(holder->pendingCount(), 3u);
  EXPECT_TRUE(c.seen.empty());
  c.holder = holder.get();
  holder->trigger(pub);
  EXPECT_EQ(c.seen, (std::multiset<std::pair<uint32_t, uint64_t>>{
                        {1, IntfId::ethernet(1).value()},
                        {1, IntfId::ethernet(2).value()},
                        {2, IntfId::ethernet(1).value()}}));
  // Keys queued during the announcement (ethernet9 on both attributes) wait for the next trigger.
  EXPECT_EQ(holder->pendingCount(), 2u);
  c.holder = nullptr;
  c.seen.clear();
  holder->trigger(pub);
  EXPECT_EQ(c.seen.size(), 2u);
  holder->trigger(pub);
  EXPECT_EQ(c.seen.size(), 2u);
  // One attribute holds keys of one type: another type is the caller's mistake.
  EXPECT_EQ(CorvaneTest::errorText<InternalError>([&] { q->enqueue(1, uint32_t(5)); }),
            "DelayedNotifDelegate: key type differs for one attribute");
}
