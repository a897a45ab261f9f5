#include "corvane/engine/RootSm.h"

#include <algorithm>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Output.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(RootSm, "Corvane::RootSm", Entity)

namespace {
std::string statisticsText(RootSm const& sm) { return textForm(sm.statistics()); }
}  // namespace

void smTypeRegister(TypeData const& type) {
  TypeRegistry::typeRegister(type, Describe<RootSm>(TypeKind::rootSm).done());
}

Ptr<DebugHandler> smModuleLoad(TypeData const& type, char const* sourceName) {
  TypeRegistry::typeRegister(RootSm::typeDataStatic(),
                             Describe<RootSm>(TypeKind::rootSm)
                                 .value<&RootSm::taskScheduler>("taskScheduler")
                                 .value<&RootSm::taskPriority>("taskPriority")
                                 .value<&RootSm::defaultSynchronous>("defaultSynchronous")
                                 .value<&RootSm::synchronous>("synchronous")
                                 .value<&RootSm::initialized>("initialized")
                                 .value<&RootSm::initialScanDone>("initialScanDone")
                                 .value<&RootSm::ready>("ready")
                                 .value<&RootSm::idle>("idle")
                                 .value<&RootSm::phase>("phase")
                                 .value<&statisticsText>("statistics")
                                 .action<&RootSm::statisticsReset>("statisticsReset")
                                 .done());
  smTypeRegister(type);
  return getDebugHandler(sourceName);
}

RootSm::RootSm(char const* sourceName, SmControl const& control)
    : sourceName_(sourceName),
      control_(control),
      traceHandle_(getDebugHandler(sourceName)),
      created_(SmStatistics::Clock::now()) {
  scanStateSub_.root = this;
}

RootSm::~RootSm() { teardown(); }

void RootSm::lastUserGone() noexcept {
  // Outputs and pipeline state live in the derived class: take the machine apart
  // while all of it still exists.
  for (OutputBase* o : outputs_) o->taskDelete();
  teardown();
  delete this;
}

void RootSm::teardown() noexcept {
  if (tornDown_) return;
  tornDown_ = true;
  hasNotificationActiveIs(false);
  nodeFlagSet(flagZombie, true);
  outputState_ = nullptr;
  for (Ptr<InputSm>& sm : inputSms_) {
    if (sm) sm->hasNotificationActiveIs(false);
    sm = nullptr;
  }
}

bool RootSm::idle() const noexcept {
  return outputState_ && outputState_->ready() && (synchronous_ || (scanState_ && scanState_->idle()));
}

void RootSm::declarationCheck(char const* what) const {
  if (scanState_) fatalInternalError(fmt::format("{}: {} after handleInitialized", sourceName_, what));
}

void RootSm::argsDeclare(std::initializer_list<ArgState> args) {
  declarationCheck("argsDeclare");
  for (ArgState const& a : args) args_.emplace_back(a.accessor, a.present);
}

void RootSm::streamsDeclare(std::initializer_list<Stream> streams) {
  declarationCheck("streamsDeclare");
  for (Stream const& s : streams) {
    s.flag = uint32_t(streams_.size());
    streams_.push_back(s.name);
  }
}

void RootSm::pipelinesDeclare(char const* const* names, uint32_t count) {
  if (count > maxPipelines) {
    fatalInternalError(fmt::format("{}: {} pipelines declared, at most {}", sourceName_, count, maxPipelines));
  }
  for (uint32_t i = 0; i < count; ++i) pipelines_[i].name = names[i];
}

void RootSm::declareNames(char const* const* streams, uint32_t streamCount, char const* const* pipelines,
                          uint32_t pipelineCount, uint32_t inputSlots) {
  pipelinesDeclare(pipelines, pipelineCount);
  declarationCheck("streamsDeclare");
  streams_.insert(streams_.end(), streams, streams + streamCount);
  inputSmSlotsIs(inputSlots);
}

void RootSm::createInputSms() {
  if (createInputs_) createInputs_(*this);
}

void RootSm::declare(std::initializer_list<ArgState> args, std::initializer_list<Stream> streams,
                     std::initializer_list<OutputBase*> outputs, uint32_t inputSlots,
                     std::initializer_list<char const*> pipelines) {
  pipelinesDeclare(pipelines.begin(), uint32_t(pipelines.size()));
  argsDeclare(args);
  streamsDeclare(streams);
  for (OutputBase* o : outputs) outputDeclare(*o);
  inputSmSlotsIs(inputSlots);
}

void RootSm::outputDeclare(OutputBase& output) {
  declarationCheck("outputDeclare");
  if (std::find(outputs_.begin(), outputs_.end(), &output) != outputs_.end()) {
    fatalInternalError(fmt::format("{}: an output declared twice", sourceName_));
  }
  output.readyIndex_ = uint32_t(outputs_.size());
  outputs_.push_back(&output);
}

Ptr<InputSm> RootSm::inputSm(uint32_t slot) const { return slot < inputSms_.size() ? inputSms_[slot] : nullptr; }

void RootSm::inputSmSlotsIs(uint32_t count) {
  declarationCheck("inputSmSlotsIs");
  inputSms_.resize(count);
}

void RootSm::inputSmIs(uint32_t slot, Ptr<InputSm> sm) {
  if (slot >= inputSms_.size()) {
    fatalInternalError(fmt::format("{}: input SM slot {} of {} declared", sourceName_, slot, inputSms_.size()));
  }
  inputSms_[slot] = std::move(sm);
  if (nodeFlag(flagNotificationActive) && inputSms_[slot]) inputSms_[slot]->hasNotificationActiveIs(true);
}

void RootSm::handleInitialized() {
  if (initialized_) return;
  traceHandle_ = control_.traceName().empty() ? getDebugHandler(sourceName_) : getDebugHandler(control_.traceName());
  char const* fn = "handleInitialized";
  trace(8, fn, sourceName_, "");
  synchronous_ = control_.synchronous() == SmControl::synchronousOn;  // asynchronous unless asked
  scanState_ = Ptr<InputSmScanState>(new InputSmScanState(streams_));
  outputState_ = Ptr<OutputState>(new OutputState(uint32_t(outputs_.size())));
  if (!synchronous_) {
    if (!control_.scheduler()) control_.schedulerIs(TaskSchedulerRoot::findOrCreateScheduler());
    for (OutputBase* o : outputs_) o->taskCreate();
  }
  for (auto const& [accessor, present] : args_) {
    if (!present) {
      fatalInternalError(
          fmt::format("{} && \"Pointer SM args cannot be null unless they are marked Optional\"", accessor));
    }
  }
  for (OutputBase* o : outputs_) o->reconcilingDecide();
  trace(9, fn, sourceName_, "create local SMs");
  trace(9, fn, sourceName_, "create non-public arg SMs");
  createInputSms();
  trace(9, fn, sourceName_, "initialized");
  initialized_ = true;
  outputsInputReady();
}

void RootSm::outputsInputReady() {
  for (OutputBase* o : outputs_) o->handleInputReady();
}

void RootSm::handleInitialScanDone() {
  if (initialScanDone_ || !scanState_) return;
  char const* fn = "handleInitialScanDone";
  for (uint32_t i = 0; i < scanState_->scanCount(); ++i) {
    if (!scanState_->scan(i)) {
      trace(9, fn, sourceName_, " {} scan is false", scanState_->scanName(i));
      return;
    }
  }
  for (Ptr<InputSm> const& sm : inputSms_) {
    if (!sm) {
      trace(9, fn, sourceName_, "Initial scan yielding for child SM {}.", sourceName_);
      return;
    }
  }
  trace(9, fn, sourceName_, "Initial scan done for child SMs. Now scanning with events triggered.");
  phaseMark(markFirstPass);
  initialScanDone_ = true;
  for (uint32_t i = 0; i < scanState_->scanCount(); ++i) scanState_->scanIs(i, false);
  // The event pass: the pipelines now run for every existing input entry.
  eventPass_ = synchronous_;
  if (synchronous_) eventPassBegins();
  for (size_t i = 0; i < inputSms_.size(); ++i) {
    Ptr<InputSm> sm = inputSms_[i];  // a reactor may replace the slot meanwhile
    if (sm && sm->enabled()) sm->doInputScan();
  }
  eventPass_ = false;
  if (!scanState_->idle()) scanState_->idleIs(true);
  outputsInputReady();
}

void RootSm::ScanStateSub::dispatch(uint32_t attrId, void const*) {
  if (root->nodeFlag(flagZombie) || attrId >= root->scanState_->scanCount()) return;
  NodeHold hold(*root);
  root->outputsInputReady();
}

void RootSm::hasNotificationActiveIs(bool active) {
  if (nodeFlag(flagNotificationActive) == active) return;
  nodeFlagSet(flagNotificationActive, active);
  if (scanState_) {
    if (active) {
      scanState_->subscriberAdd(&scanStateSub_);
    } else {
      scanState_->subscriberRemove(&scanStateSub_);
    }
  }
  for (Ptr<InputSm> const& sm : inputSms_) {
    if (sm) sm->hasNotificationActiveIs(active);
  }
  if (!tornDown_) {
    for (OutputBase* o : outputs_) o->taskSubscriptionIs(active);
  }
}

void RootSm::doDeleteAll() {
  NodeHold hold(*this);
  trace(9, "doDeleteAll", sourceName_, "");
  // The inputs stopped following their entities at the first call: a second one
  // would find every version moved on and take it for a missed notification.
  if (retracted_) return;
  struct Scope {
    bool& flag;
    ~Scope() { flag = false; }
  } scope{deletingAll_};
  deletingAll_ = true;
  for (size_t i = 0; i < inputSms_.size(); ++i) {
    Ptr<InputSm> sm = inputSms_[i];
    if (sm) sm->doDeleteAll();
  }
  retracted_ = true;
}

void RootSm::phaseMark(PhaseMark m) noexcept {
  if (phases_[m] == SmStatistics::Clock::time_point()) phases_[m] = SmStatistics::Clock::now();
}

SmStatistics RootSm::statistics() const {
  SmStatistics s;
  s.sm = sourceName_;
  for (Ptr<InputSm> const& sm : inputSms_) {
    if (!sm) continue;
    s.inputs.push_back({sm->counters(), sm->className()});
  }
  for (PipelineCounter const& p : pipelines_) {
    if (p.name) s.pipelines.push_back({p.name, p.runs});
  }
  for (OutputBase const* o : outputs_) {
    s.outputs.push_back({o->counters(), o->name()});
  }
  s.created = created_;
  s.firstPassDone = phases_[markFirstPass];
  s.initialScanDone = phases_[markInitialScan];
  s.reconciled = phases_[markReconciled];
  s.ready = phases_[markReady];
  return s;
}

void RootSm::statisticsReset() noexcept {
  for (Ptr<InputSm> const& sm : inputSms_) {
    if (sm) sm->eventsReset();
  }
  for (PipelineCounter& p : pipelines_) p.runs = 0;
  for (OutputBase* o : outputs_) o->writesReset();
}

EngineMemory RootSm::engineMemory() const {
  EngineMemory m;
  m.machine = typeData().objectSize() + (scanState_ ? sizeof(InputSmScanState) : 0) +
              (outputState_ ? sizeof(OutputState) : 0);
  for (Ptr<InputSm> const& sm : inputSms_) {
    if (!sm) continue;
    m.inputs += sm->bytesHeld();
    m.tasks += sm->taskBytes();
  }
  for (OutputBase const* o : outputs_) {
    m.seenSets += o->seenBytes();
    m.tasks += o->taskBytes();
  }
  stateMemory(m);
  return m;
}

SmPhase RootSm::phase() const noexcept {
  if (retracted_) return SmPhase::retracted;
  if (ready()) return SmPhase::ready;
  if (!initialized_) return SmPhase::created;
  if (!initialScanDone_) return SmPhase::firstPass;
  if (phases_[markInitialScan] == SmStatistics::Clock::time_point()) return SmPhase::eventPass;
  return SmPhase::reconciling;
}

StartupProgress RootSm::startupProgress() const {
  StartupProgress p;
  p.phase = phase();
  for (Ptr<InputSm> const& sm : inputSms_) {
    if (!sm) continue;
    p.done += sm->counters().scanItems;
    p.known += sm->counters().scanKnown;
  }
  for (OutputBase const* o : outputs_) {
    p.done += o->counters().reconcileVisited;
    p.known += o->counters().reconcileKnown;
  }
  p.complete = p.phase == SmPhase::ready;
  // Until the machine is ready, something is always left: the next pass to begin.
  if (p.complete) {
    p.known = p.done;
  } else if (p.known <= p.done) {
    p.known = p.done + 1;
  }
  return p;
}

}  // namespace Corvane
