#include "corvane/engine/Output.h"

#include <cctype>

namespace Corvane {

OutputBase::OutputBase(RootSm& root, char const* name, bool hasState, bool reconciled)
    : root_(root), name_(name), hasState_(hasState), reconciled_(reconciled) {
  readyFn_ = std::string("handle") + name;
  readyFn_[6] = char(std::toupper(static_cast<unsigned char>(readyFn_[6])));
  readyFn_ += "InputReady";
}

OutputBase::~OutputBase() { taskDelete(); }

size_t OutputBase::taskBytes() const noexcept {
  return task_ ? sizeof(Task) + task_->taskName().capacity() + 1 + readyFn_.capacity() : readyFn_.capacity();
}

bool OutputBase::ready() const noexcept {
  auto const& os = root_.outputState();
  return os && os->outputReady(readyIndex_);
}

void OutputBase::taskCreate() {
  if (!reconciled_) return;
  task_ = Task::TaskIs(root_.scheduler(), root_.stromControl().taskPriority(),
                       fmt::format("{}-{}Task", root_.sourceName(), name_));
  if (root_.nodeFlag(Node::flagNotificationActive)) taskSubscriptionIs(true);
}

void OutputBase::taskDelete() noexcept {
  if (!task_) return;
  if (subscribed_) task_->subscriberRemove(this);
  subscribed_ = false;
  task_->descheduleTask();
  task_ = nullptr;
}

void OutputBase::taskSubscriptionIs(bool active) {
  if (!task_ || subscribed_ == active) return;
  if (active) {
    task_->subscriberAdd(this);
  } else {
    task_->subscriberRemove(this);
  }
  subscribed_ = active;
}

void OutputBase::dispatch(uint32_t attrId, void const*) {
  if (attrId != Task::attrRun || root_.nodeFlag(Node::flagZombie)) return;
  NodeHold hold(root_);  // the machine outlives this run, whoever its writes reach
  handleInputReady();
}

void OutputBase::reconcilingDecide() {
  if (!reconciled_) return;
  if (hasState_) {
    state_ = skipBoth;
    reconciling_ = true;
  } else {
    reconciling_ = outputHasEntries();
  }
  root_.trace(9, "handleInitialized", root_.sourceName(), "Reconciling {}: {:}", name_, reconciling_);
}

bool OutputBase::yieldBefore(uint64_t processed) const {
  if (!task_ || root_.synchronous() || processed == 0) return false;
  return !task_->taskCurrentlyRunning() || task_->taskShouldYield();
}

void OutputBase::yieldNow(uint64_t visited, uint64_t deleted) {
  useBookmark_ = true;
  counters_.reconcileVisited += visited;
  counters_.reconcileDeleted += deleted;
  root_.trace(9, fn(), root_.sourceName(),
              "Yielding in reconciliation processing after processing {} items, including {} deletions .", visited,
              deleted);
  task_->taskWorkCountInc(visited);
  task_->scheduleTask();
}

void OutputBase::deletionDone(uint64_t visited, uint64_t deleted) {
  root_.trace(9, fn(), root_.sourceName(),
              "Deletion scan for reconciliation is done, last task run processed {} items, deleting {} items.", visited,
              deleted);
  useBookmark_ = false;
  runCount_ = visited;
  counters_.reconcileVisited += visited;
  counters_.reconcileDeleted += deleted;
  if (hasState_) {
    root_.trace(9, fn(), root_.sourceName(), "Setting reconciliationState to skip nothing for {}", name_);
    state_ = skipNothing;
  }
}

void OutputBase::insertionDone(uint64_t visited, uint64_t seen) {
  root_.trace(9, fn(), root_.sourceName(),
              "Insertion scan for reconciliation is done after processing {} items in last run. Total seen: {}",
              visited, seen);
  runCount_ = visited;
  counters_.reconcileVisited += visited;
}

void OutputBase::handleInputReady() {
  if (!root_.initialized()) return;
  char const* f = fn();
  char const* cls = root_.sourceName();
  root_.trace(9, f, cls, "");
  if (ready()) {
    root_.trace(9, f, cls, " already ready, not reconciling.");
    return;
  }
  if (!root_.inputSmScanState()->allScansDone()) return;
  if (!root_.initialScanDone()) {
    root_.handleInitialScanDone();
    return;
  }
  root_.trace(9, f, cls, "Input scans for {} complete", name_);
  root_.phaseMark(RootSm::markInitialScan);
  if (reconciling_) {
    if (hasState_) {
      if (state_ == skipBoth) {
        root_.trace(9, f, cls, "Setting reconciliationState to skip insertions for {}", name_);
        state_ = skipInsertions;
        useBookmark_ = false;
      }
      if (state_ == skipInsertions && !deletionScan()) return;
      if (!insertionScan()) return;
    } else if (!deletionScan()) {
      return;
    }
    if (task_) task_->taskWorkCountInc(runCount_);
    bookmarkReset();
    useBookmark_ = false;
  }
  taskDelete();
  reconciling_ = false;
  seenClear();
  root_.outputState()->outputReadyIs(readyIndex_, true);
  if (root_.ready()) {
    root_.phaseMark(RootSm::markReconciled);
    root_.phaseMark(RootSm::markReady);
  }
}

}  // namespace Corvane
