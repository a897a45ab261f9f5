// corvane-bench: the state machines of the typical wiring under load, against a
// hand-written baseline (bench/baseline) where one exists. Every SM runs
// synchronously unless a case says otherwise, with every trace level off.
//
// The world: N Ethernet ports in N/8 LAGs of 8 members (so N + N/8 interfaces), 16
// system TCAMs, members 0-3 of a LAG on one TCAM and members 4-7 on the next, one
// plain port map per port, and a feature payload on every port and every LAG (the
// LAG's payload reaches its members through ConfigLagMemberExpSm).
//
// Cases (N is the argument):
//   BM_IntfTcamChange/N          one hardware TCAM change of a LAG member through
//                                IntfTcamSm -> ConfigExpSm (out to a third TCAM, then back)
//   BM_BaselineIntfTcamChange/N  the same change, kept by the baseline
//   BM_IntfTcamChangeSpread/N, BM_BaselineIntfTcamChangeSpread/N   the same, each change
//                                on another LAG, spread over the table (cold caches)
//   BM_IntfTcamChangeWiring/N    the same change through the whole wiring (hardware
//                                layer and status SMs included)
//   BM_PortMapChange/N           one port-map change of a LAG member through IntfPortMapSm
//                                -> ConfigPortMapExpSm and PortMapToIntfSm
//   BM_StatusChange/N            one per-TCAM status change through IntfPerTcamFeatureStatusSm
//                                -> IntfFeatureStatusSm -> IntfFeatureStatusOutputSm
//   BM_Startup/N, BM_StartupAsync/N   every SM of the wiring over filled inputs
//   BM_IntfTcamStartup/N, BM_BaselineIntfTcamStartup/N   start-up of the two maps alone
//   BM_Reconcile/N/P             ConfigExpSm restarted over an output with P% stale entries
//   BM_Memory/N, BM_BaselineMemory/N   bytes per output entry of the two maps
//
// Sizes: 1k, 10k and 100k ports; --corvane_max_ports=N drops the larger ones (for a
// quick run). Allocations are counted by the global operator new below.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/baseline/IntfTcamBaseline.h"
#include "corvane/Corvane.h"
#include "examples/feature/ExampleFeature.h"
#include "examples/wiring/TypicalWiring.h"

// ---- allocation counting ---------------------------------------------------------
//
// Every operator new of the process (the library's included: it is one program)
// goes through malloc here; the counters hold the usable size of every live block,
// which is what the allocator hands out, malloc's own 8-byte block header excepted.

// GCC sees malloc'd blocks reach std::free through the replaced operator delete and
// warns of a mismatch; here every operator new and delete are this pair, so it holds.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
struct HeapCounters {
  int64_t liveBytes = 0;
  uint64_t allocations = 0;
};
HeapCounters heap;

void* counted(std::size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) return nullptr;
  heap.liveBytes += int64_t(malloc_usable_size(p));
  ++heap.allocations;
  return p;
}
void release(void* p) noexcept {
  if (!p) return;
  heap.liveBytes -= int64_t(malloc_usable_size(p));
  std::free(p);
}
}  // namespace

void* operator new(std::size_t n) {
  if (void* p = counted(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = counted(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, std::nothrow_t const&) noexcept { return counted(n); }
void* operator new[](std::size_t n, std::nothrow_t const&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { release(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { release(p); }

namespace {

using namespace Corvane;
using CorvaneBench::IntfTcamBaseline;
using ExampleWiring::Wiring;

constexpr uint32_t lagSize = 8;
constexpr uint32_t tcamCount = 16;

IntfId port(uint32_t i) { return IntfId::ethernet(uint16_t(i / 64 + 1), uint16_t(i % 64 + 1)); }
IntfId lagIntf(uint32_t k) { return IntfId::portChannel(k + 1); }
uint32_t lagCount(uint32_t ports) { return ports / lagSize; }

// Port i's TCAM: members 0-3 of LAG k on TCAM 1 + 2k mod 16, members 4-7 on the next.
SystemTcamId tcamOf(uint32_t i) {
  uint32_t const k = i / lagSize;
  uint32_t const upper = (i % lagSize) >= lagSize / 2 ? 1 : 0;
  return SystemTcamId(uint16_t(1 + (2 * k + upper) % tcamCount));
}
// Where a moving port goes: a TCAM none of its LAG's members is on.
SystemTcamId movedTcamOf(uint32_t i) { return SystemTcamId(uint16_t(1 + (2 * (i / lagSize) + 2) % tcamCount)); }

// FAP ports 8-255 (0-7 are CPU TM ports); 248 ports per FAP, cores 0-3.
PortMap portMapOf(uint32_t i) {
  return PortMap(Hardware::Velt::FapId(i / 248), Hardware::Velt::FapPortId(8 + i % 248),
                 Hardware::Velt::LocalCoreId(i % 4));
}
// A port map no port uses, for port i to move to.
PortMap spareMapOf(uint32_t i) {
  return PortMap(Hardware::Velt::FapId(2000), Hardware::Velt::FapPortId(8 + i % 248),
                 Hardware::Velt::LocalCoreId(i % 4));
}

// The port that changes: member 0 of the LAG in the middle of the table, the same
// one every time, so a figure shows the work of a change and not the table's size.
// The spread cases instead take member 0 of a LAG chosen at step s by a stride
// through the table, so consecutive changes touch memory the caches do not hold.
bool spreadChanges = false;
uint32_t movingPort(uint64_t s, uint32_t ports) {
  uint64_t const lag = spreadChanges ? (s * 7919u) % lagCount(ports) : lagCount(ports) / 2;
  return uint32_t(lag) * lagSize;
}

// Heap allocations per iteration of the timed loop, from the counters above.
struct AllocationsPerIteration {
  benchmark::State& state;
  uint64_t start = heap.allocations;
  ~AllocationsPerIteration() {
    if (state.iterations() > 0) {
      state.counters["allocs_per_change"] = double(heap.allocations - start) / double(state.iterations());
    }
  }
};

SmControl syncControl() {
  SmControl c;
  c.synchronousIs(SmControl::synchronousOn);
  return c;
}

// The inputs the agent writes; returns the number of input entries written. The
// hardware LAG status and the port-map table are optional.
struct Inputs {
  Hardware::Velt::Status* veltStatus;
  Hardware::VeltLag::Status* veltLagStatus;
  Lag::Config* lagConfig;
  IntfIdToPortMap* portMaps;
  IntfFeatureConfig* featureConfig;
};
uint64_t fillInputs(Inputs const& in, uint32_t ports) {
  uint64_t entries = 0;
  std::vector<Ptr<Interface::EthLagIntfConfig const>> lags;
  for (uint32_t k = 0; k < lagCount(ports); ++k) {
    lags.emplace_back(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lagIntf(k)));
    in.featureConfig->configIs(lagIntf(k), Ptr<FeatureConfigBase>(new ExampleFeature::Config(1000 + k % 3000)));
    ++entries;
  }
  for (uint32_t i = 0; i < ports; ++i) {
    IntfId const p = port(i);
    uint32_t const k = i / lagSize;
    in.veltStatus->intfIdToSystemTcamIdIs(p, tcamOf(i));
    in.lagConfig->phyIntfIs(p)->lagIs(lags[k]);
    in.featureConfig->configIs(p, Ptr<FeatureConfigBase>(new ExampleFeature::Config(10 + i % 4000)));
    entries += 3;
    if (in.veltLagStatus) {
      in.veltLagStatus->lagHwConfigIs(lagIntf(k))->memberInfoIs(p, Hardware::Velt::LagHwMemberInfo(i % lagSize, true));
      ++entries;
    }
    if (in.portMaps) {
      in.portMaps->intfIdToPortMapIs(p, portMapOf(i));
      ++entries;
    }
  }
  return entries;
}

// IntfTcamSm and ConfigExpSm as the wiring creates them, without the hardware layer
// and the status SMs: the per-port configuration comes from ConfigLagMemberExpSm.
struct TcamWorld {
  uint32_t ports;
  Ptr<Hardware::Velt::Status> veltStatus = Hardware::Velt::Status::StatusIs("velt");
  Ptr<Lag::Config> lagConfig = Lag::Config::ConfigIs("lag");
  Ptr<IntfFeatureConfig> featureConfig = intfFeatureConfigFactory();
  Ptr<IntfFeatureConfig> memberConfig = intfFeatureConfigFactory();
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("intfToTcamSet");
  Ptr<IntfTcamFeatureConfig> tcamConfig = intfTcamFeatureConfigFactory();
  Ptr<ConfigLagMemberExpSm> memberSm;
  Ptr<IntfTcamSm> tcamSm;
  Ptr<ConfigExpSm> expSm;

  explicit TcamWorld(uint32_t n) : ports(n) {
    fillInputs({veltStatus.get(), nullptr, lagConfig.get(), nullptr, featureConfig.get()}, n);
    memberSm = configLagMemberExpSmFactory(featureConfig, memberConfig, lagConfig, syncControl());
  }
  void startSms() {
    tcamSm = intfTcamSmFactory(veltStatus, lagConfig, sets, syncControl());
    expSm = configExpSmFactory(sets, memberConfig, tcamConfig, syncControl());
  }
  // Input entries the two SMs read at start-up.
  uint64_t inputEntries() const {
    return veltStatus->intfIdToSystemTcamId().size() + lagConfig->phyIntf().size() + memberConfig->config().size();
  }
};

size_t tcamSetEntries(IntfToTcamSet const& sets) {
  size_t n = 0;
  for (auto const& [intf, set] : sets.intfToTcamSet()) n += set->tcamSet().size();
  return n;
}

// The expected steady state of the two maps: every port on its TCAM, every LAG on
// two, one payload per (member port, TCAM).
bool tcamMapsSteady(IntfToTcamSet const& sets, IntfTcamFeatureConfig const& config, uint32_t ports) {
  return sets.intfToTcamSet().size() == ports + lagCount(ports) &&
         tcamSetEntries(sets) == ports + 2 * lagCount(ports) && config.config().size() == ports;
}
bool baselineSteady(IntfTcamBaseline const& b, uint32_t ports) {
  return b.tcamEntries() == ports + 2 * lagCount(ports) && b.configEntries() == ports;
}

// One change of step s: odd steps move the port back.
void tcamStep(Hardware::Velt::Status& velt, uint64_t s, uint32_t ports) {
  uint32_t const i = movingPort(s / 2, ports);
  velt.intfIdToSystemTcamIdIs(port(i), (s & 1) ? tcamOf(i) : movedTcamOf(i));
}

// Runs the change loop; returns false when a check fails. `moved` tells whether the
// outputs show step 0's move.
template <class Moved, class Steady>
bool tcamChangeLoop(benchmark::State& state, Hardware::Velt::Status& velt, uint32_t ports, Moved moved,
                    Steady steady) {
  if (!steady()) {
    state.SkipWithError("outputs wrong before timing");
    return false;
  }
  tcamStep(velt, 0, ports);
  bool const sawMove = moved(movingPort(0, ports));
  tcamStep(velt, 1, ports);
  if (!sawMove || !steady()) {
    state.SkipWithError("a move did not reach the outputs");
    return false;
  }
  uint64_t s = 0;
  {
    AllocationsPerIteration allocs{state};
    for (auto _ : state) tcamStep(velt, s++, ports);
  }
  if (s & 1) tcamStep(velt, s++, ports);
  if (!steady()) {
    state.SkipWithError("outputs wrong after timing");
    return false;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
  return true;
}

void BM_IntfTcamChange(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  TcamWorld w(n);
  w.startSms();
  tcamChangeLoop(
      state, *w.veltStatus, n,
      [&](uint32_t i) {
        Ptr<TcamSet> lagSet = w.sets->intfToTcamSet(lagIntf(i / lagSize));
        return w.tcamConfig->configHas(IntfIdSystemTcamId(port(i), movedTcamOf(i))) &&
               !w.tcamConfig->configHas(IntfIdSystemTcamId(port(i), tcamOf(i))) && lagSet &&
               lagSet->tcamSet().size() == 3;
      },
      [&] { return tcamMapsSteady(*w.sets, *w.tcamConfig, n); });
}

void BM_IntfTcamChangeSpread(benchmark::State& state) {
  spreadChanges = true;
  BM_IntfTcamChange(state);
  spreadChanges = false;
}

void BM_BaselineIntfTcamChange(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  TcamWorld w(n);
  IntfTcamBaseline b(w.veltStatus, w.lagConfig, w.memberConfig);
  tcamChangeLoop(
      state, *w.veltStatus, n,
      [&](uint32_t i) {
        auto const* lagSet = b.tcams(lagIntf(i / lagSize));
        return b.config(IntfIdSystemTcamId(port(i), movedTcamOf(i))) &&
               !b.config(IntfIdSystemTcamId(port(i), tcamOf(i))) && lagSet && lagSet->size() == 3;
      },
      [&] { return baselineSteady(b, n); });
}

void BM_BaselineIntfTcamChangeSpread(benchmark::State& state) {
  spreadChanges = true;
  BM_BaselineIntfTcamChange(state);
  spreadChanges = false;
}

// The whole wiring, every SM running; the process scheduler (which runs the status
// output SM) is run to idle after every change.
struct FullWiring {
  Wiring w;
  uint64_t inputEntries;
  explicit FullWiring(uint32_t n, ExampleWiring::Options o = {})
      : w(std::move(o)),
        inputEntries(fillInputs({w.veltStatus.get(), w.veltLagStatus.get(), w.lagConfig.get(),
                                 w.intfIdToPortMap.get(), w.featureConfig.get()},
                                n)) {}
};

void BM_IntfTcamChangeWiring(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  FullWiring f(n);
  Wiring& w = f.w;
  w.startAll();
  w.runUntilIdle();
  if (!w.ready()) {
    state.SkipWithError("wiring not ready");
    return;
  }
  size_t const statuses = w.tcamStatus->status().size();
  uint64_t s = 0;
  {
    AllocationsPerIteration allocs{state};
    for (auto _ : state) {
      tcamStep(*w.veltStatus, s++, n);
      w.runUntilIdle();
    }
  }
  if (s & 1) tcamStep(*w.veltStatus, s, n);
  w.runUntilIdle();
  if (!tcamMapsSteady(*w.intfToTcamSet, *w.tcamConfig, n) || w.tcamStatus->status().size() != statuses) {
    state.SkipWithError("outputs wrong after timing");
    return;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_PortMapChange(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  FullWiring f(n);
  Wiring& w = f.w;
  w.startAll();
  w.runUntilIdle();
  size_t const entries = w.portMapConfig->config().size();
  auto step = [&](uint64_t s) {
    uint32_t const i = movingPort(s / 2, n);
    w.intfIdToPortMap->intfIdToPortMapIs(port(i), (s & 1) ? portMapOf(i) : spareMapOf(i));
  };
  step(0);
  uint32_t const i0 = movingPort(0, n);
  bool const moved = w.portMapToIntf->portMapToIntfHas(spareMapOf(i0)) &&
                     w.portMapToIntf->portMapToIntf(spareMapOf(i0)) == lagIntf(i0 / lagSize) &&
                     w.portMapConfig->configHas(IntfIdPortMap(port(i0), spareMapOf(i0)));
  step(1);
  if (!w.ready() || !moved || entries != n) {
    state.SkipWithError("port-map change did not reach the outputs");
    return;
  }
  uint64_t s = 0;
  {
    AllocationsPerIteration allocs{state};
    for (auto _ : state) step(s++);
  }
  if (s & 1) step(s);
  if (w.portMapConfig->config().size() != entries || w.portMapToIntf->portMapToIntf().size() != n) {
    state.SkipWithError("outputs wrong after timing");
    return;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

ExampleFeature::State featureState(Wiring const& w, IntfId i) {
  Ptr<FeatureStatusBase> s = w.featureStatus->status(i);
  return s ? static_cast<ExampleFeature::Status const&>(*s).state() : ExampleFeature::State::pending;
}

void BM_StatusChange(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  FullWiring f(n);
  Wiring& w = f.w;
  w.startAll();
  w.runUntilIdle();
  auto step = [&](uint64_t s) {
    uint32_t const i = movingPort(s / 2, n);
    w.hardware().failingIs(IntfIdSystemTcamId(port(i), tcamOf(i)), !(s & 1));
    w.runUntilIdle();
  };
  IntfId const p0 = port(movingPort(0, n));
  bool const okBefore = featureState(w, p0) == ExampleFeature::State::ok;
  step(0);
  bool const failed = featureState(w, p0) == ExampleFeature::State::failed;
  step(1);
  if (!w.ready() || !okBefore || !failed || featureState(w, p0) != ExampleFeature::State::ok) {
    state.SkipWithError("status change did not reach IntfFeatureStatus");
    return;
  }
  uint64_t s = 0;
  {
    AllocationsPerIteration allocs{state};
    for (auto _ : state) step(s++);
  }
  if (s & 1) step(s);
  if (!w.hardware().failingKeys().empty()) {
    state.SkipWithError("failing marks left after timing");
    return;
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}

// Start-up of every SM over filled inputs into empty outputs. Untimed: building and
// filling the inputs, and destroying everything afterwards.
void startup(benchmark::State& state, bool synchronous) {
  uint32_t const n = uint32_t(state.range(0));
  Ptr<TaskScheduler> scheduler = synchronous ? nullptr : TaskScheduler::TaskSchedulerIs();
  uint64_t entries = 0;
  bool ok = true;
  for (auto _ : state) {
    state.PauseTiming();
    ExampleWiring::Options o;
    o.synchronous = synchronous;
    o.scheduler = scheduler;
    auto f = std::make_unique<FullWiring>(n, o);
    entries = f->inputEntries;
    state.ResumeTiming();
    f->w.startAll();
    f->w.runUntilIdle();
    state.PauseTiming();
    ok = ok && f->w.ready() && tcamMapsSteady(*f->w.intfToTcamSet, *f->w.tcamConfig, n) &&
         f->w.featureStatus->status().size() == n;
    f.reset();
    state.ResumeTiming();
  }
  if (!ok) {
    state.SkipWithError("wiring not ready or outputs incomplete after start-up");
    return;
  }
  state.SetItemsProcessed(int64_t(state.iterations() * entries));
  state.counters["input_entries"] = double(entries);
  state.counters["input_entries_per_s"] =
      benchmark::Counter(double(state.iterations() * entries), benchmark::Counter::kIsRate);
}
void BM_Startup(benchmark::State& state) { startup(state, true); }
void BM_StartupAsync(benchmark::State& state) { startup(state, false); }

// Start-up of the two maps alone: IntfTcamSm and ConfigExpSm against the baseline's
// construction over the same inputs.
void BM_IntfTcamStartup(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  TcamWorld w(n);
  bool ok = true;
  for (auto _ : state) {
    w.startSms();
    state.PauseTiming();
    ok = ok && w.tcamSm->ready() && w.expSm->ready() && tcamMapsSteady(*w.sets, *w.tcamConfig, n);
    w.expSm = nullptr;
    w.tcamSm = nullptr;
    w.sets = intfToTcamSetFactory("intfToTcamSet");
    w.tcamConfig = intfTcamFeatureConfigFactory();
    state.ResumeTiming();
  }
  if (!ok) state.SkipWithError("outputs incomplete after start-up");
  state.counters["input_entries_per_s"] =
      benchmark::Counter(double(state.iterations() * w.inputEntries()), benchmark::Counter::kIsRate);
}

void BM_BaselineIntfTcamStartup(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  TcamWorld w(n);
  bool ok = true;
  for (auto _ : state) {
    auto b = std::make_unique<IntfTcamBaseline>(w.veltStatus, w.lagConfig, w.memberConfig);
    state.PauseTiming();
    ok = ok && baselineSteady(*b, n);
    b.reset();
    state.ResumeTiming();
  }
  if (!ok) state.SkipWithError("baseline incomplete after construction");
  state.counters["input_entries_per_s"] =
      benchmark::Counter(double(state.iterations() * w.inputEntries()), benchmark::Counter::kIsRate);
}

// ConfigExpSm restarted over its own output, as after an agent restart, where a
// share of the entries is stale (keys on a TCAM no interface is on, so the SM must
// delete them) and the rest is right. Timed: the factory until the SM is ready.
void BM_Reconcile(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  uint32_t const stalePercent = uint32_t(state.range(1));
  // Stale entries as a share of the whole output: s / (n + s) = p / 100.
  uint32_t const stale = uint32_t(uint64_t(n) * stalePercent / (100 - stalePercent));
  TcamWorld w(n);
  w.startSms();
  bool ok = tcamMapsSteady(*w.sets, *w.tcamConfig, n);
  for (auto _ : state) {
    state.PauseTiming();
    w.expSm = nullptr;
    for (uint32_t i = 0; i < stale; ++i) {
      IntfId const p = port(i % n);
      w.tcamConfig->configIs(IntfIdSystemTcamId(p, SystemTcamId(uint16_t(100 + i / n))), w.memberConfig->config(p));
    }
    ok = ok && w.tcamConfig->config().size() == n + stale;
    state.ResumeTiming();
    w.expSm = configExpSmFactory(w.sets, w.memberConfig, w.tcamConfig, syncControl());
    state.PauseTiming();
    ok = ok && w.expSm->ready() && tcamMapsSteady(*w.sets, *w.tcamConfig, n);
    state.ResumeTiming();
  }
  if (!ok) {
    state.SkipWithError("stale entries left or outputs wrong after reconciliation");
    return;
  }
  state.counters["stale_entries"] = double(stale);
  state.counters["output_entries_per_s"] =
      benchmark::Counter(double(state.iterations() * (n + stale)), benchmark::Counter::kIsRate);
}

// Bytes the two maps hold, per output entry (TCAM-set members plus per-TCAM
// payloads): the heap grown by starting the SMs over filled inputs, so the SMs'
// own state counts with their outputs. `sm_state` is what destroying the SMs frees.
void BM_Memory(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  TcamWorld w(n);
  int64_t held = 0, smState = 0, tcamSm = 0;
  size_t entries = 0;
  for (auto _ : state) {
    int64_t const before = heap.liveBytes;
    w.tcamSm = intfTcamSmFactory(w.veltStatus, w.lagConfig, w.sets, syncControl());
    tcamSm = heap.liveBytes - before;
    w.expSm = configExpSmFactory(w.sets, w.memberConfig, w.tcamConfig, syncControl());
    held = heap.liveBytes - before;
    entries = tcamSetEntries(*w.sets) + w.tcamConfig->config().size();
    int64_t const withSms = heap.liveBytes;
    w.expSm = nullptr;
    w.tcamSm = nullptr;
    smState = withSms - heap.liveBytes;
  }
  state.counters["bytes_per_output_entry"] = double(held) / double(entries);
  state.counters["sm_state_bytes_per_output_entry"] = double(smState) / double(entries);
  state.counters["output_entries"] = double(entries);
  state.counters["intf_tcam_sm_bytes_per_port"] = double(tcamSm) / double(n);
  state.counters["config_exp_sm_bytes_per_port"] = double(held - tcamSm) / double(n);
}

void BM_BaselineMemory(benchmark::State& state) {
  uint32_t const n = uint32_t(state.range(0));
  TcamWorld w(n);
  int64_t held = 0;
  size_t entries = 0;
  for (auto _ : state) {
    int64_t const before = heap.liveBytes;
    auto b = std::make_unique<IntfTcamBaseline>(w.veltStatus, w.lagConfig, w.memberConfig);
    held = heap.liveBytes - before;
    entries = b->tcamEntries() + b->configEntries();
  }
  state.counters["bytes_per_output_entry"] = double(held) / double(entries);
  state.counters["output_entries"] = double(entries);
}

// --corvane_max_ports=N: leave out the sizes above N.
uint32_t takeMaxPorts(int& argc, char** argv) {
  uint32_t maxPorts = 100000;
  static constexpr char flag[] = "--corvane_max_ports=";
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag, sizeof flag - 1) == 0) {
      maxPorts = uint32_t(std::strtoul(argv[i] + sizeof flag - 1, nullptr, 10));
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
  return maxPorts;
}

void registerAll(uint32_t maxPorts) {
  using benchmark::RegisterBenchmark;
  std::vector<int64_t> sizes;
  for (int64_t s : {1000, 10000, 100000}) {
    if (s <= maxPorts) sizes.push_back(s);
  }
  if (sizes.empty()) sizes.push_back(std::max<int64_t>(lagSize, maxPorts / lagSize * lagSize));
  int64_t const largest = sizes.back();
  auto perSize = [&](char const* name, void (*fn)(benchmark::State&), benchmark::TimeUnit unit) {
    auto* b = RegisterBenchmark(name, fn)->Unit(unit);
    for (int64_t s : sizes) b->Arg(s);
    return b;
  };
  perSize("BM_IntfTcamChange", BM_IntfTcamChange, benchmark::kNanosecond);
  perSize("BM_BaselineIntfTcamChange", BM_BaselineIntfTcamChange, benchmark::kNanosecond);
  perSize("BM_IntfTcamChangeSpread", BM_IntfTcamChangeSpread, benchmark::kNanosecond);
  perSize("BM_BaselineIntfTcamChangeSpread", BM_BaselineIntfTcamChangeSpread, benchmark::kNanosecond);
  perSize("BM_IntfTcamChangeWiring", BM_IntfTcamChangeWiring, benchmark::kNanosecond);
  perSize("BM_PortMapChange", BM_PortMapChange, benchmark::kNanosecond);
  perSize("BM_StatusChange", BM_StatusChange, benchmark::kNanosecond);
  using Fn = void (*)(benchmark::State&);
  std::pair<char const*, Fn> const startups[] = {{"BM_Startup", BM_Startup},
                                                 {"BM_StartupAsync", BM_StartupAsync},
                                                 {"BM_IntfTcamStartup", BM_IntfTcamStartup},
                                                 {"BM_BaselineIntfTcamStartup", BM_BaselineIntfTcamStartup}};
  for (auto [name, fn] : startups) {
    auto* b = RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond);
    for (int64_t s : sizes) {
      if (s >= 10000 || sizes.size() == 1) b->Arg(s);
    }
  }
  auto* r = RegisterBenchmark("BM_Reconcile", BM_Reconcile)->Unit(benchmark::kMillisecond);
  r->Args({largest, 0})->Args({largest, 10});
  RegisterBenchmark("BM_Memory", BM_Memory)->Arg(largest)->Iterations(1);
  RegisterBenchmark("BM_BaselineMemory", BM_BaselineMemory)->Arg(largest)->Iterations(1);
}

}  // namespace

int main(int argc, char** argv) {
  registerAll(takeMaxPorts(argc, argv));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
