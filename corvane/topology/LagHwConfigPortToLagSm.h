// LagHwConfigPortToLagSm keeps PortToLag equal to the member-port view of the
// hardware LAG status: every port that some LAG lists as a member maps to the
// smallest such LAG id.
#pragma once

#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/LagTypes.h"
#include "corvane/platform/VeltStatus.h"

namespace Corvane {

class CORVANE_API LagHwConfigPortToLagSm : public RootSm {
  CORVANE_NODE_TYPE(LagHwConfigPortToLagSm)

 public:
  static Ptr<LagHwConfigPortToLagSm> LagHwConfigPortToLagSmIs(Ptr<Hardware::VeltLag::Status const> veltLagStatus,
                                                              Ptr<PortToLag> portToLag, SmControl const& control);
  ~LagHwConfigPortToLagSm() override = default;

  Ptr<Hardware::VeltLag::Status const> const& veltLagStatus() const noexcept { return veltLagStatus_; }
  Ptr<PortToLag> const& portToLag() const noexcept { return portToLag_; }
  Ptr<InputSm> veltLagStatusSm0() const { return inputSm(Declaration::slot<VeltLagStatusSm0>); }
  OutputBase const& portToLagPortToLagOutput() const noexcept { return portToLagPortToLagOutput_; }

  // Pipeline 0: one change of lagHwConfig[lagIntfId].memberInfo[intfId].
  void eventToStrm_pipeline0(IntfId lagIntfId, IntfId intfId,
                             std::optional<Hardware::Velt::LagHwMemberInfo> const& memberInfoOpt);

 protected:
  friend class RootSm;
  LagHwConfigPortToLagSm(Ptr<Hardware::VeltLag::Status const> veltLagStatus, Ptr<PortToLag> portToLag,
                         SmControl const& control);
  void stateMemory(EngineMemory& m) const override {
    m.groupBys += groupByAttr0_.bytesHeld();
  }
  // A port per member the first pass followed: the groups and the output's staged
  // entries take about that many.
  void eventPassBegins() override;

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct VeltLagStatusSm0;

 private:

  Ptr<Hardware::VeltLag::Status const> veltLagStatus_;
  Ptr<PortToLag> portToLag_;
  GroupBySmallest<IntfId, IntfId> groupByAttr0_;
  FlatOutput<PortToLag::OutputAdapter, true> portToLagPortToLagOutput_;

 public:
  // One input, one output: the arguments in factory order, the input SM on its
  // argument, then the output.
  using Declaration = OneInputSmDeclaration<
      VeltLagStatusSm0, "veltLagStatus()", &LagHwConfigPortToLagSm::veltLagStatus_,
      "portToLag()", &LagHwConfigPortToLagSm::portToLag_, &LagHwConfigPortToLagSm::portToLagPortToLagOutput_>;
};

CORVANE_API Ptr<LagHwConfigPortToLagSm> lagHwConfigPortToLagSmFactory(
    Ptr<Hardware::VeltLag::Status const> veltLagStatus, Ptr<PortToLag> portToLag, SmControl const& control);

}  // namespace Corvane
