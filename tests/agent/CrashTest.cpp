// The agent killed at random moments: a driver writes random input changes into a
// private Redis while it kills corvane-agent with SIGKILL (during its start-up
// scans, its reconciliation, its flushes) and starts it again. At the end it waits
// for "reconciled" and compares every output table in Redis with the reference
// function of the inputs in Redis. Then a restart with no input change must write
// no output key (counted from the keyspace events of the output tables).
//
//   corvane-crash-test --agent PATH [--seed N] [--kills N] [--changes N] [--max-seconds N]
//                      [--order-dependent 1]
//
// --order-dependent adds the inputs whose topology outputs depend on the order of
// events (port maps whose expansions meet, LAG ids with a TCAM or port map of their
// own); every key of those outputs must then have a source in the inputs, and the
// outputs computed from them must match. A quiet restart may then choose another
// owner among a port map's sources (it reads the inputs in Redis's order): its
// writes are counted, not refused.
// Prints "kills=K changes=C crashes=X divergences=D quiet-writes=Q" and exits 1
// when any of the last three is not 0 (quiet-writes aside with --order-dependent),
// or fewer kills or changes were made.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "corvane/store/RedisStore.h"
#include "tests/support/RedisServer.h"
#include "tests/support/WiringReference.h"
#include "tools/agent/AgentTables.h"

using namespace Corvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Args {
  std::string agent;
  uint32_t seed = 1;
  uint32_t kills = 50;
  uint32_t changes = 20000;
  uint32_t maxSeconds = 240;
  bool orderDependent = false;
};

// The driver's random input changes. By default no two port maps' expansions meet
// and no LAG id has a TCAM or port map of its own, so the reference is exact; with
// `orderDependent` both happen (a port map now and then takes another port's FAP
// port, a LAG id now and then gets a TCAM or a port map), and the topology outputs
// depend on the order of events: the check then bounds them by their sources.
class Driver {
 public:
  Driver(RedisConnection& c, uint32_t seed, bool orderDependent) : c_(c), rng_(seed), orderDependent_(orderDependent) {}

  void change() {
    uint32_t const kind = pick(10);
    std::string const lag = "Port-Channel" + std::to_string(1 + pick(lags));
    // The TCAM and port-map tables' keys: now and then a LAG id when order matters.
    std::string const port = orderDependent_ && pick(6) == 0 ? lag : "Ethernet" + std::to_string(1 + pick(ports));
    bool const del = pick(4) == 0;
    if (kind < 3) {
      send(del ? std::vector<std::string>{"DEL", "VELT_STATUS:" + port}
               : std::vector<std::string>{"SET", "VELT_STATUS:" + port, std::to_string(pick(5))});
    } else if (kind < 5) {
      uint32_t const member = 1 + pick(ports);
      if (pick(8) == 0) {
        send({"DEL", "VELT_LAG_STATUS:" + lag});
      } else if (del) {
        send({"HDEL", "VELT_LAG_STATUS:" + lag, "Ethernet" + std::to_string(member)});
      } else {
        send({"HSET", "VELT_LAG_STATUS:" + lag, "Ethernet" + std::to_string(member),
              "LagHwMemberInfo(index=" + std::to_string(member) + ", active=true)"});
      }
    } else if (kind < 7) {
      std::string const member = "Ethernet" + std::to_string(1 + pick(ports));
      send(del ? std::vector<std::string>{"DEL", "LAG_CONFIG:" + member}
               : std::vector<std::string>{"HSET", "LAG_CONFIG:" + member, "lag", lag});
    } else if (kind < 8) {
      uint32_t const p = 1 + pick(ports);
      // Each port its own FAP port, unless order matters: then now and then one of
      // a few shared ones, so a wildcard's expansion meets a concrete port map's.
      uint32_t const fapPort = orderDependent_ && pick(3) == 0 ? 20 + pick(3) : 20 + p;
      std::string const fap = pick(3) == 0 ? "2046" : std::to_string(pick(4));
      std::string const core = pick(3) == 0 ? "4" : std::to_string(pick(2));
      std::string const key = "PORT_MAP:" + (port.starts_with("Port-Channel") ? port : "Ethernet" + std::to_string(p));
      send(del ? std::vector<std::string>{"DEL", key}
               : std::vector<std::string>{"SET", key,
                                          "PortMap(fap=" + fap + ", port=" + std::to_string(fapPort) + ", core=" + core + ")"});
    } else {
      std::string const intf = pick(3) == 0 ? lag : "Ethernet" + std::to_string(1 + pick(ports));
      send(del ? std::vector<std::string>{"DEL", "FEATURE_CONFIG:" + intf}
               : std::vector<std::string>{"HSET", "FEATURE_CONFIG:" + intf, "vlan", std::to_string(1 + pick(20))});
    }
    ++made_;
  }
  uint64_t made() const { return made_; }
  uint32_t pick(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }

 private:
  // Enough entries that a start-up takes a few task runs, few enough that changes
  // meet on the same keys.
  static constexpr uint32_t ports = 48, lags = 6;
  void send(std::vector<std::string> const& args) { c_.command(args); }
  RedisConnection& c_;
  std::mt19937 rng_;
  bool orderDependent_;
  uint64_t made_ = 0;
};

pid_t spawnAgent(std::string const& agent, std::string const& address, std::string const& log) {
  pid_t const pid = ::fork();
  if (pid == 0) {
    int const fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) ::dup2(fd, 2);
    ::execl(agent.c_str(), agent.c_str(), "--redis", address.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  return pid;
}

std::string hget(RedisConnection& c, std::string const& key, std::string const& field) {
  std::string out;
  c.command({"HGET", key, field}, [&](RedisReply const& r) { out = std::string(r.str()); });
  c.drain();
  return out;
}

// Waits until the agent `pid` says "reconciled" (false after a timeout).
bool waitReconciled(RedisConnection& c, pid_t pid, std::chrono::seconds timeout) {
  auto const end = Clock::now() + timeout;
  while (Clock::now() < end) {
    if (hget(c, "AGENT_STATUS", "pid") == std::to_string(pid) && hget(c, "AGENT_STATUS", "state") == "reconciled") {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

// Loads what Redis holds into a wiring with no state machines and compares its
// outputs with the reference function of its inputs. Nothing is written back.
bool outputsMatchReference(std::string const& address, bool orderDependent, size_t& outputs) {
  ExampleWiring::Wiring w;
  RedisStoreOptions o;
  o.address = RedisAddress::parse(address);
  o.scheduler = TaskScheduler::TaskSchedulerIs();  // never run: the checker writes nothing
  RedisStore store(o);
  CorvaneAgent::bindWiring(store, w);
  store.start();
  CorvaneTest::Reference const got = CorvaneTest::actual(w);
  outputs = got.portToLag.size() + got.intfToTcamSet.size() + got.intfToPortMapSet.size() + got.portMapToIntf.size() +
            got.memberConfig.size() + got.tcamConfig.size() + got.portMapConfig.size() + got.perTcamStatus.size() +
            got.featureStatus.size();
  CorvaneTest::Reference const bound = CorvaneTest::reference(w);
  bool ok = orderDependent
                ? CorvaneTest::topologyWithinBounds(w, bound, got) && CorvaneTest::outputsSame(CorvaneTest::reference(w, &got), got)
                : CorvaneTest::outputsSame(bound, got);
  // The hardware layer reports a status for each programmed entry and no other.
  for (auto const& [k, v] : w.tcamConfig->config()) {
    if (!w.tcamStatus->statusHas(k)) {
      std::fprintf(stderr, "    TCAM_STATUS: no status for %s\n", CorvaneTest::text(k).c_str());
      ok = false;
    }
  }
  for (auto const& [k, v] : w.tcamStatus->status()) {
    if (!w.tcamConfig->configHas(k)) {
      std::fprintf(stderr, "    TCAM_STATUS: a status for %s, which is not programmed\n", CorvaneTest::text(k).c_str());
      ok = false;
    }
  }
  if (store.counters().badEntries != 0) {
    std::fprintf(stderr, "    %llu entries in Redis do not read back: %s\n",
                 static_cast<unsigned long long>(store.counters().badEntries), store.lastError().c_str());
    ok = false;
  }
  return ok;
}

Args parse(int argc, char** argv) {
  Args a;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string const k = argv[i];
    std::string const v = argv[i + 1];
    if (k == "--agent") {
      a.agent = v;
    } else if (k == "--seed") {
      a.seed = uint32_t(std::stoul(v));
    } else if (k == "--kills") {
      a.kills = uint32_t(std::stoul(v));
    } else if (k == "--changes") {
      a.changes = uint32_t(std::stoul(v));
    } else if (k == "--max-seconds") {
      a.maxSeconds = uint32_t(std::stoul(v));
    } else if (k == "--order-dependent") {
      a.orderDependent = v != "0";
    } else {
      std::fprintf(stderr, "corvane-crash-test: unknown argument %s\n", k.c_str());
      std::exit(2);
    }
  }
  if (a.agent.empty()) {
    std::fprintf(stderr,
                 "usage: corvane-crash-test --agent PATH [--seed N] [--kills N] [--changes N] [--max-seconds N] "
                 "[--order-dependent 1]\n");
    std::exit(2);
  }
  return a;
}

}  // namespace

int main(int argc, char** argv) {
  Args const args = parse(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  CorvaneTest::RedisServer server({"--notify-keyspace-events", "Kg$shxe"});
  std::string const log = server.folder() + "/agent.log";
  RedisConnection cli(RedisAddress::parse(server.address()));
  cli.connect();
  Driver driver(cli, args.seed, args.orderDependent);
  auto const deadline = Clock::now() + std::chrono::seconds(args.maxSeconds);

  uint32_t kills = 0, crashes = 0;
  // The state each killed agent had reached (its pid in the status hash or not).
  std::map<std::string, uint32_t> killedIn;
  uint64_t restarts = 0;
  uint32_t const perLife = args.changes / (args.kills + 1) + 1;
  while ((kills < args.kills || driver.made() < args.changes) && Clock::now() < deadline) {
    pid_t const pid = spawnAgent(args.agent, server.address(), log);
    ++restarts;
    // Changes while it starts and runs, the kill at a random moment: inside its
    // loading of Redis, its reconciliation, or its steady state.
    uint32_t const range = driver.pick(3);
    uint32_t const lifeMs = range == 0 ? driver.pick(12) : range == 1 ? 12 + driver.pick(20) : 30 + driver.pick(150);
    auto const killAt = Clock::now() + std::chrono::milliseconds(lifeMs);
    uint32_t sent = 0;
    while (Clock::now() < killAt) {
      for (uint32_t i = 0; i < 8 && sent < perLife; ++i, ++sent) driver.change();
      cli.drain();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      ++crashes;
      std::fprintf(stderr, "the agent ended on its own (status %d) in life %llu; see %s\n", status,
                   static_cast<unsigned long long>(restarts), log.c_str());
    } else {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ++kills;
      bool const reported = hget(cli, "AGENT_STATUS", "pid") == std::to_string(pid);
      ++killedIn[reported ? hget(cli, "AGENT_STATUS", "state") : "loading"];
    }
    // More changes while no agent runs.
    for (; sent < perLife; ++sent) driver.change();
    cli.drain();
  }

  // The last life: it must reach "reconciled" and its outputs must match.
  pid_t pid = spawnAgent(args.agent, server.address(), log);
  ++restarts;
  uint32_t divergences = 0;
  size_t outputs = 0;
  if (!waitReconciled(cli, pid, std::chrono::seconds(60))) {
    std::fprintf(stderr, "the agent did not reconcile within 60 s; see %s\n", log.c_str());
    ++divergences;
  } else if (!outputsMatchReference(server.address(), args.orderDependent, outputs)) {
    ++divergences;
  }

  // A restart with no input change writes no output key.
  RedisConnection events(RedisAddress::parse(server.address()));
  events.connect();
  uint64_t quietWrites = 0;
  events.subscriberModeIs([&](RedisReply const& r) {
    if (r.size() == 4 && r[0].str() == "pmessage") {
      ++quietWrites;
      std::fprintf(stderr, "    written on a quiet restart: %s %s\n", std::string(r[2].str()).c_str(),
                   std::string(r[3].str()).c_str());
    }
  });
  std::vector<std::string> subscribe{"PSUBSCRIBE"};
  for (auto const& name : {"PORT_TO_LAG", "PORT_MAP_TO_INTF", "INTF_TCAM_SET", "INTF_PORT_MAP_SET", "MEMBER_CONFIG",
                           "TCAM_CONFIG", "PORT_MAP_CONFIG", "TCAM_STATUS", "PER_TCAM_STATUS", "FEATURE_STATUS"}) {
    subscribe.push_back(std::string("__keyspace@0__:") + name + ":*");
  }
  events.command(subscribe);
  events.drain();
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "the agent did not exit 0 on SIGTERM (status %d)\n", status);
    ++crashes;
  }
  pid = spawnAgent(args.agent, server.address(), log);
  ++restarts;
  if (!waitReconciled(cli, pid, std::chrono::seconds(60))) ++divergences;
  // Events already sent arrive within a moment; read them.
  auto const until = Clock::now() + std::chrono::milliseconds(200);
  while (Clock::now() < until) {
    pollfd p{events.fd(), POLLIN, 0};
    if (::poll(&p, 1, 20) > 0 && !events.readable()) break;
  }
  ::kill(pid, SIGTERM);
  ::waitpid(pid, &status, 0);

  std::printf("kills by state:");
  for (auto const& [state, n] : killedIn) std::printf(" %s %u", state.c_str(), n);
  std::printf("; output entries at the end: %zu\n", outputs);
  std::printf("kills=%u changes=%llu crashes=%u divergences=%u quiet-writes=%llu\n", kills,
              static_cast<unsigned long long>(driver.made()), crashes, divergences,
              static_cast<unsigned long long>(quietWrites));
  bool const ok = crashes == 0 && divergences == 0 && (quietWrites == 0 || args.orderDependent) && kills >= args.kills &&
                  driver.made() >= args.changes;
  return ok ? 0 : 1;
}
