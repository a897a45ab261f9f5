// The root of every state machine: its lifecycle (creation, handleInitialized, the
// two-pass input scan, handleInitialScanDone, reconciliation, doDeleteAll,
// teardown), its scan and output state entities, and the trace context its
// pipelines use. How a machine is put together:
//
// - It derives from RootSm and holds its arguments (the entities it reads and
//   writes), its pipelines' state (caches and group-bys, Operators.h) and its
//   outputs (Output.h).
// - Each input is a type (InputDecl.h): the collection it watches, the names its
//   traces and tasks carry, and for each scan the stream it feeds and the pipeline
//   entry it calls with a key and its optional value.
// - One Declaration (SmDeclaration.h) lists the arguments, streams, pipeline
//   entries, inputs and outputs. Every number (input slots, stream flags, pipeline
//   counters) is a place in it, and every name in it is checked where it is used.
//   The constructor calls declare(this), then handleInitialized().
// - A pipeline entry opens with `auto tr = pipeline<"its name">(*this);`, returns
//   while !initialScanDone(), and writes through the outputs with tr's traces.
//
// IntfTcamSm's declaration, whole (a port's own TCAM, and its LAG's TCAMs merged
// from two key-only streams):
//
// <!-- snippet: corvane/topology/IntfTcamSm.h declaration -->
// ```cpp
// using Declaration = SmDeclaration<
//     SmArgs<SmArg<"veltStatus()", &IntfTcamSm::veltStatus_>, SmArg<"lagConfig()", &IntfTcamSm::lagConfig_>,
//            SmArg<"intfToTcamSet()", &IntfTcamSm::intfToTcamSet_>>,
//     SmStreams<"strm_pipeline1", "strm_stream1", "strm_stream0">,
//     SmPipelines<"eventToStrm_pipeline0", "eventToStrm_pipeline1">,
//     SmInputs<SmInput<LagConfigSm1, &IntfTcamSm::lagConfig_>, SmInput<VeltStatusSm0, &IntfTcamSm::veltStatus_>>,
//     SmOutputs<&IntfTcamSm::output_>>;
// ```
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "corvane/engine/InputDecl.h"
#include "corvane/engine/SmState.h"
#include "corvane/engine/SmStats.h"
#include "corvane/engine/TraceText.h"
#include "corvane/framework/Errors.h"
#include "corvane/framework/SmControl.h"

namespace Corvane {

class InputSm;
class OutputBase;
struct Tr;
template <class... A>
struct SmArgs;
template <class... I>
struct SmInputs;
template <auto... Members>
struct SmOutputs;

class CORVANE_API RootSm : public Entity {
  CORVANE_NODE_TYPE(RootSm)

 public:
  // State of the machine. ready(): its outputs equal the function of its inputs and it
  // follows them; false again after doDeleteAll(), when it follows nothing.
  bool ready() const noexcept { return outputState_ && outputState_->ready() && !retracted_; }
  // doDeleteAll() has run: the inputs are switched off for good, the outputs hold
  // nothing the machine contributed. Destroy it; a new one follows the inputs again.
  bool retracted() const noexcept { return retracted_; }
  bool idle() const noexcept;
  bool synchronous() const noexcept { return synchronous_; }
  bool initialScanDone() const noexcept { return initialScanDone_; }
  bool initialized() const noexcept { return initialized_; }
  // True while doDeleteAll() runs: pipelines that read their inputs' current state
  // read them as empty, so every contribution is withdrawn.
  bool deletingAll() const noexcept { return deletingAll_; }
  // True while a synchronous machine's start-up runs its pipelines over every input
  // entry and they have only added to the outputs: nothing a run added has been
  // withdrawn since.
  bool synchronousEventPass() const noexcept { return eventPass_; }
  // An output withdrew an entry, or a held-back write (see synchronousEventPass).
  void outputRemoving() noexcept { eventPass_ = false; }

  void handleInitialized();
  void handleInitialScanDone();
  void hasNotificationActiveIs(bool active);
  // Retracts what every input contributed (the outputs lose what the inputs produced)
  // and stops following the inputs: ready() turns false and stays so. Calling it again
  // does nothing more. If an exception escapes from a change, a start-up or this call,
  // destroy the machine and create it again over the same entities (docs/reliability.md).
  void doDeleteAll();
  void ringTraceHandleIs(Ptr<RingTrace> ring) { control_.ringTraceHandleIs(std::move(ring)); }

  Ptr<InputSmScanState> const& inputSmScanState() const noexcept { return scanState_; }
  Ptr<OutputState> const& outputState() const noexcept { return outputState_; }
  SmControl const& stromControl() const noexcept { return control_; }
  char const* sourceName() const noexcept { return sourceName_; }

  // Tracing: every line of this SM and its input SMs goes through here. The test of
  // the level is inline; formatting and emitting are out of line and marked cold, so
  // a disabled line costs its caller one test and no code in the hot path.
  DebugHandler const& traceHandle() const noexcept { return *traceHandle_; }
  bool traceOn(int level) const noexcept { return traceHandle_->enabled(level); }
  uint16_t traceMask() const noexcept { return traceCompiledIn ? traceHandle_->levelMask() : 0; }
  template <class... A>
  void trace(int level, char const* function, char const* className, fmt::format_string<A...> format,
             A&&... args) const {
    if (CORVANE_UNLIKELY(traceHandle_->enabled(level))) traceEmit(level, function, className, format, args...);
  }
  // Formats and emits one line whose level the caller has found enabled.
  template <class... A>
  [[gnu::cold, gnu::noinline]] void traceEmit(int level, char const* function, char const* className,
                                              fmt::string_view format, A const&... args) const {
    traceHandle_->emit(level, sourceName_, function, className, control_.ringTraceHandle().get(),
                       fmt::vformat(format, fmt::make_format_args(args...)));
  }

  // Top-level input SM in attribute slot `slot` (null before creation or after teardown).
  Ptr<InputSm> inputSm(uint32_t slot) const;
  uint32_t inputSmCount() const noexcept { return uint32_t(inputSms_.size()); }
  OutputBase& output(uint32_t i) const noexcept {
    CORVANE_ASSERT(i < outputs_.size(), "RootSm: output(i) past the outputs declared");
    return *outputs_[i];
  }
  uint32_t outputCount() const noexcept { return uint32_t(outputs_.size()); }

  // Scheduler the SM's tasks run on (null in synchronous mode before initialization).
  Ptr<TaskScheduler> const& scheduler() const noexcept { return control_.scheduler(); }
  // Listed in the type reflection; nothing in the library reads them. A machine runs
  // asynchronously unless its SmControl asks otherwise, so defaultSynchronous is false.
  Ptr<TaskScheduler> const& taskScheduler() const noexcept { return control_.scheduler(); }
  TaskPriority taskPriority() const noexcept { return control_.taskPriority(); }
  bool defaultSynchronous() const noexcept { return false; }

  // What the machine has done since it was created or its statistics were reset
  // (SmStats.h), and how far its start-up has come.
  SmStatistics statistics() const;
  void statisticsReset() noexcept;
  StartupProgress startupProgress() const;
  SmPhase phase() const noexcept;
  // The bytes it holds for its own work (SmStats.h).
  EngineMemory engineMemory() const;
  // Counts one run of pipeline entry point number `pipeline` (the pipeline's trace
  // context does; declare() names them).
  static constexpr uint32_t maxPipelines = 4;
  void pipelineRun(uint32_t pipeline) const noexcept {
    CORVANE_ASSERT(pipeline < maxPipelines && pipelines_[pipeline].name,
                   "RootSm: a pipeline runs under a number declare() did not name");
    ++pipelines_[pipeline].runs;
  }

 protected:
  RootSm(char const* sourceName, SmControl const& control);
  ~RootSm() override;

  // The machine's Declaration (SmDeclaration.h), in its constructor before
  // handleInitialized(): every declaration below, made from that one list, and the
  // input SMs made from it in handleInitialized().
  template <class Sm>
  void declare(Sm* self);
  // The trace context of the pipeline entry named N in the Declaration, counting one
  // run of it: auto tr = pipeline<"eventToStrm_pipeline1">(*this).
  template <Name N, class Sm>
  static Tr pipeline(Sm const& sm) noexcept;

  // Declarations one by one, in the constructor before handleInitialized():
  // arguments in factory order (inputs, then outputs) with whether each is set,
  struct ArgState {
    template <class P>
    ArgState(char const* a, P const& p) : accessor(a), present(bool(p)) {}
    char const* accessor;
    bool present;
  };
  void argsDeclare(std::initializer_list<ArgState> args);
  // input streams in InputSmScanState attribute order, each with the member that
  // receives its flag index,
  struct Stream {
    uint32_t& flag;
    char const* name;
  };
  void streamsDeclare(std::initializer_list<Stream> streams);
  // outputs, and the number of top-level input SMs (slots in attribute order).
  void outputDeclare(OutputBase& output);
  void inputSmSlotsIs(uint32_t count);
  // All of them in one call.
  // Pipeline entry points are listed by number (Tr's `pipeline`), for statistics().
  void declare(std::initializer_list<ArgState> args, std::initializer_list<Stream> streams,
               std::initializer_list<OutputBase*> outputs, uint32_t inputSlots,
               std::initializer_list<char const*> pipelines = {});

  // Creates the top-level input SMs, in the generator's order, via inputSmIs(): those
  // of the Declaration unless overridden.
  virtual void createInputSms();
  // Adds the bytes of the SM's caches and group-by collections.
  virtual void stateMemory(EngineMemory&) const {}
  // A synchronous start-up is about to run the pipelines over every input entry: a
  // machine that can tell how many entries its caches or outputs will take sizes
  // them here, so that they do not grow through every size on the way.
  virtual void eventPassBegins() {}
  void inputSmIs(uint32_t slot, Ptr<InputSm> sm);

  // Builds a root SM and switches its notification on, as every factory does.
  template <class Sm, class... A>
  static Ptr<Sm> create(A&&... args) {
    Ptr<Sm> sm(new Sm(std::forward<A>(args)...));
    sm->hasNotificationActiveIs(true);
    return sm;
  }

  void lastUserGone() noexcept override;

 private:
  friend class InputSm;
  friend class OutputBase;

  struct ScanStateSub : Subscriber {
    RootSm* root;
    void dispatch(uint32_t attrId, void const* key) override;
  };

  void outputsInputReady();
  void teardown() noexcept;
  template <class Sm, class... A, auto... O>
  void declareMembers(SmArgs<A...>, SmOutputs<O...>, Sm* self);
  void declareNames(char const* const* streams, uint32_t streamCount, char const* const* pipelines,
                    uint32_t pipelineCount, uint32_t inputSlots);
  void pipelinesDeclare(char const* const* names, uint32_t count);
  template <class Sm, class... I>
  static void createDeclared(Sm& sm, SmInputs<I...>);
  // Ends the process when a declaration comes after handleInitialized().
  void declarationCheck(char const* what) const;
  // Lifecycle phase times for statistics().
  enum PhaseMark : uint8_t { markFirstPass, markInitialScan, markReconciled, markReady, markCount };
  void phaseMark(PhaseMark m) noexcept;

  struct PipelineCounter {
    char const* name;
    uint64_t runs;
  };

  char const* sourceName_;
  SmControl control_;
  Ptr<DebugHandler> traceHandle_;
  Ptr<InputSmScanState> scanState_;
  Ptr<OutputState> outputState_;
  std::vector<Ptr<InputSm>> inputSms_;
  std::vector<OutputBase*> outputs_;
  std::vector<char const*> streams_;
  std::vector<std::pair<char const*, bool>> args_;
  ScanStateSub scanStateSub_;
  void (*createInputs_)(RootSm&) = nullptr;
  mutable PipelineCounter pipelines_[maxPipelines] = {};
  SmStatistics::Clock::time_point created_;
  SmStatistics::Clock::time_point phases_[markCount] = {};
  bool synchronous_ = false;
  bool initialScanDone_ = false;
  bool initialized_ = false;
  bool tornDown_ = false;
  bool deletingAll_ = false;
  bool retracted_ = false;
  bool eventPass_ = false;
};

// Run by every SM module at library load: registers the SM's node type (after
// RootSm's) and makes the SM's default trace handler, which it returns.
CORVANE_API Ptr<DebugHandler> smModuleLoad(TypeData const& type, char const* sourceName);
// Registers a state machine's node type (kind rootSm) without a trace handler.
CORVANE_API void smTypeRegister(TypeData const& type);

}  // namespace Corvane
