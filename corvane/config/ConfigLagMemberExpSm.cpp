#include "corvane/config/ConfigLagMemberExpSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(ConfigLagMemberExpSm, "Corvane::ConfigLagMemberExpSm", RootSm)

namespace {
constexpr IntoLine intoExp{"into( intfExpFeatureConfig.config[ phyIntfId ] ): inserting k1={}, value={}",
                           "into( intfExpFeatureConfig.config[ phyIntfId ] ): deleting k1={}"};
}  // namespace

struct ConfigLagMemberExpSm::IntfFeatureConfigSm2
    : ValueInput<"IntfFeatureConfigSm2", attribute(&IntfFeatureConfig::config), IntfFeatureConfig::attrConfig,
                 "config",
                 Feed<1, "handleConfig1", "featureConfigStream",
                      &ConfigLagMemberExpSm::eventToFeatureConfigStream>>,
      MergesPortsWithLags<0> {};

// lagConfig.phyIntf[] and each port's lag.
struct ConfigLagMemberExpSm::LagConfigSm0
    : LagConfigInput<"LagConfigSm0", "handlePhyIntf0", "PhyIntfSm1", "handleLag0", 0,
                     "lagConfigStream", &ConfigLagMemberExpSm::eventToLagConfigStream> {};

namespace {
auto const defaultHandler = smModuleLoad<ConfigLagMemberExpSm>("ConfigLagMemberExpSm");
}  // namespace

ConfigLagMemberExpSm::ConfigLagMemberExpSm(Ptr<IntfFeatureConfig> intfFeatureConfig,
                                           Ptr<IntfFeatureConfig> intfExpFeatureConfig,
                                           Ptr<Lag::Config const> lagConfig, SmControl const& control)
    : RootSm("ConfigLagMemberExpSm", control),
      intfFeatureConfig_(std::move(intfFeatureConfig)),
      intfExpFeatureConfig_(std::move(intfExpFeatureConfig)),
      lagConfig_(std::move(lagConfig)),
      lagToMemberSet_(LagToMemberSet::LagToMemberSetIs()),
      output_(*this, "intfExpFeatureConfigConfigOutput", intfExpFeatureConfig_),
      memberSetOutput_(*this, "lagToMemberSetLagMemberSetMemberSetOutput") {
  declare(this);
  handleInitialized();
}

void ConfigLagMemberExpSm::eventToStrm_pipeline0(IntfId phyIntfId) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline0">(*this);
  tr(7, "Line 40: merge( lagConfigStream, featureConfigStream ): phyIntfId={}", phyIntfId);
  // Membership takes precedence: a member carries its LAG's payload, or none.
  IntfId source = lagConfig_->lagOf(phyIntfId).value_or(phyIntfId);
  // Written as a member of a LAG the LAG stream has not met for this port yet (the
  // start-up event pass has not reached it): see eventToLagConfigStream.
  if (source != phyIntfId && cacheAttr0_.get(phyIntfId) != source) {
    // In a synchronous start-up's event pass nothing changes the inputs before the
    // LAG stream reaches this port, and it runs this pipeline for it again, to the
    // same end: untraced, this run is left to it.
    if (synchronousEventPass() && tr.quiet()) return;
    aheadOfLagStream_.insert(phyIntfId);
  } else {
    aheadOfLagStream_.erase(phyIntfId);
  }
  Ptr<FeatureConfigBase> payload = intfFeatureConfig_->config(source);
  if (payload) {
    output_.insert(tr, intoExp, phyIntfId, payload);
  } else {
    output_.remove(tr, intoExp, phyIntfId);
  }
}

void ConfigLagMemberExpSm::eventToFeatureConfigStream(IntfId intfId) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToFeatureConfigStream">(*this);
  tr(7, "featureConfigStream = from( intfFeatureConfig.config[] ): intfId={}", intfId);
  if (!intfId.isPortChannelIntfId()) {
    eventToStrm_pipeline0(intfId);
    return;
  }
  Ptr<LagMemberSet> members = lagToMemberSet_->lagMemberSet(intfId);
  if (!filterPass(tr, bool(members), "memberSetOpt")) return;
  tr(6, " foreach( ( *memberSetOpt ).memberSet ) flattening {} elements", members->memberSet().size());
  // A cursor: a reactor of the expanded config may change the member set meanwhile.
  for (auto cur = members->memberSet().cursor(); !cur.done(); cur.next()) {
    IntfId const member = cur.key();
    traceFlattening(tr, member);
    eventToStrm_pipeline0(member);
  }
}

void ConfigLagMemberExpSm::eventToLagConfigStream(IntfId phyIntfId, std::optional<IntfId> const&) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToLagConfigStream">(*this);
  tr(7, "lagConfigStream = from( lagConfig.phyIntf[].lag ): phyIntfId={}", phyIntfId);
  auto change = cacheAttr0_.update(
      tr, phyIntfId, lagConfig_->lagOf(phyIntfId),
      " foreach( [ ( if ( _oldValueOpt6 != _newValueOpt7 ) then _oldValueOpt6 else None, false ), ( "
      "_newValueOpt7, true ) ] ) flattening {} elements");
  bool ran = false;
  for (auto const& e : change) {
    traceFlattening(tr, e);
    if (!filterPass(tr, e.value.has_value(), "_valueOpt8")) continue;
    ran = true;
    IntfId const lag = *e.value;
    if (e.add) {
      Ptr<LagMemberSet> members = lagToMemberSet_->lagMemberSetIs(lag);
      tr(7, "into( lagToMemberSet.lagMemberSet[ lagIntfId ].memberSet[ phyIntfId ] ): inserting k1={}, k2={}", lag,
         phyIntfId);
      members->memberSetIs(phyIntfId);
    } else if (Ptr<LagMemberSet> members = lagToMemberSet_->lagMemberSet(lag)) {
      tr(7, "into( lagToMemberSet.lagMemberSet[ lagIntfId ].memberSet[ phyIntfId ] ): deleting k1={}, k2={}", lag,
         phyIntfId);
      members->memberSetDel(phyIntfId);
      if (members->memberSet().empty()) lagToMemberSet_->lagMemberSetDel(lag);
    }
    eventToStrm_pipeline0(phyIntfId);
  }
  // The merged pipeline reads membership from lagConfig, this stream from its cache.
  // During the start-up event pass the feature stream may reach a port first and
  // write it as a LAG member; if the port then leaves the LAG before this stream has
  // seen it join, the change pair is (none, none) and would leave the member's
  // payload in place. Such a port is rewritten here.
  if (!ran && aheadOfLagStream_.erase(phyIntfId)) eventToStrm_pipeline0(phyIntfId);
}

Ptr<ConfigLagMemberExpSm> ConfigLagMemberExpSm::ConfigLagMemberExpSmIs(Ptr<IntfFeatureConfig> intfFeatureConfig,
                                                                        Ptr<IntfFeatureConfig> intfExpFeatureConfig,
                                                                        Ptr<Lag::Config const> lagConfig,
                                                                        SmControl const& control) {
  return create<ConfigLagMemberExpSm>(std::move(intfFeatureConfig), std::move(intfExpFeatureConfig),
                                      std::move(lagConfig), control);
}

Ptr<ConfigLagMemberExpSm> configLagMemberExpSmFactory(Ptr<IntfFeatureConfig> intfFeatureConfig,
                                                      Ptr<IntfFeatureConfig> intfExpFeatureConfig,
                                                      Ptr<Lag::Config const> lagConfig, SmControl const& control) {
  return ConfigLagMemberExpSm::ConfigLagMemberExpSmIs(std::move(intfFeatureConfig), std::move(intfExpFeatureConfig),
                                                      std::move(lagConfig), control);
}

}  // namespace Corvane
