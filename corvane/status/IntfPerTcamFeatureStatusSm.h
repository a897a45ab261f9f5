// IntfPerTcamFeatureStatusSm regroups the hardware layer's flat per-(interface,
// TCAM) statuses into one PerTcamFeatureStatus per interface, so that each
// interface's status merge sees only its own TCAMs.
#pragma once

#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/FeatureConfigStatus.h"

namespace Corvane {

class CORVANE_API IntfPerTcamFeatureStatusSm : public RootSm {
  CORVANE_NODE_TYPE(IntfPerTcamFeatureStatusSm)

 public:
  static Ptr<IntfPerTcamFeatureStatusSm> IntfPerTcamFeatureStatusSmIs(
      Ptr<IntfTcamFeatureStatus const> intfTcamFeatureStatus, Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatus,
      SmControl const& control);
  ~IntfPerTcamFeatureStatusSm() override = default;

  Ptr<IntfTcamFeatureStatus const> const& intfTcamFeatureStatus() const noexcept { return input_; }
  Ptr<IntfPerTcamFeatureStatus> const& intfPerTcamFeatureStatus() const noexcept { return outEntity_; }
  OutputBase const& intfPerTcamFeatureStatusStatusStatusOutput() const noexcept { return output_; }

  void eventToStrm_pipeline0(IntfIdSystemTcamId const& key, std::optional<Ptr<FeatureStatusBase>> const& value);

  // How the pipeline writes intfPerTcamFeatureStatus.status[intfId].status[systemTcamId].
  struct OutputAdapter {
    using Entity = IntfPerTcamFeatureStatus;
    using Inner = PerTcamFeatureStatus;
    using Key1 = IntfId;
    using Key2 = SystemTcamId;
    static IntfPerTcamFeatureStatus::StatusColl const& outer(Entity const& e) { return e.status(); }
    static Ptr<Inner> innerFind(Entity const& e, Key1 k) { return e.status(k); }
    static Ptr<Inner> innerIs(Entity& e, Key1 k) { return e.statusIs(k); }
    static PerTcamFeatureStatus::StatusColl const& innerColl(Inner const& i) { return i.status(); }
    static void innerSet(Inner& i, Key2 k, Ptr<FeatureStatusBase> const& v) { i.statusIs(k, v); }
    static void innerDel(Inner& i, Key2 k) { i.statusDel(k); }
    static void outerDel(Entity& e, Key1 k) { e.statusDel(k); }
    static void outerReserve(Entity& e, size_t n) { e.statusReserve(n); }
  };

 protected:
  friend class RootSm;
  IntfPerTcamFeatureStatusSm(Ptr<IntfTcamFeatureStatus const> intfTcamFeatureStatus,
                             Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatus, SmControl const& control);
  // The event pass writes the output itself: an interface per input entry, or fewer.
  void eventPassBegins() override { output_.reserve(input_->status().size()); }

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct IntfTcamFeatureStatusSm0;

 private:

  Ptr<IntfTcamFeatureStatus const> input_;
  Ptr<IntfPerTcamFeatureStatus> outEntity_;
  NestedOutput<OutputAdapter, false> output_;

 public:
  // One input, one output: the arguments in factory order, the input SM on its
  // argument, then the output.
  using Declaration = OneInputSmDeclaration<
      IntfTcamFeatureStatusSm0, "intfTcamFeatureStatus()", &IntfPerTcamFeatureStatusSm::input_,
      "intfPerTcamFeatureStatus()", &IntfPerTcamFeatureStatusSm::outEntity_, &IntfPerTcamFeatureStatusSm::output_>;
};

CORVANE_API Ptr<IntfPerTcamFeatureStatusSm> intfPerTcamFeatureStatusSmFactory(
    Ptr<IntfTcamFeatureStatus const> intfTcamFeatureStatus, Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatus,
    SmControl const& control);

}  // namespace Corvane
