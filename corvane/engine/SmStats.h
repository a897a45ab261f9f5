// What a state machine has done: counters for its inputs, pipeline entry points,
// outputs and reconciliation, the times of its lifecycle phases, and its start-up
// progress. Always on; each count is one increment where the work happens. Read
// with RootSm::statistics(), reset with RootSm::statisticsReset(); docs/observability.md
// explains every counter.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "corvane/framework/Export.h"

namespace Corvane {

class Node;
class RootSm;

// One input SM (its followers count into it).
struct InputCounts {
  uint64_t events = 0;       // notifications handled
  uint64_t scanItems = 0;    // elements its start-up scans visited (both passes)
  uint64_t scanKnown = 0;    // elements its scans found when each pass began
  uint64_t scanYields = 0;   // times a scan gave the scheduler back
};
struct InputStatistics : InputCounts {
  std::string name;  // the input SM's class name, e.g. "VeltStatusSm0"
};

// One pipeline entry point.
struct PipelineStatistics {
  std::string name;   // e.g. "eventToStrm_pipeline0"
  uint64_t runs = 0;  // calls that ran (after the initial scan)
};

// One output and its reconciliation.
struct OutputCounts {
  uint64_t inserted = 0;            // entries the pipelines added
  uint64_t replaced = 0;            // entries the pipelines changed in place
  uint64_t deleted = 0;             // entries the pipelines removed
  uint64_t reconcileKnown = 0;      // entries found when each reconciliation scan began
  uint64_t reconcileVisited = 0;    // entries the reconciliation scans visited
  uint64_t reconcileDeleted = 0;    // stale entries reconciliation removed
  uint64_t reconcileInserted = 0;   // held-back entries reconciliation wrote
  uint64_t bookmarkResumes = 0;     // reconciliation runs that resumed at a bookmark
};
struct OutputStatistics : OutputCounts {
  std::string name;  // e.g. "intfToTcamSetIntfToTcamSetTcamSetOutput"
};

enum class SmPhase : uint8_t { created, firstPass, eventPass, reconciling, ready, retracted };
CORVANE_API std::ostream& operator<<(std::ostream& os, SmPhase p);

struct SmStatistics {
  using Clock = std::chrono::steady_clock;
  std::string sm;  // the SM's source name
  std::vector<InputStatistics> inputs;
  std::vector<PipelineStatistics> pipelines;
  std::vector<OutputStatistics> outputs;
  // When each phase was reached (a default time point: not yet). firstPassDone: the
  // first scan of every input is over; initialScanDone: the event pass is over too;
  // reconciled: every output is reconciled; ready: ready() turned true.
  Clock::time_point created, firstPassDone, initialScanDone, reconciled, ready;
  // Time from creation to each phase (zero while not reached).
  Clock::duration firstPassTime() const noexcept { return since(firstPassDone); }
  Clock::duration initialScanTime() const noexcept { return since(initialScanDone); }
  Clock::duration readyTime() const noexcept { return since(ready); }

 private:
  Clock::duration since(Clock::time_point t) const noexcept {
    return t == Clock::time_point() ? Clock::duration() : t - created;
  }
};

// The counters as lines of text (no times, so two runs of one scenario print alike).
CORVANE_API std::ostream& operator<<(std::ostream& os, SmStatistics const& s);

// Bytes a state machine holds for its own work, beyond its inputs and outputs.
struct EngineMemory {
  uint64_t machine = 0;    // the SM object and its scan and output state entities
  uint64_t inputs = 0;     // its input SMs, their tables of followers and the follower records
  uint64_t caches = 0;     // the pipelines' caches
  uint64_t groupBys = 0;   // the pipelines' group-by collections
  uint64_t seenSets = 0;   // reconciliation's output-seen sets (freed once reconciled)
  uint64_t tasks = 0;      // scan and reconciliation tasks (freed once done)
  uint64_t total() const noexcept { return machine + inputs + caches + groupBys + seenSets + tasks; }
};

// Objects and bytes of one type, as memoryByType() found them.
struct MemoryUse {
  std::string type;
  uint64_t objects = 0;
  uint64_t bytes = 0;
};

// Walks everything reachable from `roots` (a directory, entities, state machines):
// children of instantiating collections, referents of references, payloads held in
// collections, each node once. A node's bytes are its object, the collections it
// holds, and for a state machine its engine memory. Largest first.
CORVANE_API std::vector<MemoryUse> memoryByType(std::vector<Node const*> const& roots);

// How far a start-up has come: items done against items known (the elements of
// the collections the scans found when they began, then the outputs being
// reconciled). done only grows; known grows as each pass begins; both are equal and
// complete is true exactly when the SM is ready.
struct StartupProgress {
  SmPhase phase = SmPhase::created;
  uint64_t done = 0;
  uint64_t known = 0;
  bool complete = false;
  StartupProgress& operator+=(StartupProgress const& o) noexcept;
};

// The sum over several SMs: the earliest phase, done and known added, complete when
// all are.
CORVANE_API StartupProgress startupProgress(std::vector<RootSm const*> const& sms);

}  // namespace Corvane
