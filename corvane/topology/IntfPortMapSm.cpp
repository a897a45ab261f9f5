#include "corvane/topology/IntfPortMapSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(IntfPortMapSm, "Corvane::IntfPortMapSm", RootSm)

namespace {
constexpr IntoLine intoPortMapSet{
    "into( intfToPortMapSet.intfToPortMapSet[ intfId ].portMapSet[ expandedPortMap ] ): inserting k1={}, k2={}",
    "into( intfToPortMapSet.intfToPortMapSet[ intfId ].portMapSet[ expandedPortMap ] ): deleting k1={}, k2={}"};
}  // namespace

// intfIdToPortMap.intfIdToPortMap[]: scan 0 feeds the LAG stream (key only), scan 2
// the non-LAG stream.
struct IntfPortMapSm::IntfIdToPortMapSm0
    : ValueInput<"IntfIdToPortMapSm0", attribute(&IntfIdToPortMap::intfIdToPortMap),
                 IntfIdToPortMap::attrIntfIdToPortMap, "intfIdToPortMap",
                 Feed<0, "handleIntfIdToPortMap0", "strm_stream0", &IntfPortMapSm::eventToStrm_stream0>,
                 Feed<2, "handleIntfIdToPortMap2", "nonLagStream",
                      &IntfPortMapSm::eventToNonLagStream>>,
      MergesPortsWithLags<0> {};

// lagConfig.phyIntf[] and each port's lag.
struct IntfPortMapSm::LagConfigSm1
    : LagConfigInput<"LagConfigSm1", "handlePhyIntf1", "PhyIntfSm2", "handleLag1", 1, "strm_stream1",
                     &IntfPortMapSm::eventToStrm_stream1> {};

namespace {
auto const defaultHandler = smModuleLoad<IntfPortMapSm>("IntfPortMapSm");
}  // namespace

IntfPortMapSm::IntfPortMapSm(Ptr<IntfIdToPortMap const> intfIdToPortMap, Ptr<Lag::Config const> lagConfig,
                             uint16_t maxFaps, uint16_t maxCores, Ptr<IntfToPortMapSet> intfToPortMapSet,
                             SmControl const& control)
    : RootSm("IntfPortMapSm", control),
      intfIdToPortMap_(std::move(intfIdToPortMap)),
      lagConfig_(std::move(lagConfig)),
      maxFaps_(maxFaps),
      maxCores_(maxCores),
      intfToPortMapSet_(std::move(intfToPortMapSet)),
      output_(*this, "intfToPortMapSetIntfToPortMapSetPortMapSetOutput", intfToPortMapSet_, intoPortMapSet) {
  declare(this);
  handleInitialized();
}

void IntfPortMapSm::eventToNonLagStream(IntfId intfId, std::optional<PortMap> const& portMapOpt) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToNonLagStream">(*this);
  tr(7, "nonLagStream = from( intfIdToPortMap.intfIdToPortMap[] ): intfId={} portMapOpt={}", intfId,
     optText(portMapOpt));
  // Every interface, LAG member or not, occupies its own port maps.
  auto change = cacheAttr3_.update(
      tr, intfId, portMapOpt,
      " foreach( [ ( if ( _oldValueOpt26 != _newValueOpt27 ) then _oldValueOpt26 else None, false ), ( "
      "_newValueOpt27, true ) ] ) flattening {} elements");
  for (auto const& e : change) {
    traceFlattening(tr, e);
    if (!filterPass(tr, e.value.has_value(), "_valueOpt28")) continue;
    sink(tr, intfId, *e.value, e.add);
  }
}

void IntfPortMapSm::eventToStrm_stream0(IntfId intfId) {
  if (!initialScanDone()) return;
  trace(7, "eventToStrm_stream0", sourceName(), "Line 29: from( intfIdToPortMap.intfIdToPortMap[] ): intfId={}",
        intfId);
  eventToLagStream(intfId);
}

void IntfPortMapSm::eventToStrm_stream1(IntfId intfId, std::optional<IntfId> const&) {
  if (!initialScanDone()) return;
  trace(7, "eventToStrm_stream1", sourceName(), "Line 29: from( lagConfig.phyIntf[].lag ): intfId={}", intfId);
  eventToLagStream(intfId);
}

void IntfPortMapSm::eventToLagStream(IntfId intfId) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToLagStream">(*this);
  tr(7, "lagStream = merge( strm_stream0, strm_stream1 ): intfId={}", intfId);
  // A LAG holds a member's port map from the first member that has it until the last one goes.
  std::optional<PortMap> portMap;
  std::optional<IntfId> lag;
  if (!deletingAll()) {
    if (PortMap const* p = intfIdToPortMap_->intfIdToPortMap().find(intfId)) portMap = *p;
    lag = lagConfig_->lagOf(intfId);
  }
  // Each stream runs the merge, so the start-up runs it twice per port, the second
  // time with both caches as they are. While no output has withdrawn anything, what
  // the first run added stays (the group membership, the expanded output entries), so
  // untraced that run is left out.
  if (synchronousEventPass() && tr.quiet() && cacheAttr0_.holds(intfId, portMap) &&
      (!portMap || cacheAttr1_.holds(intfId, lag))) {
    return;
  }
  auto portMaps = cacheAttr0_.update(
      tr, intfId, portMap,
      " foreach( [ ( if ( _oldValueOpt6 != _newValueOpt7 ) then _oldValueOpt6 else None, false ), ( "
      "_newValueOpt7, true ) ] ) flattening {} elements");
  for (auto const& pm : portMaps) {
    traceFlattening(tr, pm);
    if (!filterPass(tr, pm.value.has_value(), "_valueOpt8")) continue;
    auto lags = cacheAttr1_.update(
        tr, intfId, lag,
        " foreach( [ ( if ( _oldValueOpt16 != _newValueOpt17 ) then _oldValueOpt16 else None, false ), ( "
        "_newValueOpt17, true ) ] ) flattening {} elements");
    for (auto const& l : lags) {
      traceFlattening(tr, l);
      if (!filterPass(tr, l.value.has_value(), "_valueOpt18")) continue;
      OutKey2<IntfId, PortMap> group{*l.value, *pm.value};
      bool held = pm.add && l.add ? groupByAttr2_.add(tr, group, intfId) : groupByAttr2_.remove(tr, group, intfId);
      sink(tr, group.k0, group.k1, held);
    }
  }
}

void IntfPortMapSm::sink(Tr const& tr, IntfId intfId, PortMap const& portMap, bool add) {
  tr(7, "Line 50: merge( lagStream, nonLagStream ): intfId={} portMap={} add={}", intfId, portMap, add);
  expandPortMap(tr, portMap, maxFaps_, maxCores_, " foreach( _fapIdRange35.coll ) flattening {} elements",
                " foreach( _localCoreIdRange36.coll ) flattening {} elements", [&](PortMap const& expanded) {
                  if (add) {
                    output_.insert(tr, intoPortMapSet, intfId, expanded);
                  } else {
                    output_.remove(tr, intoPortMapSet, intfId, expanded);
                  }
                });
}

Ptr<IntfPortMapSm> IntfPortMapSm::IntfPortMapSmIs(Ptr<IntfIdToPortMap const> intfIdToPortMap,
                                                  Ptr<Lag::Config const> lagConfig, uint16_t maxFaps,
                                                  uint16_t maxCores, Ptr<IntfToPortMapSet> intfToPortMapSet,
                                                  SmControl const& control) {
  return create<IntfPortMapSm>(std::move(intfIdToPortMap), std::move(lagConfig), maxFaps, maxCores,
                               std::move(intfToPortMapSet), control);
}

Ptr<IntfPortMapSm> intfPortMapSmFactory(Ptr<IntfIdToPortMap const> intfIdToPortMap, Ptr<Lag::Config const> lagConfig,
                                        uint16_t maxFaps, uint16_t maxCores, Ptr<IntfToPortMapSet> intfToPortMapSet,
                                        SmControl const& control) {
  return IntfPortMapSm::IntfPortMapSmIs(std::move(intfIdToPortMap), std::move(lagConfig), maxFaps, maxCores,
                                        std::move(intfToPortMapSet), control);
}

}  // namespace Corvane
