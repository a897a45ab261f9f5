// Shared helpers of the test suites: trace capture and transcripts, and live-object
// accounting.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "corvane/Corvane.h"

namespace CorvaneTest {

// Collects the records of one source while alive, with that source's handler set
// to `mask`; restores the previous sink and mask afterwards.
class TraceCapture {
 public:
  TraceCapture(std::string source, uint16_t mask);
  ~TraceCapture();
  std::vector<Corvane::TraceRecord> const& records() const { return records_; }
  // "level|function|class|message" per record.
  std::vector<std::string> lines() const;
  void clear() { records_.clear(); }

 private:
  std::string source_;
  Corvane::Ptr<Corvane::DebugHandler> handler_;
  uint16_t oldMask_;
  Corvane::TraceSink previous_;
  std::vector<Corvane::TraceRecord> records_;
};

// Runs `sched` a task at a time until `ready()` holds, making a change instead of a
// run whenever `changeNow()` says so, so that changes arrive while a start-up is
// under way. Returns the task runs it took; a test failure if nothing is left to
// run before the machines are ready.
template <class Ready, class ChangeNow, class Change>
uint64_t runUntilReady(Corvane::TaskScheduler& sched, Ready ready, ChangeNow changeNow, Change change) {
  uint64_t runs = 0;
  while (!ready()) {
    if (changeNow()) {
      change();
    } else if (sched.runOne()) {
      ++runs;
    } else {
      ADD_FAILURE() << "not ready and nothing to run after " << runs << " runs";
      break;
    }
  }
  return runs;
}

// Counts the notifications of one entity while alive.
struct Heard : Corvane::Subscriber {
  explicit Heard(Corvane::Entity const& e) : entity(e) { e.subscriberAdd(this); }
  ~Heard() override { entity.subscriberRemove(this); }
  void dispatch(uint32_t, void const*) override { ++n; }
  Corvane::Entity const& entity;
  int n = 0;
};

// A scheduler of its own that tells its tasks to yield at every `n`-th question:
// start-ups spread over task runs the same way on every machine.
Corvane::Ptr<Corvane::TaskScheduler> yieldingScheduler(uint32_t n);

// Whether each of `types` is in the type registry under its name, in this order.
::testing::AssertionResult registeredInOrder(std::vector<Corvane::TypeData const*> const& types);

// A machine's control: its mode (SmControl::synchronousOn, synchronousOff or
// synchronousDefault) and, when given, its scheduler.
Corvane::SmControl control(uint8_t synchronous, Corvane::Ptr<Corvane::TaskScheduler> s = nullptr);

// The text of the E that `f` raised, or "no error" when `f` returned. An exception of
// another type passes through and fails the test.
template <class E, class F>
std::string errorText(F const& f) {
  try {
    f();
  } catch (E const& e) {
    return e.what();
  }
  return "no error";
}

// The ParseError that `f` raised, as {attribute, text}; {"no error", ""} when `f`
// returned.
using ParseFault = std::pair<std::string, std::string>;
template <class F>
ParseFault parseFault(F const& f) {
  try {
    f();
  } catch (Corvane::ParseError const& e) {
    return {e.attribute(), e.what()};
  }
  return {"no error", ""};
}

std::string line(int level, std::string const& function, std::string const& className, std::string const& message);

}  // namespace CorvaneTest
