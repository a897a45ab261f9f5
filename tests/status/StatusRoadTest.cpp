// The whole status road: IntfTcamFeatureStatus -> regrouping -> per-interface merge
// (the example feature, TCAM sets from a live IntfTcamSm) -> output ->
// IntfFeatureStatus, with random status writes, TCAM moves and interface removals.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "examples/feature/ExampleFeature.h"
#include "tests/support/Support.h"

using namespace Corvane;
using ExampleFeature::State;

namespace {
IntfId port(int n) { return IntfId::ethernet(uint16_t(n + 1)); }
}  // namespace

TEST(StatusRoad, PublishedStatusIsTheMergeOfCurrentTcamStatuses) {
  // The merge's output SM runs on the process scheduler, which outlives the test.
  auto processScheduler = TaskSchedulerRoot::findOrCreateScheduler();
  int32_t nodes = Node::liveNodes();
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
    SmControl const ctl = CorvaneTest::control(seed % 2 ? SmControl::synchronousOn : SmControl::synchronousOff, sched);
    auto hw = Hardware::Velt::Status::StatusIs("hw");
    auto lags = Lag::Config::ConfigIs("lags");
    auto tcams = IntfToTcamSet::IntfToTcamSetIs("tcams");
    auto hwStatus = IntfTcamFeatureStatus::IntfTcamFeatureStatusIs();
    auto perTcam = IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs();
    auto published = IntfFeatureStatus::IntfFeatureStatusIs();
    auto change = [&] {
      IntfId p = port(int(rng() % 6));
      SystemTcamId t(uint16_t(rng() % 3));
      switch (rng() % 5) {
        case 0:
          hw->intfIdToSystemTcamIdIs(p, t);
          break;
        case 1:
          hw->intfIdToSystemTcamIdDel(p);
          break;
        case 2:
          hwStatus->statusDel(IntfIdSystemTcamId(p, t));
          break;
        default:
          hwStatus->statusIs(IntfIdSystemTcamId(p, t),
                             Ptr<FeatureStatusBase>(new ExampleFeature::Status(State(rng() % 3))));
          break;
      }
    };
    for (int n = 0; n < 20; ++n) change();
    uint64_t created = 0;
    int32_t merges = FeatureStatusMergeSmBase::typeDataStatic().liveCount();
    auto a = intfTcamSmFactory(hw, lags, tcams, ctl);
    auto b = intfPerTcamFeatureStatusSmFactory(hwStatus, perTcam, ctl);
    auto merge = IntfFeatureStatusSmIs(tcams, perTcam, published, ExampleFeature::statusMergeSmFactory(&created));
    for (int n = 0; n < 300; ++n) {
      change();
      if (rng() % 2) sched->runOne();
    }
    sched->runUntilIdle();
    processScheduler->runUntilIdle();
    ASSERT_TRUE(a->ready() && b->ready() && merge->ready()) << "seed " << seed;
    // Reference: every interface with a TCAM set and statuses shows the merge of its TCAMs.
    std::map<IntfId, State> want;
    for (auto const& [i, set] : tcams->intfToTcamSet()) {
      if (auto st = perTcam->status(i)) {
        if (auto s = ExampleFeature::mergedState(*set, *st)) want[i] = *s;
      }
    }
    std::map<IntfId, State> got;
    for (auto const& [i, s] : published->status()) got[i] = static_cast<ExampleFeature::Status const&>(*s).state();
    EXPECT_EQ(got, want) << "seed " << seed;
    // One merge SM per live interface, and no more were built than interfaces came and went.
    EXPECT_EQ(merge->featureStatusMergeSm().size(), want.size());
    EXPECT_EQ(FeatureStatusMergeSmBase::typeDataStatic().liveCount(), merges + int32_t(want.size()));
    EXPECT_GE(created, want.size());
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(IntfFeatureStatusSm, OneMergePerInterfaceLifetime) {
  auto tcams = IntfToTcamSet::IntfToTcamSetIs("t");
  auto perTcam = IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs();
  auto published = IntfFeatureStatus::IntfFeatureStatusIs();
  uint64_t created = 0;
  IntfId e1 = port(0);
  // Present before creation: its merge exists before the output SM starts.
  perTcam->statusIs(e1)->statusIs(SystemTcamId(1), Ptr<FeatureStatusBase>(new ExampleFeature::Status(State::ok)));
  tcams->intfToTcamSetIs(e1)->tcamSetIs(SystemTcamId(1));
  auto ring = RingTrace::RingTraceIs(16);
  auto sm = IntfFeatureStatusSmIs(tcams, perTcam, published, ExampleFeature::statusMergeSmFactory(&created));
  sm->ringTraceHandleIs(ring);
  EXPECT_EQ(created, 1u);
  TaskSchedulerRoot::findOrCreateScheduler()->runUntilIdle();
  ASSERT_TRUE(sm->ready());
  EXPECT_EQ(static_cast<ExampleFeature::Status const&>(*published->status(e1)).state(), State::ok);
  // A TCAM that has not reported makes the interface pending; the merge is not rebuilt.
  tcams->intfToTcamSet(e1)->tcamSetIs(SystemTcamId(2));
  EXPECT_EQ(static_cast<ExampleFeature::Status const&>(*published->status(e1)).state(), State::pending);
  EXPECT_EQ(created, 1u);
  // Only in one input: no merge, no output.
  IntfId e2 = port(1);
  tcams->intfToTcamSetIs(e2)->tcamSetIs(SystemTcamId(1));
  EXPECT_EQ(sm->featureStatusMergeSm(e2), nullptr);
  EXPECT_EQ(created, 1u);
  // Dropped by either input: merge, single status and output entry go.
  tcams->intfToTcamSetDel(e1);
  EXPECT_EQ(sm->featureStatusMergeSm(e1), nullptr);
  EXPECT_FALSE(sm->perIntfFeatureStatus()->statusHas(e1));
  EXPECT_FALSE(published->statusHas(e1));
  tcams->intfToTcamSetIs(e1)->tcamSetIs(SystemTcamId(1));  // back: a fresh merge
  EXPECT_EQ(created, 2u);
  auto records = ring->records();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.back().message, "intfId Et1, intfIdInHasStatus=true, intfIdInHasTcamSet=true, add=true");
  // Told to stop listening and to listen again, it hears both tables again.
  sm->hasNotificationActiveIs(false);
  sm->hasNotificationActiveIs(true);
  tcams->intfToTcamSetDel(e1);
  EXPECT_EQ(sm->featureStatusMergeSm(e1), nullptr);
  tcams->intfToTcamSetIs(e1)->tcamSetIs(SystemTcamId(1));
  perTcam->statusDel(e1);
  EXPECT_EQ(sm->featureStatusMergeSm(e1), nullptr);
}

// The caller's mistakes around the merge SMs, with their exact texts: a factory that
// makes no merge SM is refused; a missing argument is fatal.
TEST(IntfFeatureStatusSm, NullMergeSmIsRefused) {
  auto tcams = IntfToTcamSet::IntfToTcamSetIs("t");
  auto perTcam = IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs();
  auto published = IntfFeatureStatus::IntfFeatureStatusIs();
  auto sm = IntfFeatureStatusSmIs(tcams, perTcam, published,
                                  [](IntfId, Ptr<TcamSet const>, Ptr<PerTcamFeatureStatus const>,
                                     Ptr<SingleIntfFeatureStatus>) { return Ptr<FeatureStatusMergeSmBase>(); });
  tcams->intfToTcamSetIs(port(0))->tcamSetIs(SystemTcamId(1));
  EXPECT_EQ(CorvaneTest::errorText<InternalError>([&] { perTcam->statusIs(port(0)); }),
            "featureStatusMergeSm: a null merge SM cannot be inserted");
  EXPECT_EQ(sm->featureStatusMergeSm(port(0)), nullptr);
  EXPECT_FALSE(sm->perIntfFeatureStatus()->statusHas(port(0)));
  EXPECT_FALSE(published->statusHas(port(0)));
}

TEST(IntfFeatureStatusSmDeathTest, EveryArgumentIsRequired) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto tcams = IntfToTcamSet::IntfToTcamSetIs("t");
  auto perTcam = IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs();
  auto status = IntfFeatureStatus::IntfFeatureStatusIs();
  EXPECT_DEATH(IntfFeatureStatusSmIs(nullptr, perTcam, status, ExampleFeature::statusMergeSmFactory()),
               "^IntfFeatureStatusSm: every argument is required\n$");
  EXPECT_DEATH(IntfFeatureStatusSmIs(tcams, nullptr, status, ExampleFeature::statusMergeSmFactory()),
               "^IntfFeatureStatusSm: every argument is required\n$");
  EXPECT_DEATH(IntfFeatureStatusSmIs(tcams, perTcam, nullptr, ExampleFeature::statusMergeSmFactory()),
               "^IntfFeatureStatusSm: every argument is required\n$");
  EXPECT_DEATH(IntfFeatureStatusSmIs(tcams, perTcam, status, nullptr),
               "^IntfFeatureStatusSm: every argument is required\n$");
}
