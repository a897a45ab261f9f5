// corvane-agent over a private Redis, measured as a whole process:
//
//   restart     the simulator's scale scenario of N interfaces written into Redis;
//               a first life writes every output, then a restart to "reconciled",
//               split into reading Redis and the state machines' work, against
//               corvane-sim --scale N run in the same process tree
//   throughput  TCAM moves of LAG members (each rewrites several output keys),
//               sustained, against redis-benchmark -t set -P 16 on the same socket
//   latency     at idle, one port's TCAM move at a time: from the input key written
//               to its last output key written, as a keyspace subscriber sees it
//
//   corvane-agent-bench --agent PATH --sim PATH [--interfaces N] [--moves N] [--samples N]
//                       [--perf FILE] [--perf-moves FILE]
//
// --perf records the restart with `perf record -g` into FILE, --perf-moves the moves.
//
// Prints a Markdown table of the figures.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "corvane/store/RedisConnection.h"
#include "tests/support/RedisServer.h"

using namespace Corvane;
using Clock = std::chrono::steady_clock;

namespace {

struct Args {
  std::string agent, sim;
  uint32_t interfaces = 100000;
  uint32_t moves = 20000;
  uint32_t samples = 1000;
  std::string perf;       // the restart, recorded
  std::string perfMoves;  // the moves, recorded
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::string port(uint32_t i) { return "Ethernet" + std::to_string(1 + i / 1000) + "/" + std::to_string(1 + i % 1000); }

// The simulator's scale scenario (tools/sim/Scale.cpp), as Redis commands: half the
// interfaces in LAGs of 8, a wildcard port map in 50, a payload per LAG and per
// interface outside a LAG.
void populate(RedisConnection& c, uint32_t n) {
  uint32_t const lagged = (n / 2) / 8 * 8;
  uint32_t queued = 0;
  auto send = [&](std::vector<std::string> const& cmd) {
    c.command(cmd);
    if (++queued % 10000 == 0) c.drain(std::chrono::seconds(60));
  };
  for (uint32_t i = 0; i < n; ++i) {
    std::string const p = port(i);
    send({"SET", "VELT_STATUS:" + p, std::to_string(i % 16)});
    bool const wildcard = i % 50 == 49;
    send({"SET", "PORT_MAP:" + p,
          "PortMap(fap=" + std::to_string(wildcard ? 2046 : i % 16) + ", port=" + std::to_string(8 + i) +
              ", core=" + std::to_string(wildcard ? 4 : (i / 16) % 2) + ")"});
    if (i >= lagged) send({"HSET", "FEATURE_CONFIG:" + p, "vlan", std::to_string(i % 4096)});
  }
  for (uint32_t l = 0; l < lagged / 8; ++l) {
    std::string const lag = "Port-Channel" + std::to_string(l + 1);
    std::vector<std::string> members{"HSET", "VELT_LAG_STATUS:" + lag};
    for (uint32_t m = 0; m < 8; ++m) {
      std::string const p = port(l * 8 + m);
      members.push_back(p);
      members.push_back("LagHwMemberInfo(index=" + std::to_string(m) + ", active=true)");
      send({"HSET", "LAG_CONFIG:" + p, "lag", lag});
    }
    send(members);
    send({"HSET", "FEATURE_CONFIG:" + lag, "vlan", std::to_string(l % 4096)});
  }
  c.drain(std::chrono::seconds(60));
}

std::string hget(RedisConnection& c, std::string const& field) {
  std::string out;
  c.command({"HGET", "AGENT_STATUS", field}, [&](RedisReply const& r) { out = std::string(r.str()); });
  c.drain();
  return out;
}

pid_t spawn(std::vector<std::string> args, std::string const& log) {
  pid_t const pid = ::fork();
  if (pid == 0) {
    int const fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) ::dup2(fd, 2);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    std::_Exit(127);
  }
  return pid;
}

// Starts the agent and waits for "reconciled": the time it took.
Clock::duration startAgent(Args const& a, std::string const& address, std::string const& log, pid_t& pid,
                           RedisConnection& c, bool profiled = false) {
  auto const t0 = Clock::now();
  pid = spawn({a.agent, "--redis", address, "--max-faps", "16"}, log);
  pid_t perf = 0;
  if (profiled) perf = spawn({"/usr/bin/perf", "record", "-g", "-o", a.perf, "-p", std::to_string(pid)}, log + ".perf");
  while (!(hget(c, "pid") == std::to_string(pid) && hget(c, "state") == "reconciled")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (Clock::now() - t0 > std::chrono::minutes(5)) {
      std::fprintf(stderr, "the agent did not reconcile within 5 minutes; see %s\n", log.c_str());
      std::exit(1);
    }
  }
  auto const took = Clock::now() - t0;
  if (perf) {
    ::kill(perf, SIGINT);
    ::waitpid(perf, nullptr, 0);
  }
  return took;
}

void stopAgent(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

std::string run(std::string const& command) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

// CPU seconds a process has used (user + system).
double cpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  size_t const close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / double(::sysconf(_SC_CLK_TCK));
}

// A process's resident memory, in MiB.
double residentMiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024;
  }
  return 0;
}

// Commands Redis has served, from INFO commandstats, by command.
std::map<std::string, uint64_t> commandsServed(RedisConnection& c) {
  std::string info;
  c.command({"INFO", "commandstats"}, [&](RedisReply const& r) { info = std::string(r.str()); });
  c.drain();
  std::map<std::string, uint64_t> n;
  std::regex const calls(R"(cmdstat_([a-z|]+):calls=([0-9]+))");
  for (auto it = std::sregex_iterator(info.begin(), info.end(), calls); it != std::sregex_iterator(); ++it) {
    n[(*it)[1]] = std::stoull((*it)[2]);
  }
  return n;
}

double firstNumberAfter(std::string const& text, std::string const& label) {
  std::smatch m;
  if (std::regex_search(text, m, std::regex(label + R"(\s*([0-9.]+))"))) return std::stod(m[1]);
  return 0;
}

// Keyspace events of the output tables: how many came, and when the two output
// keys of the port being waited for were written. Nothing is kept per event, so
// the bench spends next to no CPU of the two cores the agent and Redis share.
struct Events {
  RedisConnection c;
  uint64_t count = 0;
  std::string wantA, wantB;  // the channels of the port waited for
  bool gotA = false, gotB = false;
  Clock::time_point atB{};
  Events(std::string const& address, std::vector<std::string> const& tables) : c(RedisAddress::parse(address)) {
    c.connect();
    c.subscriberModeIs([this](RedisReply const& r) {
      if (r.size() != 4 || r[0].str() != "pmessage") return;
      ++count;
      std::string_view const channel = r[2].str();
      if (channel == wantA) gotA = true;
      if (channel == wantB) {
        gotB = true;
        atB = Clock::now();
      }
    });
    std::vector<std::string> cmd{"PSUBSCRIBE"};
    for (auto const& t : tables) cmd.push_back("__keyspace@0__:" + t + ":*");
    c.command(cmd);
    pump(std::chrono::milliseconds(50));
    count = 0;
  }
  void pump(std::chrono::milliseconds d) {
    auto const end = Clock::now() + d;
    while (Clock::now() < end) {
      pollfd p{c.fd(), short(POLLIN | (c.wantsWrite() ? POLLOUT : 0)), 0};
      if (::poll(&p, 1, 1) > 0) {
        if (p.revents & POLLOUT) c.writable();
        if (p.revents & POLLIN) c.readable();
      }
    }
  }
  // From now on, waits for the output keys of `p`: its TCAM set and its per-TCAM status.
  void expect(std::string const& p) {
    wantA = "__keyspace@0__:INTF_TCAM_SET:" + p;
    wantB = "__keyspace@0__:PER_TCAM_STATUS:" + p;
    gotA = gotB = false;
  }
  // Waits until both have been written: the time of the second (the status).
  bool waitFor(Clock::time_point& at, std::chrono::milliseconds timeout) {
    auto const end = Clock::now() + timeout;
    while (!(gotA && gotB) && Clock::now() < end) {
      pollfd pf{c.fd(), POLLIN, 0};
      if (::poll(&pf, 1, 5) > 0) c.readable();
    }
    at = atB;
    return gotA && gotB;
  }
};

}  // namespace

int main(int argc, char** argv) {
  Args a;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string const k = argv[i], v = argv[i + 1];
    if (k == "--agent") a.agent = v;
    else if (k == "--sim") a.sim = v;
    else if (k == "--interfaces") a.interfaces = uint32_t(std::stoul(v));
    else if (k == "--moves") a.moves = uint32_t(std::stoul(v));
    else if (k == "--samples") a.samples = uint32_t(std::stoul(v));
    else if (k == "--perf") a.perf = v;
    else if (k == "--perf-moves") a.perfMoves = v;
  }
  if (a.agent.empty() || a.sim.empty()) {
    std::fprintf(stderr, "usage: corvane-agent-bench --agent PATH --sim PATH [--interfaces N] [--moves N] [--samples N]\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  CorvaneTest::RedisServer server({"--notify-keyspace-events", "Kg$shxe"});
  std::string const log = server.folder() + "/agent.log";
  RedisConnection c(RedisAddress::parse(server.address()));
  c.connect();

  auto const t0 = Clock::now();
  populate(c, a.interfaces);
  double const populateMs = ms(Clock::now() - t0);

  pid_t pid = 0;
  double const firstMs = ms(startAgent(a, server.address(), log, pid, c));
  stopAgent(pid);
  // Every write to an output table during the restart is an event here.
  Events quiet(server.address(), {"PORT_TO_LAG", "PORT_MAP_TO_INTF", "INTF_TCAM_SET", "INTF_PORT_MAP_SET",
                                  "MEMBER_CONFIG", "TCAM_CONFIG", "PORT_MAP_CONFIG", "TCAM_STATUS", "PER_TCAM_STATUS",
                                  "FEATURE_STATUS"});
  double const redisCpuBeforeRestart = cpuSeconds(server.pid());
  double const restartMs = ms(startAgent(a, server.address(), log, pid, c, !a.perf.empty()));
  double const restartRedisCpu = cpuSeconds(server.pid()) - redisCpuBeforeRestart;
  double const agentMiB = residentMiB(pid);
  quiet.pump(std::chrono::milliseconds(200));
  size_t const restartWrites = quiet.count;
  std::ifstream in(log);
  std::stringstream agentLog;
  agentLog << in.rdbuf();
  double const loadMs = firstNumberAfter(agentLog.str(), "tables loaded in");
  double const compared = firstNumberAfter(agentLog.str(), "output keys compared with Redis");
  std::string const simOut = run(a.sim + " --scale " + std::to_string(a.interfaces) + " 2>&1");
  double const simMs = firstNumberAfter(simOut, "start-up:") * 1000;

  // Throughput: members of LAGs move between TCAMs, then one port outside any LAG
  // moves last; when its output keys are written, every move before it is.
  uint32_t const lagged = (a.interfaces / 2) / 8 * 8;
  std::string const sentinel = port(a.interfaces - 1);
  Events events(server.address(), {"INTF_TCAM_SET", "PER_TCAM_STATUS"});
  events.expect(sentinel);
  std::map<std::string, uint64_t> served0 = commandsServed(c);
  double const agentCpu0 = cpuSeconds(pid), redisCpu0 = cpuSeconds(server.pid());
  pid_t perfMoves = 0;
  if (!a.perfMoves.empty()) {
    perfMoves = spawn({"/usr/bin/perf", "record", "-g", "-o", a.perfMoves, "-p", std::to_string(pid)}, log + ".perf");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  auto const m0 = Clock::now();
  for (uint32_t i = 0; i < a.moves; ++i) {
    c.command({"SET", "VELT_STATUS:" + port((i * 7919u) % lagged), std::to_string((i / 3 + 5) % 16)});
    if (i % 5000 == 4999) c.drain(std::chrono::seconds(60));
  }
  c.command({"SET", "VELT_STATUS:" + sentinel, "0"});
  c.drain(std::chrono::seconds(60));
  Clock::time_point done{};
  bool const throughputOk = events.waitFor(done, std::chrono::seconds(120));
  double const movesPerS = throughputOk ? a.moves / (ms(done - m0) / 1000) : 0;
  double const moveSeconds = ms(done - m0) / 1000;
  if (perfMoves) {
    ::kill(perfMoves, SIGINT);
    ::waitpid(perfMoves, nullptr, 0);
  }
  double const agentCpu = cpuSeconds(pid) - agentCpu0, redisCpu = cpuSeconds(server.pid()) - redisCpu0;
  // Less the bench's own commands: the moves, the last port's and the first INFO.
  std::map<std::string, uint64_t> served = commandsServed(c);
  served["set"] -= a.moves + 1;
  served["info"] -= 1;
  double servedPerMove = 0;
  std::string servedByCommand;
  for (auto& [name, calls] : served) {
    calls -= served0[name];
    servedPerMove += double(calls) / a.moves;
    if (calls > a.moves / 20) servedByCommand += fmt::format("{}{} {:.1f}", servedByCommand.empty() ? "" : ", ", name, double(calls) / a.moves);
  }
  std::string const bench =
      run("redis-benchmark -s " + server.socketPath() + " -t set -P 16 -n 200000 -q 2>&1");
  double const redisSetPerS = firstNumberAfter(bench, "SET:");

  // Latency at idle: one move at a time, from the write to the last output key.
  std::vector<double> lat;
  for (uint32_t i = 0; i < a.samples; ++i) {
    // Each port outside the LAGs once, to a TCAM other than its own.
    uint32_t const index = lagged + (i % (a.interfaces - lagged - 1));
    std::string const p = port(index);
    events.expect(p);
    auto const w0 = Clock::now();
    c.command({"SET", "VELT_STATUS:" + p, std::to_string((index % 16 + 1 + i / (a.interfaces - lagged - 1)) % 16)});
    c.drain();
    Clock::time_point at{};
    if (events.waitFor(at, std::chrono::seconds(5))) lat.push_back(ms(at - w0));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::sort(lat.begin(), lat.end());
  auto pct = [&](double q) { return lat.empty() ? 0.0 : lat[std::min(lat.size() - 1, size_t(q * double(lat.size())))]; };
  stopAgent(pid);

  std::printf("| figure | value |\n|---|---|\n");
  std::printf("| interfaces | %u (inputs written in %.0f ms) |\n", a.interfaces, populateMs);
  std::printf("| first start to reconciled (writes every output) | %.0f ms |\n", firstMs);
  std::printf("| restart to reconciled | %.0f ms |\n", restartMs);
  std::printf("| output keys written by the restart | %zu (of %.0f compared with Redis) |\n", restartWrites, compared);
  std::printf("| of which reading Redis (tables loaded) | %.0f ms (%.0f%%) |\n", loadMs, 100 * loadMs / restartMs);
  std::printf("| of which the state machines (the rest) | %.0f ms (%.0f%%) |\n", restartMs - loadMs,
              100 * (restartMs - loadMs) / restartMs);
  std::printf("| redis-server CPU during the restart | %.0f ms |\n", restartRedisCpu * 1000);
  std::printf("| the agent's resident memory, reconciled | %.0f MiB |\n", agentMiB);
  std::printf("| corvane-sim --scale %u start-up | %.0f ms |\n", a.interfaces, simMs);
  std::printf("| restart against the simulator | %.2fx |\n", simMs > 0 ? restartMs / simMs : 0.0);
  std::printf("| LAG member TCAM moves through the agent | %.0f /s |\n", movesPerS);
  std::printf("| Redis commands per move (the agent's) | %.1f (%s) |\n", servedPerMove, servedByCommand.c_str());
  std::printf("| CPU busy during the moves: agent / redis-server | %.0f%% / %.0f%% |\n",
              100 * agentCpu / moveSeconds, 100 * redisCpu / moveSeconds);
  std::printf("| redis-benchmark -t set -P 16 | %.0f /s |\n", redisSetPerS);
  std::printf("| moves against redis-benchmark | 1/%.1f |\n", movesPerS > 0 ? redisSetPerS / movesPerS : 0.0);
  std::printf("| latency at idle, p50 / p99 / max (%zu samples) | %.3f / %.3f / %.3f ms |\n", lat.size(), pct(0.5),
              pct(0.99), lat.empty() ? 0.0 : lat.back());
  return 0;
}
