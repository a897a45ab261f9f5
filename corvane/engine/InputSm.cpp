#include "corvane/engine/InputSm.h"

#include <iterator>

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(InputSm, "Corvane::InputSm", Node)

void inputSmTypeRegister(TypeData const& type) {
  TypeRegistry::typeRegister(type, Describe<InputSm>(TypeKind::inputSm).done());
}

InputSm::InputSm(RootSm& root, char const* className) : root_(root), className_(className) {}

InputSm::~InputSm() {
  for (uint32_t i = 0; i < scanCount_; ++i) taskDelete(scans_[i]);
}

namespace {
constexpr char const* scanFnNames[] = {"doInputScan0", "doInputScan1", "doInputScan2", "doInputScan3",
                                       "doInputScan4", "doInputScan5", "doInputScan6", "doInputScan7",
                                       "doInputScan8", "doInputScan9"};
}  // namespace

char const* InputSm::scanFnName(uint8_t number) noexcept { return scanFnNames[number]; }

void InputSm::scanDeclare(uint8_t number, int32_t flag, char const* handlerName) {
  if (number >= std::size(scanFnNames)) throw InternalError(fmt::format("scan number {} out of range", number));
  if (scanCount_ >= std::size(scans_)) {
    fatalInternalError(fmt::format("{}: a third scan declared, an input SM has at most {}", className_,
                                   std::size(scans_)));
  }
  if (flag < -1 || flag >= int32_t(root_.streams_.size())) {
    fatalInternalError(fmt::format("{}: scan {} feeds stream {}, the machine declared {}", className_,
                                   scanFnNames[number], flag, root_.streams_.size()));
  }
  Scan& s = scans_[scanCount_];
  s.flag = flag;
  s.number = number;
  s.handlerFn = handlerName;
  ++scanCount_;
}

void InputSm::initialize() {
  Entity const* en = watched();
  if (en) en->subscriberAdd(this);
  try {
    doInitializeTask();
    doInputScan();
  } catch (...) {
    // The final class's destructor will not run: nothing else would remove it.
    if (en) en->subscriberRemove(this);
    throw;
  }
}

void InputSm::doInitializeTask() {
  if (synchronous()) return;
  for (uint32_t i = 0; i < scanCount_; ++i) {
    Scan& s = scans_[i];
    std::string name = fmt::format("Corvane::{}-{}InputScanTask{}", root_.sourceName(), className_,
                                   scanFnName(s.number) + sizeof("doInputScan") - 1);
    Ptr<Task> task = Task::TaskIs(root_.scheduler(), root_.stromControl().taskPriority(), std::move(name));
    auto* st = new ScanTask;
    st->sm = this;
    st->index = uint8_t(i);
    st->task = std::move(task);
    s.task = st;
    // An input is made switched off: hasNotificationActiveIs(true) subscribes its tasks.
  }
}

void InputSm::taskDelete(Scan& s) noexcept {
  ScanTask* st = s.task;
  if (!st) return;
  s.task = nullptr;
  if (st->subscribed) st->task->subscriberRemove(st);
  st->task->descheduleTask();
  delete st;
}

void InputSm::ScanTask::dispatch(uint32_t attrId, void const*) {
  if (attrId != Task::attrRun || sm->nodeFlag(flagZombie)) return;
  NodeHold rootHold(sm->root_);  // the root holds its input SMs
  sm->doInputScanN(index);
}

void InputSm::hasNotificationActiveIs(bool active) {
  if (nodeFlag(flagNotificationActive) == active) return;
  nodeFlagSet(flagNotificationActive, active);
  nodeFlagSet(flagZombie, !active);
  // The watched entity, the followers, then the scan tasks.
  if (Entity const* en = watched()) {
    if (active) {
      en->subscriberAdd(this);
    } else {
      en->subscriberRemove(this);
    }
  }
  followersNotificationIs(active);
  for (uint32_t i = 0; i < scanCount_; ++i) {
    ScanTask* st = scans_[i].task;
    if (!st || st->subscribed == active) continue;
    if (active) {
      st->task->subscriberAdd(st);
    } else {
      st->task->subscriberRemove(st);
    }
    st->subscribed = active;
  }
}

void InputSm::doInputScan() {
  if (!enabled_) return;
  root_.trace(9, "doInputScan", className_, "");
  for (uint32_t i = 0; i < scanCount_; ++i) {
    Scan& s = scans_[i];
    if (!synchronous() && s.task && s.task->task->taskWorkCount() != 0) {
      s.task->task->scheduleTask();  // an earlier run of this scan yielded: continue in the task
    } else {
      doInputScanN(i);
    }
  }
}

size_t InputSm::taskBytes() const noexcept {
  size_t n = 0;
  for (uint32_t i = 0; i < scanCount_; ++i) {
    if (Task* t = task(i)) n += sizeof(ScanTask) + sizeof(Task) + t->taskName().capacity() + 1;
  }
  return n;
}

bool InputSm::inputScanComplete(uint32_t scan) const noexcept {
  uint8_t st = scans_[scan].state;
  return st == scanComplete || (st == scanFirstPassComplete && !initialScanDone());
}

bool InputSm::scanBegin(uint32_t scan) {
  if (!enabled_) return false;
  Scan const& s = scans_[scan];
  if (CORVANE_UNLIKELY(root_.traceOn(9))) scanBeginTrace(scan);
  if (s.state == scanComplete || (s.state == scanFirstPassComplete && !initialScanDone())) return false;
  return true;
}

void InputSm::scanBeginTrace(uint32_t scan) const {
  Scan const& s = scans_[scan];
  char const* fn = scanFnName(s.number);
  root_.trace(9, fn, className_, "{}", "");
  root_.trace(9, fn, className_, " scan complete: {} resumed: {} scan: {}", inputScanComplete(scan),
              s.state == scanResuming, s.flag >= 0 && root_.inputSmScanState()->scan(uint32_t(s.flag)));
}

void InputSm::checkEntity() const {
  if (!watched()) {
    fatalInternalError(
        "en() && \"Sm args can only be null if marked as Optional in the SM type declaration\"");
  }
}

void InputSm::checkVersion(uint64_t recorded, uint64_t current, char const* attrName) const {
  if (recorded != current) {
    fatalInternalError(fmt::format(
        "We missed notifications that happened to {} before the enclosing entity got deleted", attrName));
  }
}

bool InputSm::shouldYield(uint32_t scan) const {
  Task* t = task(scan);
  return t && !inReactor_ && t->taskShouldYield();
}

void InputSm::scanYield(uint32_t scan, bool child, uint64_t iterations, uint64_t total) {
  Scan& s = scans_[scan];
  root_.trace(8, scanFnName(s.number), className_, "{} {} yielding after {} iterations ({} total items)", "",
              child ? "child" : "", iterations, total);
  s.state = scanResuming;
  ++counters_.scanYields;
  if (Task* t = task(scan)) {
    t->taskWorkCountInc(iterations);
    t->taskWorkPendingIs(total);
    t->scheduleTask();
  }
}

void InputSm::scanFinish(uint32_t scan) {
  Scan& s = scans_[scan];
  bool const initial = !initialScanDone();
  if (initial) {
    s.state = scanFirstPassComplete;
  } else {
    s.state = scanComplete;
    taskDelete(s);
  }
  if (s.flag >= 0) root_.inputSmScanState()->scanIs(uint32_t(s.flag), true);
  if (CORVANE_UNLIKELY(root_.traceOn(9))) scanFinishTrace(scan, initial);
}

void InputSm::scanFinishTrace(uint32_t scan, bool initial) const {
  std::string label = className_;
  if (initial) label += " initial";
  root_.trace(9, scanFnName(scans_[scan].number), className_, "{} scan, and parent scan, complete.", label);
}

// ---- Follower ---------------------------------------------------------------

Follower::~Follower() { unsubscribe(); }

void Follower::subscribe() {
  if (!en_ || (flags_ & flagSubscribed)) return;
  en_->subscriberAdd(this);
  flags_ = uint8_t(flags_ | flagSubscribed);
}

void Follower::unsubscribe() noexcept {
  if (!(flags_ & flagSubscribed)) return;
  en_->subscriberRemove(this);
  flags_ = uint8_t(flags_ & ~flagSubscribed);
}

void Follower::initialize() {
  subscribe();
  try {
    doInputScan();
  } catch (...) {
    unsubscribe();
    throw;
  }
}

void Follower::hasNotificationActiveIs(bool active) {
  if (((flags_ & flagActive) != 0) == active) return;
  flags_ = active ? uint8_t((flags_ | flagActive) & ~flagZombie) : uint8_t((flags_ & ~flagActive) | flagZombie);
  if (active) {
    subscribe();
  } else {
    unsubscribe();
  }
}

void Follower::drop() noexcept {
  flags_ = uint8_t((flags_ | flagZombie | flagDropped) & ~flagEnabled);
  unsubscribe();
  if (busy_ == 0) release();
}

bool Follower::scanBegin(char const* className, char const* fn) {
  if (!enabled()) return false;
  if (CORVANE_UNLIKELY(root().traceOn(9))) scanBeginTrace(className, fn);
  return !(state_ == InputSm::scanComplete || (state_ == InputSm::scanFirstPassComplete && !initialScanDone()));
}

void Follower::scanBeginTrace(char const* className, char const* fn) const {
  root().trace(9, fn, className, "{}", "");
  root().trace(9, fn, className, " scan complete: {} resumed: {} scan: {}", inputScanComplete(),
               state_ == InputSm::scanResuming, false);
}

bool Follower::shouldYield() const {
  Task* t = parent_->yieldTask();
  return t && !parent_->inReactor() && t->taskShouldYield();
}

void Follower::scanYield(char const* className, char const* fn, uint64_t iterations, uint64_t total) {
  root().trace(8, fn, className, "{} {} yielding after {} iterations ({} total items)", "", "", iterations, total);
  state_ = InputSm::scanResuming;
  // The parent's scan counts its own items on the task when it yields in turn; the
  // elements of a followed collection are not items of the input.
  if (Task* t = parent_->yieldTask()) {
    t->taskWorkPendingIs(total);
    t->scheduleTask();
  }
}

void Follower::scanFinish(char const* className, char const* fn, bool collection, size_t elements) {
  bool const initial = !initialScanDone();
  state_ = initial ? InputSm::scanFirstPassComplete : InputSm::scanComplete;
  if (CORVANE_UNLIKELY(root().traceOn(9))) scanFinishTrace(className, fn, collection, elements, initial);
}

void Follower::scanFinishTrace(char const* className, char const* fn, bool collection, size_t elements,
                               bool initial) const {
  std::string label = className;
  if (initial) label += " initial";
  if (collection) {
    root().trace(9, fn, className, "{} scan complete. Processed {} children. ", label, elements);
  } else {
    root().trace(9, fn, className, "{} scan complete. ", label);
  }
}

void Follower::checkEntity() const {
  if (!en_) {
    fatalInternalError(
        "en() && \"Sm args can only be null if marked as Optional in the SM type declaration\"");
  }
}

}  // namespace Corvane
