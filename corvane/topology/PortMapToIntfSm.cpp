#include "corvane/topology/PortMapToIntfSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(PortMapToIntfSm, "Corvane::PortMapToIntfSm", RootSm)

namespace {
constexpr IntoLine intoPortMapToIntf{
    "into( portMapToIntf.portMapToIntf[ expandedPortMap ] ): inserting k1={}, value={}",
    "into( portMapToIntf.portMapToIntf[ expandedPortMap ] ): deleting k1={}"};
}  // namespace

struct PortMapToIntfSm::IntfIdToPortMapSm0
    : ValueInput<"IntfIdToPortMapSm0", attribute(&IntfIdToPortMap::intfIdToPortMap),
                 IntfIdToPortMap::attrIntfIdToPortMap, "intfIdToPortMap",
                 Feed<0, "handleIntfIdToPortMap0", "strm_stream0",
                      &PortMapToIntfSm::eventToStrm_stream0>> {};

struct PortMapToIntfSm::PortToLagSm1
    : ValueInput<"PortToLagSm1", attribute(&PortToLag::portToLag), PortToLag::attrPortToLag, "portToLag",
                 Feed<1, "handlePortToLag1", "strm_stream1",
                      &PortMapToIntfSm::eventToStrm_stream1>> {};

namespace {
auto const defaultHandler = smModuleLoad<PortMapToIntfSm>("PortMapToIntfSm");
}  // namespace

PortMapToIntfSm::PortMapToIntfSm(Ptr<IntfIdToPortMap const> intfIdToPortMap, Ptr<PortToLag const> portToLag,
                                 uint16_t maxFaps, uint16_t maxCores, Ptr<PortMapToIntf> portMapToIntf,
                                 SmControl const& control)
    : RootSm("PortMapToIntfSm", control),
      intfIdToPortMap_(std::move(intfIdToPortMap)),
      portToLag_(std::move(portToLag)),
      maxFaps_(maxFaps),
      maxCores_(maxCores),
      portMapToIntf_(std::move(portMapToIntf)),
      output_(*this, "portMapToIntfPortMapToIntfOutput", portMapToIntf_, intoPortMapToIntf) {
  declare(this);
  handleInitialized();
}

bool PortMapToIntfSm::isCpuTmOwner(IntfId intfId) noexcept {
  return intfId.isCpuTmIntfId() && intfId.value() <= IntfId::cpuTm(4).value();
}

void PortMapToIntfSm::eventToStrm_stream0(IntfId intfId) {
  if (!initialScanDone()) return;
  trace(7, "eventToStrm_stream0", sourceName(), "Line 28: from( intfIdToPortMap.intfIdToPortMap[] ): intfId={}",
        intfId);
  eventToStrm_pipeline0(intfId);
}

void PortMapToIntfSm::eventToStrm_stream1(IntfId intfId) {
  if (!initialScanDone()) return;
  trace(7, "eventToStrm_stream1", sourceName(), "Line 28: from( portToLag.portToLag[] ): intfId={}", intfId);
  eventToStrm_pipeline0(intfId);
}

void PortMapToIntfSm::eventToStrm_pipeline0(IntfId intfId) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline0">(*this);
  tr(7, "Line 28: merge( strm_stream0, strm_stream1 ): intfId={}", intfId);
  IntfId const* lag = deletingAll() ? nullptr : portToLag_->portToLag().find(intfId);
  IntfId const owner = lag ? *lag : intfId;
  std::optional<PortMap> portMap;
  if (!deletingAll()) {
    if (PortMap const* p = intfIdToPortMap_->intfIdToPortMap().find(intfId)) portMap = *p;
  }
  auto change = cacheAttr0_.update(
      tr, intfId, portMap,
      " foreach( [ ( if ( _oldValueOpt6 != _newValueOpt7 ) then _oldValueOpt6 else None, false ), ( "
      "_newValueOpt7, true ) ] ) flattening {} elements");
  for (auto const& e : change) {
    traceFlattening(tr, e);
    if (!filterPass(tr, e.value.has_value(), "_valueOpt8")) continue;
    PortMap const& pm = *e.value;
    // Only the CPU TM interfaces may own a CPU TM port.
    bool add = e.add && (!pm.fapPortId().isCpuTmPort() || isCpuTmOwner(intfId));
    std::optional<IntfId> chosen = add ? groupByAttr1_.add(tr, pm, intfId, owner) : groupByAttr1_.remove(tr, pm, intfId);
    expandPortMap(tr, pm, maxFaps_, maxCores_, " foreach( _fapIdRange15.coll ) flattening {} elements",
                  " foreach( _localCoreIdRange16.coll ) flattening {} elements", [&](PortMap const& expanded) {
                    if (chosen) {
                      output_.insert(tr, intoPortMapToIntf, expanded, *chosen);
                    } else {
                      output_.remove(tr, intoPortMapToIntf, expanded);
                    }
                  });
  }
}

Ptr<PortMapToIntfSm> PortMapToIntfSm::PortMapToIntfSmIs(Ptr<IntfIdToPortMap const> intfIdToPortMap,
                                                        Ptr<PortToLag const> portToLag, uint16_t maxFaps,
                                                        uint16_t maxCores, Ptr<PortMapToIntf> portMapToIntf,
                                                        SmControl const& control) {
  return create<PortMapToIntfSm>(std::move(intfIdToPortMap), std::move(portToLag), maxFaps, maxCores,
                                 std::move(portMapToIntf), control);
}

Ptr<PortMapToIntfSm> portMapToIntfSmFactory(Ptr<IntfIdToPortMap const> intfIdToPortMap, Ptr<PortToLag const> portToLag,
                                            uint16_t maxFaps, uint16_t maxCores, Ptr<PortMapToIntf> portMapToIntf,
                                            SmControl const& control) {
  return PortMapToIntfSm::PortMapToIntfSmIs(std::move(intfIdToPortMap), std::move(portToLag), maxFaps, maxCores,
                                            std::move(portMapToIntf), control);
}

}  // namespace Corvane
