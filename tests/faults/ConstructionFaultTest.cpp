// Every allocation of every SM factory fails once, in turn. The SMs that do not read
// what it writes are running (asynchronous ones with their scans still pending, so
// they write its inputs after the failure); then the scheduler runs, every input
// changes, and the SM is created again: its outputs must match the reference, then
// every output once the whole wiring runs, and nothing may be left behind (nodes,
// slab cells, scheduled tasks, or subscriptions that AddressSanitizer would catch
// being called on freed memory).
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <tuple>
#include <vector>

#include "tests/faults/AllocationFaults.h"
#include "tests/faults/FaultWorld.h"
#include "tests/support/WiringReference.h"

namespace {

using namespace Corvane;
using namespace CorvaneTest;
using ExampleWiring::SmKind;
using ExampleWiring::Wiring;

// Scans and reconciliations yield every few items, so asynchronous start-ups
// really are spread over task runs.
class YieldOften {
 public:
  YieldOften() : process_(TaskSchedulerRoot::findOrCreateScheduler()), mine_(TaskScheduler::TaskSchedulerIs()) {
    process_->yieldEveryIs(3);
    mine_->yieldEveryIs(2);
  }
  ~YieldOften() { process_->yieldEveryIs(0); }
  Ptr<TaskScheduler> const& scheduler() const { return mine_; }
  bool idle() const { return process_->idle() && mine_->idle(); }

 private:
  Ptr<TaskScheduler> process_, mine_;
};

ExampleWiring::Options options(bool synchronous, YieldOften const& y) {
  ExampleWiring::Options o;
  o.synchronous = synchronous;
  o.scheduler = y.scheduler();
  return o;
}

// Starts every SM but `x` and those that read its outputs.
void startAllBut(Wiring& w, SmKind x) {
  auto const below = downstreamOf(x);
  for (SmKind s : ExampleWiring::allSmKinds) {
    if (s != x && std::find(below.begin(), below.end(), s) == below.end()) w.start(s);
  }
}

// Subscribers of every entity of the wiring, and tasks ready to run: what a failed
// construction must leave as it found it.
std::vector<uint32_t> footprint(Wiring const& w, YieldOften const& y) {
  std::vector<uint32_t> out;
  for (Ptr<Entity> e : std::initializer_list<Ptr<Entity>>{
           w.veltStatus, w.veltLagStatus, w.lagConfig, w.intfIdToPortMap, w.featureConfig, w.portToLag,
           w.portMapToIntf, w.intfToTcamSet, w.intfToPortMapSet, w.memberConfig, w.tcamConfig, w.portMapConfig,
           w.tcamStatus, w.perTcamStatus, w.featureStatus}) {
    out.push_back(e->publisher()->subscriberCount());
  }
  out.push_back(y.scheduler()->readyCount());
  out.push_back(TaskSchedulerRoot::findOrCreateScheduler()->readyCount());
  return out;
}

class ConstructionFault : public ::testing::TestWithParam<std::tuple<SmKind, bool>> {};

TEST_P(ConstructionFault, EveryAllocationOfTheFactoryFailsOnceAndTheSmRecovers) {
  auto const [x, synchronous] = GetParam();
  YieldOften yield;
  int32_t const liveBefore = Node::liveNodes();
  SlabCounts const pools = slabCounts();
  uint64_t k = 1;
  for (;; ++k) {
    SCOPED_TRACE("failing allocation " + std::to_string(k));
    bool fired;
    {
      Wiring w(options(synchronous, yield));
      populate(w);
      startAllBut(w, x);
      auto const before = footprint(w, yield);
      {
        AllocationFault fault(k);
        try {
          w.start(x);
        } catch (std::bad_alloc const&) {
        }
        fired = fault.fired();
      }
      // A failure the library absorbs (a table that stays at its size for now) leaves
      // the SM running; one it does not absorb leaves nothing of the SM behind.
      if (fired && !w.running(x)) {
        EXPECT_EQ(footprint(w, yield), before);
      }
      // What was scheduled before the failure runs; an input SM of the failed
      // machine must not be among the subscribers it notifies.
      w.runUntilIdle();
      changeEveryInput(w);
      w.runUntilIdle();
      w.start(x);
      w.runUntilIdle();
      EXPECT_TRUE(w.ready());
      EXPECT_TRUE(outputsSame(reference(w), actual(w), x));
      // The SMs below it start over what the interrupted writes left.
      w.startAll();
      w.hardware().sync();
      w.runUntilIdle();
      EXPECT_TRUE(outputsSame(reference(w), actual(w)));
    }
    EXPECT_EQ(Node::liveNodes(), liveBefore);
    EXPECT_EQ(slabCountsChanged(pools), "");
    EXPECT_TRUE(yield.idle());
    if (!fired || ::testing::Test::HasFailure()) break;
  }
  // The sweep covered the whole construction: the last round allocated without
  // reaching the armed failure.
  EXPECT_GT(k, 10u);
  RecordProperty("allocations", std::to_string(k - 1));
}

INSTANTIATE_TEST_SUITE_P(EverySm, ConstructionFault,
                         ::testing::Combine(::testing::ValuesIn(ExampleWiring::allSmKinds), ::testing::Bool()),
                         smCaseName);

}  // namespace
