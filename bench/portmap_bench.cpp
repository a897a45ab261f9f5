// Port-map expansion in IntfPortMapSm and PortMapToIntfSm: what one port-map change
// costs when a wildcard expands to every FAP and core, what start-up costs over a
// table of wildcard port maps, and whether a plain change costs more in a larger
// table. Tracing stays off: no handler level is set. The figures feed
// docs/performance.md.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "corvane/Corvane.h"

namespace {

using namespace Corvane;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

PortMap pm(uint32_t fap, uint32_t port, uint32_t core) { return PortMap(FapId(fap), FapPortId(port), LocalCoreId(core)); }

// Distinct interfaces, 64 ports per card.
IntfId intf(uint32_t i) { return IntfId::ethernet(uint16_t(i / 64 + 1), uint16_t(i % 64 + 1)); }

// Minor page faults of the process so far. On the virtual machine of the figures a
// fault costs about 10 us, so a fault count explains much of a start-up's time.
int64_t pageFaults() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return int64_t(r.ru_minflt);
}

SmControl control(uint8_t synchronous, Ptr<TaskScheduler> scheduler = nullptr) {
  SmControl c;
  c.synchronousIs(synchronous);
  c.schedulerIs(std::move(scheduler));
  return c;
}

// The inputs both SMs read and the outputs they write.
struct World {
  Ptr<IntfIdToPortMap> table = IntfIdToPortMap::IntfIdToPortMapIs("intfIdToPortMap");
  Ptr<Lag::Config> lagConfig = Lag::Config::ConfigIs("lagConfig");
  Ptr<PortToLag> portToLag = PortToLag::PortToLagIs();
  Ptr<IntfToPortMapSet> sets = IntfToPortMapSet::IntfToPortMapSetIs("intfToPortMapSet");
  Ptr<PortMapToIntf> owners = PortMapToIntf::PortMapToIntfIs("portMapToIntf");
};

struct Sms {
  Ptr<IntfPortMapSm> toSet;
  Ptr<PortMapToIntfSm> toIntf;
};

Sms startSms(World const& w, uint16_t maxFaps, uint16_t maxCores, SmControl const& c) {
  return {intfPortMapSmFactory(w.table, w.lagConfig, maxFaps, maxCores, w.sets, c),
          portMapToIntfSmFactory(w.table, w.portToLag, maxFaps, maxCores, w.owners, c)};
}

// Whether both outputs hold exactly the `expect` expanded port maps of `i`, so a
// figure is never taken from SMs that silently did less work.
bool holds(World const& w, IntfId i, size_t expect) {
  Ptr<PortMapSet> set = w.sets->intfToPortMapSet(i);
  return set && set->portMapSet().size() == expect && w.owners->portMapToIntf().size() == expect;
}

// 1. The largest expansion: FAP 2046 and core 4 with maxFaps 2049 and maxCores 7
// stand for 2049 * 7 port maps. Each change moves the interface between FAP ports
// 100 and 101, so each SM retracts all of the old ones and asserts all of the new.
void BM_WildcardPortMapChange(benchmark::State& state) {
  constexpr uint16_t maxFaps = 2049, maxCores = 7;
  constexpr size_t expanded = size_t(maxFaps) * maxCores;
  World w;
  Sms sms = startSms(w, maxFaps, maxCores, control(SmControl::synchronousOn));
  IntfId const e = intf(0);
  PortMap const maps[2] = {pm(2046, 100, 4), pm(2046, 101, 4)};
  w.table->intfIdToPortMapIs(e, maps[0]);
  if (!holds(w, e, expanded)) {
    state.SkipWithError("wrong expansion before timing");
    return;
  }
  uint32_t n = 0;
  int64_t const faults = pageFaults();
  for (auto _ : state) w.table->intfIdToPortMapIs(e, maps[++n & 1]);
  double const faultsPerChange = double(pageFaults() - faults) / double(state.iterations());
  if (!holds(w, e, expanded) || !w.owners->portMapToIntfHas(pm(2048, 100 + (n & 1), 6))) {
    state.SkipWithError("wrong expansion after timing");
    return;
  }
  // Per change and per SM: every old expanded port map out, every new one in.
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(2 * expanded));
  state.counters["expanded_per_change"] = double(expanded);
  state.counters["page_faults"] = faultsPerChange;
}
BENCHMARK(BM_WildcardPortMapChange)->Unit(benchmark::kMicrosecond);

// 2. Start-up over a table that is already full, as after an agent restart: N
// interfaces, each on a wildcard FAP (2046), a fixed core 0..3 and its own FAP port,
// with a realistic chip of 8 FAPs and 4 cores (8 expanded port maps per entry).
// Timed: both factories until both SMs are ready. Untimed: destroying the SMs and
// their outputs, so every iteration starts from empty outputs. glibc hands the freed
// heap back to the kernel, so each start-up, like a real one, faults in fresh pages.
void wildcardStartup(benchmark::State& state, bool synchronous) {
  constexpr uint16_t maxFaps = 8, maxCores = 4;
  uint32_t const n = uint32_t(state.range(0));
  World w;
  // FAP ports from 8 up: 0..7 are CPU TM ports, owned only by CpuTm interfaces.
  for (uint32_t i = 0; i < n; ++i) w.table->intfIdToPortMapIs(intf(i), pm(2046, 8 + i, i % 4));
  Ptr<TaskScheduler> scheduler = synchronous ? nullptr : TaskScheduler::TaskSchedulerIs();
  SmControl const c = synchronous ? control(SmControl::synchronousOn) : control(SmControl::synchronousOff, scheduler);
  size_t const expect = size_t(n) * maxFaps;
  bool ok = true;
  int64_t faults = 0;
  for (auto _ : state) {
    int64_t const before = pageFaults();
    Sms sms = startSms(w, maxFaps, maxCores, c);
    if (scheduler) scheduler->runUntilIdle();
    faults += pageFaults() - before;
    state.PauseTiming();
    ok = ok && sms.toSet->ready() && sms.toIntf->ready() && w.sets->intfToPortMapSet().size() == n &&
         w.owners->portMapToIntf().size() == expect;
    sms = {};
    w.sets = IntfToPortMapSet::IntfToPortMapSetIs("intfToPortMapSet");
    w.owners = PortMapToIntf::PortMapToIntfIs("portMapToIntf");
    state.ResumeTiming();
  }
  if (!ok) {
    state.SkipWithError("SMs not ready or outputs incomplete");
    return;
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
  state.counters["expanded_per_sm"] = double(expect);
  state.counters["page_faults"] = double(faults) / double(state.iterations());
}
void BM_WildcardStartup(benchmark::State& state) { wildcardStartup(state, true); }
void BM_WildcardStartupAsync(benchmark::State& state) { wildcardStartup(state, false); }
BENCHMARK(BM_WildcardStartup)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WildcardStartupAsync)->Arg(2000)->Unit(benchmark::kMillisecond);

// 3. A plain change in tables of 1k and 10k interfaces, each on its own
// non-wildcard port map: one interface moves between two free port maps, one
// expanded port map out and one in per SM. The same interface every time, so its
// entries stay in cache: this isolates the work per change from memory latency.
void BM_PortMapChange(benchmark::State& state) {
  constexpr uint16_t maxFaps = 8, maxCores = 4;
  uint32_t const n = uint32_t(state.range(0));
  World w;
  // FAPs 0..49 (never 2046/2047), 200 ports each from port 16, cores 0..3.
  for (uint32_t i = 0; i < n; ++i) w.table->intfIdToPortMapIs(intf(i), pm(i / 200, 16 + i % 200, i % 4));
  Sms sms = startSms(w, maxFaps, maxCores, control(SmControl::synchronousOn));
  IntfId const e = intf(n / 2);
  PortMap const maps[2] = {pm(60, 300, 1), pm(61, 301, 2)};
  uint32_t k = 0;
  for (auto _ : state) w.table->intfIdToPortMapIs(e, maps[k++ & 1]);
  if (w.owners->portMapToIntf().size() != n || w.owners->portMapToIntf(maps[(k - 1) & 1]) != e ||
      !w.sets->intfToPortMapSet(e)->portMapSetHas(maps[(k - 1) & 1])) {
    state.SkipWithError("outputs wrong after timing");
    return;
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 2);
}
BENCHMARK(BM_PortMapChange)->Arg(1000)->Arg(10000)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
