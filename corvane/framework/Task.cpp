#include "corvane/framework/Task.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/Errors.h"
#include "corvane/framework/internal/SpanScope.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(Task, "Corvane::Task", Entity)
CORVANE_NODE_TYPE_DEFINE(TaskScheduler, "Corvane::TaskScheduler", Entity)

Ptr<Task> Task::TaskIs(Ptr<TaskScheduler> scheduler, TaskPriority priority, std::string name) {
  return Ptr<Task>(new Task(std::move(scheduler), priority, std::move(name)));
}

Task::Task(Ptr<TaskScheduler> scheduler, TaskPriority priority, std::string name)
    : scheduler_(std::move(scheduler)), name_(std::move(name)), priority_(priority) {}

Task::~Task() { descheduleTask(); }

void Task::scheduleTask() {
  if (!scheduled_ && scheduler_) scheduler_->enqueue(this);
}

void Task::descheduleTask() noexcept {
  if (scheduled_) scheduler_->unlink(this);
}

bool Task::taskShouldYield() const { return scheduler_ && scheduler_->taskShouldYield(); }

bool Task::taskCurrentlyRunning() const noexcept {
  return scheduler_ && scheduler_->current_ == this;
}

void Task::taskPriorityIs(TaskPriority p) {
  if (p == priority_) return;
  bool wasScheduled = scheduled_;
  descheduleTask();
  priority_ = p;
  if (wasScheduled) scheduleTask();
}

void Task::run() {
  ++runs_;
  publishChange(attrRun, nullptr);
}

Ptr<TaskScheduler> TaskScheduler::TaskSchedulerIs() { return Ptr<TaskScheduler>(new TaskScheduler()); }
TaskScheduler::TaskScheduler() : sliceStart_(std::chrono::steady_clock::now()) {}
TaskScheduler::~TaskScheduler() {
  // Tasks hold a reference to their scheduler, so none can be queued here now.
  if (ready_ != 0) fatalInternalError("TaskScheduler: destroyed with a task still queued");
}

void TaskScheduler::enqueue(Task* t) noexcept {
  Queue& q = queues_[t->priority_];
  t->prev_ = q.tail;
  t->next_ = nullptr;
  if (q.tail) {
    q.tail->next_ = t;
  } else {
    q.head = t;
    nonEmpty_[t->priority_ >> 5] |= 1u << (t->priority_ & 31);
  }
  q.tail = t;
  t->scheduled_ = true;
  ++ready_;
}

void TaskScheduler::unlink(Task* t) noexcept {
  Queue& q = queues_[t->priority_];
  (t->prev_ ? t->prev_->next_ : q.head) = t->next_;
  (t->next_ ? t->next_->prev_ : q.tail) = t->prev_;
  if (!q.head) nonEmpty_[t->priority_ >> 5] &= ~(1u << (t->priority_ & 31));
  t->prev_ = t->next_ = nullptr;
  t->scheduled_ = false;
  --ready_;
}

Task* TaskScheduler::popHighest() noexcept {
  for (int w = 7; w >= 0; --w) {
    if (uint32_t bits = nonEmpty_[w]) {
      int p = w * 32 + 31 - __builtin_clz(bits);
      Task* t = queues_[p].head;
      unlink(t);
      return t;
    }
  }
  return nullptr;
}

bool TaskScheduler::runOne() {
  Task* t = popHighest();
  if (!t) return false;
  NodeHold keep(*t);  // subscribers may drop the last other reference while it runs
  NodeHold self(*this);
  Task* outer = current_;
  current_ = t;
  questions_ = 0;
  if (yieldEvery_ == 0) sliceStart_ = std::chrono::steady_clock::now();
  ++runs_;
  struct Restore {
    TaskScheduler& s;
    Task* outer;
    ~Restore() {
      s.current_ = outer;
      s.questions_ = 0;
      s.sliceStart_ = std::chrono::steady_clock::now();
    }
  } restore{*this, outer};
  detail::SpanScope span(t->taskName().c_str(), "task");
  t->run();
  return true;
}

uint64_t TaskScheduler::runUntilIdle() {
  uint64_t n = 0;
  while (runOne()) ++n;
  return n;
}

bool TaskScheduler::taskShouldYield() {
  ++questions_;
  if (yieldEvery_ > 0) return questions_ % yieldEvery_ == 0;
  // Outside a run the slice counts from the end of the last run, so work done
  // inline (a scan started by a factory) also hands over to a task in time.
  // Reading the clock costs more than the work between most questions; look every 16.
  if ((questions_ & 15) != 0) return false;
  return std::chrono::steady_clock::now() - sliceStart_ >= slice_;
}

void TaskScheduler::yieldEveryIs(uint32_t n) noexcept {
  yieldEvery_ = n;
  questions_ = 0;
}

Ptr<TaskScheduler> TaskSchedulerRoot::findOrCreateScheduler() {
  static Ptr<TaskScheduler> root = TaskScheduler::TaskSchedulerIs();
  return root;
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(TaskScheduler::typeDataStatic(), Describe<TaskScheduler>(TypeKind::entity).done());
  TypeRegistry::typeRegister(Task::typeDataStatic(),
                             Describe<Task>(TypeKind::entity)
                                 .value<&Task::taskName>("taskName")
                                 .value<&Task::taskPriority, &Task::taskPriorityIs>("taskPriority")
                                 .value<&Task::taskScheduler>("taskScheduler")
                                 .value<&Task::scheduled>("scheduled")
                                 .value<&Task::taskRunCount>("taskRunCount")
                                 .value<&Task::taskWorkCount>("taskWorkCount")
                                 .value<&Task::taskWorkPending, &Task::taskWorkPendingIs>("taskWorkPending")
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
