// The loop every scan that yields to the scheduler shares: walk a keyed collection
// from where the last run stopped, handle each entry, ask whether to yield, and on a
// yield leave the key the next run starts from. The input scans, a collection
// follower's scan and both reconciliation scans of the outputs are this loop.
//
// Where the question is asked matters, not only whether the answer is yes: under
// TaskScheduler::yieldEveryIs(n) every question counts towards the next yield, so each
// scan keeps the exact number of questions it always asked.
#pragma once

#include <cstdint>

namespace Corvane {

enum class AskYield : uint8_t {
  // After each entry handled, the last one included; the walk yields only when
  // another entry follows. The input scans.
  afterEach,
  // Before each entry handled (the question itself may answer no for the first
  // entry of a run). The reconciliation scans.
  beforeEach,
};

// Skips nothing.
struct WalkAll {
  template <class Cursor>
  bool operator()(Cursor const&) const noexcept {
    return false;
  }
};

// Walks `cur` to the end. Entries for which skip(cur) holds are passed over without a
// question. visit(cur) handles an entry and returns false to end the run on it (it
// stopped on its own: a nested walk yielded there). ask() is the yield question;
// on a yes, yieldAt(key) records the key the next run resumes at and the walk ends.
// Returns true when the walk reached the end of the collection.
template <AskYield when, class Cursor, class Skip, class Visit, class Ask, class YieldAt>
bool resumableWalk(Cursor& cur, Skip&& skip, Visit&& visit, Ask&& ask, YieldAt&& yieldAt) {
  while (!cur.done()) {
    if (skip(cur)) {
      cur.next();
      continue;
    }
    if constexpr (when == AskYield::beforeEach) {
      if (ask()) {
        yieldAt(cur.key());
        return false;
      }
    }
    if (!visit(cur)) return false;
    cur.next();
    if constexpr (when == AskYield::afterEach) {
      if (ask() && !cur.done()) {
        yieldAt(cur.key());
        return false;
      }
    }
  }
  return true;
}

}  // namespace Corvane
