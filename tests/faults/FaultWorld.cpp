#include "tests/faults/FaultWorld.h"

#include <algorithm>

#include <fmt/format.h>

namespace CorvaneTest {

using namespace Corvane;
using ExampleWiring::SmKind;
using ExampleWiring::Wiring;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

namespace {
IntfId eth(uint16_t n) { return IntfId::ethernet(n); }
IntfId lag(uint32_t n) { return IntfId::portChannel(n); }
Ptr<FeatureConfigBase> payload(uint32_t vlan) { return Ptr<FeatureConfigBase>(new ExampleFeature::Config(vlan)); }
void lagOf(Lag::Config& c, IntfId port, IntfId lagId) {
  c.phyIntfIs(port)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lagId));
}
void member(Hardware::VeltLag::Status& s, IntfId lagId, IntfId port, uint32_t index) {
  s.lagHwConfigIs(lagId)->memberInfoIs(port, Hardware::Velt::LagHwMemberInfo(index, true));
}
// Distinct FAP ports, so no two port maps' expansions meet.
PortMap portMap(uint16_t fap, uint32_t fapPort, uint16_t core) {
  return PortMap(FapId(fap), FapPortId(fapPort), LocalCoreId(core));
}
}  // namespace

void populate(Wiring& w) {
  for (uint16_t n = 1; n <= 6; ++n) w.veltStatus->intfIdToSystemTcamIdIs(eth(n), SystemTcamId(uint16_t(n % 3)));
  w.veltStatus->intfIdToSystemTcamIdIs(IntfId::cpuTm(0), SystemTcamId(1));

  member(*w.veltLagStatus, lag(1), eth(1), 0);
  member(*w.veltLagStatus, lag(1), eth(2), 1);
  member(*w.veltLagStatus, lag(2), eth(3), 0);

  lagOf(*w.lagConfig, eth(1), lag(1));
  lagOf(*w.lagConfig, eth(2), lag(1));
  lagOf(*w.lagConfig, eth(3), lag(2));
  w.lagConfig->phyIntfIs(eth(4));  // configured, in no LAG

  auto& pm = *w.intfIdToPortMap;
  pm.intfIdToPortMapIs(eth(1), portMap(0, 10, 0));
  pm.intfIdToPortMapIs(eth(2), portMap(FapId::wildcardA, 11, 1));
  pm.intfIdToPortMapIs(eth(3), portMap(1, 12, LocalCoreId::wildcardB));
  pm.intfIdToPortMapIs(eth(4), portMap(FapId::wildcardB, 13, LocalCoreId::wildcardA));
  pm.intfIdToPortMapIs(eth(5), portMap(2, 14, 1));
  pm.intfIdToPortMapIs(IntfId::cpuTm(0), portMap(0, 3, 0));

  auto& fc = *w.featureConfig;
  fc.configIs(lag(1), payload(100));
  fc.configIs(lag(2), payload(200));
  fc.configIs(eth(4), payload(400));
  Ptr<FeatureConfigBase> shared = payload(500);
  fc.configIs(eth(5), shared);
  fc.configIs(eth(6), shared);
}

void changeEveryInput(Wiring& w) {
  auto& vs = *w.veltStatus;
  vs.intfIdToSystemTcamIdIs(eth(1), SystemTcamId(2));  // a LAG member moves
  vs.intfIdToSystemTcamIdIs(eth(7), SystemTcamId(1));
  vs.intfIdToSystemTcamIdDel(eth(6));

  auto& ls = *w.veltLagStatus;
  ls.lagHwConfig(lag(1))->memberInfoDel(eth(2));
  member(ls, lag(2), eth(4), 1);
  ls.lagHwConfigDel(lag(1));

  auto& lc = *w.lagConfig;
  lagOf(lc, eth(4), lag(2));
  lc.phyIntfDel(eth(3));
  auto fresh = Lag::EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(eth(1));  // a new element object
  fresh->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag(2)));
  lc.phyIntfIs(eth(1), fresh);

  auto& pm = *w.intfIdToPortMap;
  pm.intfIdToPortMapIs(eth(1), portMap(3, 10, LocalCoreId::wildcardA));
  pm.intfIdToPortMapDel(eth(5));
  pm.intfIdToPortMapIs(eth(7), portMap(1, 15, 0));

  auto& fc = *w.featureConfig;
  fc.configIs(lag(2), payload(201));
  fc.configDel(eth(5));
  fc.configIs(eth(7), payload(700));

  w.hardware().failingIs(IntfIdSystemTcamId(eth(4), SystemTcamId(1)), true);
  if (auto const& config = w.tcamConfig->config(); !config.empty()) {
    w.hardware().failingIs(config.begin()->first, true);
  }
}

std::vector<SmKind> downstreamOf(SmKind k) {
  auto readers = [](SmKind s) -> std::vector<SmKind> {
    switch (s) {
      case SmKind::portToLag: return {SmKind::portMapToIntf};
      case SmKind::intfTcam: return {SmKind::configExp, SmKind::featureStatus};
      case SmKind::intfPortMap: return {SmKind::configPortMapExp};
      case SmKind::configLagMemberExp: return {SmKind::configExp, SmKind::configPortMapExp};
      case SmKind::configExp: return {SmKind::perTcamStatus};  // through the hardware layer
      case SmKind::perTcamStatus: return {SmKind::featureStatus};
      default: return {};
    }
  };
  std::vector<SmKind> out, todo = readers(k);
  while (!todo.empty()) {
    SmKind s = todo.back();
    todo.pop_back();
    if (std::find(out.begin(), out.end(), s) != out.end()) continue;
    out.push_back(s);
    for (SmKind r : readers(s)) todo.push_back(r);
  }
  return out;
}

Ptr<Entity> outputOf(Wiring const& w, SmKind k) {
  switch (k) {
    case SmKind::portToLag: return w.portToLag;
    case SmKind::intfTcam: return w.intfToTcamSet;
    case SmKind::intfPortMap: return w.intfToPortMapSet;
    case SmKind::portMapToIntf: return w.portMapToIntf;
    case SmKind::configLagMemberExp: return w.memberConfig;
    case SmKind::configExp: return w.tcamConfig;
    case SmKind::configPortMapExp: return w.portMapConfig;
    case SmKind::perTcamStatus: return w.perTcamStatus;
    case SmKind::featureStatus: break;
  }
  return w.featureStatus;
}

std::vector<Ptr<Entity>> inputsOf(Wiring const& w, SmKind k) {
  switch (k) {
    case SmKind::portToLag: return {w.veltLagStatus};
    case SmKind::intfTcam: return {w.veltStatus, w.lagConfig};
    case SmKind::intfPortMap: return {w.intfIdToPortMap, w.lagConfig};
    case SmKind::portMapToIntf: return {w.intfIdToPortMap, w.portToLag};
    case SmKind::configLagMemberExp: return {w.featureConfig, w.lagConfig};
    case SmKind::configExp: return {w.intfToTcamSet, w.expansionInput()};
    case SmKind::configPortMapExp: return {w.intfToPortMapSet, w.expansionInput()};
    case SmKind::perTcamStatus: return {w.tcamStatus};
    case SmKind::featureStatus: break;
  }
  return {w.intfToTcamSet, w.perTcamStatus};
}

RootSm* rootSmOf(Wiring const& w, SmKind k) {
  switch (k) {
    case SmKind::portToLag: return w.portToLagSm().get();
    case SmKind::intfTcam: return w.intfTcamSm().get();
    case SmKind::intfPortMap: return w.intfPortMapSm().get();
    case SmKind::portMapToIntf: return w.portMapToIntfSm().get();
    case SmKind::configLagMemberExp: return w.configLagMemberExpSm().get();
    case SmKind::configExp: return w.configExpSm().get();
    case SmKind::configPortMapExp: return w.configPortMapExpSm().get();
    case SmKind::perTcamStatus: return w.perTcamStatusSm().get();
    case SmKind::featureStatus: break;
  }
  return w.featureStatusSm() ? w.featureStatusSm()->intfFeatureStatusOutputSm().get() : nullptr;
}

SlabCounts slabCounts() {
  SlabCounts out;
  for (SlabPool const* p = SlabPool::first(); p; p = p->next()) out[p] = p->objectsLive();
  return out;
}

std::string slabCountsChanged(SlabCounts const& before) {
  std::string out;
  for (auto const& [pool, live] : slabCounts()) {
    auto const was = before.find(pool);
    uint64_t const n = was == before.end() ? 0 : was->second;  // a pool made since held nothing
    if (live != n) out += fmt::format("{}: {} objects live, {} before; ", pool->typeName(), live, n);
  }
  return out;
}

std::string smCaseName(::testing::TestParamInfo<std::tuple<SmKind, bool>> const& info) {
  return std::string(ExampleWiring::smKindName(std::get<0>(info.param))) +
         (std::get<1>(info.param) ? "Synchronous" : "Asynchronous");
}

}  // namespace CorvaneTest
