#include "corvane/topology/LagHwConfigPortToLagSm.h"

namespace Corvane {

using Hardware::Velt::LagHwConfig;
using Hardware::Velt::LagHwMemberInfo;

namespace {
auto const defaultHandler = getDebugHandler("LagHwConfigPortToLagSm");
constexpr IntoLine intoPortToLag{"into( portToLag.portToLag[ intfId ] ): inserting k1={}, value={}",
                                 "into( portToLag.portToLag[ intfId ] ): deleting k1={}"};
}  // namespace

// lagHwConfig[lag].memberInfo[], one per LAG: feeds pipeline 0.
struct LagHwConfigPortToLagSm::LagHwConfigSm1 {
  using Root = LagHwConfigPortToLagSm;
  using Entity = LagHwConfig;
  using Coll = LagHwConfig::MemberInfoColl;
  using ParentKey = IntfId;
  static constexpr bool nested = true;
  static constexpr char const* className = "LagHwConfigSm1";
  static constexpr char const* attrName = "memberInfo";
  static constexpr uint32_t attrId = LagHwConfig::attrMemberInfo;
  static constexpr uint8_t scanCount = 1;
  static constexpr uint8_t scanNumber[1] = {0};
  static constexpr char const* handlerName[1] = {"handleMemberInfo0"};
  static int32_t flag(Root&, uint32_t) { return -1; }
  static Coll const& coll(Entity const& e) { return e.memberInfo(); }
  static void event(Root& r, uint32_t, IntfId const& lag, IntfId const& member,
                    std::optional<LagHwMemberInfo> const& info) {
    r.eventToStrm_pipeline0(lag, member, info);
  }
};

// veltLagStatus.lagHwConfig[]: one nested LagHwConfigSm1 per LAG.
struct LagHwConfigPortToLagSm::VeltLagStatusSm0 {
  using Root = LagHwConfigPortToLagSm;
  using Entity = Hardware::VeltLag::Status;
  using Coll = Entity::LagHwConfigColl;
  using Child = CollFollower<LagHwConfigSm1>;
  static constexpr char const* className = "VeltLagStatusSm0";
  static constexpr char const* attrName = "lagHwConfig";
  static constexpr uint32_t attrId = Entity::attrLagHwConfig;
  static constexpr uint8_t scanNumber = 0;
  static constexpr char const* handlerName = "handleLagHwConfig0";
  static int32_t flag(Root& r) { return int32_t(r.strm_pipeline0_); }
  static Coll const& coll(Entity const& e) { return e.lagHwConfig(); }
};

LagHwConfigPortToLagSm::LagHwConfigPortToLagSm(Ptr<Hardware::VeltLag::Status const> veltLagStatus,
                                               Ptr<PortToLag> portToLag, SmControl const& control)
    : RootSm("LagHwConfigPortToLagSm", control),
      veltLagStatus_(std::move(veltLagStatus)),
      portToLag_(std::move(portToLag)),
      portToLagPortToLagOutput_(*this, "portToLagPortToLagOutput", portToLag_, intoPortToLag) {
  argDeclare("veltLagStatus()", bool(veltLagStatus_));
  argDeclare("portToLag()", bool(portToLag_));
  strm_pipeline0_ = streamDeclare("strm_pipeline0");
  outputDeclare(portToLagPortToLagOutput_);
  inputSmSlotsIs(1);
  handleInitialized();
}

LagHwConfigPortToLagSm::~LagHwConfigPortToLagSm() = default;

void LagHwConfigPortToLagSm::createInputSms() {
  inputSmIs(0, Ptr<InputSm>(new EntityCollInput<VeltLagStatusSm0>(veltLagStatus_, *this)));
}

void LagHwConfigPortToLagSm::eventToStrm_pipeline0(IntfId lagIntfId, IntfId intfId,
                                                   std::optional<LagHwMemberInfo> const& memberInfoOpt) {
  if (!initialScanDone()) return;
  Tr tr{*this, "eventToStrm_pipeline0"};
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
