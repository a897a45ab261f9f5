// PortMapToIntfSm keeps PortMapToIntf equal to the reverse of the interface
// port-map table: every expanded port map names its owner, the LAG of the interface
// (from PortToLag) or the interface itself. A CPU TM port is owned only by the
// interfaces CpuTm0 to CpuTm4. When several interfaces share a port map, the owner
// recorded for the smallest of them (in IntfId order) wins.
//
// The owner is kept per port map, not per expanded port map: when two different
// port maps share an expansion, the last one written decides its owner, and
// withdrawing either deletes it (docs/wiring.md, "Inputs whose result depends on the
// order of events").
//
// Limits: maxFaps must be 1 to 2049 and maxCores 1 to 7. Outside them, expanding a
// wildcard raises RangeError out of the change that caused it (the agent's call
// that changed an input); what the event wrote before the failing port map stays,
// the SM has recorded the new input value and goes on serving every other key. Later
// changes of that interface fail the same way, since withdrawing the port map it
// failed on expands it again: create the SM with valid limits.
#pragma once

#include <cstdint>
#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/LagTypes.h"
#include "corvane/model/PortMapIntfTypes.h"
#include "corvane/topology/IntfIdToPortMap.h"

namespace Corvane {

class CORVANE_API PortMapToIntfSm : public RootSm {
  CORVANE_NODE_TYPE(PortMapToIntfSm)

 public:
  static Ptr<PortMapToIntfSm> PortMapToIntfSmIs(Ptr<IntfIdToPortMap const> intfIdToPortMap,
                                                Ptr<PortToLag const> portToLag, uint16_t maxFaps, uint16_t maxCores,
                                                Ptr<PortMapToIntf> portMapToIntf, SmControl const& control);
  ~PortMapToIntfSm() override = default;

  Ptr<IntfIdToPortMap const> const& intfIdToPortMap() const noexcept { return intfIdToPortMap_; }
  Ptr<PortToLag const> const& portToLag() const noexcept { return portToLag_; }
  Ptr<PortMapToIntf> const& portMapToIntf() const noexcept { return portMapToIntf_; }
  OutputBase const& portMapToIntfPortMapToIntfOutput() const noexcept { return output_; }

  // Whether `intfId` may own a CPU TM port: CpuTm0 to CpuTm4.
  static bool isCpuTmOwner(IntfId intfId) noexcept;

  void eventToStrm_stream0(IntfId intfId);
  void eventToStrm_stream1(IntfId intfId);
  void eventToStrm_pipeline0(IntfId intfId);

 protected:
  friend class RootSm;
  PortMapToIntfSm(Ptr<IntfIdToPortMap const> intfIdToPortMap, Ptr<PortToLag const> portToLag, uint16_t maxFaps,
                  uint16_t maxCores, Ptr<PortMapToIntf> portMapToIntf, SmControl const& control);
  void stateMemory(EngineMemory& m) const override {
    m.caches += cacheAttr0_.bytesHeld();
    m.groupBys += groupByAttr1_.bytesHeld();
  }
  // An interface's port map is usually its own and names no wildcard: the cache, the
  // groups and the output's staged entries each take about one per interface.
  void eventPassBegins() override {
    size_t const n = intfIdToPortMap_->intfIdToPortMap().size();
    cacheAttr0_.reserve(n);
    groupByAttr1_.reserve(n);
    output_.seenReserve(n);
  }

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct IntfIdToPortMapSm0;
  struct PortToLagSm1;

 private:

  Ptr<IntfIdToPortMap const> intfIdToPortMap_;
  Ptr<PortToLag const> portToLag_;
  uint16_t maxFaps_, maxCores_;
  Ptr<PortMapToIntf> portMapToIntf_;
  Cache<IntfId, PortMap> cacheAttr0_;                       // port map last seen per interface
  GroupByFirstValue<PortMap, IntfId, IntfId> groupByAttr1_;  // port map -> (interface -> owner)
  FlatOutput<PortMapToIntf::OutputAdapter, true> output_;

 public:
  // Arguments, streams, pipeline entries, inputs (in the order they are made) and outputs.
  using Declaration = SmDeclaration<
      SmArgs<SmArg<"intfIdToPortMap()", &PortMapToIntfSm::intfIdToPortMap_>,
             SmArg<"portToLag()", &PortMapToIntfSm::portToLag_>,
             SmArg<"portMapToIntf()", &PortMapToIntfSm::portMapToIntf_>>,
      SmStreams<"strm_stream0", "strm_stream1">, SmPipelines<"eventToStrm_pipeline0">,
      SmInputs<SmInput<PortToLagSm1, &PortMapToIntfSm::portToLag_>,
             SmInput<IntfIdToPortMapSm0, &PortMapToIntfSm::intfIdToPortMap_>>,
      SmOutputs<&PortMapToIntfSm::output_>>;
};

CORVANE_API Ptr<PortMapToIntfSm> portMapToIntfSmFactory(Ptr<IntfIdToPortMap const> intfIdToPortMap,
                                                        Ptr<PortToLag const> portToLag, uint16_t maxFaps,
                                                        uint16_t maxCores, Ptr<PortMapToIntf> portMapToIntf,
                                                        SmControl const& control);

}  // namespace Corvane
