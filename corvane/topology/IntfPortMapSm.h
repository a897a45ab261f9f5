// IntfPortMapSm keeps IntfToPortMapSet equal to the expanded port maps every
// interface occupies: a port its own port map, a LAG the port maps of its member
// ports (membership from the LAG configuration), wildcard FAPs and cores expanded.
//
// An expanded port map is not counted per port map it came from: when two port maps
// a LAG holds (its members', or its own) share an expansion, withdrawing either one
// withdraws it, and the last event that touched the key decides it (docs/wiring.md,
// "Inputs whose result depends on the order of events").
//
// Limits: maxFaps must be 1 to 2049 and maxCores 1 to 7. Outside them, expanding a
// wildcard raises RangeError out of the change that caused it (the agent's call
// that changed an input); what the event wrote before the failing port map stays,
// the SM has recorded the new input value and goes on serving every other key. Later
// changes of that interface fail the same way, since withdrawing the port map it
// failed on expands it again: create the SM with valid limits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/LagConfigInput.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/IntfPortMapTypes.h"
#include "corvane/platform/LagConfig.h"
#include "corvane/topology/IntfIdToPortMap.h"

namespace Corvane {

class CORVANE_API IntfPortMapSm : public RootSm {
  CORVANE_NODE_TYPE(IntfPortMapSm)

 public:
  static Ptr<IntfPortMapSm> IntfPortMapSmIs(Ptr<IntfIdToPortMap const> intfIdToPortMap,
                                            Ptr<Lag::Config const> lagConfig, uint16_t maxFaps, uint16_t maxCores,
                                            Ptr<IntfToPortMapSet> intfToPortMapSet, SmControl const& control);
  ~IntfPortMapSm() override = default;

  Ptr<IntfIdToPortMap const> const& intfIdToPortMap() const noexcept { return intfIdToPortMap_; }
  Ptr<Lag::Config const> const& lagConfig() const noexcept { return lagConfig_; }
  Ptr<IntfToPortMapSet> const& intfToPortMapSet() const noexcept { return intfToPortMapSet_; }
  uint16_t maxFaps() const noexcept { return maxFaps_; }
  uint16_t maxCores() const noexcept { return maxCores_; }
  OutputBase const& intfToPortMapSetIntfToPortMapSetPortMapSetOutput() const noexcept { return output_; }

  void eventToStrm_stream0(IntfId intfId);
  void eventToStrm_stream1(IntfId intfId, std::optional<IntfId> const& lagOpt);
  void eventToLagStream(IntfId intfId);
  void eventToNonLagStream(IntfId intfId, std::optional<PortMap> const& portMapOpt);

 protected:
  friend class RootSm;
  IntfPortMapSm(Ptr<IntfIdToPortMap const> intfIdToPortMap, Ptr<Lag::Config const> lagConfig, uint16_t maxFaps,
                uint16_t maxCores, Ptr<IntfToPortMapSet> intfToPortMapSet, SmControl const& control);
  void stateMemory(EngineMemory& m) const override {
    m.caches += portCaches_.bytesHeld();
    m.groupBys += groupByAttr2_.bytesHeld();
  }
  // A port's row holds what either stream last saw of it: about one row per port of
  // the larger input. A (LAG, port map) group per LAG member at most. The output
  // has an entry per interface with a port map and one per LAG: taken as LAGs of
  // two members or more (a table that finds more grows, as it would have anyway).
  void eventPassBegins() override {
    size_t const members = lagConfig_->phyIntf().size();
    size_t const portMaps = intfIdToPortMap_->intfIdToPortMap().size();
    portCaches_.reserve(std::max(portMaps, members));
    groupByAttr2_.reserve(members);
    output_.seenReserve(portMaps + members / 2);
  }

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct IntfIdToPortMapSm0;
  struct LagConfigSm1;

 private:

  void sink(Tr const& tr, IntfId intfId, PortMap const& portMap, bool add);

  Ptr<IntfIdToPortMap const> intfIdToPortMap_;
  Ptr<Lag::Config const> lagConfig_;
  uint16_t maxFaps_, maxCores_;
  Ptr<IntfToPortMapSet> intfToPortMapSet_;
  // The three caches per port share one row per port.
  using PortCaches = CacheRows<IntfId, PortMap, IntfId, PortMap>;
  PortCaches portCaches_;
  PortCaches::Column<0> cacheAttr0_{portCaches_};  // port map last seen by the LAG stream
  PortCaches::Column<1> cacheAttr1_{portCaches_};  // LAG last seen by the LAG stream
  GroupBySet<OutKey2<IntfId, PortMap>, IntfId> groupByAttr2_;  // (LAG, member port map) -> members
  PortCaches::Column<2> cacheAttr3_{portCaches_};  // port map last seen by the non-LAG stream
  NestedOutput<IntfToPortMapSet::OutputAdapter, true> output_;

 public:
  // Arguments, streams, pipeline entries, inputs (in the order they are made) and outputs.
  using Declaration = SmDeclaration<
      SmArgs<SmArg<"intfIdToPortMap()", &IntfPortMapSm::intfIdToPortMap_>,
             SmArg<"lagConfig()", &IntfPortMapSm::lagConfig_>,
             SmArg<"intfToPortMapSet()", &IntfPortMapSm::intfToPortMapSet_>>,
      SmStreams<"strm_stream0", "strm_stream1", "nonLagStream">, SmPipelines<"eventToNonLagStream", "eventToLagStream">,
      SmInputs<SmInput<LagConfigSm1, &IntfPortMapSm::lagConfig_>,
             SmInput<IntfIdToPortMapSm0, &IntfPortMapSm::intfIdToPortMap_>>,
      SmOutputs<&IntfPortMapSm::output_>>;
};

CORVANE_API Ptr<IntfPortMapSm> intfPortMapSmFactory(Ptr<IntfIdToPortMap const> intfIdToPortMap,
                                                    Ptr<Lag::Config const> lagConfig, uint16_t maxFaps,
                                                    uint16_t maxCores, Ptr<IntfToPortMapSet> intfToPortMapSet,
                                                    SmControl const& control);

}  // namespace Corvane
