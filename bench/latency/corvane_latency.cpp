// corvane-latency: how long one change stalls the agent, at several table sizes.
//
//   corvane-latency [--ports 10000,100000,1000000] [--changes 20000] [--runs 3]
//                   [--kinds tcam,lag,portmap,payload]
//   corvane-latency --ports N --kinds K --profile-change C
//
// For each size and kind of change, the whole typical wiring (every SM synchronous,
// the example hardware layer included) starts over filled inputs, then the same
// seeded sequence of changes is applied `runs` times, each run on a fresh wiring,
// and each change is timed from the agent's write until every SM and the process
// scheduler are idle again. Printed per size and kind: the median, p99 and p99.9 of
// the first run, and the deterministic worst case: for each change the minimum over
// the runs (which removes the machine's own preemptions, since those do not fall on
// the same change twice), then the maximum over the changes, with the index of that
// change, and the same worst leaving out the first `settle` changes after start-up
// (which run on cold caches). The changes:
//
//   tcam     a random port moves to a random one of 16 system TCAMs
//   lag      a random port leaves its LAG, or joins a random LAG when it has none
//   portmap  a random port takes a port map no other port has, or its own again
//   payload  a random port's payload is replaced by a new object
//
// Each kind keeps adding keys the tables have not held (new (port, TCAM) and (LAG,
// TCAM) pairs, new port maps), so the tables grow while the changes are timed.
//
// --profile-change C makes changes 0 .. C-1 of the first size and kind untimed, then
// change C alone inside profiledChange() (never inlined), for a profiler told to
// record that function only (callgrind's --toggle-collect), and prints that change's
// time and the page faults it took (the kernel supplying memory touched first).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "corvane/Corvane.h"
#include "examples/feature/ExampleFeature.h"
#include "examples/wiring/TypicalWiring.h"

namespace {

using namespace Corvane;
using ExampleWiring::Wiring;
using Clock = std::chrono::steady_clock;

constexpr uint32_t lagSize = 8;
constexpr uint16_t tcamCount = 16;
// The first changes after start-up find the caches cold; the last column leaves them out.
constexpr uint32_t settle = 10;

IntfId port(uint32_t i) { return IntfId::ethernet(uint16_t(i / 64 + 1), uint16_t(i % 64 + 1)); }
IntfId lagIntf(uint32_t k) { return IntfId::portChannel(k + 1); }
// A port map of its own for each of up to 1,984,000 ports: cores 0-3, FAP ports
// 8-255, then the next FAP.
PortMap portMapOf(uint32_t i) {
  return PortMap(Hardware::Velt::FapId(uint16_t(i / 992)), Hardware::Velt::FapPortId(8 + (i / 4) % 248),
                 Hardware::Velt::LocalCoreId(i % 4));
}

// The seeded draws of the changes, taken from the generator ahead of the timed
// change: mt19937 works out 624 draws at once, every 624th draw, and that work (a few
// microseconds) is the program's, not the change's. The values come in the same order
// as straight from the generator.
class Draws {
 public:
  explicit Draws(uint32_t seed) : rng_(seed) {}
  // Called outside the timing: enough values for the largest change (four draws).
  void topUp() {
    if (buf_.size() - at_ >= 4) return;
    buf_.erase(buf_.begin(), buf_.begin() + long(at_));
    at_ = 0;
    while (buf_.size() < 624) buf_.push_back(uint32_t(rng_()));
  }
  uint32_t operator()() { return buf_.at(at_++); }

 private:
  std::mt19937 rng_;
  std::vector<uint32_t> buf_;
  size_t at_ = 0;
};

// n ports in LAGs of 8, each with a TCAM, a port map and a payload; each LAG a payload.
struct World {
  Wiring w;
  std::vector<Ptr<Interface::EthLagIntfConfig const>> lags;
  uint32_t ports;
  explicit World(uint32_t n) : w(options()), ports(n) {
    for (uint32_t k = 0; k < n / lagSize; ++k) {
      lags.emplace_back(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lagIntf(k)));
      w.featureConfig->configIs(lagIntf(k), Ptr<FeatureConfigBase>(new ExampleFeature::Config(1000 + k % 3000)));
    }
    for (uint32_t i = 0; i < n; ++i) {
      IntfId const p = port(i);
      w.veltStatus->intfIdToSystemTcamIdIs(p, SystemTcamId(uint16_t(1 + (i / 4) % tcamCount)));
      w.lagConfig->phyIntfIs(p)->lagIs(lags[i / lagSize]);
      w.veltLagStatus->lagHwConfigIs(lagIntf(i / lagSize))->memberInfoIs(p, Hardware::Velt::LagHwMemberInfo(i % 8, true));
      w.intfIdToPortMap->intfIdToPortMapIs(p, portMapOf(i));
      w.featureConfig->configIs(p, Ptr<FeatureConfigBase>(new ExampleFeature::Config(10 + i % 4000)));
    }
    w.startAll();
    w.runUntilIdle();
  }
  static ExampleWiring::Options options() {
    ExampleWiring::Options o;
    o.synchronous = true;
    return o;
  }

  void change(std::string const& kind, Draws& rng) {
    uint32_t const i = rng() % ports;
    IntfId const p = port(i);
    if (kind == "tcam") {
      w.veltStatus->intfIdToSystemTcamIdIs(p, SystemTcamId(uint16_t(1 + rng() % tcamCount)));
    } else if (kind == "lag") {
      auto e = w.lagConfig->phyIntfIs(p);
      if (e->lag()) {
        e->lagIs(nullptr);
      } else {
        e->lagIs(lags[rng() % lags.size()]);
      }
    } else if (kind == "portmap") {
      bool const own = w.intfIdToPortMap->intfIdToPortMap(p) != portMapOf(i);
      w.intfIdToPortMap->intfIdToPortMapIs(p, own ? portMapOf(i)
                                                  : PortMap(Hardware::Velt::FapId(1000 + rng() % 1000),
                                                            Hardware::Velt::FapPortId(8 + rng() % 248),
                                                            Hardware::Velt::LocalCoreId(rng() % 4)));
    } else {
      w.featureConfig->configIs(p, Ptr<FeatureConfigBase>(new ExampleFeature::Config(rng() % 100000)));
    }
    w.runUntilIdle();
  }
};

[[gnu::noinline]] void profiledChange(World& world, std::string const& kind, Draws& rng) {
  world.change(kind, rng);
}

double percentile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(q * double(v.size())))];
}

std::vector<std::string> split(std::string const& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, ',');) out.push_back(part);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> sizes = {"10000", "100000", "1000000"}, kinds = {"tcam", "lag", "portmap", "payload"};
  uint32_t changes = 20000, runs = 3;
  long profile = -1;
  for (int a = 1; a + 1 < argc; a += 2) {
    std::string const opt = argv[a], val = argv[a + 1];
    if (opt == "--ports") {
      sizes = split(val);
    } else if (opt == "--changes") {
      changes = uint32_t(std::stoul(val));
    } else if (opt == "--runs") {
      runs = uint32_t(std::stoul(val));
    } else if (opt == "--kinds") {
      kinds = split(val);
    } else if (opt == "--profile-change") {
      profile = long(std::stoul(val));
    } else {
      std::fprintf(stderr, "unknown option %s\n", opt.c_str());
      return 2;
    }
  }
  if (changes == 0 || runs == 0) {
    std::fprintf(stderr, "--changes and --runs must be at least 1\n");
    return 2;
  }
  if (profile >= 0) {
    World world(uint32_t(std::stoul(sizes.front())));
    Draws rng(12345);
    for (long c = 0; c < profile; ++c) {
      rng.topUp();
      world.change(kinds.front(), rng);
    }
    rng.topUp();
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    auto const t0 = Clock::now();
    profiledChange(world, kinds.front(), rng);
    double const us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    getrusage(RUSAGE_SELF, &after);
    std::printf("change %ld: %.1f µs, %ld page faults\n", profile, us, after.ru_minflt - before.ru_minflt);
    return 0;
  }
  std::printf(
      "| change | ports | median | p99 | p99.9 | worst (min of %u runs) | at change | worst / median | worst from "
      "change %u on |\n",
      runs, settle);
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (std::string const& size : sizes) {
    uint32_t const n = uint32_t(std::stoul(size));
    for (std::string const& kind : kinds) {
      std::vector<double> first, best(changes, 1e300);
      for (uint32_t r = 0; r < runs; ++r) {
        auto world = std::make_unique<World>(n);
        Draws rng(12345);
        for (uint32_t c = 0; c < changes; ++c) {
          rng.topUp();
          auto const t0 = Clock::now();
          world->change(kind, rng);
          double const us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
          if (r == 0) first.push_back(us);
          best[c] = std::min(best[c], us);
        }
      }
      auto const worst = std::max_element(best.begin(), best.end());
      auto const settled = std::max_element(best.begin() + std::min<size_t>(settle, best.size()), best.end());
      double const median = percentile(best, 0.5);
      std::printf("| %s | %u | %.1f µs | %.1f µs | %.1f µs | %.1f µs | %zu | %.1f× | %.1f µs |\n", kind.c_str(), n,
                  percentile(first, 0.5), percentile(first, 0.99), percentile(first, 0.999), *worst,
                  size_t(worst - best.begin()), *worst / median, settled == best.end() ? 0.0 : *settled);
      std::fflush(stdout);
    }
  }
  return 0;
}
