// One change through the whole typical wiring (a LAG member moving TCAM, which reaches
// every SM), a change of every input, and the start-up of each SM (fresh, or over
// stale outputs), fail at every point they can: the k-th allocation from the change on throws,
// or a subscriber of the agent throws at its k-th notification, for every k until the
// change runs through. After each failure nothing leaks (nodes, slab cells), the
// sanitizers see nothing, and restarting every SM, as an agent does after such a
// failure, brings every output back to the reference.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>

#include "tests/faults/AllocationFaults.h"
#include "tests/faults/FaultWorld.h"
#include "tests/support/WiringReference.h"

namespace {

using namespace Corvane;
using namespace CorvaneTest;
using ExampleWiring::Wiring;

ExampleWiring::Options options(bool synchronous) {
  ExampleWiring::Options o;
  o.synchronous = synchronous;
  return o;
}

// One change, or (batch) a change of every input in turn.
void theChange(Wiring& w, bool batch) {
  if (batch) {
    changeEveryInput(w);
  } else {
    w.veltStatus->intfIdToSystemTcamIdIs(IntfId::ethernet(1), SystemTcamId(2));
  }
  w.runUntilIdle();
}

// A subscriber of the agent on every entity the SMs write, throwing at its k-th
// notification.
struct ThrowingSubscriber : Subscriber {
  std::vector<Ptr<Entity>> on;
  uint64_t k;
  uint64_t seen = 0;
  bool fired = false;
  ThrowingSubscriber(Wiring& w, uint64_t at) : k(at) {
    on = {w.portToLag, w.portMapToIntf, w.intfToTcamSet, w.intfToPortMapSet, w.memberConfig, w.tcamConfig,
          w.portMapConfig, w.perTcamStatus, w.featureStatus};
    for (auto const& e : on) e->subscriberAdd(this);
  }
  ~ThrowingSubscriber() override {
    for (auto const& e : on) e->subscriberRemove(this);
  }
  void dispatch(uint32_t, void const*) override {
    if (++seen == k) {
      fired = true;
      throw std::runtime_error("the agent's subscriber failed");
    }
  }
};

// Runs `inject(w, k)` for k = 1, 2, ... until the change runs through without the
// injected failure firing; inject returns whether it fired.
template <class Inject>
uint64_t sweep(bool synchronous, Inject&& inject) {
  auto const process = TaskSchedulerRoot::findOrCreateScheduler();  // lives as long as the process
  int32_t const live = Node::liveNodes();
  SlabCounts const pools = slabCounts();
  uint64_t k = 1;
  for (;; ++k) {
    SCOPED_TRACE("failure at " + std::to_string(k));
    bool fired;
    {
      Wiring w(options(synchronous));
      populate(w);
      w.startAll();
      w.runUntilIdle();
      fired = inject(w, k);
      // The agent restarts every SM over the entities as the failure left them.
      w.stopAll();
      w.runUntilIdle();
      w.startAll();
      w.runUntilIdle();
      w.hardware().sync();
      w.runUntilIdle();
      EXPECT_TRUE(w.ready());
      EXPECT_TRUE(outputsSame(reference(w), actual(w)));
    }
    EXPECT_EQ(Node::liveNodes(), live);
    EXPECT_EQ(slabCountsChanged(pools), "");
    if (!fired || ::testing::Test::HasFailure()) break;
  }
  return k - 1;
}

using ChangeFaultParam = ::testing::WithParamInterface<std::tuple<bool, bool>>;
class ChangeFault : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

// Sweeps the change (a LAG member move, or every input) with the failure `arm(w, k)`
// sets up; arm returns what tells, once the change is over, whether the failure fired.
// The exception E it raises is absorbed, as an agent's event loop would.
template <class E, class Arm>
uint64_t sweepChange(Arm&& arm) {
  auto const [synchronous, batch] = ChangeFaultParam::GetParam();
  return sweep(synchronous, [&, batch = batch](Wiring& w, uint64_t k) {
    auto const fired = arm(w, k);
    try {
      theChange(w, batch);
    } catch (E const&) {
    }
    return fired();
  });
}

TEST_P(ChangeFault, EveryAllocationOfTheChangeFailsOnceAndARestartRepairs) {
  uint64_t const n = sweepChange<std::bad_alloc>([](Wiring&, uint64_t k) {
    return [fault = std::make_shared<AllocationFault>(k)] { return fault->fired(); };
  });
  EXPECT_GT(n, 0u);
  std::printf("[ sweep    ] %llu allocations of the change failed in turn\n", static_cast<unsigned long long>(n));
}

TEST_P(ChangeFault, EveryNotificationOfTheAgentsSubscriberThrowsOnceAndARestartRepairs) {
  uint64_t const n = sweepChange<std::runtime_error>([](Wiring& w, uint64_t k) {
    return [s = std::make_shared<ThrowingSubscriber>(w, k)] { return s->fired; };
  });
  EXPECT_GT(n, 5u);
  std::printf("[ sweep    ] %llu notifications of the change threw in turn\n", static_cast<unsigned long long>(n));
}

// The agent's own hardware layer fails to program the k-th key the change reaches.
TEST_P(ChangeFault, EveryKeyTheHardwareLayerProgramsFailsOnceAndARestartRepairs) {
  uint64_t const n = sweepChange<std::runtime_error>([](Wiring& w, uint64_t k) {
    w.hardware().throwAtIs(k);
    return [&w] {
      bool const thrown = w.hardware().thrown();
      w.hardware().throwAtIs(0);
      return thrown;
    };
  });
  EXPECT_GT(n, 0u);
  std::printf("[ sweep    ] %llu keys of the change failed in the hardware layer in turn\n",
              static_cast<unsigned long long>(n));
}

INSTANTIATE_TEST_SUITE_P(Modes, ChangeFault, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](auto const& info) {
                           return std::string(std::get<0>(info.param) ? "Synchronous" : "Asynchronous") +
                                  (std::get<1>(info.param) ? "EveryInput" : "LagMemberMove");
                         });

}  // namespace

namespace {

// The start-up of one SM (its factory and, asynchronously, every task run until it is
// ready), fresh or over outputs an earlier run left stale, fails at each of its
// allocations in turn; every SM is then restarted and the outputs must match.
class StartupFault : public ::testing::TestWithParam<std::tuple<ExampleWiring::SmKind, bool>> {};

TEST_P(StartupFault, EveryAllocationOfAStartUpFailsOnceAndARestartRepairs) {
  auto const [x, synchronous] = GetParam();
  for (bool stale : {false, true}) {
    uint64_t const n = sweep(synchronous, [x = x, stale](Wiring& w, uint64_t k) {
      w.stop(x);
      if (stale) changeEveryInput(w);  // what x wrote no longer follows from its inputs
      w.runUntilIdle();
      AllocationFault fault(k);
      try {
        w.start(x);
        w.runUntilIdle();
      } catch (std::bad_alloc const&) {
      }
      return fault.fired();
    });
    EXPECT_GT(n, 0u);
    std::printf("[ sweep    ] %llu allocations of the start-up%s failed in turn\n", static_cast<unsigned long long>(n),
                stale ? " over stale outputs" : "");
    RecordProperty(stale ? "allocationsOverStaleOutputs" : "allocations", std::to_string(n));
  }
}

INSTANTIATE_TEST_SUITE_P(EverySm, StartupFault,
                         ::testing::Combine(::testing::ValuesIn(ExampleWiring::allSmKinds), ::testing::Bool()),
                         smCaseName);

}  // namespace
