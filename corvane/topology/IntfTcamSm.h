// IntfTcamSm keeps IntfToTcamSet equal to the system TCAMs every interface
// occupies: a port its own TCAM (from the hardware status), a LAG every TCAM at
// least one of its member ports (from the LAG configuration) is on. A LAG id with a
// TCAM of its own in the hardware status gets it in the same set, not counted apart
// from its members': the last event that touched a TCAM decides it (docs/wiring.md).
#pragma once

#include <algorithm>
#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/LagConfigInput.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/IntfTcamTypes.h"
#include "corvane/platform/LagConfig.h"
#include "corvane/platform/VeltStatus.h"

namespace Corvane {

class CORVANE_API IntfTcamSm : public RootSm {
  CORVANE_NODE_TYPE(IntfTcamSm)

 public:
  static Ptr<IntfTcamSm> IntfTcamSmIs(Ptr<Hardware::Velt::Status const> veltStatus, Ptr<Lag::Config const> lagConfig,
                                      Ptr<IntfToTcamSet> intfToTcamSet, SmControl const& control);
  ~IntfTcamSm() override = default;

  Ptr<Hardware::Velt::Status const> const& veltStatus() const noexcept { return veltStatus_; }
  Ptr<Lag::Config const> const& lagConfig() const noexcept { return lagConfig_; }
  Ptr<IntfToTcamSet> const& intfToTcamSet() const noexcept { return intfToTcamSet_; }
  Ptr<InputSm> veltStatusSm0() const { return inputSm(Declaration::slot<VeltStatusSm0>); }
  Ptr<InputSm> lagConfigSm1() const { return inputSm(Declaration::slot<LagConfigSm1>); }
  OutputBase const& intfToTcamSetIntfToTcamSetTcamSetOutput() const noexcept { return output_; }

  // Pipeline 1: the interface's own TCAM.
  void eventToStrm_pipeline1(IntfId intfId, std::optional<SystemTcamId> const& systemTcamIdOpt);
  // The two key-only streams merged into pipeline 0 (the LAG's TCAMs).
  void eventToStrm_stream0(IntfId intfId);
  void eventToStrm_stream1(IntfId intfId, std::optional<IntfId> const& lagOpt);
  void eventToStrm_pipeline0(IntfId intfId);

 protected:
  friend class RootSm;
  IntfTcamSm(Ptr<Hardware::Velt::Status const> veltStatus, Ptr<Lag::Config const> lagConfig,
             Ptr<IntfToTcamSet> intfToTcamSet, SmControl const& control);
  void stateMemory(EngineMemory& m) const override {
    m.caches += portCaches_.bytesHeld();
    m.groupBys += groupByAttr2_.bytesHeld();
  }
  // A port's row holds its TCAM, its LAG, or both: about one row per port of the
  // larger input.
  void eventPassBegins() override {
    size_t const ports = std::max(veltStatus_->intfIdToSystemTcamId().size(), lagConfig_->phyIntf().size());
    portCaches_.reserve(ports);
    output_.seenReserve(ports);
  }

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct VeltStatusSm0;
  struct LagConfigSm1;

 private:

  std::optional<SystemTcamId> currentTcam(IntfId intfId) const;
  std::optional<IntfId> currentLag(IntfId intfId) const;

  Ptr<Hardware::Velt::Status const> veltStatus_;
  Ptr<Lag::Config const> lagConfig_;
  Ptr<IntfToTcamSet> intfToTcamSet_;
  // The three caches per port share one row per port.
  using PortCaches = CacheRows<IntfId, SystemTcamId, IntfId, SystemTcamId>;
  PortCaches portCaches_;
  PortCaches::Column<0> cacheAttr0_{portCaches_};  // TCAM last used for the port's LAG contribution
  PortCaches::Column<1> cacheAttr1_{portCaches_};  // LAG last used for the port's contribution
  GroupBySet<OutKey2<IntfId, SystemTcamId>, IntfId> groupByAttr2_;  // (LAG, TCAM) -> member ports
  PortCaches::Column<2> cacheAttr3_{portCaches_};  // TCAM last written for the interface itself
  NestedOutput<IntfToTcamSet::OutputAdapter, true> output_;

 public:
  // Arguments, streams, pipeline entries, inputs (in the order they are made) and outputs.
  // [snippet:declaration]
  using Declaration = SmDeclaration<
      SmArgs<SmArg<"veltStatus()", &IntfTcamSm::veltStatus_>, SmArg<"lagConfig()", &IntfTcamSm::lagConfig_>,
             SmArg<"intfToTcamSet()", &IntfTcamSm::intfToTcamSet_>>,
      SmStreams<"strm_pipeline1", "strm_stream1", "strm_stream0">,
      SmPipelines<"eventToStrm_pipeline0", "eventToStrm_pipeline1">,
      SmInputs<SmInput<LagConfigSm1, &IntfTcamSm::lagConfig_>, SmInput<VeltStatusSm0, &IntfTcamSm::veltStatus_>>,
      SmOutputs<&IntfTcamSm::output_>>;
  // [snippet-end]
};

CORVANE_API Ptr<IntfTcamSm> intfTcamSmFactory(Ptr<Hardware::Velt::Status const> veltStatus,
                                              Ptr<Lag::Config const> lagConfig, Ptr<IntfToTcamSet> intfToTcamSet,
                                              SmControl const& control);

}  // namespace Corvane
