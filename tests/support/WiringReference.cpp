#include "tests/support/WiringReference.h"

#include <algorithm>

namespace CorvaneTest {

using namespace Corvane;
using ExampleFeature::State;
using ExampleWiring::SmKind;
using ExampleWiring::Wiring;
using Hardware::Velt::FapId;
using Hardware::Velt::LocalCoreId;

std::optional<IntfId> configuredLag(Lag::Config const& lags, IntfId port) {
  auto element = lags.phyIntf(port);
  if (!element || !element->lag()) return std::nullopt;
  return element->lag()->intfId();
}

std::vector<PortMap> expansion(PortMap const& pm, uint16_t maxFaps, uint16_t maxCores) {
  std::vector<uint16_t> faps, cores;
  if (pm.fapId().value() == 2046 || pm.fapId().value() == 2047) {
    for (uint16_t f = 0; f < maxFaps; ++f) faps.push_back(f);
  } else {
    faps.push_back(pm.fapId().value());
  }
  if (pm.localCoreId().value() == 4 || pm.localCoreId().value() == 5) {
    for (uint16_t c = 0; c < maxCores; ++c) cores.push_back(c);
  } else {
    cores.push_back(pm.localCoreId().value());
  }
  std::vector<PortMap> out;
  for (uint16_t f : faps) {
    for (uint16_t c : cores) out.emplace_back(FapId(f), pm.fapPortId(), LocalCoreId(c));
  }
  return out;
}

Reference reference(Wiring const& w, Reference const* topology) {
  Reference r;
  auto const& lags = *w.lagConfig;
  uint16_t const maxFaps = w.options().maxFaps, maxCores = w.options().maxCores;

  // A port listed by several hardware LAGs belongs to the smallest.
  for (auto const& [lag, config] : w.veltLagStatus->lagHwConfig()) {
    for (auto const& [member, info] : config->memberInfo()) {
      auto [it, fresh] = r.portToLag.emplace(member, lag);
      if (!fresh && lag < it->second) it->second = lag;
    }
  }

  // A port sits on its own TCAM; a LAG on every TCAM of its configured members.
  for (auto const& [port, tcam] : w.veltStatus->intfIdToSystemTcamId()) {
    r.intfToTcamSet[port].insert(tcam);
    if (auto lag = configuredLag(lags, port)) r.intfToTcamSet[*lag].insert(tcam);
  }

  // Likewise for expanded port maps.
  for (auto const& [port, pm] : w.intfIdToPortMap->intfIdToPortMap()) {
    for (PortMap const& e : expansion(pm, maxFaps, maxCores)) {
      r.intfToPortMapSet[port].insert(e);
      if (auto lag = configuredLag(lags, port)) r.intfToPortMapSet[*lag].insert(e);
    }
  }

  // Owner of a port map: among the interfaces holding it (CPU TM ports only by
  // CpuTm0..4), the smallest, seen through its hardware LAG.
  std::map<PortMap, IntfId> holder;
  for (auto const& [intf, pm] : w.intfIdToPortMap->intfIdToPortMap()) {
    bool const cpuTmOwner = intf.isCpuTmIntfId() && (intf.value() & 0xffffffffu) <= 4;
    if (pm.fapPortId().value() <= 7 && !cpuTmOwner) continue;
    auto [it, fresh] = holder.emplace(pm, intf);
    if (!fresh && intf < it->second) it->second = intf;
  }
  for (auto const& [pm, intf] : holder) {
    auto lag = r.portToLag.find(intf);
    IntfId owner = lag == r.portToLag.end() ? intf : lag->second;
    for (PortMap const& e : expansion(pm, maxFaps, maxCores)) r.portMapToIntf[e] = owner;
  }

  if (topology) {
    r.intfToTcamSet = topology->intfToTcamSet;
    r.intfToPortMapSet = topology->intfToPortMapSet;
    r.portMapToIntf = topology->portMapToIntf;
  }

  // Per-port configuration: a configured LAG member takes its LAG's payload (or
  // none), every other non-LAG interface its own.
  std::set<IntfId> candidates;
  for (auto const& [intf, payload] : w.featureConfig->config()) candidates.insert(intf);
  for (auto const& [intf, element] : lags.phyIntf()) candidates.insert(intf);
  for (IntfId x : candidates) {
    if (x.isPortChannelIntfId()) continue;
    IntfId source = configuredLag(lags, x).value_or(x);
    if (auto payload = w.featureConfig->config(source)) r.memberConfig[x] = payload.get();
  }

  PayloadMap expansionInput;
  if (w.options().lagMemberExpansion) {
    expansionInput = r.memberConfig;
  } else {
    for (auto const& [intf, payload] : w.featureConfig->config()) expansionInput[intf] = payload.get();
  }
  for (auto const& [intf, payload] : expansionInput) {
    if (auto it = r.intfToTcamSet.find(intf); it != r.intfToTcamSet.end()) {
      for (SystemTcamId t : it->second) r.tcamConfig[IntfIdSystemTcamId(intf, t)] = payload;
    }
    if (auto it = r.intfToPortMapSet.find(intf); it != r.intfToPortMapSet.end()) {
      for (PortMap const& m : it->second) r.portMapConfig[IntfIdPortMap(intf, m)] = payload;
    }
  }

  // Statuses: regrouped per interface; an interface with statuses and TCAMs shows
  // the worst state over its TCAMs, a TCAM without a status counting as pending.
  for (auto const& [key, status] : w.tcamStatus->status()) {
    r.perTcamStatus[key.intfId()][key.systemTcamId()] = status.get();
  }
  for (auto const& [intf, statuses] : r.perTcamStatus) {
    auto tcams = r.intfToTcamSet.find(intf);
    if (tcams == r.intfToTcamSet.end()) continue;
    State worst = State::ok;
    for (SystemTcamId t : tcams->second) {
      auto s = statuses.find(t);
      State st = s == statuses.end() ? State::pending : static_cast<ExampleFeature::Status const&>(*s->second).state();
      worst = std::max(worst, st);
    }
    r.featureStatus[intf] = worst;
  }
  return r;
}

namespace {
template <class K, class V>
bool subsets(char const* name, std::map<K, std::set<V>> const& bound, std::map<K, std::set<V>> const& got) {
  bool ok = true;
  for (auto const& [k, values] : got) {
    auto it = bound.find(k);
    for (auto const& v : values) {
      if (it != bound.end() && it->second.contains(v)) continue;
      std::fprintf(stderr, "  %s: %s holds %s, which no input gives it\n", name, text(k).c_str(), text(v).c_str());
      ok = false;
    }
  }
  return ok;
}
}  // namespace

bool topologyWithinBounds(Wiring const& w, Reference const& bound, Reference const& got) {
  bool ok = subsets("IntfToTcamSet", bound.intfToTcamSet, got.intfToTcamSet);
  ok &= subsets("IntfToPortMapSet", bound.intfToPortMapSet, got.intfToPortMapSet);
  // The owners an expanded port map may have: any interface allowed to hold a port
  // map that expands to it, seen through its hardware LAG.
  std::map<PortMap, std::set<IntfId>> owners;
  for (auto const& [intf, pm] : w.intfIdToPortMap->intfIdToPortMap()) {
    bool const cpuTmOwner = intf.isCpuTmIntfId() && (intf.value() & 0xffffffffu) <= 4;
    if (pm.fapPortId().value() <= 7 && !cpuTmOwner) continue;
    auto lag = bound.portToLag.find(intf);
    IntfId owner = lag == bound.portToLag.end() ? intf : lag->second;
    for (PortMap const& e : expansion(pm, w.options().maxFaps, w.options().maxCores)) owners[e].insert(owner);
  }
  std::map<PortMap, std::set<IntfId>> gotOwners;
  for (auto const& [pm, owner] : got.portMapToIntf) gotOwners[pm].insert(owner);
  ok &= subsets("PortMapToIntf", owners, gotOwners);
  return ok;
}

// What the SMs wrote, in the reference's shapes.
Reference actual(Wiring const& w) {
  Reference a;
  for (auto const& [port, lag] : w.portToLag->portToLag()) a.portToLag[port] = lag;
  for (auto const& [intf, set] : w.intfToTcamSet->intfToTcamSet()) {
    auto& s = a.intfToTcamSet[intf];
    for (SystemTcamId t : set->tcamSet()) s.insert(t);
  }
  for (auto const& [intf, set] : w.intfToPortMapSet->intfToPortMapSet()) {
    auto& s = a.intfToPortMapSet[intf];
    for (PortMap const& m : set->portMapSet()) s.insert(m);
  }
  for (auto const& [pm, intf] : w.portMapToIntf->portMapToIntf()) a.portMapToIntf[pm] = intf;
  for (auto const& [intf, payload] : w.memberConfig->config()) a.memberConfig[intf] = payload.get();
  for (auto const& [key, payload] : w.tcamConfig->config()) a.tcamConfig[key] = payload.get();
  for (auto const& [key, payload] : w.portMapConfig->config()) a.portMapConfig[key] = payload.get();
  for (auto const& [intf, per] : w.perTcamStatus->status()) {
    auto& m = a.perTcamStatus[intf];
    for (auto const& [t, status] : per->status()) m[t] = status.get();
  }
  for (auto const& [intf, status] : w.featureStatus->status()) {
    a.featureStatus[intf] = status ? static_cast<ExampleFeature::Status const&>(*status).state() : State(255);
  }
  return a;
}

std::string text(FeatureConfigBase const* p) {
  if (!p) return "null";
  return "payload(vlan=" + std::to_string(static_cast<ExampleFeature::Config const*>(p)->vlan()) + ")";
}

std::string text(FeatureStatusBase const* p) {
  if (!p) return "null";
  return "status(" + text(static_cast<ExampleFeature::Status const*>(p)->state()) + ")";
}

bool outputsSame(Reference const& want, Reference const& got, std::optional<SmKind> k) {
  auto wanted = [&](SmKind which) { return !k || *k == which; };
  bool ok = true;
  if (wanted(SmKind::portToLag)) ok &= same("PortToLag", want.portToLag, got.portToLag);
  if (wanted(SmKind::intfTcam)) ok &= same("IntfToTcamSet", want.intfToTcamSet, got.intfToTcamSet);
  if (wanted(SmKind::intfPortMap)) ok &= same("IntfToPortMapSet", want.intfToPortMapSet, got.intfToPortMapSet);
  if (wanted(SmKind::portMapToIntf)) ok &= same("PortMapToIntf", want.portMapToIntf, got.portMapToIntf);
  if (wanted(SmKind::configLagMemberExp)) ok &= same("member IntfFeatureConfig", want.memberConfig, got.memberConfig);
  if (wanted(SmKind::configExp)) ok &= same("IntfTcamFeatureConfig", want.tcamConfig, got.tcamConfig);
  if (wanted(SmKind::configPortMapExp)) {
    ok &= same("IntfPortMapFeatureConfig", want.portMapConfig, got.portMapConfig);
  }
  if (wanted(SmKind::perTcamStatus)) ok &= same("IntfPerTcamFeatureStatus", want.perTcamStatus, got.perTcamStatus);
  if (wanted(SmKind::featureStatus)) ok &= same("IntfFeatureStatus", want.featureStatus, got.featureStatus);
  return ok;
}

}  // namespace CorvaneTest
