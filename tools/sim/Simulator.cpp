#include "tools/sim/Simulator.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <sstream>

#include <fmt/format.h>

namespace Sim {

using namespace Corvane;
using ExampleFeature::State;
using ExampleWiring::SmKind;

namespace {

// The simulator's payloads remember where they came from, so that the tables can
// say which interface's payload an entry carries (payloads are shared, not copied).
class SimConfig : public ExampleFeature::Config {
 public:
  SimConfig(uint32_t vlan, uint32_t serial, IntfId owner) : Config(vlan), serial_(serial), owner_(owner) {}
  uint32_t serial() const noexcept { return serial_; }
  IntfId owner() const noexcept { return owner_; }

 private:
  uint32_t serial_;
  IntfId owner_;
};

template <class T>
std::string str(T const& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

std::string str(IntfId i) { return i.stringValue(); }
std::string str(SystemTcamId t) { return std::to_string(t.value()); }

// "{a, b}" with the elements in natural order.
std::string setText(std::vector<std::string> items) {
  std::sort(items.begin(), items.end(), naturalLess);
  std::string s = "{";
  for (std::size_t i = 0; i < items.size(); ++i) s += (i ? ", " : "") + items[i];
  return s + "}";
}

template <class Coll>
std::string collText(Coll const& c) {
  std::vector<std::string> items;
  for (auto const& k : c) items.push_back(str(k));
  return setText(std::move(items));
}

std::vector<PortMap> expand(PortMap const& pm, uint16_t maxFaps, uint16_t maxCores) {
  using Hardware::Velt::FapId;
  using Hardware::Velt::LocalCoreId;
  std::vector<PortMap> out;
  uint32_t f0 = pm.fapId().isWildcard() ? 0 : pm.fapId().value();
  uint32_t f1 = pm.fapId().isWildcard() ? maxFaps : f0 + 1;
  uint32_t c0 = pm.localCoreId().isWildcard() ? 0 : pm.localCoreId().value();
  uint32_t c1 = pm.localCoreId().isWildcard() ? maxCores : c0 + 1;
  for (uint32_t f = f0; f < f1; ++f) {
    for (uint32_t c = c0; c < c1; ++c) out.emplace_back(FapId(f), pm.fapPortId(), LocalCoreId(c));
  }
  return out;
}

}  // namespace

bool naturalLess(std::string const& a, std::string const& b) {
  std::size_t i = 0, j = 0;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && digit(a[ie])) ++ie;
      while (je < b.size() && digit(b[je])) ++je;
      std::size_t is = i, js = j;
      while (is + 1 < ie && a[is] == '0') ++is;
      while (js + 1 < je && b[js] == '0') ++js;
      if (ie - is != je - js) return ie - is < je - js;
      int c = a.compare(is, ie - is, b, js, je - js);
      if (c != 0) return c < 0;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

std::vector<TableChanges> diffTables(Tables const& before, Tables const& after) {
  std::vector<TableChanges> out;
  for (std::size_t t = 0; t < after.size(); ++t) {
    auto const& a = t < before.size() ? before[t].rows : decltype(after[t].rows){};
    auto const& b = after[t].rows;
    TableChanges tc{after[t].name, {}};
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
      if (j == b.size() || (i < a.size() && naturalLess(a[i].first, b[j].first))) {
        tc.changes.push_back({'-', a[i].first, a[i].second, ""});
        ++i;
      } else if (i == a.size() || naturalLess(b[j].first, a[i].first)) {
        tc.changes.push_back({'+', b[j].first, "", b[j].second});
        ++j;
      } else {
        if (a[i].second != b[j].second) tc.changes.push_back({'~', a[i].first, a[i].second, b[j].second});
        ++i;
        ++j;
      }
    }
    if (!tc.changes.empty()) out.push_back(std::move(tc));
  }
  return out;
}

// ---- simulator -------------------------------------------------------------------

namespace {
ExampleWiring::Options wiringOptions(Scenario const& s, RunMode mode) {
  ExampleWiring::Options o;
  o.maxFaps = s.maxFaps;
  o.maxCores = s.maxCores;
  o.lagMemberExpansion = s.lagMemberExpansion;
  o.synchronous = !mode.async;
  if (mode.async) {
    o.scheduler = TaskScheduler::TaskSchedulerIs();
    o.scheduler->yieldEveryIs(mode.yieldEvery);
  }
  return o;
}
}  // namespace

Simulator::Simulator(Scenario scenario, RunMode mode)
    : scenario_(std::move(scenario)), wiring_(wiringOptions(scenario_, mode)) {}

Simulator::~Simulator() {
  wiring_.stopAll();
  wiring_.intfIdToPortMap->delayedNotifHolderIs(nullptr);
}

void Simulator::writeInputs() {
  if (inputsWritten_) return;
  inputsWritten_ = true;
  for (auto const& i : scenario_.interfaces) {
    if (i.tcam) wiring_.veltStatus->intfIdToSystemTcamIdIs(i.id, *i.tcam);
    if (i.portMap) wiring_.intfIdToPortMap->intfIdToPortMapIs(i.id, *i.portMap);
  }
  for (auto const& l : scenario_.lags) {
    for (IntfId m : l.members) lagMember(l.id, m, true, LagScope::both);
  }
  for (auto const& f : scenario_.features) setFeature(f.intf, f.vlan);
  for (auto const& f : scenario_.failures) wiring_.hardware().failingIs(IntfIdSystemTcamId(f.intf, f.tcam), true);
}

void Simulator::startUp(std::function<void(char const*)> const& progress) {
  writeInputs();
  for (SmKind k : ExampleWiring::allSmKinds) {
    if (progress) progress(fmt::format("creating {}", ExampleWiring::smKindName(k)).c_str());
    wiring_.start(k);
  }
  settle(progress);
}

void Simulator::settle(std::function<void(char const*)> const& progress) {
  if (!progress) {
    wiring_.runUntilIdle();
    return;
  }
  auto const& sched = wiring_.scheduler();
  auto process = TaskSchedulerRoot::findOrCreateScheduler();
  uint32_t n = 0;
  while (!sched->idle() || !process->idle()) {
    sched->runOne();
    process->runOne();
    if (++n % 64 == 0) progress("scans running");
  }
}

void Simulator::setFeature(IntfId intf, uint32_t vlan) {
  wiring_.featureConfig->configIs(intf, Ptr<FeatureConfigBase>(new SimConfig(vlan, ++payloads_, intf)));
}

void Simulator::lagMember(IntfId lag, IntfId member, bool add, LagScope scope) {
  if (scope != LagScope::hardware) {
    auto const current = wiring_.lagConfig->lagOf(member);
    if (add) {
      auto& lagIntf = lagIntfConfigs_[lag];
      if (!lagIntf) lagIntf = Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag);
      // A new element object each time, as the configuration agent writes them.
      auto element = Lag::EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(member);
      element->lagIs(lagIntf);
      wiring_.lagConfig->phyIntfIs(member, element);
    } else if (current && *current == lag) {
      wiring_.lagConfig->phyIntfDel(member);
    }
  }
  if (scope != LagScope::config) {
    auto& hw = *wiring_.veltLagStatus;
    if (add) {
      // A port sits in one LAG of the hardware at a time.
      if (IntfId const* current = hwLagOf_.find(member); current && *current != lag) {
        if (auto other = hw.lagHwConfig(*current)) other->memberInfoDel(member);
      }
      hwLagOf_.assign(member, lag);
      auto config = hw.lagHwConfig(lag);
      if (!config) config = hw.lagHwConfigIs(lag);
      config->memberInfoIs(member, Hardware::Velt::LagHwMemberInfo(uint32_t(config->memberInfo().size()), true));
    } else if (auto config = hw.lagHwConfig(lag)) {
      config->memberInfoDel(member);
      if (IntfId const* current = hwLagOf_.find(member); current && *current == lag) hwLagOf_.erase(member);
    }
  }
}

void Simulator::apply(Op const& op) {
  auto& w = wiring_;
  auto each = [&](auto&& fn) {
    if (op.sm) {
      fn(*op.sm);
    } else {
      for (SmKind k : ExampleWiring::allSmKinds) fn(k);
    }
  };
  switch (op.kind) {
    case OpKind::setTcam:
      w.veltStatus->intfIdToSystemTcamIdIs(op.intf, op.tcam);
      break;
    case OpKind::delTcam:
      w.veltStatus->intfIdToSystemTcamIdDel(op.intf);
      break;
    case OpKind::setPortMap:
      w.intfIdToPortMap->intfIdToPortMapIs(op.intf, op.portMap);
      break;
    case OpKind::delPortMap:
      w.intfIdToPortMap->intfIdToPortMapDel(op.intf);
      break;
    case OpKind::holdPortMaps:
      if (!holder_) holder_ = DelayedNotifHolder::DelayedNotifHolderIs();
      w.intfIdToPortMap->delayedNotifHolderIs(holder_);
      break;
    case OpKind::releasePortMaps:
      w.intfIdToPortMap->triggerDelayedNotif();
      w.intfIdToPortMap->delayedNotifHolderIs(nullptr);
      break;
    case OpKind::addMember:
    case OpKind::removeMember:
      lagMember(op.lag, op.intf, op.kind == OpKind::addMember, op.scope);
      break;
    case OpKind::setFeature:
      setFeature(op.intf, op.vlan);
      break;
    case OpKind::delFeature:
      w.featureConfig->configDel(op.intf);
      break;
    case OpKind::failHardware:
    case OpKind::recoverHardware:
      w.hardware().failingIs(IntfIdSystemTcamId(op.intf, op.tcam), op.kind == OpKind::failHardware);
      break;
    case OpKind::stop:
      each([&](SmKind k) { w.stop(k); });
      break;
    case OpKind::start:
      each([&](SmKind k) { w.start(k); });
      break;
    case OpKind::restart:
      each([&](SmKind k) { w.stop(k); });
      each([&](SmKind k) { w.start(k); });
      break;
  }
}

std::string Simulator::payloadText(FeatureConfigBase const* p) const {
  if (!p) return "none";
  auto const& c = static_cast<SimConfig const&>(*p);
  return fmt::format("payload#{} vlan={} of {}", c.serial(), c.vlan(), c.owner().stringValue());
}

std::string Simulator::statusText(FeatureStatusBase const* s) const {
  if (!s) return "none";
  return str(static_cast<ExampleFeature::Status const&>(*s).state());
}

std::size_t Simulator::outputEntries() const {
  auto const& w = wiring_;
  std::size_t n = w.portToLag->portToLag().size() + w.portMapToIntf->portMapToIntf().size() +
                  w.intfToTcamSet->intfToTcamSet().size() + w.intfToPortMapSet->intfToPortMapSet().size() +
                  w.memberConfig->config().size() + w.tcamConfig->config().size() + w.portMapConfig->config().size() +
                  w.tcamStatus->status().size() + w.perTcamStatus->status().size() + w.featureStatus->status().size();
  return n;
}

Tables Simulator::tables() const {
  auto const& w = wiring_;
  Tables t;
  auto table = [&](char const* name, auto const& coll, auto&& keyText, auto&& valueText) {
    Table tb{name, {}};
    for (auto const& [k, v] : coll) tb.rows.emplace_back(keyText(k), valueText(v));
    std::sort(tb.rows.begin(), tb.rows.end(), [](auto const& a, auto const& b) { return naturalLess(a.first, b.first); });
    t.push_back(std::move(tb));
  };
  auto key = [](auto const& k) { return str(k); };
  auto payload = [&](Ptr<FeatureConfigBase> const& p) { return payloadText(p.get()); };
  auto status = [&](Ptr<FeatureStatusBase> const& s) { return statusText(s.get()); };
  table("PortToLag", w.portToLag->portToLag(), key, [](IntfId l) { return str(l); });
  table("PortMapToIntf", w.portMapToIntf->portMapToIntf(), key, [](IntfId i) { return str(i); });
  table("IntfToTcamSet", w.intfToTcamSet->intfToTcamSet(), key,
        [](Ptr<TcamSet> const& s) { return collText(s->tcamSet()); });
  table("IntfToPortMapSet", w.intfToPortMapSet->intfToPortMapSet(), key,
        [](Ptr<PortMapSet> const& s) { return collText(s->portMapSet()); });
  table("IntfFeatureConfig (per port)", w.memberConfig->config(), key, payload);
  table("IntfTcamFeatureConfig", w.tcamConfig->config(), key, payload);
  table("IntfPortMapFeatureConfig", w.portMapConfig->config(), key, payload);
  table("IntfTcamFeatureStatus", w.tcamStatus->status(), key, status);
  table("IntfPerTcamFeatureStatus", w.perTcamStatus->status(), key, [&](Ptr<PerTcamFeatureStatus> const& p) {
    std::vector<std::string> items;
    for (auto const& [tcam, s] : p->status()) items.push_back(fmt::format("{}: {}", tcam.value(), statusText(s.get())));
    return setText(std::move(items));
  });
  table("IntfFeatureStatus", w.featureStatus->status(), key, status);
  return t;
}

std::vector<Corvane::RootSm const*> Simulator::rootSms() const { return wiring_.rootSms(); }


Corvane::Ptr<Corvane::Directory> Simulator::directory() const {
  auto const& w = wiring_;
  Corvane::Ptr<Corvane::Directory> root = Corvane::Directory::DirectoryIs("corvane-sim");
  Corvane::Ptr<Corvane::Directory> in = root->folderIs("inputs");
  in->entryIs("veltStatus", w.veltStatus);
  in->entryIs("veltLagStatus", w.veltLagStatus);
  in->entryIs("lagConfig", w.lagConfig);
  in->entryIs("intfIdToPortMap", w.intfIdToPortMap);
  in->entryIs("featureConfig", w.featureConfig);
  Corvane::Ptr<Corvane::Directory> out = root->folderIs("outputs");
  out->entryIs("portToLag", w.portToLag);
  out->entryIs("portMapToIntf", w.portMapToIntf);
  out->entryIs("intfToTcamSet", w.intfToTcamSet);
  out->entryIs("intfToPortMapSet", w.intfToPortMapSet);
  out->entryIs("memberConfig", w.memberConfig);
  out->entryIs("tcamConfig", w.tcamConfig);
  out->entryIs("portMapConfig", w.portMapConfig);
  out->entryIs("tcamStatus", w.tcamStatus);
  out->entryIs("perTcamStatus", w.perTcamStatus);
  out->entryIs("featureStatus", w.featureStatus);
  Corvane::Ptr<Corvane::Directory> sms = root->folderIs("sms");
  for (Corvane::RootSm const* sm : rootSms()) {
    sms->entryIs(sm->sourceName(), Corvane::Ptr<Corvane::Node>(const_cast<Corvane::RootSm*>(sm)));
  }
  if (w.featureStatusSm()) sms->entryIs("IntfFeatureStatusSm", w.featureStatusSm());
  return root;
}

std::vector<std::string> Simulator::explain(IntfId intf) const {
  auto const& w = wiring_;
  std::vector<std::string> out;
  auto line = [&](std::string s) { out.push_back(std::move(s)); };
  bool const isLag = intf.isPortChannelIntfId();
  std::string const name = str(intf);
  // Configured members (what IntfTcamSm and IntfPortMapSm follow) and the hardware's.
  std::vector<IntfId> members;
  for (auto const& [port, element] : w.lagConfig->phyIntf()) {
    if (w.lagConfig->lagOf(port) == intf) members.push_back(port);
  }
  std::sort(members.begin(), members.end());
  auto lagOf = w.lagConfig->lagOf(intf);

  if (isLag) {
    std::vector<std::string> m, hw;
    for (IntfId p : members) m.push_back(str(p));
    if (auto c = w.veltLagStatus->lagHwConfig(intf)) {
      for (auto const& [p, info] : c->memberInfo()) hw.push_back(str(p));
    }
    line(fmt::format("{}: a LAG; configured members {}, hardware members {}", name, setText(m), setText(hw)));
  } else {
    std::string cfg = lagOf ? fmt::format("configured into {}", str(*lagOf)) : "in no configured LAG";
    IntfId hwLag = w.portToLag->portToLag(intf);
    std::string hw = hwLag ? fmt::format("PortToLag says {}", str(hwLag)) : "in no hardware LAG";
    line(fmt::format("{}: a port; {}; {}", name, cfg, hw));
  }

  // TCAMs.
  auto tcams = w.intfToTcamSet->intfToTcamSet(intf);
  line(fmt::format("TCAM set {} (IntfToTcamSet, by IntfTcamSm):", tcams ? collText(tcams->tcamSet()) : "none"));
  if (w.veltStatus->intfIdToSystemTcamId().contains(intf)) {
    line(fmt::format("  TCAM {}: its own, from the hardware status", str(*w.veltStatus->intfIdToSystemTcamId().find(intf))));
  }
  if (isLag) {
    std::map<SystemTcamId, std::vector<std::string>> from;
    for (IntfId p : members) {
      if (auto const* t = w.veltStatus->intfIdToSystemTcamId().find(p)) from[*t].push_back(str(p));
    }
    for (auto const& [t, ps] : from) line(fmt::format("  TCAM {}: from members {}", str(t), setText(ps)));
    if (from.empty()) line("  no member reports a TCAM");
  }

  // Port maps.
  auto pms = w.intfToPortMapSet->intfToPortMapSet(intf);
  line(fmt::format("Port-map set {} (IntfToPortMapSet, by IntfPortMapSm):", pms ? collText(pms->portMapSet()) : "none"));
  auto portMapLine = [&](IntfId p, char const* whose) {
    if (!w.intfIdToPortMap->intfIdToPortMapHas(p)) return;
    PortMap pm = w.intfIdToPortMap->intfIdToPortMap(p);
    auto ex = expand(pm, scenario_.maxFaps, scenario_.maxCores);
    if (ex.size() == 1) {
      line(fmt::format("  {}: {} {}", str(ex.front()), whose, str(p)));
    } else {
      line(fmt::format("  {} port maps: {} {}'s wildcard {}", ex.size(), whose, str(p), str(pm)));
    }
  };
  if (isLag) {
    for (IntfId p : members) portMapLine(p, "from member");
  } else {
    portMapLine(intf, "the port map of");
  }
  std::vector<std::string> owned;
  for (auto const& [pm, owner] : w.portMapToIntf->portMapToIntf()) {
    if (owner == intf) owned.push_back(str(pm));
  }
  IntfId const hwLag = isLag ? IntfId() : w.portToLag->portToLag(intf);
  line(fmt::format("Owns {} port maps in PortMapToIntf (by PortMapToIntfSm){}", owned.size(),
                   isLag  ? ", those of its hardware members"
                   : hwLag ? fmt::format("; its own go to its hardware LAG {}", str(hwLag))
                           : std::string()));

  // Payload.
  auto own = w.featureConfig->config(intf);
  line(fmt::format("Feature payload set on it: {}", payloadText(own.get())));
  auto expandedInput = w.expansionInput();
  if (w.options().lagMemberExpansion) {
    auto perPort = w.memberConfig->config(intf);
    if (isLag) {
      line("  a LAG gets no per-port entry: ConfigLagMemberExpSm hands its payload to its members");
    } else if (lagOf) {
      line(fmt::format("  per-port payload {}: its LAG {}'s (ConfigLagMemberExpSm)", payloadText(perPort.get()),
                       str(*lagOf)));
    } else {
      line(fmt::format("  per-port payload {}: its own (ConfigLagMemberExpSm)", payloadText(perPort.get())));
    }
  }
  std::vector<std::string> tcamEntries, pmEntries;
  for (auto const& [k, p] : w.tcamConfig->config()) {
    if (k.intfId() == intf) tcamEntries.push_back(fmt::format("{} -> {}", str(k), payloadText(p.get())));
  }
  for (auto const& [k, p] : w.portMapConfig->config()) {
    if (k.intfId() == intf) pmEntries.push_back(fmt::format("{} -> {}", str(k), payloadText(p.get())));
  }
  std::sort(tcamEntries.begin(), tcamEntries.end(), naturalLess);
  std::sort(pmEntries.begin(), pmEntries.end(), naturalLess);
  line(fmt::format("IntfTcamFeatureConfig entries (ConfigExpSm: the payload on each TCAM of the set): {}",
                   tcamEntries.size()));
  for (auto const& e : tcamEntries) line("  " + e);
  line(fmt::format("IntfPortMapFeatureConfig entries (ConfigPortMapExpSm: the payload on each port map of the set): {}",
                   pmEntries.size()));
  for (auto const& e : pmEntries) line("  " + e);

  // Status.
  std::vector<std::string> hwStatuses;
  for (auto const& [k, s] : w.tcamStatus->status()) {
    if (k.intfId() == intf) {
      hwStatuses.push_back(fmt::format("TCAM {}: {}{}", str(k.systemTcamId()), statusText(s.get()),
                                       w.hardware().failing(k) ? " (the hardware layer fails it)" : ""));
    }
  }
  std::sort(hwStatuses.begin(), hwStatuses.end(), naturalLess);
  line(fmt::format("Hardware statuses (IntfTcamFeatureStatus): {}", setText(hwStatuses)));
  auto merged = w.featureStatus->status(intf);
  if (merged) {
    std::vector<std::string> parts;
    if (auto per = w.perTcamStatus->status(intf); per && tcams) {
      for (SystemTcamId t : tcams->tcamSet()) {
        auto s = per->status(t);
        parts.push_back(fmt::format("TCAM {} {}", str(t), s ? statusText(s.get()) : "not reported (pending)"));
      }
    }
    line(fmt::format("Published status {} (IntfFeatureStatus): the example merge, worst of {}",
                     statusText(merged.get()), setText(parts)));
  } else {
    line("Published status: none (needs both a TCAM set and per-TCAM statuses)");
  }
  return out;
}

std::string wiringDot(bool lagMemberExpansion) {
  std::string expIn = lagMemberExpansion ? "memberConfig" : "featureConfig";
  std::string s =
      "digraph corvane {\n"
      "  rankdir=TB;\n"
      "  node [shape=ellipse, fontname=\"Helvetica\", fontsize=10];\n"
      "  veltLag [label=\"Hardware::VeltLag::Status\"];\n"
      "  velt [label=\"Hardware::Velt::Status\"];\n"
      "  lag [label=\"Lag::Config\"];\n"
      "  portMaps [label=\"IntfIdToPortMap\"];\n"
      "  featureConfig [label=\"IntfFeatureConfig\\n(feature)\"];\n"
      "  portToLag [label=\"PortToLag\"];\n"
      "  portMapToIntf [label=\"PortMapToIntf\"];\n"
      "  intfToTcamSet [label=\"IntfToTcamSet\"];\n"
      "  intfToPortMapSet [label=\"IntfToPortMapSet\"];\n"
      "  memberConfig [label=\"IntfFeatureConfig\\n(per port)\"];\n"
      "  tcamConfig [label=\"IntfTcamFeatureConfig\"];\n"
      "  portMapConfig [label=\"IntfPortMapFeatureConfig\"];\n"
      "  tcamStatus [label=\"IntfTcamFeatureStatus\"];\n"
      "  perTcamStatus [label=\"IntfPerTcamFeatureStatus\"];\n"
      "  featureStatus [label=\"IntfFeatureStatus\"];\n"
      "  agent [shape=plaintext, label=\"agent\"];\n"
      "  node [shape=box, style=filled, fillcolor=\"#dde8f5\"];\n"
      "  hardware [label=\"hardware layer\\n(simulated)\", fillcolor=\"#f3e6c8\"];\n"
      "  LagHwConfigPortToLagSm; IntfTcamSm; IntfPortMapSm; PortMapToIntfSm; ConfigLagMemberExpSm;\n"
      "  ConfigExpSm; ConfigPortMapExpSm; IntfPerTcamFeatureStatusSm;\n"
      "  IntfFeatureStatusSm [label=\"IntfFeatureStatusSm\\n(merge SMs, IntfFeatureStatusOutputSm)\"];\n"
      "  veltLag -> LagHwConfigPortToLagSm -> portToLag -> PortMapToIntfSm;\n"
      "  portMaps -> PortMapToIntfSm -> portMapToIntf -> agent;\n"
      "  velt -> IntfTcamSm; lag -> IntfTcamSm; IntfTcamSm -> intfToTcamSet;\n"
      "  portMaps -> IntfPortMapSm; lag -> IntfPortMapSm; IntfPortMapSm -> intfToPortMapSet;\n"
      "  featureConfig -> ConfigLagMemberExpSm; lag -> ConfigLagMemberExpSm; ConfigLagMemberExpSm -> memberConfig;\n"
      "  intfToTcamSet -> ConfigExpSm; " + expIn + " -> ConfigExpSm; ConfigExpSm -> tcamConfig;\n"
      "  intfToPortMapSet -> ConfigPortMapExpSm; " + expIn + " -> ConfigPortMapExpSm;\n"
      "  ConfigPortMapExpSm -> portMapConfig -> hardware;\n"
      "  tcamConfig -> hardware -> tcamStatus -> IntfPerTcamFeatureStatusSm -> perTcamStatus;\n"
      "  perTcamStatus -> IntfFeatureStatusSm; intfToTcamSet -> IntfFeatureStatusSm;\n"
      "  IntfFeatureStatusSm -> featureStatus -> agent;\n"
      "}\n";
  return s;
}

// Memory by type (everything the wiring's directory reaches) and by SM, largest first.
void printMemory(Simulator const& sim) {
  Corvane::Ptr<Corvane::Directory> dir = sim.directory();
  std::printf("\n== Memory by type\n%-44s %10s %12s\n", "type", "objects", "bytes");
  uint64_t total = 0;
  for (auto const& m : Corvane::memoryByType({dir.get()})) {
    std::printf("%-44s %10llu %12llu\n", m.type.c_str(), static_cast<unsigned long long>(m.objects),
                static_cast<unsigned long long>(m.bytes));
    total += m.bytes;
  }
  std::printf("%-44s %10s %12llu\n", "total", "", static_cast<unsigned long long>(total));
  std::vector<std::pair<Corvane::RootSm const*, Corvane::EngineMemory>> sms;
  for (Corvane::RootSm const* sm : sim.reportedSms()) sms.emplace_back(sm, sm->engineMemory());
  std::stable_sort(sms.begin(), sms.end(),
                   [](auto const& a, auto const& b) { return a.second.total() > b.second.total(); });
  std::printf("\n== Memory by SM (bytes)\n%-28s %9s %9s %9s %9s %9s %9s %10s\n", "SM", "machine", "inputs", "caches",
              "group-bys", "seen", "tasks", "total");
  for (auto const& [sm, m] : sms) {
    std::printf("%-28s %9llu %9llu %9llu %9llu %9llu %9llu %10llu\n", sm->sourceName(),
                static_cast<unsigned long long>(m.machine), static_cast<unsigned long long>(m.inputs),
                static_cast<unsigned long long>(m.caches), static_cast<unsigned long long>(m.groupBys),
                static_cast<unsigned long long>(m.seenSets), static_cast<unsigned long long>(m.tasks),
                static_cast<unsigned long long>(m.total()));
  }
  // Every pool of the process: the library's node types and followers (and any
  // other type with a pool), what they hold now.
  std::vector<Corvane::SlabPool const*> pools;
  for (Corvane::SlabPool const* p = Corvane::SlabPool::first(); p; p = p->next()) {
    if (p->slabsHeld() != 0) pools.push_back(p);
  }
  std::stable_sort(pools.begin(), pools.end(), [](auto const* a, auto const* b) {
    return a->bytesHeld() != b->bytesHeld() ? a->bytesHeld() > b->bytesHeld()
                                            : std::string_view(a->typeName()) < b->typeName();
  });
  std::printf("\n== Slabs by type\n%-44s %10s %7s %7s %12s\n", "type", "objects", "slabs", "slab", "bytes");
  for (Corvane::SlabPool const* p : pools) {
    std::printf("%-44s %10llu %7llu %7zu %12llu\n", p->typeName(), static_cast<unsigned long long>(p->objectsLive()),
                static_cast<unsigned long long>(p->slabsHeld()), p->bytesPerSlab(),
                static_cast<unsigned long long>(p->bytesHeld()));
  }
}

}  // namespace Sim
