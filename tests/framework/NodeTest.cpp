// Counted references, live-object counts and thread-safe counting.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;

TEST(Ptr, AdoptsTheInitialReferenceAndComparesByIdentity) {
  Ptr<RingTrace> a(new RingTrace(1));
  EXPECT_EQ(a->refCount(), 1u);
  Ptr<RingTrace> again(a.get());  // a later raw adoption adds a reference
  EXPECT_EQ(a->refCount(), 2u);
  Ptr<Node const> base = a;  // derived to base const
  EXPECT_EQ(a->refCount(), 3u);
  EXPECT_TRUE(base == a);
  EXPECT_FALSE(a == Ptr<RingTrace>(new RingTrace(1)));
  again.reset();
  base = nullptr;
  EXPECT_EQ(a->refCount(), 1u);
  Ptr<RingTrace> moved = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_EQ(moved->refCount(), 1u);
  Ptr<RingTrace> empty;
  EXPECT_FALSE(empty);
  EXPECT_TRUE(empty == nullptr);
}

TEST(Ptr, LiveCountsReturnToZeroAfterTeardown) {
  int32_t nodes = Node::liveNodes();
  int32_t configs = Lag::EthPhyIntfLagConfig::typeDataStatic().liveCount();
  {
    auto cfg = Lag::Config::ConfigIs("lag");
    auto po = Interface::EthLagIntfConfig::EthLagIntfConfigIs(IntfId::portChannel(3));
    for (uint16_t n = 1; n <= 10; ++n) cfg->phyIntfIs(IntfId::ethernet(n))->lagIs(po);
    cfg->phyIntfIs(IntfId::ethernet(1), Lag::EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(IntfId::ethernet(1)));
    EXPECT_EQ(Lag::EthPhyIntfLagConfig::typeDataStatic().liveCount(), configs + 10);
    EXPECT_EQ(po->refCount(), 10u);  // nine elements and ours
  }
  EXPECT_EQ(Lag::EthPhyIntfLagConfig::typeDataStatic().liveCount(), configs);
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(Ptr, ThreadSafeCountingKeepsCountsExact) {
  threadSafeCountingIs(true);
  int32_t const nodes = Node::liveNodes();
  int32_t const rings = RingTrace::typeDataStatic().liveCount();
  auto shared = RingTrace::RingTraceIs(1);
  {
    std::vector<std::thread> threads;
    std::vector<std::vector<Ptr<RingTrace>>> made(4);
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 100000; ++i) {
          Ptr<RingTrace> copy = shared;
          (void)copy;
          if (i % 100 == 0) made[t].push_back(RingTrace::RingTraceIs(1));
        }
      });
    }
    for (auto& th : threads) th.join();
    // Objects made on four threads at once are all counted.
    EXPECT_EQ(Node::liveNodes(), nodes + 1 + 4000);
    EXPECT_EQ(RingTrace::typeDataStatic().liveCount(), rings + 1 + 4000);
  }
  EXPECT_EQ(shared->refCount(), 1u);
  shared = nullptr;
  EXPECT_EQ(Node::liveNodes(), nodes);
  EXPECT_EQ(RingTrace::typeDataStatic().liveCount(), rings);
  threadSafeCountingIs(false);
}
