// Status regrouping (flat per-(interface, TCAM) statuses to one entity per
// interface) and status output (per-interface single statuses flattened into the
// published collection) against their references, in synchronous and yielding
// asynchronous mode, over stale outputs.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::control;

namespace {

struct Status : FeatureStatusBase {};

IntfId port(int n) { return IntfId::ethernet(uint16_t(n + 1)); }

using Leaves = std::map<std::pair<IntfId, uint16_t>, FeatureStatusBase const*>;

Leaves leaves(IntfPerTcamFeatureStatus const& out) {
  Leaves l;
  for (auto const& [i, per] : out.status()) {
    EXPECT_EQ(per->intfId(), i);
    EXPECT_FALSE(per->status().empty()) << i << " kept an empty entity";
    for (auto const& [t, s] : per->status()) l[{i, t.value()}] = s.get();
  }
  return l;
}

Leaves leaves(IntfTcamFeatureStatus const& in) {
  Leaves l;
  for (auto const& [k, s] : in.status()) l[{k.intfId(), k.systemTcamId().value()}] = s.get();
  return l;
}

template <class F>
void untilReady(RootSm& sm, TaskScheduler& sched, std::mt19937& rng, F change) {
  CorvaneTest::runUntilReady(sched, [&] { return sm.ready(); }, [&] { return rng() % 3 == 0; }, change);
  sched.runUntilIdle();
}

}  // namespace

TEST(IntfPerTcamFeatureStatusSm, MatchesReference) {
  int32_t nodes = Node::liveNodes();
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    std::mt19937 rng(seed);
    auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
    auto in = IntfTcamFeatureStatus::IntfTcamFeatureStatusIs();
    auto change = [&] {
      IntfIdSystemTcamId k(port(int(rng() % 6)), SystemTcamId(uint16_t(rng() % 4)));
      if (rng() % 3) {
        in->statusIs(k, Ptr<FeatureStatusBase>(new Status()));
      } else {
        in->statusDel(k);
      }
    };
    for (int n = 0; n < 30; ++n) change();
    auto out = IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs();
    out->statusIs(port(9))->statusIs(SystemTcamId(1), Ptr<FeatureStatusBase>(new Status()));  // stale interface
    out->statusIs(port(0))->statusIs(SystemTcamId(9), Ptr<FeatureStatusBase>(new Status()));  // stale leaf
    auto sm = intfPerTcamFeatureStatusSmFactory(in, out, control(seed % 2 == 0 ? SmControl::synchronousOff : SmControl::synchronousOn, sched));
    untilReady(*sm, *sched, rng, change);
    ASSERT_EQ(leaves(*out), leaves(*in)) << "seed " << seed;
    for (int step = 0; step < 200; ++step) {
      change();
      ASSERT_EQ(leaves(*out), leaves(*in)) << "seed " << seed << " step " << step;
    }
    sm->doDeleteAll();
    EXPECT_TRUE(out->status().empty());
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(IntfFeatureStatusOutputSm, MatchesReference) {
  int32_t nodes = Node::liveNodes();
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    std::mt19937 rng(seed);
    auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
    auto in = PerIntfFeatureStatus::PerIntfFeatureStatusIs();
    auto change = [&] {
      IntfId i = port(int(rng() % 6));
      switch (rng() % 4) {
        case 0:
          in->statusDel(i);
          break;
        case 1:
          in->statusIs(i)->statusIs(nullptr);
          break;
        default:
          in->statusIs(i)->statusIs(Ptr<FeatureStatusBase>(new Status()));
          break;
      }
    };
    auto expected = [&] {
      std::map<IntfId, FeatureStatusBase const*> m;
      for (auto const& [i, single] : in->status()) {
        if (single->status()) m[i] = single->status().get();
      }
      return m;
    };
    auto got = [](IntfFeatureStatus const& out) {
      std::map<IntfId, FeatureStatusBase const*> m;
      for (auto const& [i, s] : out.status()) m[i] = s.get();
      return m;
    };
    for (int n = 0; n < 30; ++n) change();
    auto out = IntfFeatureStatus::IntfFeatureStatusIs();
    out->statusIs(port(9), Ptr<FeatureStatusBase>(new Status()));  // stale
    auto sm = intfFeatureStatusOutputSmFactory(in, out, control(seed % 2 == 0 ? SmControl::synchronousOff : SmControl::synchronousOn, sched));
    untilReady(*sm, *sched, rng, change);
    ASSERT_EQ(got(*out), expected()) << "seed " << seed;
    for (int step = 0; step < 200; ++step) {
      change();
      ASSERT_EQ(got(*out), expected()) << "seed " << seed << " step " << step;
    }
    sm->doDeleteAll();
    EXPECT_TRUE(out->status().empty());
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}
