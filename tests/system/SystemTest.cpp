// corvane-system-test: the whole typical wiring driven by a seeded random agent.
//
// Every seed builds an ExampleWiring::Wiring over stale outputs, then changes every
// external input at random (hardware TCAM and LAG status, LAG configuration with its
// elements replaced, the port-map table immediately and in delayed bursts, feature
// payloads, the hardware layer's statuses), destroys and re-creates SMs over their
// outputs, runs the scheduler a few steps at a time with random yield counts, and
// compares each output with a reference computed from the inputs alone: right after
// a change whenever every SM is ready, and at every quiescent point. After the seed
// every node must be gone.
//
//   corvane-system-test [--first-seed S] [--seeds N] [--changes M] [--verbose]
//                       [--trace SmName]
//
// --changes is per seed. --verbose prints every checkpoint and, for a failing one,
// what the driver did since the last; --trace adds that SM's trace lines to it.
// Odd seeds run the SMs synchronously, even seeds asynchronously; every fifth seed
// traces every level of every SM into a ring buffer. Every third seed also uses the
// inputs whose topology outputs depend on the order of events (port maps whose
// expansions meet, LAG ids with a TCAM or port map of their own): there every key of
// those outputs must have a source in the inputs, the outputs computed from them
// must match, and at each quiescent point a restart of the topology SMs must give
// exactly the union of what the inputs give. The last line is
// "seeds=N changes=C restarts=R divergences=D leaks=L"; the exit status is non-zero
// on any divergence or leak, and each failing seed prints the command reproducing it.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "examples/wiring/TypicalWiring.h"
#include "tests/support/WiringReference.h"

using namespace Corvane;
using namespace CorvaneTest;
using ExampleFeature::State;
using ExampleWiring::SmKind;
using ExampleWiring::Wiring;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

// The sanitizers' runtime, when linked in: called before a report ends the process.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

// ---- the world of one seed ------------------------------------------------------

// Which interfaces exist and which port maps they may take. The port maps of the
// pool have distinct FAP ports, so the expansions of two different port maps never
// meet, unless the seed asks for `overlapping` ones: then three more port maps share
// a FAP port with one of the first three, the FAP id turned wildcard or concrete.
struct Universe {
  std::vector<IntfId> ports;  // physical interfaces, CPU TM ones included
  std::vector<IntfId> lags;
  std::vector<IntfId> all;
  std::vector<PortMap> portMaps;
  uint16_t tcams = 5;
};

Universe makeUniverse(std::mt19937& rng, uint16_t maxFaps, uint16_t maxCores, bool overlapping) {
  Universe u;
  for (uint16_t n = 1; n <= 8; ++n) u.ports.push_back(IntfId::ethernet(n));
  u.ports.push_back(IntfId::ethernet(9, 1));
  u.ports.push_back(IntfId::ethernet(9, 2));
  u.ports.push_back(IntfId::cpuTm(0));
  u.ports.push_back(IntfId::cpuTm(3));
  u.ports.push_back(IntfId::cpuTm(6));  // not one of the CPU TM port owners
  for (uint32_t n : {1u, 2u, 10u, 20u}) u.lags.push_back(IntfId::portChannel(n));
  u.all = u.ports;
  u.all.insert(u.all.end(), u.lags.begin(), u.lags.end());
  // Two CPU TM FAP ports (0..7), the rest ordinary.
  std::vector<uint32_t> fapPorts = {1, 6, 8, 9, 17, 40, 41, 255};
  for (uint32_t p : fapPorts) {
    uint16_t fap;
    switch (rng() % 6) {
      case 0: fap = FapId::wildcardA; break;
      case 1: fap = FapId::wildcardB; break;
      case 2: fap = uint16_t(2048 - rng() % 3 * 48); break;  // null, or large plain ids
      default: fap = uint16_t(rng() % maxFaps); break;
    }
    uint16_t core;
    switch (rng() % 5) {
      case 0: core = LocalCoreId::wildcardA; break;
      case 1: core = LocalCoreId::wildcardB; break;
      case 2: core = 6; break;  // null
      default: core = uint16_t(rng() % maxCores); break;
    }
    u.portMaps.emplace_back(FapId(fap), FapPortId(p), LocalCoreId(core));
  }
  for (size_t i = 0; overlapping && i < 3; ++i) {
    PortMap const& p = u.portMaps[i];
    uint16_t const fap = p.fapId().isWildcard() ? 0 : FapId::wildcardA;
    u.portMaps.emplace_back(FapId(fap), p.fapPortId(), p.localCoreId());
  }
  return u;
}

// ---- the driver -----------------------------------------------------------------

struct Totals {
  uint64_t seeds = 0, changes = 0, restarts = 0, divergences = 0, leaks = 0, checks = 0, liveChecks = 0;
};

class Driver {
 public:
  Driver(uint64_t seed, uint64_t changes, Totals& totals, bool verbose)
      : seed_(seed), changesWanted_(changes), totals_(totals), verbose_(verbose), rng_(uint32_t(seed)) {}

  // Runs the seed; false on a divergence.
  bool run();

  // The --verbose log of the running seed, where the sink of --trace writes.
  static inline std::vector<std::string>* traceLog = nullptr;

 private:
  uint32_t pick(uint32_t n) { return n ? uint32_t(rng_() % n) : 0; }
  bool chance(uint32_t oneIn) { return pick(oneIn) == 0; }
  // Whether a change removes an entry: how often varies by seed, so that some
  // seeds run on sparse inputs and others on dense ones.
  bool deleting() { return chance(deleteOneIn_); }
  template <class T>
  T const& any(std::vector<T> const& v) {
    return v[pick(uint32_t(v.size()))];
  }
  IntfId anyPort() { return any(u_.ports); }
  IntfId anyLag() { return any(u_.lags); }
  // An interface for the hardware TCAM or the port-map table: a port, or in the
  // order-dependent seeds now and then a LAG id.
  IntfId anyTableKey() { return orderDependent_ && chance(6) ? anyLag() : anyPort(); }
  SystemTcamId anyTcam() { return SystemTcamId(uint16_t(pick(u_.tcams))); }
  Ptr<FeatureConfigBase> payload();
  Ptr<FeatureStatusBase> status() { return Ptr<FeatureStatusBase>(new ExampleFeature::Status(State(pick(3)))); }
  Ptr<Interface::EthLagIntfConfig const> lagObject(IntfId lag);

  void prefillOutputs();
  void prefillInputs(uint32_t n);
  void change();  // one random input change (or a burst of them)
  void changeVeltStatus();
  void changeVeltLagStatus();
  void changeLagConfig();
  void changePortMap();
  void portMapBurst();
  void changeFeatureConfig();
  void changeHardware();
  void wipe();
  void agentAction();  // restarts, scheduler steps, yield counts
  // With --verbose, what the driver did since the last checkpoint, printed when it fails.
  template <class... A>
  void note(A const&... parts) {
    if (!verbose_) return;
    std::string line;
    ((line += text(parts)), ...);
    log_.push_back(std::move(line));
  }
  void yieldCounts();
  void runSome();
  bool checkpoint();
  bool liveCheck();
  bool outputsMatch(char const* when);
  bool profilesMatch() const;
  bool smReady(SmKind k) const;

  std::vector<std::string> log_;
  uint64_t seed_, changesWanted_;
  bool orderDependent_ = false;
  Totals& totals_;
  bool verbose_;
  std::mt19937 rng_;
  Universe u_;
  Wiring* w_ = nullptr;
  Ptr<TaskScheduler> process_;
  uint64_t changes_ = 0;
  uint32_t deleteOneIn_ = 4;
  Ptr<DelayedNotifHolder> holder_;
  std::vector<Ptr<FeatureConfigBase>> payloads_;
  std::map<IntfId, Ptr<Interface::EthLagIntfConfig const>> lagObjects_;
  // Elements replaced or removed from the inputs; edited later, they must change nothing.
  std::vector<Ptr<Lag::EthPhyIntfLagConfig>> oldPhyIntfs_;
  std::vector<Ptr<Hardware::Velt::LagHwConfig>> oldLagHwConfigs_;
};

Ptr<FeatureConfigBase> Driver::payload() {
  // Often an object already in use, so that one payload sits under several keys.
  if (!payloads_.empty() && chance(3)) return any(payloads_);
  Ptr<FeatureConfigBase> p(new ExampleFeature::Config(100 + pick(4000)));
  if (payloads_.size() < 6) {
    payloads_.push_back(p);
  } else {
    payloads_[pick(uint32_t(payloads_.size()))] = p;
  }
  return p;
}

Ptr<Interface::EthLagIntfConfig const> Driver::lagObject(IntfId lag) {
  auto& obj = lagObjects_[lag];
  // Sometimes a new object for the same LAG: the port's `lag` changes identity only.
  if (!obj || chance(4)) obj = Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag);
  return obj;
}

void Driver::changeVeltStatus() {
  auto& s = *w_->veltStatus;
  IntfId p = anyTableKey();
  if (deleting()) {
    s.intfIdToSystemTcamIdDel(p);
    note("veltStatus: delete ", p);
  } else {
    s.intfIdToSystemTcamIdIs(p, anyTcam());
    note("veltStatus: ", p, " on TCAM ", s.intfIdToSystemTcamId(p));
  }
  ++changes_;
}

void Driver::changeVeltLagStatus() {
  auto& s = *w_->veltLagStatus;
  IntfId lag = anyLag();
  // Random numbers are drawn in separate statements throughout: the order in which
  // a call's arguments are evaluated is the compiler's, and a seed must replay the
  // same on every build.
  auto info = [&] {
    uint32_t index = pick(8);
    return Hardware::Velt::LagHwMemberInfo(index, chance(2));
  };
  auto addMember = [&](Hardware::Velt::LagHwConfig& e) {
    IntfId member = anyPort();
    e.memberInfoIs(member, info());
  };
  switch (pick(8)) {
    case 0: {  // a new element object under the LAG, members filled before or after
      Ptr<Hardware::Velt::LagHwConfig> fresh(Hardware::Velt::LagHwConfig::LagHwConfigIs(lag));
      bool before = chance(2);
      uint32_t n = pick(4);
      if (before) for (uint32_t i = 0; i < n; ++i) addMember(*fresh);
      if (auto old = s.lagHwConfig(lag)) oldLagHwConfigs_.push_back(old);
      s.lagHwConfigIs(lag, fresh);
      if (!before) for (uint32_t i = 0; i < n; ++i) addMember(*fresh);
      break;
    }
    case 1:
      if (auto old = s.lagHwConfigDel(lag)) oldLagHwConfigs_.push_back(old);
      break;
    case 2:
      if (auto e = s.lagHwConfig(lag)) e->memberInfoDelAll();
      break;
    case 3:
    case 4:
      if (auto e = s.lagHwConfig(lag)) {
        IntfId member = anyPort();
        if (chance(2)) {
          for (auto const& [m, i] : e->memberInfo()) {
            member = m;
            break;
          }
        }
        e->memberInfoDel(member);
        break;
      }
      [[fallthrough]];
    default:
      addMember(*s.lagHwConfigIs(lag));
      break;
  }
  note("veltLagStatus: ", lag, s.lagHwConfig(lag) ? " members " + text(s.lagHwConfig(lag)->memberInfo().size()) : " gone");
  // An element no longer in the status is edited: nobody may notice.
  if (!oldLagHwConfigs_.empty() && chance(6)) addMember(*any(oldLagHwConfigs_));
  if (oldLagHwConfigs_.size() > 8) oldLagHwConfigs_.erase(oldLagHwConfigs_.begin());
  ++changes_;
}

void Driver::changeLagConfig() {
  auto& c = *w_->lagConfig;
  IntfId p = anyPort();
  auto lagOrNone = [&]() -> Ptr<Interface::EthLagIntfConfig const> {
    return chance(4) ? nullptr : lagObject(anyLag());
  };
  switch (pick(6)) {
    case 0: {  // replace the element with a new object
      auto fresh = Lag::EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(p);
      bool before = chance(2);
      if (before) fresh->lagIs(lagOrNone());
      if (auto old = c.phyIntf(p)) oldPhyIntfs_.push_back(old);
      c.phyIntfIs(p, fresh);
      if (!before) fresh->lagIs(lagOrNone());
      note("lagConfig: new element for ", p, " lag ", fresh->lag() ? text(fresh->lag()->intfId()) : "none");
      break;
    }
    case 1:
      if (auto old = c.phyIntfDel(p)) oldPhyIntfs_.push_back(old);
      note("lagConfig: delete ", p);
      break;
    default:
      c.phyIntfIs(p)->lagIs(lagOrNone());
      note("lagConfig: ", p, " lag ", c.lagOf(p) ? text(*c.lagOf(p)) : "none");
      break;
  }
  if (!oldPhyIntfs_.empty() && chance(6)) {
    any(oldPhyIntfs_)->lagIs(lagOrNone());
    note("lagConfig: old element edited");
  }
  if (oldPhyIntfs_.size() > 8) oldPhyIntfs_.erase(oldPhyIntfs_.begin());
  ++changes_;
}

void Driver::changePortMap() {
  auto& t = *w_->intfIdToPortMap;
  IntfId p = anyTableKey();
  if (deleting()) {
    t.intfIdToPortMapDel(p);
  } else {
    t.intfIdToPortMapIs(p, any(u_.portMaps));
  }
  note("portMap: ", p, " ", t.intfIdToPortMapHas(p) ? text(t.intfIdToPortMap(p)) : "deleted", holder_ ? " (held)" : "");
  ++changes_;
  if (holder_) {
    // A burst in progress: release it now and then, and sometimes go back to
    // immediate announcements (only after the release: a detached holder's keys
    // are not delivered any more).
    if (chance(5)) t.triggerDelayedNotif();
    if (chance(10)) {
      t.triggerDelayedNotif();
      t.delayedNotifHolderIs(nullptr);
      holder_ = nullptr;
    }
  } else if (chance(12)) {
    holder_ = DelayedNotifHolder::DelayedNotifHolderIs();
    t.delayedNotifHolderIs(holder_);
  }
}

void Driver::portMapBurst() {
  auto& t = *w_->intfIdToPortMap;
  bool const attached = bool(holder_);
  if (!attached) {
    holder_ = DelayedNotifHolder::DelayedNotifHolderIs();
    t.delayedNotifHolderIs(holder_);
  }
  uint32_t n = 2 + pick(6);
  for (uint32_t i = 0; i < n; ++i) {
    IntfId p = anyTableKey();
    if (deleting()) {
      t.intfIdToPortMapDel(p);
    } else {
      t.intfIdToPortMapIs(p, any(u_.portMaps));
    }
    ++changes_;
  }
  if (chance(5)) runSome();  // scans may run while the burst is held back
  note("portMap: burst of ", n, " changes released");
  t.triggerDelayedNotif();
  if (!attached || chance(3)) {
    t.delayedNotifHolderIs(nullptr);
    holder_ = nullptr;
  }
}

void Driver::changeFeatureConfig() {
  auto& c = *w_->featureConfig;
  IntfId i = any(u_.all);
  if (deleting()) {
    c.configDel(i);
  } else if (chance(5) && c.config(i)) {
    c.configIs(i, c.config(i));  // the same object again: nothing happens
  } else {
    c.configIs(i, payload());
  }
  note("featureConfig: ", i, " = ", static_cast<FeatureConfigBase const*>(c.config(i).get()));
  ++changes_;
}

void Driver::changeHardware() {
  auto& hw = w_->hardware();
  auto key = [&]() {
    auto const& config = w_->tcamConfig->config();
    if (!config.empty() && chance(2)) {
      uint32_t n = pick(uint32_t(config.size()));
      for (auto const& [k, v] : config) {
        if (n-- == 0) return k;
      }
    }
    IntfId intf = any(u_.all);
    return IntfIdSystemTcamId(intf, anyTcam());
  };
  switch (pick(6)) {
    case 0:
    case 1:
    case 2: {
      auto k = key();
      bool failing = chance(2);
      hw.failingIs(k, failing);
      note("hardware: ", k, failing ? " failing" : " not failing");
      break;
    }
    case 3: {  // the hardware rewrites a status on its own
      auto k = key();
      w_->tcamStatus->statusIs(k, status());
      note("hardware: status of ", k, " rewritten");
      break;
    }
    case 4: {
      auto k = key();
      w_->tcamStatus->statusDel(k);
      note("hardware: status of ", k, " deleted");
      break;
    }
    default:
      hw.sync();
      note("hardware: sync");
      break;
  }
  ++changes_;
}

// Now and then an input is emptied at once, the way an agent clears a table.
void Driver::wipe() {
  struct Wipe {
    void (*clear)(Wiring&);
    char const* what;
    bool portMaps = false;  // notifications may be held back
  };
  static constexpr Wipe wipes[] = {
      {[](Wiring& w) { w.veltStatus->intfIdToSystemTcamIdDelAll(); }, "veltStatus: all deleted"},
      {[](Wiring& w) { w.veltLagStatus->lagHwConfigDelAll(); }, "veltLagStatus: all deleted"},
      {[](Wiring& w) { w.lagConfig->phyIntfDelAll(); }, "lagConfig: all deleted"},
      {[](Wiring& w) { w.intfIdToPortMap->intfIdToPortMapDelAll(); }, "portMap: all deleted", true},
      {[](Wiring& w) { w.featureConfig->configDelAll(); }, "featureConfig: all deleted"},
      {[](Wiring& w) { w.tcamStatus->statusDelAll(); }, "hardware: every status deleted"},
  };
  Wipe const& chosen = wipes[pick(std::size(wipes))];
  chosen.clear(*w_);
  note(chosen.what, chosen.portMaps && holder_ ? " (held)" : "");
  ++changes_;
}

void Driver::change() {
  if (chance(80)) {
    wipe();
    return;
  }
  // Each kind of change as often as it appears here.
  static constexpr void (Driver::*kinds[])() = {
      &Driver::changeVeltStatus,    &Driver::changeVeltStatus,    &Driver::changeVeltLagStatus, &Driver::changeVeltLagStatus,
      &Driver::changeLagConfig,     &Driver::changeLagConfig,     &Driver::changePortMap,       &Driver::changePortMap,
      &Driver::portMapBurst,        &Driver::changeFeatureConfig, &Driver::changeFeatureConfig, &Driver::changeFeatureConfig,
      &Driver::changeHardware,      &Driver::changeHardware};
  (this->*kinds[pick(std::size(kinds))])();
}

void Driver::yieldCounts() {
  // Never the time slice: the run must not depend on the clock.
  w_->scheduler()->yieldEveryIs(1 + pick(chance(3) ? 2 : 12));
  process_->yieldEveryIs(1 + pick(6));
}

void Driver::runSome() {
  uint32_t n = 1 + pick(5);
  for (uint32_t i = 0; i < n; ++i) {
    if (!w_->scheduler()->runOne()) break;
    note("ran a task");
  }
  if (chance(2)) process_->runOne();
}

void Driver::agentAction() {
  SmKind k = ExampleWiring::allSmKinds[pick(ExampleWiring::smKindCount)];
  switch (pick(8)) {
    case 0:
    case 1:
    case 2: {  // an agent restart over the SM's outputs, left mid-scan
      w_->restart(k);
      note("restart ", ExampleWiring::smKindName(k));
      ++totals_.restarts;
      runSome();
      break;
    }
    case 3:  // down for a while; the next restart or checkpoint brings it back
      note(w_->running(k) ? "stop " : "start ", ExampleWiring::smKindName(k));
      if (w_->running(k)) {
        w_->stop(k);
      } else {
        w_->start(k);
        ++totals_.restarts;
      }
      break;
    case 4:
      yieldCounts();
      break;
    case 5:
      w_->runUntilIdle();
      note("ran until idle");
      break;
    default:
      runSome();
      break;
  }
}

// Junk in every output before the first start, as a crashed agent may leave.
void Driver::prefillOutputs() {
  uint32_t n = pick(12);
  for (uint32_t i = 0; i < n; ++i) {
    IntfId a = any(u_.all), b = anyLag();
    w_->portToLag->portToLagIs(anyPort(), b);
    w_->intfToTcamSet->intfToTcamSetIs(a)->tcamSetIs(anyTcam());
    PortMap pm = expansion(any(u_.portMaps), w_->options().maxFaps, w_->options().maxCores).front();
    w_->intfToPortMapSet->intfToPortMapSetIs(a)->portMapSetIs(pm);
    w_->portMapToIntf->portMapToIntfIs(pm, a);
    IntfId c = any(u_.all);
    w_->memberConfig->configIs(c, payload());
    SystemTcamId t = anyTcam();
    w_->tcamConfig->configIs(IntfIdSystemTcamId(a, t), payload());
    w_->portMapConfig->configIs(IntfIdPortMap(a, pm), payload());
    t = anyTcam();
    w_->perTcamStatus->statusIs(a)->statusIs(t, status());
    c = any(u_.all);
    w_->featureStatus->statusIs(c, status());
  }
}

void Driver::prefillInputs(uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) change();
}

bool Driver::checkpoint() {
  ++totals_.checks;
  log_.clear();
  if (holder_) {
    w_->intfIdToPortMap->triggerDelayedNotif();
    w_->intfIdToPortMap->delayedNotifHolderIs(nullptr);
    holder_ = nullptr;
  }
  for (SmKind k : ExampleWiring::allSmKinds) {
    if (!w_->running(k)) {
      w_->start(k);
      ++totals_.restarts;
    }
  }
  w_->runUntilIdle();

  bool ok = true;
  for (SmKind k : ExampleWiring::allSmKinds) {
    if (!smReady(k)) {
      std::fprintf(stderr, "  %s is not ready at quiescence\n", ExampleWiring::smKindName(k));
      ok = false;
    }
  }
  ok &= outputsMatch("at quiescence");
  ok &= profilesMatch();
  if (ok && orderDependent_) {
    // A restart scans the inputs and only adds: the topology SMs' outputs become
    // exactly what the inputs give, whatever order the events came in before.
    for (SmKind k : {SmKind::intfTcam, SmKind::intfPortMap, SmKind::portMapToIntf}) {
      w_->restart(k);
      ++totals_.restarts;
    }
    w_->runUntilIdle();
    Reference const got = actual(*w_);
    Reference const bound = reference(*w_);
    ok = same("IntfToTcamSet after a restart", bound.intfToTcamSet, got.intfToTcamSet) &&
         same("IntfToPortMapSet after a restart", bound.intfToPortMapSet, got.intfToPortMapSet) &&
         outputsMatch("after the topology SMs restarted");
  }
  if (verbose_) {
    Reference const want = reference(*w_);
    std::printf("  seed %llu after %llu changes: %s; entries: portToLag %zu, intfToTcamSet %zu, "
                "intfToPortMapSet %zu, portMapToIntf %zu, memberConfig %zu, tcamConfig %zu, "
                "portMapConfig %zu, perTcamStatus %zu, featureStatus %zu\n",
                (unsigned long long)seed_, (unsigned long long)changes_, ok ? "ok" : "DIVERGED",
                want.portToLag.size(), want.intfToTcamSet.size(), want.intfToPortMapSet.size(),
                want.portMapToIntf.size(), want.memberConfig.size(), want.tcamConfig.size(),
                want.portMapConfig.size(), want.perTcamStatus.size(), want.featureStatus.size());
  }
  return ok;
}

bool Driver::smReady(SmKind k) const {
  switch (k) {
    case SmKind::portToLag: return w_->portToLagSm() && w_->portToLagSm()->ready();
    case SmKind::intfTcam: return w_->intfTcamSm() && w_->intfTcamSm()->ready();
    case SmKind::intfPortMap: return w_->intfPortMapSm() && w_->intfPortMapSm()->ready();
    case SmKind::portMapToIntf: return w_->portMapToIntfSm() && w_->portMapToIntfSm()->ready();
    case SmKind::configLagMemberExp: return w_->configLagMemberExpSm() && w_->configLagMemberExpSm()->ready();
    case SmKind::configExp: return w_->configExpSm() && w_->configExpSm()->ready();
    case SmKind::configPortMapExp: return w_->configPortMapExpSm() && w_->configPortMapExpSm()->ready();
    case SmKind::perTcamStatus: return w_->perTcamStatusSm() && w_->perTcamStatusSm()->ready();
    case SmKind::featureStatus: return w_->featureStatusSm() && w_->featureStatusSm()->ready();
  }
  return false;
}

// Once every SM runs and is ready, a change travels through the whole wiring
// inside the call that made it (unless the port-map table holds its notifications
// back): the outputs must match right after it, without running any task.
bool Driver::liveCheck() {
  if (holder_) return true;
  for (SmKind k : ExampleWiring::allSmKinds) {
    if (!smReady(k)) return true;
  }
  ++totals_.liveChecks;
  return outputsMatch("right after a change, every SM ready");
}

// The hardware layer counts the keys per payload from the notifications alone (the
// payload a change replaces or removes comes with it): the counts must be the
// configuration's.
bool Driver::profilesMatch() const {
  std::map<FeatureConfigBase const*, uint32_t> want;
  for (auto const& [key, payload] : w_->tcamConfig->config()) ++want[payload.get()];
  auto const& hw = w_->hardware();
  bool ok = hw.profiles() == want.size();
  for (auto const& [payload, users] : want) ok = ok && hw.profileUsers(payload) == users;
  if (!ok) std::fprintf(stderr, "  hardware profiles differ from the configuration's payloads\n");
  return ok;
}

bool Driver::outputsMatch(char const* when) {
  Reference const got = actual(*w_);
  bool ok;
  if (orderDependent_) {
    Reference const bound = reference(*w_);
    ok = topologyWithinBounds(*w_, bound, got) && outputsSame(reference(*w_, &got), got);
  } else {
    ok = outputsSame(reference(*w_), got);
  }
  if (!ok) {
    std::fprintf(stderr, "  (checked %s, after %llu changes)\n", when, (unsigned long long)changes_);
    for (auto const& line : log_) std::fprintf(stderr, "    | %s\n", line.c_str());
  }
  return ok;
}

bool Driver::run() {
  traceLog = verbose_ ? &log_ : nullptr;
  process_ = TaskSchedulerRoot::findOrCreateScheduler();
  uint16_t const maxFaps = uint16_t(1 + pick(4)), maxCores = uint16_t(1 + pick(3));
  orderDependent_ = seed_ % 3 == 0;
  u_ = makeUniverse(rng_, maxFaps, maxCores, orderDependent_);
  ExampleWiring::Options opt;
  opt.maxFaps = maxFaps;
  opt.maxCores = maxCores;
  opt.synchronous = seed_ % 2 == 1;
  opt.lagMemberExpansion = !chance(4);
  deleteOneIn_ = 2 + pick(10);
  opt.scheduler = TaskScheduler::TaskSchedulerIs();
  // Every fifth seed traces every level of every SM into a ring buffer: tracing
  // formats every value the SMs touch and must change nothing they do.
  std::vector<std::pair<Ptr<DebugHandler>, uint16_t>> masks;
  if (seed_ % 5 == 0) {
    opt.ringTrace = RingTrace::RingTraceIs(64);
    for (std::string_view name : smSourceNames) {  // the wiring's SMs and the status output SM
      auto h = getDebugHandler(std::string(name), true);
      masks.emplace_back(h, h->levelMask());
      h->levelMaskIs(0x3c0);
    }
  }
  bool ok = true;
  {
    Wiring w(opt);
    w_ = &w;
    yieldCounts();
    prefillOutputs();
    prefillInputs(pick(40));
    // Start in a random order; asynchronous SMs are left mid-scan now and then.
    std::vector<SmKind> order(ExampleWiring::allSmKinds.begin(), ExampleWiring::allSmKinds.end());
    std::shuffle(order.begin(), order.end(), rng_);
    for (SmKind k : order) {
      w.start(k);
      if (chance(3)) change();
      if (chance(3)) runSome();
    }
    uint64_t nextCheck = changes_ + 10 + pick(60);
    try {
      while (ok && changes_ < changesWanted_) {
        change();
        ok = liveCheck();
        if (ok && chance(6)) agentAction();
        if (ok && changes_ >= nextCheck) {
          ok = checkpoint();
          nextCheck = changes_ + 10 + pick(60);
        }
      }
      if (ok) ok = checkpoint();
    } catch (std::exception const& e) {
      std::fprintf(stderr, "  exception after %llu changes: %s\n", (unsigned long long)changes_, e.what());
      ok = false;
    }
    holder_ = nullptr;
    w_ = nullptr;
  }
  totals_.changes += changes_;
  payloads_.clear();
  lagObjects_.clear();
  oldPhyIntfs_.clear();
  oldLagHwConfigs_.clear();
  opt.scheduler = nullptr;
  opt.ringTrace = nullptr;
  for (auto& [h, mask] : masks) h->levelMaskIs(mask);
  masks.clear();
  process_->runUntilIdle();
  process_ = nullptr;
  return ok;
}

// ---- main ----------------------------------------------------------------------

char reproduceLine[256];

void sayWhichSeed() {
  ssize_t r = write(2, reproduceLine, std::strlen(reproduceLine));
  (void)r;
}

// A fatal internal error aborts; say which seed did it.
void onAbort(int) {
  sayWhichSeed();
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

bool number(char const* text, uint64_t& out) {
  if (!text || !*text) return false;
  char* end = nullptr;
  out = std::strtoull(text, &end, 10);
  return *end == 0;
}

int usage(char const* argv0) {
  std::fprintf(stderr, "usage: %s [--first-seed S] [--seeds N] [--changes M] [--verbose] [--trace SmName]\n",
               argv0);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t firstSeed = 1, seeds = 20, changes = 300;
  bool verbose = false;
  std::string traced;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--verbose") {
      verbose = true;
    } else if (a == "--trace" && i + 1 < argc) {
      traced = argv[++i];  // an SM's source name: its trace goes into the --verbose log
      verbose = true;
    } else if (a == "--first-seed" && i + 1 < argc) {
      if (!number(argv[++i], firstSeed)) return usage(argv[0]);
    } else if (a == "--seeds" && i + 1 < argc) {
      if (!number(argv[++i], seeds)) return usage(argv[0]);
    } else if (a == "--changes" && i + 1 < argc) {
      if (!number(argv[++i], changes)) return usage(argv[0]);
    } else {
      return usage(argv[0]);
    }
  }

  // The process scheduler lives for the whole run; count nodes after it exists.
  auto process = TaskSchedulerRoot::findOrCreateScheduler();
  // So are the trace handlers (the library makes them at load; the traced seeds
  // would make any that were missing, for good).
  for (std::string_view name : smSourceNames) getDebugHandler(std::string(name), true);
  if (!traced.empty()) {
    getDebugHandler(traced, true)->levelMaskIs(0x3c0);
    traceSinkIs([traced](TraceRecord const& r) {
      if (Driver::traceLog && r.source == traced) Driver::traceLog->push_back("  " + r.function + ": " + r.message);
    });
  }
  int32_t const nodes = Node::liveNodes();
  std::signal(SIGABRT, onAbort);
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(sayWhichSeed);
  auto const started = std::chrono::steady_clock::now();

  Totals totals;
  for (uint64_t seed = firstSeed; seed < firstSeed + seeds; ++seed) {
    std::snprintf(reproduceLine, sizeof reproduceLine, "seed %llu ended the run; reproduce with: %s --first-seed %llu --seeds 1 --changes %llu\n",
                  (unsigned long long)seed, argv[0], (unsigned long long)seed, (unsigned long long)changes);
    bool ok = Driver(seed, changes, totals, verbose).run();
    ++totals.seeds;
    int32_t const left = Node::liveNodes() - nodes;
    if (left != 0) {
      std::fprintf(stderr, "  %d nodes still alive after the seed's teardown\n", left);
      ++totals.leaks;
    }
    if (!ok) ++totals.divergences;
    if (!ok || left != 0) {
      std::fprintf(stderr, "seed %llu FAILED (%s); reproduce with: %s --first-seed %llu --seeds 1 --changes %llu\n",
                   (unsigned long long)seed, seed % 2 ? "synchronous" : "asynchronous", argv[0],
                   (unsigned long long)seed, (unsigned long long)changes);
    } else if (verbose) {
      std::printf("seed %llu ok\n", (unsigned long long)seed);
    }
  }
  process->yieldEveryIs(0);

  double const seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("%llu checks at quiescence and %llu right after a change, in %.1f s\n",
              (unsigned long long)totals.checks, (unsigned long long)totals.liveChecks, seconds);
  std::printf("seeds=%llu changes=%llu restarts=%llu divergences=%llu leaks=%llu\n",
              (unsigned long long)totals.seeds, (unsigned long long)totals.changes,
              (unsigned long long)totals.restarts, (unsigned long long)totals.divergences,
              (unsigned long long)totals.leaks);
  return totals.divergences || totals.leaks ? 1 : 0;
}
