// An agent's subscriber on an SM's output drops the last reference to that SM from
// inside the notification of one of the SM's own writes: in steady state (the write
// comes from a reactor) and at start-up over stale outputs (from a scan or a
// reconciliation task). The machine must stay alive until its call returns, do no
// work after, and a new SM over the same entities must bring the outputs back.
// Between any two task runs of a restart, the agent may also destroy the SM, retract
// it, or have its inputs announced again for a late subscriber.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "tests/faults/FaultWorld.h"
#include "tests/support/WiringReference.h"

namespace {

using namespace Corvane;
using namespace CorvaneTest;
using ExampleWiring::SmKind;
using ExampleWiring::Wiring;

// Releases SM `k` of the wiring at the n-th notification of its output.
class Releaser : public Subscriber {
 public:
  Releaser(Wiring& w, SmKind k, uint32_t n) : w_(w), k_(k), n_(n), out_(outputOf(w, k)) { out_->subscriberAdd(this); }
  ~Releaser() override { out_->subscriberRemove(this); }
  bool released() const { return released_; }

  void dispatch(uint32_t, void const*) override {
    if (++seen_ != n_ || !w_.running(k_)) return;
    w_.stop(k_);
    released_ = true;
  }

 private:
  Wiring& w_;
  SmKind k_;
  uint32_t n_;
  Ptr<Entity> out_;
  uint32_t seen_ = 0;
  bool released_ = false;
};

class Release : public ::testing::TestWithParam<std::tuple<SmKind, bool>> {
 protected:
  void SetUp() override {
    process_ = TaskSchedulerRoot::findOrCreateScheduler();
    process_->yieldEveryIs(3);
  }
  void TearDown() override { process_->yieldEveryIs(0); }

  ExampleWiring::Options options() const {
    ExampleWiring::Options o;
    o.synchronous = std::get<1>(GetParam());
    o.scheduler = TaskScheduler::TaskSchedulerIs();
    o.scheduler->yieldEveryIs(2);
    return o;
  }

  // Releases SM k at the first, second, ... notification of its output while
  // `during` runs on a started wiring (after `before`), until a run no longer
  // reaches the n-th one. After each release the outputs hold what the interrupted
  // change left; a new SM must reconcile them. Returns the number of releases.
  template <class Before, class During>
  uint32_t sweep(Before before, During during) {
    SmKind const k = std::get<0>(GetParam());
    int32_t const liveBefore = Node::liveNodes();
    uint32_t releases = 0;
    for (uint32_t n = 1;; ++n) {
      SCOPED_TRACE("released at notification " + std::to_string(n));
      bool released;
      {
        Wiring w(options());
        populate(w);
        w.startAll();
        w.runUntilIdle();
        before(w);
        {
          Releaser r(w, k, n);
          during(w);
          released = r.released();
        }
        if (released) {
          ++releases;
          w.runUntilIdle();
          EXPECT_FALSE(w.running(k));
          w.start(k);
          w.runUntilIdle();
          EXPECT_TRUE(w.ready());
          EXPECT_TRUE(outputsSame(reference(w), actual(w)));
        }
      }
      EXPECT_EQ(Node::liveNodes(), liveBefore);
      if (!released || HasFailure()) return releases;
    }
  }

  // Starts SM k, fresh (its outputs empty) or over the outputs an earlier run left (the
  // function of the inputs), with the other SMs running, and stops its start-up at
  // each point in turn: on the factory's return, then after each task run until it is
  // ready; at(w) acts there, on a wiring made anew for every point.
  template <class At>
  void atEveryPointOfItsStartUp(bool fresh, At at) {
    SmKind const k = std::get<0>(GetParam());
    int32_t const liveBefore = Node::liveNodes();
    for (uint32_t point = 0;; ++point) {
      SCOPED_TRACE(std::string(fresh ? "fresh" : "over its outputs") + ", stopped after " + std::to_string(point) +
                   " task runs");
      bool ready;
      {
        Wiring w(options());
        populate(w);
        for (SmKind s : ExampleWiring::allSmKinds) {
          if (s != k || !fresh) w.start(s);
        }
        w.runUntilIdle();
        w.restart(k);
        for (uint32_t run = 0; run < point; ++run) {
          if (!w.scheduler()->runOne() && !process_->runOne()) ADD_FAILURE() << "not ready, nothing to run";
        }
        ready = w.ready();
        at(w);
      }
      EXPECT_EQ(Node::liveNodes(), liveBefore);
      if (ready || HasFailure()) return;
    }
  }

  Ptr<TaskScheduler> process_;
};

TEST_P(Release, FromInsideAReactorAtEveryWriteOfAChange) {
  EXPECT_GT(sweep([](Wiring&) {}, [](Wiring& w) { changeEveryInput(w); }), 0u);
}

TEST_P(Release, FromInsideItsStartUpOverStaleOutputs) {
  SmKind const k = std::get<0>(GetParam());
  uint32_t const releases = sweep(
      [k](Wiring& w) {
        w.stop(k);
        changeEveryInput(w);  // its outputs are stale now
      },
      [k](Wiring& w) {
        w.start(k);
        w.runUntilIdle();
      });
  // A synchronous SM writes everything before the agent holds it: nothing to release.
  if (!std::get<1>(GetParam())) {
    EXPECT_GT(releases, 0u);
  }
}

// Destroyed between any two task runs of its start-up, the SM takes every task of its
// own off the scheduler, even one the agent still holds, so nothing is left to run
// once the other SMs are idle.
TEST_P(Release, BetweenAnyTwoTaskRunsOfItsStartUpLeavingNoTaskBehind) {
  SmKind const k = std::get<0>(GetParam());
  for (bool fresh : {false, true}) {
    atEveryPointOfItsStartUp(fresh, [&](Wiring& w) {
      RootSm const& sm = *rootSmOf(w, k);
      std::vector<Ptr<Task>> held;  // every input's (first) scan task, every reconciliation task
      for (uint32_t i = 0; i < sm.inputSmCount(); ++i) {
        if (Ptr<InputSm> in = sm.inputSm(i); in && in->yieldTask()) held.emplace_back(in->yieldTask());
      }
      for (uint32_t i = 0; i < sm.outputCount(); ++i) {
        if (Task* t = sm.output(i).reconciliationTask()) held.emplace_back(t);
      }
      w.stop(k);
      for (Ptr<Task> const& t : held) EXPECT_FALSE(t->scheduled()) << t->taskName();
      for (RootSm const* other : w.rootSms()) EXPECT_TRUE(other->idle()) << other->sourceName();
      EXPECT_EQ(w.scheduler()->readyCount() + process_->readyCount(), 0u);
    });
  }
}

// doDeleteAll retracts what the inputs contributed, and none contributed before the
// initial scan is done: until then it leaves the outputs as they are, inherited ones
// too. After it, a fresh SM's outputs end as a ready SM's do when it retracts: empty,
// but for ConfigLagMemberExpSm, whose pipeline reads its inputs as they are and so
// writes the whole expansion (over inherited outputs, what stays depends on what
// reconciliation still held back). Either way the SM follows nothing from then on:
// the rest of its start-up writes nothing.
TEST_P(Release, DeleteAllAtEveryPointOfItsStartUpRetractsOnlyOnceTheInitialScanIsDone) {
  SmKind const k = std::get<0>(GetParam());
  for (bool fresh : {false, true}) {
    atEveryPointOfItsStartUp(fresh, [&](Wiring& w) {
      RootSm& sm = *rootSmOf(w, k);
      Reference const before = actual(w);
      bool const scanned = sm.initialScanDone();
      sm.doDeleteAll();
      w.runUntilIdle();
      EXPECT_TRUE(sm.retracted() && !sm.ready());
      if (!scanned) {
        EXPECT_TRUE(outputsSame(before, actual(w), k)) << "retracted before the initial scan was done";
      } else if (fresh) {
        EXPECT_TRUE(outputsSame(k == SmKind::configLagMemberExp ? reference(w) : Reference{}, actual(w), k));
      }
    });
  }
}

// Announcing every input of the SM again, as a component does for a late subscriber,
// at any point of its start-up over its outputs changes no output and announces
// nothing on one; the start-up then ends as usual.
TEST_P(Release, InputsAnnouncedAgainAtEveryPointOfItsStartUpChangeNothing) {
  struct Heard : Subscriber {
    std::vector<Ptr<Entity>> on;
    uint32_t n = 0;
    ~Heard() override {
      for (Ptr<Entity> const& e : on) e->subscriberRemove(this);
    }
    void dispatch(uint32_t, void const*) override { ++n; }
  };
  SmKind const k = std::get<0>(GetParam());
  atEveryPointOfItsStartUp(false, [&](Wiring& w) {
    std::vector<Ptr<Entity>> const in = inputsOf(w, k);
    Reference const before = actual(w);
    {
      Heard heard;  // on every entity an SM writes but those announced
      for (Ptr<Entity> e : std::initializer_list<Ptr<Entity>>{w.portToLag, w.portMapToIntf, w.intfToTcamSet,
                                                              w.intfToPortMapSet, w.memberConfig, w.tcamConfig,
                                                              w.portMapConfig, w.tcamStatus, w.perTcamStatus,
                                                              w.featureStatus}) {
        if (std::find(in.begin(), in.end(), e) == in.end()) heard.on.push_back(e);
      }
      for (Ptr<Entity> const& e : heard.on) e->subscriberAdd(&heard);
      for (Ptr<Entity> const& e : in) EXPECT_NO_THROW(e->publishChangeRecursive());
      EXPECT_EQ(heard.n, 0u);
    }
    EXPECT_TRUE(outputsSame(before, actual(w)));
    w.runUntilIdle();
    EXPECT_TRUE(w.ready());
    EXPECT_TRUE(outputsSame(reference(w), actual(w)));
  });
}

INSTANTIATE_TEST_SUITE_P(EverySm, Release,
                         ::testing::Combine(::testing::ValuesIn(ExampleWiring::allSmKinds), ::testing::Bool()),
                         smCaseName);

}  // namespace
