// The control record every state-machine factory takes: which scheduler its tasks
// run on, at which priority, which trace handler and ring buffer it traces into,
// and whether it runs synchronously.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Task.h"
#include "corvane/framework/Trace.h"

namespace Corvane {

class CORVANE_API SmControl {
 public:
  // Values of synchronous().
  static constexpr uint8_t synchronousDefault = 0;  // keep the default (asynchronous)
  static constexpr uint8_t synchronousOn = 1;
  static constexpr uint8_t synchronousOff = 2;

  SmControl() = default;

  Ptr<TaskScheduler> const& scheduler() const noexcept { return scheduler_; }
  void schedulerIs(Ptr<TaskScheduler> s) { scheduler_ = std::move(s); }
  Ptr<RingTrace> const& ringTraceHandle() const noexcept { return ring_; }
  void ringTraceHandleIs(Ptr<RingTrace> r) { ring_ = std::move(r); }
  std::string const& traceName() const noexcept { return traceName_; }
  void traceNameIs(std::string name) { traceName_ = std::move(name); }
  TaskPriority taskPriority() const noexcept { return priority_; }
  void taskPriorityIs(TaskPriority p) noexcept { priority_ = p; }
  uint8_t synchronous() const noexcept { return synchronous_; }
  // Throws RangeError for a value that is none of the three above.
  void synchronousIs(uint8_t mode);

 private:
  Ptr<TaskScheduler> scheduler_;
  Ptr<RingTrace> ring_;
  std::string traceName_;
  TaskPriority priority_ = 0;
  uint8_t synchronous_ = synchronousDefault;
};

inline void SmControl::synchronousIs(uint8_t mode) {
  if (mode > synchronousOff) {
    throw RangeError("SmControl: synchronous mode " + std::to_string(mode) +
                     " is none of 0 (default), 1 (synchronous) and 2 (asynchronous)");
  }
  synchronous_ = mode;
}

}  // namespace Corvane
