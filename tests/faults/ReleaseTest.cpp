// An agent's subscriber on an SM's output drops the last reference to that SM from
// inside the notification of one of the SM's own writes: in steady state (the write
// comes from a reactor) and at start-up over stale outputs (from a scan or a
// reconciliation task). The machine must stay alive until its call returns, do no
// work after, and a new SM over the same entities must bring the outputs back.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

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

INSTANTIATE_TEST_SUITE_P(EverySm, Release,
                         ::testing::Combine(::testing::ValuesIn(ExampleWiring::allSmKinds), ::testing::Bool()),
                         smCaseName);

}  // namespace
