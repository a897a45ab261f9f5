// The store against a private redis-server: input tables loaded and followed,
// output tables loaded as stale outputs and written behind (coalesced, only real
// differences), bad entries counted as absent, and a server that goes away and
// comes back empty.
#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "corvane/Corvane.h"
#include "corvane/store/RedisStore.h"
#include "tests/support/RedisServer.h"
#include "tools/agent/AgentTables.h"

using namespace Corvane;
using CorvaneTest::RedisServer;

namespace {

// Runs the poll loop of an agent: Redis, then every task, until `done` or a timeout.
bool pump(RedisStore& store, std::function<bool()> const& done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  auto const deadline = std::chrono::steady_clock::now() + timeout;
  Ptr<TaskScheduler> process = TaskSchedulerRoot::findOrCreateScheduler();
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::vector<pollfd> fds;
    store.pollFds(fds);
    if (::poll(fds.data(), fds.size(), 5) > 0) store.pollEvents(fds);
    process->runUntilIdle();
    store.tick();
  }
  return true;
}

// A second client, as redis-cli would be.
struct Cli {
  RedisConnection c;
  explicit Cli(RedisServer const& s) : c(RedisAddress::parse(s.address())) { c.connect(); }
  void run(std::vector<std::string> const& args) {
    c.command(args);
    c.drain();
  }
  std::string get(std::string const& key) {
    std::string out = "(nil)";
    c.command({"TYPE", key}, [&](RedisReply const& r) { out = std::string(r.str()); });
    c.drain();
    if (out == "string") c.command({"GET", key}, [&](RedisReply const& r) { out = std::string(r.str()); });
    if (out == "set") c.command({"SMEMBERS", key}, [&](RedisReply const& r) { out = RedisValue::ofMembers([&] {
                                                                                    std::vector<std::string> m;
                                                                                    for (size_t i = 0; i < r.size(); ++i) m.emplace_back(r[i].str());
                                                                                    return m;
                                                                                  }()).text(); });
    if (out == "hash") c.command({"HGETALL", key}, [&](RedisReply const& r) { out = r.text(); });
    c.drain();
    return out;
  }
};

RedisStoreOptions options(RedisServer const& s, std::vector<std::string>* log = nullptr) {
  RedisStoreOptions o;
  o.address = RedisAddress::parse(s.address());
  o.keyPrefix = "t/";
  if (log) o.log = [log](std::string const& line) { log->push_back(line); };
  return o;
}

}  // namespace

TEST(RedisStore, SourcesAreLoadedThenFollowedAndBadEntriesCountAsAbsent) {
  RedisServer server;
  Cli cli(server);
  cli.run({"SET", "t/VELT_STATUS:Ethernet1", "3"});
  cli.run({"SET", "t/VELT_STATUS:Ethernet2", "not a tcam"});
  cli.run({"SADD", "t/VELT_STATUS:Ethernet3", "3"});  // the wrong Redis type
  cli.run({"SET", "t/VELT_STATUS:Ethernet04", "4"});  // a key not written the canonical way
  cli.run({"SET", "t/VELT_STATUS:Ethernet5", std::string(70000, '1')});  // more than 64 KiB
  cli.run({"SET", "t/VELT_STATUS:Bogus", "4"});  // a key text that does not parse
  cli.run({"HSET", "t/FEATURE_CONFIG:Ethernet1", "vlan", "10"});
  ExampleWiring::Wiring w;
  std::vector<std::string> log;
  RedisStore store(options(server, &log));
  CorvaneAgent::bindWiring(store, w);
  store.start();
  EXPECT_EQ(w.veltStatus->intfIdToSystemTcamId().size(), 1u);
  EXPECT_EQ(w.veltStatus->intfIdToSystemTcamId(IntfId("Ethernet1")), Hardware::Velt::SystemTcamId(3));
  EXPECT_TRUE(w.featureConfig->config(IntfId("Ethernet1")));
  EXPECT_EQ(store.counters().badEntries, 5u);
  EXPECT_EQ(log.size(), 5u) << "each reported once";

  // Changes made while the store follows, each applied once.
  cli.run({"SET", "t/VELT_STATUS:Ethernet1", "5"});
  cli.run({"SET", "t/VELT_STATUS:Ethernet2", "2"});  // mended
  cli.run({"DEL", "t/FEATURE_CONFIG:Ethernet1"});
  ASSERT_TRUE(pump(store, [&] {
    return w.veltStatus->intfIdToSystemTcamId().size() == 2 && !w.featureConfig->config(IntfId("Ethernet1")) &&
           w.veltStatus->intfIdToSystemTcamId(IntfId("Ethernet1")) == Hardware::Velt::SystemTcamId(5);
  }));
  // A good entry turned bad counts as absent, and is reported again.
  cli.run({"SET", "t/VELT_STATUS:Ethernet2", "bad"});
  ASSERT_TRUE(pump(store, [&] { return !w.veltStatus->intfIdToSystemTcamIdHas(IntfId("Ethernet2")); }));
  EXPECT_EQ(store.counters().badEntries, 6u);
  EXPECT_EQ(log.size(), 6u);
}

TEST(RedisStore, MirrorsLoadStaleOutputsAndWriteOnlyRealDifferences) {
  RedisServer server;
  Cli cli(server);
  cli.run({"SET", "t/PORT_TO_LAG:Ethernet1", "Port-Channel1"});
  cli.run({"SET", "t/PORT_TO_LAG:Ethernet2", "Port-Channel1"});
  cli.run({"SET", "t/PORT_TO_LAG:Ethernet9", "garbage"});      // goes at the first flush
  cli.run({"SET", "t/PORT_TO_LAG:Ethernet09", "Port-Channel1"});  // likewise: not a canonical key
  ExampleWiring::Wiring w;
  RedisStore store(options(server));
  CorvaneAgent::bindWiring(store, w);
  store.start();
  EXPECT_EQ(w.portToLag->portToLag().size(), 2u) << "the stale outputs are in the entity";
  store.flushNow();
  EXPECT_EQ(cli.get("t/PORT_TO_LAG:Ethernet9"), "none");
  EXPECT_EQ(cli.get("t/PORT_TO_LAG:Ethernet09"), "none");
  EXPECT_EQ(cli.get("t/PORT_TO_LAG:Ethernet1"), "Port-Channel1");
  uint64_t const written = store.counters().keysWritten;
  EXPECT_EQ(written, 2u);

  // A burst of changes to one key costs one write; a change undone costs none.
  for (int i = 2; i < 50; ++i) w.portToLag->portToLagIs(IntfId("Ethernet1"), IntfId::portChannel(uint32_t(i)));
  w.portToLag->portToLagIs(IntfId("Ethernet2"), IntfId::portChannel(7));
  w.portToLag->portToLagIs(IntfId("Ethernet2"), IntfId::portChannel(1));
  ASSERT_TRUE(pump(store, [&] { return store.flushed(); }));
  EXPECT_EQ(store.counters().keysWritten, written + 1);
  EXPECT_EQ(cli.get("t/PORT_TO_LAG:Ethernet1"), "Port-Channel49");
  EXPECT_EQ(cli.get("t/PORT_TO_LAG:Ethernet2"), "Port-Channel1");

  // Sets and hashes are written as their differences.
  w.intfToTcamSet->intfToTcamSetIs(IntfId("Ethernet1"))->tcamSetIs(Hardware::Velt::SystemTcamId(1));
  ASSERT_TRUE(pump(store, [&] { return store.flushed(); }));
  EXPECT_EQ(cli.get("t/INTF_TCAM_SET:Ethernet1"), "{\"1\"}");
  w.intfToTcamSet->intfToTcamSet(IntfId("Ethernet1"))->tcamSetIs(Hardware::Velt::SystemTcamId(2));
  ASSERT_TRUE(pump(store, [&] { return store.flushed(); }));
  EXPECT_EQ(cli.get("t/INTF_TCAM_SET:Ethernet1"), "{\"1\", \"2\"}");
  w.intfToTcamSet->intfToTcamSetDel(IntfId("Ethernet1"));
  ASSERT_TRUE(pump(store, [&] { return store.flushed(); }));
  EXPECT_EQ(cli.get("t/INTF_TCAM_SET:Ethernet1"), "none");
}

// The whole wiring over Redis: a restart over what the first run left writes
// nothing, and Redis restarted empty under the running store gets its outputs back
// once the inputs are written again.
TEST(RedisStore, ARestartWritesNothingAndAnEmptiedServerIsRefilled) {
  RedisServer server;
  Cli cli(server);
  auto populate = [&] {
    cli.run({"SET", "t/VELT_STATUS:Ethernet1", "1"});
    cli.run({"SET", "t/VELT_STATUS:Ethernet2", "2"});
    cli.run({"HSET", "t/LAG_CONFIG:Ethernet1", "lag", "Port-Channel1"});
    cli.run({"HSET", "t/LAG_CONFIG:Ethernet2", "lag", "Port-Channel1"});
    cli.run({"HSET", "t/VELT_LAG_STATUS:Port-Channel1", "Ethernet1", "LagHwMemberInfo(index=0, active=true)",
             "Ethernet2", "LagHwMemberInfo(index=1, active=true)"});
    cli.run({"HSET", "t/FEATURE_CONFIG:Port-Channel1", "vlan", "10"});
    cli.run({"HSET", "t/FEATURE_CONFIG:Ethernet3", "vlan", "11"});
    cli.run({"SET", "t/VELT_STATUS:Ethernet3", "3"});
  };
  auto snapshot = [&] {
    std::vector<std::string> keys;
    cli.c.command({"KEYS", "t/*"}, [&](RedisReply const& r) {
      for (size_t i = 0; i < r.size(); ++i) keys.emplace_back(r[i].str());
    });
    cli.c.drain();
    std::sort(keys.begin(), keys.end());
    std::string out;
    for (auto const& k : keys) out += k + " = " + cli.get(k) + "\n";
    return out;
  };
  populate();
  std::string before;
  for (int life = 0; life < 2; ++life) {
    ExampleWiring::Options o;
    o.synchronous = false;
    o.scheduler = TaskScheduler::TaskSchedulerIs();
    ExampleWiring::Wiring w(o);
    RedisStoreOptions so = options(server);
    so.scheduler = o.scheduler;
    RedisStore store(so);
    CorvaneAgent::bindWiring(store, w);
    store.start();
    w.startAll();
    ASSERT_TRUE(pump(store, [&] {
      w.runUntilIdle();
      return w.ready() && store.flushed();
    }));
    if (life == 0) {
      EXPECT_GT(store.counters().keysWritten, 10u);
      EXPECT_EQ(cli.get("t/INTF_TCAM_SET:Port-Channel1"), "{\"1\", \"2\"}");
      EXPECT_EQ(cli.get("t/TCAM_CONFIG:(Ethernet1, 1)"), "[\"vlan\", \"10\"]") << "a LAG member takes its LAG's payload";
      EXPECT_EQ(cli.get("t/FEATURE_STATUS:Ethernet3"), "[\"state\", \"ok\"]");
      before = snapshot();
      continue;
    }
    EXPECT_EQ(store.counters().keysWritten, 0u) << "a restart over the outputs the first run left writes nothing";

    // Redis restarted empty under the running store, then its inputs written again.
    server.stop();
    server.start();
    cli.c.connect();
    ASSERT_TRUE(pump(store, [&] { return store.counters().reconnects == 1; }));
    populate();
    ASSERT_TRUE(pump(store, [&] {
      w.runUntilIdle();
      return store.flushed() && snapshot() == before;
    })) << snapshot();
  }
}
