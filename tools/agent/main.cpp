// corvane-agent: every state machine of the typical wiring (with the example
// feature), asynchronous, its inputs and outputs kept in Redis. It loads the
// outputs its previous life left, subscribes to and loads its inputs, creates the
// state machines (which reconcile those outputs) and from then on follows the
// inputs and writes its outputs behind. Its state is the hash <prefix>AGENT_STATUS:
// state (starting, reconciling, reconciled, failed), restarts, pid, errors, lastError.
// One log line per event on stderr; SIGTERM finishes the current flush and exits 0.
// An error out of a state machine or the store exits 3 with the state "failed"
// and nothing more flushed: the next life reconciles.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "corvane/Corvane.h"
#include "corvane/store/RedisStore.h"
#include "tools/agent/AgentTables.h"

using namespace Corvane;

namespace {

char const* const usage =
    "usage: corvane-agent [--redis unix:/path | tcp:host:port] [--db N] [--prefix P]\n"
    "                     [--user NAME --password-file FILE] [--max-faps N] [--max-cores N]\n"
    "                     [--stats] [--memory]\n"
    "  --redis          the Redis server (default unix:/run/redis/redis-server.sock)\n"
    "  --db             the database number (default 0)\n"
    "  --prefix         put before every key (default none)\n"
    "  --user           the ACL user to authenticate as\n"
    "  --password-file  a file whose first line is the password (never on the command line)\n"
    "  --max-faps       FAPs a wildcard FAP id stands for (default 4)\n"
    "  --max-cores      cores a wildcard core id stands for (default 2)\n"
    "  --stats          at exit, print what every state machine did\n"
    "  --memory         at exit, print the memory held by type and by state machine\n";

int gSignalPipe[2] = {-1, -1};

void onSignal(int) {
  char const c = 1;
  [[maybe_unused]] ssize_t const n = ::write(gSignalPipe[1], &c, 1);
}

void logLine(std::string const& line) {
  auto const now = std::chrono::system_clock::now();
  auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  std::fprintf(stderr, "%lld.%03lld corvane-agent: %s\n", static_cast<long long>(ms / 1000),
               static_cast<long long>(ms % 1000), line.c_str());
  std::fflush(stderr);
}

struct Args {
  std::string redis = "unix:/run/redis/redis-server.sock";
  uint32_t db = 0;
  std::string prefix;
  std::string user;
  std::string passwordFile;
  uint16_t maxFaps = 4;
  uint16_t maxCores = 2;
  bool stats = false;
  bool memory = false;
};

uint32_t number(std::string const& arg, std::string const& v, uint32_t max) {
  if (v.empty() || v.size() > 9 || v.find_first_not_of("0123456789") != std::string::npos || std::stoul(v) > max) {
    throw std::invalid_argument(arg + " takes a number up to " + std::to_string(max) + ", not '" + v + "'");
  }
  return uint32_t(std::stoul(v));
}

Args parseArgs(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    std::string const arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--redis") {
      a.redis = value();
    } else if (arg == "--db") {
      a.db = number(arg, value(), 65535);
    } else if (arg == "--max-faps") {
      a.maxFaps = uint16_t(number(arg, value(), 2046));
    } else if (arg == "--max-cores") {
      a.maxCores = uint16_t(number(arg, value(), 4));
    } else if (arg == "--prefix") {
      a.prefix = value();
    } else if (arg == "--user") {
      a.user = value();
    } else if (arg == "--password-file") {
      a.passwordFile = value();
    } else if (arg == "--stats") {
      a.stats = true;
    } else if (arg == "--memory") {
      a.memory = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      std::exit(0);
    } else {
      throw std::invalid_argument("unknown argument '" + arg + "'");
    }
  }
  return a;
}

std::string readPassword(std::string const& path) {
  std::ifstream in(path);
  if (!in) throw std::invalid_argument("cannot read the password file " + path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The agent's status hash, written on the store's command connection.
class Status {
 public:
  Status(RedisStore& store, std::string key) : store_(store), key_(std::move(key)) {}
  void startup() {
    store_.commands().command({"HINCRBY", key_, "restarts", "1"});
    store_.commands().command({"HSET", key_, "pid", std::to_string(::getpid()), "errors", "0", "lastError", ""});
    stateIs("starting");
  }
  void stateIs(std::string const& s) {
    if (s == state_) return;
    state_ = s;
    store_.commands().command({"HSET", key_, "state", s});
    logLine("state " + s);
  }
  void errorsIs(uint64_t n, std::string const& last) {
    if (n == errors_) return;
    errors_ = n;
    store_.commands().command({"HSET", key_, "errors", std::to_string(n), "lastError", last});
  }
  std::string const& state() const { return state_; }

 private:
  RedisStore& store_;
  std::string key_;
  std::string state_;
  uint64_t errors_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Args args;
  RedisStoreOptions options;
  try {
    args = parseArgs(argc, argv);
    options.address = RedisAddress::parse(args.redis);
    if (!args.passwordFile.empty()) options.password = readPassword(args.passwordFile);
  } catch (std::exception const& e) {
    std::fprintf(stderr, "corvane-agent: %s\n%s", e.what(), usage);
    return 2;
  }
  options.database = args.db;
  options.keyPrefix = args.prefix;
  options.user = args.user;
  options.log = logLine;

  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  ExampleWiring::Options wo;
  wo.synchronous = false;
  wo.scheduler = TaskScheduler::TaskSchedulerIs();
  wo.maxFaps = args.maxFaps;
  wo.maxCores = args.maxCores;
  ExampleWiring::Wiring wiring(wo);
  options.scheduler = wo.scheduler;
  RedisStore store(options);
  CorvaneAgent::bindWiring(store, wiring);
  Status status(store, args.prefix + "AGENT_STATUS");
  Ptr<TaskScheduler> process = TaskSchedulerRoot::findOrCreateScheduler();

  try {
    logLine(fmt::format("starting on {} db {} prefix '{}'", options.address.text(), options.database, options.keyPrefix));
    auto const t0 = std::chrono::steady_clock::now();
    store.start();
    status.startup();
    auto const t1 = std::chrono::steady_clock::now();
    logLine(fmt::format("tables loaded in {} ms", std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count()));
    wiring.startAll();
    status.stateIs("reconciling");
  } catch (std::exception const& e) {
    logLine(fmt::format("cannot start: {}", e.what()));
    return 1;
  }

  bool stop = false;
  // An exception out of a state machine or the store leaves tables half-changed:
  // the agent stops without flushing, and its next life (systemd restarts it)
  // reconciles what Redis holds.
  try {
    while (!stop) {
      // Tasks first, for at most a slice, so Redis is never left unread for long.
      auto const sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(10);
      while (std::chrono::steady_clock::now() < sliceEnd && (!wo.scheduler->idle() || !process->idle())) {
        wo.scheduler->runOne();
        process->runOne();
      }
      store.tick();
      if (status.state() != "reconciled" && wiring.ready() && store.flushed()) {
        status.stateIs("reconciled");
        logLine(fmt::format("output keys compared with Redis {}, written {}", store.counters().keysCompared,
                            store.counters().keysWritten));
      }
      status.errorsIs(store.counters().badEntries, store.lastError());

      std::vector<pollfd> fds;
      fds.push_back(pollfd{gSignalPipe[0], POLLIN, 0});
      store.pollFds(fds);
      int timeout = (!wo.scheduler->idle() || !process->idle()) ? 0 : store.pollTimeoutMs();
      if (status.state() != "reconciled" && timeout < 0) timeout = 10;
      int const n = ::poll(fds.data(), fds.size(), timeout);
      if (n <= 0) continue;
      if (fds[0].revents & POLLIN) {
        char buf[16];
        while (::read(gSignalPipe[0], buf, sizeof(buf)) > 0) {
        }
        stop = true;
      }
      store.pollEvents(fds);
    }
  } catch (std::exception const& e) {
    logLine(fmt::format("stopping after an error: {}", e.what()));
    try {
      status.errorsIs(store.counters().badEntries + 1, e.what());
      status.stateIs("failed");
      store.commands().drain(std::chrono::seconds(1));
    } catch (std::exception const&) {
      // Redis is gone too: the next life finds out.
    }
    return 3;
  }
  logLine("stopping: finishing the current flush");
  try {
    store.flushNow(std::chrono::seconds(5));
  } catch (std::exception const& e) {
    logLine(fmt::format("the last flush did not finish: {}", e.what()));
  }
  if (args.stats) {
    for (RootSm const* sm : wiring.reportedSms()) std::fprintf(stderr, "%s\n", textForm(sm->statistics()).c_str());
    std::fprintf(stderr, "%s", wiring.featureStatusSmSummary().c_str());
  }
  if (args.memory) {
    // Each state machine's own state beyond its inputs and outputs, then every pool.
    for (RootSm const* sm : wiring.reportedSms()) {
      std::fprintf(stderr, "%-48s %10llu bytes of engine state\n", sm->sourceName(),
                   static_cast<unsigned long long>(sm->engineMemory().total()));
    }
    std::fprintf(stderr, "%s", wiring.featureStatusSmSummary().c_str());
    for (SlabPool const* p = SlabPool::first(); p; p = p->next()) {
      if (p->objectsLive() != 0) {
        std::fprintf(stderr, "%-48s %10llu objects %10llu bytes\n", p->typeName(),
                     static_cast<unsigned long long>(p->objectsLive()), static_cast<unsigned long long>(p->bytesHeld()));
      }
    }
  }
  logLine("stopped");
  return 0;
}
