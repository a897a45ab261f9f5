#include "tools/sim/Scale.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <utility>

#include <fmt/format.h>

namespace Sim {

using Clock = std::chrono::steady_clock;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

namespace {

IntfId port(uint32_t i) { return IntfId::ethernet(uint16_t(1 + i / 1000), uint16_t(1 + i % 1000)); }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Resident set size in bytes (0 where /proc is not there).
uint64_t residentBytes() {
  std::ifstream statm("/proc/self/statm");
  uint64_t size = 0, resident = 0;
  if (!(statm >> size >> resident)) return 0;
  return resident * uint64_t(sysconf(_SC_PAGESIZE));
}

std::string modeText(RunMode mode) {
  if (!mode.async) return "synchronous";
  if (mode.yieldEvery == 0) return "asynchronous (time-sliced)";
  return fmt::format("asynchronous (yield every {} items)", mode.yieldEvery);
}

}  // namespace

Scenario scaleScenario(uint32_t n) {
  Scenario s;
  s.name = fmt::format("scale-{}", n);
  s.maxFaps = 16;
  s.maxCores = 2;
  uint32_t const lagged = (n / 2) / 8 * 8;
  // Sized up front: the scenario stays for the whole run, in the resident figure.
  s.interfaces.reserve(n);
  s.features.reserve(n - lagged + lagged / 8);
  s.lags.reserve(lagged / 8);
  for (uint32_t i = 0; i < n; ++i) {
    InterfaceSpec spec;
    spec.id = port(i);
    spec.tcam = SystemTcamId(uint16_t(i % 16));
    bool wildcard = i % 50 == 49;
    spec.portMap = PortMap(FapId(wildcard ? FapId::wildcardA : i % 16), FapPortId(8 + i),
                           LocalCoreId(wildcard ? LocalCoreId::wildcardA : (i / 16) % 2));
    s.interfaces.push_back(spec);
    if (i >= lagged) s.features.push_back({spec.id, i % 4096});
  }
  for (uint32_t l = 0; l < lagged / 8; ++l) {
    LagSpec lag{IntfId::portChannel(l + 1), {}};
    for (uint32_t m = 0; m < 8; ++m) lag.members.push_back(port(l * 8 + m));
    s.features.push_back({lag.id, l % 4096});
    s.lags.push_back(std::move(lag));
  }
  return s;
}

int runScale(uint32_t n, RunMode mode, bool memory) {
  uint64_t const rss0 = residentBytes();
  // The simulator keeps the scenario; it is read back from there, not held twice.
  Simulator sim(scaleScenario(n), mode);
  Scenario const& s = sim.scenario();
  std::size_t wildcards = 0;
  for (auto const& i : s.interfaces) wildcards += i.portMap->fapId().isWildcard();
  std::printf("scale: %u interfaces, %zu LAGs of 8, %zu wildcard port maps, %zu payloads; %s SMs\n", n,
              s.lags.size(), wildcards, s.features.size(),
              modeText(mode).c_str());

  auto t0 = Clock::now();
  sim.writeInputs();
  auto& w = sim.wiring();
  std::size_t lagMembers = 0;
  for (auto const& [lag, config] : w.veltLagStatus->lagHwConfig()) lagMembers += config->memberInfo().size();
  std::size_t const inputs = w.veltStatus->intfIdToSystemTcamId().size() + w.intfIdToPortMap->intfIdToPortMap().size() +
                             w.lagConfig->phyIntf().size() + lagMembers + w.featureConfig->config().size();
  auto t1 = Clock::now();
  std::printf("inputs written: %zu entries in %.3f s\n", inputs, seconds(t1 - t0));
  std::fflush(stdout);

  auto lastProgress = Clock::now();
  bool printed = false;
  // On a terminal the progress line rewrites itself; elsewhere it is one line per report.
  char const* const restart = isatty(2) ? "\r" : "";
  char const* const end = isatty(2) ? "   " : "\n";
  sim.startUp([&](char const* what) {
    auto now = Clock::now();
    if (now - lastProgress < std::chrono::milliseconds(200)) return;
    lastProgress = now;
    // The library's own account of the start-up, summed over the SMs created so far.
    Corvane::StartupProgress const p = Corvane::startupProgress(sim.rootSms());
    std::fprintf(stderr, "%sstart-up %.1f s: %s; %s, %llu of %llu items (%.0f%%)%s", restart, seconds(now - t1), what,
                 Corvane::textForm(p.phase).c_str(), static_cast<unsigned long long>(p.done),
                 static_cast<unsigned long long>(p.known), p.known ? 100.0 * double(p.done) / double(p.known) : 0.0,
                 end);
    printed = true;
  });
  if (printed && isatty(2)) std::fprintf(stderr, "\n");
  auto t2 = Clock::now();
  if (!sim.ready()) {
    std::fprintf(stderr, "corvane-sim: an SM is not ready after start-up\n");
    return 1;
  }
  // Counted without building the text tables, whose memory would stay in the
  // resident figure below.
  std::size_t const outputs = sim.outputEntries();
  std::printf("start-up: %.3f s, %.0f input entries/s; %zu output entries\n", seconds(t2 - t1),
              double(inputs) / seconds(t2 - t1), outputs);

  // A LAG member moving TCAM and back: the road of one event through the whole wiring.
  std::vector<double> micros;
  uint32_t const changes = s.lags.empty() ? 0 : 1000;
  for (uint32_t c = 0; c < changes; ++c) {
    IntfId member = s.lags[c % s.lags.size()].members[c % 8];
    SystemTcamId t = *w.veltStatus->intfIdToSystemTcamId().find(member);
    for (SystemTcamId to : {SystemTcamId(uint16_t((t.value() + 1) % 16)), t}) {
      auto a = Clock::now();
      w.veltStatus->intfIdToSystemTcamIdIs(member, to);
      sim.settle();
      micros.push_back(seconds(Clock::now() - a) * 1e6);
    }
  }
  if (!micros.empty()) {
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros) sum += m;
    std::printf("change (a LAG member moves TCAM, through every SM): median %.1f us, mean %.1f us over %zu changes\n",
                micros[micros.size() / 2], sum / double(micros.size()), micros.size());
  }
  uint64_t const rss = residentBytes();
  if (rss > rss0) {
    std::printf("memory: %.1f MiB resident growth, %.0f bytes per output entry (inputs included)\n",
                double(rss - rss0) / (1024.0 * 1024.0), double(rss - rss0) / double(std::max<std::size_t>(outputs, 1)));
  }
  if (memory) printMemory(sim);
  return 0;
}

}  // namespace Sim
