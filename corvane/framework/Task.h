// Tasks and the single-threaded cooperative scheduler. Long work (input scans,
// reconciliation) runs in tasks: a scheduled task's run is announced to its
// subscribers, which do a share of the work, ask taskShouldYield() as they go, and
// schedule the task again when work is left.
//
// Ready tasks run highest priority first (255 is the highest), first come first
// served within a priority. The yield policy is a time slice by default;
// yieldEveryIs(n) makes it deterministic for tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "corvane/framework/Publisher.h"

namespace Corvane {

using TaskPriority = uint8_t;

class TaskScheduler;

class CORVANE_API Task : public Entity {
  CORVANE_NODE_TYPE(Task)

  // Attribute published when the task runs (key null).
  static constexpr uint32_t attrRun = 0;

  static Ptr<Task> TaskIs(Ptr<TaskScheduler> scheduler, TaskPriority priority, std::string name);
  Task(Ptr<TaskScheduler> scheduler, TaskPriority priority, std::string name);
  ~Task() override;  // a task that goes away is descheduled

  // Puts the task on its scheduler's ready queue (once; again after it has run).
  void scheduleTask();
  void descheduleTask() noexcept;
  bool scheduled() const noexcept { return scheduled_; }

  bool taskShouldYield() const;
  bool taskCurrentlyRunning() const noexcept;

  void taskWorkCountInc(uint64_t n) noexcept { workCount_ += n; }
  uint64_t taskWorkCount() const noexcept { return workCount_; }
  void taskWorkPendingIs(uint64_t n) noexcept { workPending_ = n; }
  uint64_t taskWorkPending() const noexcept { return workPending_; }
  uint64_t taskRunCount() const noexcept { return runs_; }

  TaskPriority taskPriority() const noexcept { return priority_; }
  void taskPriorityIs(TaskPriority p);
  std::string const& taskName() const noexcept { return name_; }
  Ptr<TaskScheduler> const& taskScheduler() const noexcept { return scheduler_; }

 private:
  friend class TaskScheduler;
  void run();

  Ptr<TaskScheduler> scheduler_;
  std::string name_;
  uint64_t workCount_ = 0;
  uint64_t workPending_ = 0;
  uint64_t runs_ = 0;
  Task* prev_ = nullptr;  // ready-queue links, owned by the scheduler
  Task* next_ = nullptr;
  TaskPriority priority_;
  bool scheduled_ = false;
};

class CORVANE_API TaskScheduler : public Entity {
  CORVANE_NODE_TYPE(TaskScheduler)

  static Ptr<TaskScheduler> TaskSchedulerIs();
  TaskScheduler();
  ~TaskScheduler() override;

  // Runs the next ready task; returns whether one ran.
  bool runOne();
  // Runs until no task is ready; returns the number of task runs.
  uint64_t runUntilIdle();

  // The yield question a running task asks between items of work.
  bool taskShouldYield();
  // n > 0: answer true on every n-th question since the current run began (outside
  // a run, since the last run ended). n = 0: the time-slice policy, true once the
  // run (outside a run: the time since the last run ended) has used its slice.
  void yieldEveryIs(uint32_t n) noexcept;
  uint32_t yieldEvery() const noexcept { return yieldEvery_; }
  void timeSliceIs(std::chrono::microseconds slice) noexcept { slice_ = slice; }
  std::chrono::microseconds timeSlice() const noexcept { return slice_; }

  Task* currentTask() const noexcept { return current_; }
  uint32_t readyCount() const noexcept { return ready_; }
  bool idle() const noexcept { return ready_ == 0; }
  uint64_t runCount() const noexcept { return runs_; }

 private:
  friend class Task;
  void enqueue(Task* t) noexcept;
  void unlink(Task* t) noexcept;
  Task* popHighest() noexcept;

  struct Queue {
    Task* head = nullptr;
    Task* tail = nullptr;
  };
  Queue queues_[256];
  uint32_t nonEmpty_[8] = {};  // bit per priority with a non-empty queue
  uint32_t ready_ = 0;
  Task* current_ = nullptr;
  uint64_t runs_ = 0;
  uint32_t yieldEvery_ = 0;
  uint32_t questions_ = 0;
  std::chrono::microseconds slice_{10000};
  std::chrono::steady_clock::time_point sliceStart_{};
};

class CORVANE_API TaskSchedulerRoot {
 public:
  // The process scheduler, created on first use.
  static Ptr<TaskScheduler> findOrCreateScheduler();
};

}  // namespace Corvane
