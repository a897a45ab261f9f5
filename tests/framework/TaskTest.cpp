// The cooperative scheduler: priorities, rescheduling after a yield, the
// deterministic yield policy and tasks that go away while queued.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;

namespace {

// Works through `items`, asking the scheduler after each one, and reschedules
// itself when told to yield: the shape of every scan in the library.
struct ChunkedWork : Subscriber {
  Ptr<Task> task;
  uint32_t next = 0, items;
  std::vector<std::pair<uint32_t, uint32_t>> runs;  // [first, end) per run
  std::vector<std::string>* log = nullptr;

  ChunkedWork(Ptr<TaskScheduler> s, TaskPriority p, std::string name, uint32_t n) : items(n) {
    task = Task::TaskIs(std::move(s), p, std::move(name));
    task->subscriberAdd(this);
  }
  ~ChunkedWork() override { task->subscriberRemove(this); }
  void dispatch(uint32_t attr, void const*) override {
    EXPECT_EQ(attr, Task::attrRun);
    EXPECT_TRUE(task->taskCurrentlyRunning());
    if (log) log->push_back(task->taskName());
    uint32_t first = next;
    while (next < items) {
      ++next;
      if (next < items && task->taskShouldYield()) {
        task->taskWorkCountInc(next - first);
        task->scheduleTask();
        break;
      }
    }
    runs.emplace_back(first, next);
  }
};

}  // namespace

TEST(Scheduler, YieldingTaskIsRescheduledAndResumes) {
  auto s = TaskScheduler::TaskSchedulerIs();
  s->yieldEveryIs(3);
  ChunkedWork w(s, 0, "work", 10);
  w.task->scheduleTask();
  w.task->scheduleTask();  // already queued: once
  EXPECT_EQ(s->readyCount(), 1u);
  EXPECT_EQ(s->runUntilIdle(), 4u);
  // Every third question says yield: runs of 3 items, the rest in the last run.
  EXPECT_EQ(w.runs, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 3}, {3, 6}, {6, 9}, {9, 10}}));
  EXPECT_EQ(w.task->taskRunCount(), 4u);
  EXPECT_EQ(w.task->taskWorkCount(), 9u);
  EXPECT_FALSE(s->runOne());
}

TEST(Scheduler, HigherPriorityFirstThenFifo) {
  auto s = TaskScheduler::TaskSchedulerIs();
  s->yieldEveryIs(1);  // yield after every item
  std::vector<std::string> log;
  ChunkedWork low(s, 1, "low", 2), high(s, 9, "high", 2), low2(s, 1, "low2", 1);
  low.log = high.log = low2.log = &log;
  low.task->scheduleTask();
  low2.task->scheduleTask();
  high.task->scheduleTask();
  s->runUntilIdle();
  EXPECT_EQ(log, (std::vector<std::string>{"high", "high", "low", "low2", "low"}));
}

TEST(Scheduler, YieldEveryCountsQuestionsOutsideRunsToo) {
  auto s = TaskScheduler::TaskSchedulerIs();
  s->yieldEveryIs(2);
  EXPECT_FALSE(s->taskShouldYield());
  EXPECT_TRUE(s->taskShouldYield());
  EXPECT_FALSE(s->taskShouldYield());
  s->yieldEveryIs(0);  // time slice: not used up yet
  s->timeSliceIs(std::chrono::hours(1));
  for (int i = 0; i < 100; ++i) EXPECT_FALSE(s->taskShouldYield());
  s->timeSliceIs(std::chrono::microseconds(0));
  bool yielded = false;
  for (int i = 0; i < 100; ++i) yielded = yielded || s->taskShouldYield();
  EXPECT_TRUE(yielded);
}

// With a time slice, each run starts a slice of its own, however long the scheduler
// sat idle before it.
TEST(Scheduler, EachRunStartsAFreshTimeSlice) {
  auto s = TaskScheduler::TaskSchedulerIs();
  s->timeSliceIs(std::chrono::milliseconds(200));
  ChunkedWork w(s, 0, "work", 1000);
  w.task->scheduleTask();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(s->runUntilIdle(), 1u);
  EXPECT_EQ(w.runs, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 1000}}));
}

// Reading the clock costs more than most work between questions: the slice is
// looked at every 16 questions, so even a slice already over lets 16 items through.
TEST(Scheduler, TheSliceIsLookedAtEverySixteenQuestions) {
  auto s = TaskScheduler::TaskSchedulerIs();
  s->timeSliceIs(std::chrono::microseconds(0));
  ChunkedWork w(s, 0, "work", 40);
  w.task->scheduleTask();
  s->runUntilIdle();
  EXPECT_EQ(w.runs, (std::vector<std::pair<uint32_t, uint32_t>>{{0, 16}, {16, 32}, {32, 40}}));
}

TEST(Scheduler, TaskDroppedWhileQueuedIsDescheduled) {
  auto s = TaskScheduler::TaskSchedulerIs();
  int32_t tasks = Task::typeDataStatic().liveCount();
  {
    auto t = Task::TaskIs(s, 3, "gone");
    t->scheduleTask();
    EXPECT_EQ(s->readyCount(), 1u);
  }
  EXPECT_EQ(s->readyCount(), 0u);
  EXPECT_FALSE(s->runOne());
  EXPECT_EQ(Task::typeDataStatic().liveCount(), tasks);
}

TEST(Scheduler, ProcessSchedulerIsShared) {
  EXPECT_EQ(TaskSchedulerRoot::findOrCreateScheduler(), TaskSchedulerRoot::findOrCreateScheduler());
}
