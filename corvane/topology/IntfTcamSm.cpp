#include "corvane/topology/IntfTcamSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(IntfTcamSm, "Corvane::IntfTcamSm", RootSm)

namespace {
constexpr IntoLine intoIntf{
    "into( intfToTcamSet.intfToTcamSet[ intfId ].tcamSet[ systemTcamId ] ): inserting k1={}, k2={}",
    "into( intfToTcamSet.intfToTcamSet[ intfId ].tcamSet[ systemTcamId ] ): deleting k1={}, k2={}"};
constexpr IntoLine intoLag{
    "into( intfToTcamSet.intfToTcamSet[ lagIntfId ].tcamSet[ systemTcamId ] ): inserting k1={}, k2={}",
    "into( intfToTcamSet.intfToTcamSet[ lagIntfId ].tcamSet[ systemTcamId ] ): deleting k1={}, k2={}"};
}  // namespace

using Hardware::Velt::Status;

// veltStatus.intfIdToSystemTcamId[]: scan 0 feeds stream 0 (key only), scan 2 pipeline 1.
struct IntfTcamSm::VeltStatusSm0
    : ValueInput<"VeltStatusSm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId,
                 "intfIdToSystemTcamId",
                 Feed<0, "handleIntfIdToSystemTcamId0", "strm_stream0", &IntfTcamSm::eventToStrm_stream0>,
                 Feed<2, "handleIntfIdToSystemTcamId2", "strm_pipeline1", &IntfTcamSm::eventToStrm_pipeline1>>,
      MergesPortsWithLags<0> {};

// lagConfig.phyIntf[] and each port's lag: feed stream 1.
struct IntfTcamSm::LagConfigSm1 : LagConfigInput<"LagConfigSm1", "handlePhyIntf1", "PhyIntfSm2", "handleLag1", 1,
                                                 "strm_stream1", &IntfTcamSm::eventToStrm_stream1> {};

namespace {
auto const defaultHandler = smModuleLoad<IntfTcamSm>("IntfTcamSm");
}  // namespace

IntfTcamSm::IntfTcamSm(Ptr<Hardware::Velt::Status const> veltStatus, Ptr<Lag::Config const> lagConfig,
                       Ptr<IntfToTcamSet> intfToTcamSet, SmControl const& control)
    : RootSm("IntfTcamSm", control),
      veltStatus_(std::move(veltStatus)),
      lagConfig_(std::move(lagConfig)),
      intfToTcamSet_(std::move(intfToTcamSet)),
      output_(*this, "intfToTcamSetIntfToTcamSetTcamSetOutput", intfToTcamSet_, intoLag) {
  declare(this);
  handleInitialized();
}

// While the SM retracts everything (doDeleteAll), its inputs read as empty, so the
// key-only streams withdraw what they contributed.
std::optional<SystemTcamId> IntfTcamSm::currentTcam(IntfId intfId) const {
  if (deletingAll()) return std::nullopt;
  SystemTcamId const* t = veltStatus_->intfIdToSystemTcamId().find(intfId);
  return t ? std::optional<SystemTcamId>(*t) : std::nullopt;
}

std::optional<IntfId> IntfTcamSm::currentLag(IntfId intfId) const {
  if (deletingAll()) return std::nullopt;
  return lagConfig_->lagOf(intfId);
}

void IntfTcamSm::eventToStrm_pipeline1(IntfId intfId, std::optional<SystemTcamId> const& systemTcamIdOpt) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline1">(*this);
  tr(7, "Line 38: from( veltStatus.intfIdToSystemTcamId[] ): intfId={} systemTcamIdOpt={}", intfId,
     optText(systemTcamIdOpt));
  auto change = cacheAttr3_.update(
      tr, intfId, systemTcamIdOpt,
      " foreach( [ ( if ( _oldValueOpt26 != _newValueOpt27 ) then _oldValueOpt26 else None, false ), ( "
      "_newValueOpt27, true ) ] ) flattening {} elements");
  for (auto const& e : change) {
    traceFlattening(tr, e);
    if (!filterPass(tr, e.value.has_value(), "_valueOpt28")) continue;
    if (e.add) {
      output_.insert(tr, intoIntf, intfId, *e.value);
    } else {
      output_.remove(tr, intoIntf, intfId, *e.value);
    }
  }
}

void IntfTcamSm::eventToStrm_stream0(IntfId intfId) {
  if (!initialScanDone()) return;
  trace(7, "eventToStrm_stream0", sourceName(), "Line 21: from( veltStatus.intfIdToSystemTcamId[] ): intfId={}",
        intfId);
  eventToStrm_pipeline0(intfId);
}

void IntfTcamSm::eventToStrm_stream1(IntfId intfId, std::optional<IntfId> const&) {
  if (!initialScanDone()) return;
  trace(7, "eventToStrm_stream1", sourceName(), "Line 21: from( lagConfig.phyIntf[].lag ): intfId={}", intfId);
  eventToStrm_pipeline0(intfId);
}

void IntfTcamSm::eventToStrm_pipeline0(IntfId intfId) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline0">(*this);
  tr(7, "Line 21: merge( strm_stream0, strm_stream1 ): intfId={}", intfId);
  std::optional<SystemTcamId> const tcam = currentTcam(intfId);
  std::optional<IntfId> const lag = currentLag(intfId);
  // Each stream runs the merge, so the start-up runs it twice per port, the second
  // time with both caches as they are. While no output has withdrawn anything, what
  // the first run added stays (the group membership, the output entry), so untraced
  // that run is left out.
  if (synchronousEventPass() && tr.quiet() && cacheAttr0_.holds(intfId, tcam) &&
      (!tcam || cacheAttr1_.holds(intfId, lag))) {
    return;
  }
  // The port's previous (LAG, TCAM) contribution is withdrawn and its current one
  // added, whichever of the two changed.
  auto tcams = cacheAttr0_.update(
      tr, intfId, tcam,
      " foreach( [ ( if ( _oldValueOpt6 != _newValueOpt7 ) then _oldValueOpt6 else None, false ), ( "
      "_newValueOpt7, true ) ] ) flattening {} elements");
  for (auto const& t : tcams) {
    traceFlattening(tr, t);
    if (!filterPass(tr, t.value.has_value(), "_valueOpt8")) continue;
    auto lags = cacheAttr1_.update(
        tr, intfId, lag,
        " foreach( [ ( if ( _oldValueOpt16 != _newValueOpt17 ) then _oldValueOpt16 else None, false ), ( "
        "_newValueOpt17, true ) ] ) flattening {} elements");
    for (auto const& l : lags) {
      traceFlattening(tr, l);
      if (!filterPass(tr, l.value.has_value(), "_valueOpt18")) continue;
      OutKey2<IntfId, SystemTcamId> group{*l.value, *t.value};
      bool supported =
          t.add && l.add ? groupByAttr2_.add(tr, group, intfId) : groupByAttr2_.remove(tr, group, intfId);
      if (supported) {
        output_.insert(tr, intoLag, group.k0, group.k1);
      } else {
        output_.remove(tr, intoLag, group.k0, group.k1);
      }
    }
  }
}

Ptr<IntfTcamSm> IntfTcamSm::IntfTcamSmIs(Ptr<Hardware::Velt::Status const> veltStatus,
                                         Ptr<Lag::Config const> lagConfig, Ptr<IntfToTcamSet> intfToTcamSet,
                                         SmControl const& control) {
  return create<IntfTcamSm>(std::move(veltStatus), std::move(lagConfig), std::move(intfToTcamSet), control);
}

Ptr<IntfTcamSm> intfTcamSmFactory(Ptr<Hardware::Velt::Status const> veltStatus, Ptr<Lag::Config const> lagConfig,
                                  Ptr<IntfToTcamSet> intfToTcamSet, SmControl const& control) {
  return IntfTcamSm::IntfTcamSmIs(std::move(veltStatus), std::move(lagConfig), std::move(intfToTcamSet), control);
}

}  // namespace Corvane
