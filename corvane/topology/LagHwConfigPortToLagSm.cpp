#include "corvane/topology/LagHwConfigPortToLagSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(LagHwConfigPortToLagSm, "Corvane::LagHwConfigPortToLagSm", RootSm)

using Hardware::Velt::LagHwConfig;
using Hardware::Velt::LagHwMemberInfo;

namespace {
constexpr IntoLine intoPortToLag{"into( portToLag.portToLag[ intfId ] ): inserting k1={}, value={}",
                                 "into( portToLag.portToLag[ intfId ] ): deleting k1={}"};
}  // namespace

// veltLagStatus.lagHwConfig[], and each LAG's memberInfo[]: feed pipeline 0.
struct LagHwConfigPortToLagSm::VeltLagStatusSm0
    : EntityInput<"VeltLagStatusSm0", attribute(&Hardware::VeltLag::Status::lagHwConfig),
                  Hardware::VeltLag::Status::attrLagHwConfig, "lagHwConfig",
                  Feed<0, "handleLagHwConfig0", "strm_pipeline0">,
                  FollowColl<"LagHwConfigSm1", attribute(&LagHwConfig::memberInfo), LagHwConfig::attrMemberInfo,
                             "memberInfo", "handleMemberInfo0", &LagHwConfigPortToLagSm::eventToStrm_pipeline0>> {};

namespace {
auto const defaultHandler = smModuleLoad<LagHwConfigPortToLagSm>("LagHwConfigPortToLagSm");
}  // namespace

LagHwConfigPortToLagSm::LagHwConfigPortToLagSm(Ptr<Hardware::VeltLag::Status const> veltLagStatus,
                                               Ptr<PortToLag> portToLag, SmControl const& control)
    : RootSm("LagHwConfigPortToLagSm", control),
      veltLagStatus_(std::move(veltLagStatus)),
      portToLag_(std::move(portToLag)),
      portToLagPortToLagOutput_(*this, "portToLagPortToLagOutput", portToLag_, intoPortToLag) {
  declare(this);
  handleInitialized();
}

void LagHwConfigPortToLagSm::eventPassBegins() {
  auto const* lags = static_cast<EntityCollInput<VeltLagStatusSm0> const*>(veltLagStatusSm0().get());
  if (!lags) return;
  size_t const members = size_t(lags->followedEntries());
  groupByAttr0_.reserve(members);
  portToLagPortToLagOutput_.seenReserve(members);
}

void LagHwConfigPortToLagSm::eventToStrm_pipeline0(IntfId lagIntfId, IntfId intfId,
                                                   std::optional<LagHwMemberInfo> const& memberInfoOpt) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline0">(*this);
  tr(7, "Line 12: from( veltLagStatus.lagHwConfig[].memberInfo[] ): lagIntfId={} intfId={} memberInfoOpt={}",
     lagIntfId, intfId, optText(memberInfoOpt));
  // Group by member port; the port maps to the smallest LAG that lists it.
  std::optional<IntfId> lag = memberInfoOpt ? groupByAttr0_.add(tr, intfId, lagIntfId)
                                             : groupByAttr0_.remove(tr, intfId, lagIntfId);
  if (lag) {
    portToLagPortToLagOutput_.insert(tr, intoPortToLag, intfId, *lag);
  } else {
    portToLagPortToLagOutput_.remove(tr, intoPortToLag, intfId);
  }
}

Ptr<LagHwConfigPortToLagSm> LagHwConfigPortToLagSm::LagHwConfigPortToLagSmIs(
    Ptr<Hardware::VeltLag::Status const> veltLagStatus, Ptr<PortToLag> portToLag, SmControl const& control) {
  return create<LagHwConfigPortToLagSm>(std::move(veltLagStatus), std::move(portToLag), control);
}

Ptr<LagHwConfigPortToLagSm> lagHwConfigPortToLagSmFactory(Ptr<Hardware::VeltLag::Status const> veltLagStatus,
                                                          Ptr<PortToLag> portToLag, SmControl const& control) {
  return LagHwConfigPortToLagSm::LagHwConfigPortToLagSmIs(std::move(veltLagStatus), std::move(portToLag), control);
}

}  // namespace Corvane
