// LagHwConfigPortToLagSm against its reference: portToLag[p] is the smallest LAG id
// whose hardware config lists p. Random LAG status changes in synchronous mode
// (checked after every change), in asynchronous mode with the scheduler yielding
// every few items (checked at quiescence), and restarts over stale outputs.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::control;
using Hardware::Velt::LagHwConfig;
using Hardware::Velt::LagHwMemberInfo;
using CorvaneTest::line;

namespace {

IntfId lagId(int n) { return n == 0 ? IntfId(0x8200000000000001ULL) : IntfId::portChannel(uint32_t(n)); }
IntfId portId(int n) { return IntfId::ethernet(uint16_t(n + 1)); }

// Drives random changes into a LAG status and knows what portToLag must be.
struct LagWorld {
  Ptr<Hardware::VeltLag::Status> status = Hardware::VeltLag::Status::StatusIs("veltLagStatus");
  std::mt19937 rng;
  explicit LagWorld(uint32_t seed) : rng(seed) {}

  std::map<IntfId, IntfId> expected() const {
    std::map<IntfId, IntfId> out;
    for (auto const& [lag, cfg] : status->lagHwConfig()) {
      for (auto const& [port, info] : cfg->memberInfo()) {
        auto it = out.find(port);
        if (it == out.end() || lag < it->second) out[port] = lag;
      }
    }
    return out;
  }

  int pick(int n) { return int(rng() % uint32_t(n)); }

  void change() {
    IntfId lag = lagId(pick(6));
    IntfId port = portId(pick(12));
    switch (pick(8)) {
      case 0:
        status->lagHwConfigIs(lag);
        break;
      case 1:
        status->lagHwConfigDel(lag);
        break;
      case 2: {  // the element object replaced under the same key
        auto fresh = LagHwConfig::LagHwConfigIs(lag);
        for (int i = 0; i < 12; ++i) {
          if (pick(3) == 0) fresh->memberInfoIs(portId(i), LagHwMemberInfo(uint32_t(i), true));
        }
        status->lagHwConfigIs(lag, fresh);
        break;
      }
      case 3:
      case 4:
        status->lagHwConfigIs(lag)->memberInfoIs(port, LagHwMemberInfo(uint32_t(pick(3)), pick(2) == 0));
        break;
      case 5:
      case 6:
        if (auto cfg = status->lagHwConfig(lag)) cfg->memberInfoDel(port);
        break;
      default:
        if (auto cfg = status->lagHwConfig(lag)) cfg->memberInfoDelAll();
        break;
    }
  }

  void populate(int changes) {
    for (int i = 0; i < changes; ++i) change();
  }
};

std::map<IntfId, IntfId> contents(PortToLag const& p) {
  std::map<IntfId, IntfId> out;
  for (auto const& [port, lag] : p.portToLag()) out[port] = lag;
  return out;
}

void addStale(PortToLag& p, std::mt19937& rng) {
  for (int i = 0; i < 12; ++i) {
    if (rng() % 2) p.portToLagIs(portId(i), lagId(int(rng() % 6)));
  }
  p.portToLagIs(IntfId::ethernet(99), lagId(1));  // a port no LAG will ever list
}

}  // namespace

// Synchronous: right on return and after every change. Asynchronous, the scheduler
// yielding every few items: changes arrive while the scans and the reconciliation
// are under way, and the output must be right the moment the SM says it is ready.
TEST(LagHwConfigPortToLagSm, MatchesReferenceSynchronousOrYielding) {
  int32_t nodes = Node::liveNodes();
  for (bool synchronous : {true, false}) {
    for (uint32_t seed = 1; seed <= (synchronous ? 8u : 12u); ++seed) {
      SCOPED_TRACE(fmt::format("{} seed {}", synchronous ? "synchronous" : "asynchronous", seed));
      auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
      LagWorld w(seed);
      w.populate(synchronous ? 30 : 40);
      auto out = PortToLag::PortToLagIs();
      addStale(*out, w.rng);
      auto sm = lagHwConfigPortToLagSmFactory(
          w.status, out, synchronous ? control(SmControl::synchronousOn) : control(SmControl::synchronousDefault, sched));
      EXPECT_EQ(sm->synchronous(), synchronous);
      if (!synchronous) {
        uint64_t const runs = CorvaneTest::runUntilReady(*sched, [&] { return sm->ready(); },
                                                         [&] { return w.pick(3) == 0; }, [&] { w.change(); });
        EXPECT_GT(runs, 2u);  // the start-up really was split over task runs
        ASSERT_EQ(contents(*out), w.expected()) << "at ready";
        sched->runUntilIdle();
      }
      ASSERT_TRUE(sm->ready());
      ASSERT_TRUE(sm->idle());
      ASSERT_EQ(contents(*out), w.expected()) << "at start";
      for (int step = 0; step < (synchronous ? 400 : 100); ++step) {
        w.change();
        ASSERT_EQ(contents(*out), w.expected()) << "step " << step;
      }
      sm->doDeleteAll();
      EXPECT_TRUE(out->portToLag().empty());
    }
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(LagHwConfigPortToLagSm, RestartNeverDeletesCorrectEntries) {
  for (uint8_t mode : {SmControl::synchronousOn, SmControl::synchronousOff}) {
    auto sched = CorvaneTest::yieldingScheduler(2);
    LagWorld w(77);
    w.populate(60);
    auto first = lagHwConfigPortToLagSmFactory(w.status, PortToLag::PortToLagIs(), control(SmControl::synchronousOn));
    auto out = PortToLag::PortToLagIs();
    auto expected = w.expected();
    ASSERT_GE(expected.size(), 3u);
    // Previous run's output: correct entries, every third one with a wrong LAG, and a stale one.
    int i = 0;
    for (auto const& [port, lag] : expected) out->portToLagIs(port, i++ % 3 == 0 ? IntfId::portChannel(999) : lag);
    out->portToLagIs(IntfId::ethernet(77), lagId(2));
    struct Watch : Subscriber {
      PortToLag* out;
      std::set<IntfId> deleted;
      void dispatch(uint32_t, void const* key) override {
        IntfId k = *static_cast<IntfId const*>(key);
        if (!out->portToLagHas(k)) deleted.insert(k);
      }
    } watch;
    watch.out = out.get();
    out->subscriberAdd(&watch);
    auto sm = lagHwConfigPortToLagSmFactory(w.status, out, control(mode, sched));
    sched->runUntilIdle();
    ASSERT_TRUE(sm->ready());
    EXPECT_EQ(contents(*out), expected);
    EXPECT_EQ(watch.deleted, std::set<IntfId>{IntfId::ethernet(77)});
    out->subscriberRemove(&watch);
  }
}

TEST(LagHwConfigPortToLagSm, SmallestLagWinsAndReplacedLagRetractsFirst) {
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  auto out = PortToLag::PortToLagIs();
  auto sm = lagHwConfigPortToLagSmFactory(status, out, control(SmControl::synchronousOn));
  IntfId p("Ethernet5"), po10("Port-Channel10"), po20("Port-Channel20");
  status->lagHwConfigIs(po20)->memberInfoIs(p, {});
  status->lagHwConfigIs(po10)->memberInfoIs(p, {});
  EXPECT_EQ(out->portToLag(p), po10);
  // Member info counts by presence only: a new value changes nothing downstream.
  CorvaneTest::Heard count(*out);
  status->lagHwConfig(po10)->memberInfoIs(p, LagHwMemberInfo(4, true));
  EXPECT_EQ(count.n, 0);
  // Replacing LAG 10's object with one that lists p again: retracted (p -> 20), then re-added (p -> 10).
  auto fresh = LagHwConfig::LagHwConfigIs(po10);
  fresh->memberInfoIs(p, {});
  status->lagHwConfigIs(po10, fresh);
  EXPECT_EQ(count.n, 2);
  EXPECT_EQ(out->portToLag(p), po10);
  status->lagHwConfig(po10)->memberInfoDel(p);
  EXPECT_EQ(out->portToLag(p), po20);
  status->lagHwConfigDel(po20);
  EXPECT_FALSE(out->portToLagHas(p));
}

TEST(LagHwConfigPortToLagSm, SynchronousStartupTranscript) {
  CorvaneTest::TraceCapture cap("LagHwConfigPortToLagSm", 0xffff);
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  status->lagHwConfigIs(IntfId("Port-Channel20"))->memberInfoIs(IntfId("Ethernet1"), {});
  auto out = PortToLag::PortToLagIs();
  out->portToLagIs(IntfId("Ethernet9"), IntfId("Port-Channel3"));
  auto sm = lagHwConfigPortToLagSmFactory(status, out, control(SmControl::synchronousOn));
  std::string const R = "LagHwConfigPortToLagSm", V = "VeltLagStatusSm0", L = "LagHwConfigSm1";
  std::string const rdy = "handlePortToLagPortToLagOutputInputReady", pipe = "eventToStrm_pipeline0";
  std::vector<std::string> const expected = {
      line(8, "handleInitialized", R, ""),
      line(9, "handleInitialized", R, "Reconciling portToLagPortToLagOutput: true"),
      line(9, "handleInitialized", R, "create local SMs"),
      line(9, "handleInitialized", R, "create non-public arg SMs"),
      // First pass: nested SMs are built, pipelines stay silent.
      line(9, "doInputScan", V, ""),
      line(9, "doInputScan0", V, ""),
      line(9, "doInputScan0", V, " scan complete: false resumed: false scan: false"),
      line(8, "handleLagHwConfig0", V, "k: Port-Channel20"),
      line(9, "doInputScan", L, ""),
      line(9, "doInputScan0", L, ""),
      line(9, "doInputScan0", L, " scan complete: false resumed: false scan: false"),
      line(8, "handleMemberInfo0", L, "k: Ethernet1"),
      line(9, "doInputScan0", L, "LagHwConfigSm1 initial scan complete. Processed 1 children. "),
      line(9, "doInputScan0", V, "VeltLagStatusSm0 initial scan, and parent scan, complete."),
      line(9, "handleInitialized", R, "initialized"),
      line(9, rdy, R, ""),
      // Event pass.
      line(9, "handleInitialScanDone", R, "Initial scan done for child SMs. Now scanning with events triggered."),
      line(9, "doInputScan", V, ""),
      line(9, "doInputScan0", V, ""),
      line(9, "doInputScan0", V, " scan complete: false resumed: false scan: false"),
      line(8, "handleLagHwConfig0", V, "k: Port-Channel20"),
      line(9, "doInputScan", L, ""),
      line(9, "doInputScan0", L, ""),
      line(9, "doInputScan0", L, " scan complete: false resumed: false scan: false"),
      line(8, "handleMemberInfo0", L, "k: Ethernet1"),
      line(7, pipe, R,
           "Line 12: from( veltLagStatus.lagHwConfig[].memberInfo[] ): lagIntfId=Port-Channel20 intfId=Ethernet1 "
           "memberInfoOpt=Optional( LagHwMemberInfo(index=0, active=false) )"),
      line(6, pipe, R, "Inserting value true with key Port-Channel20 into groupby collection with key Ethernet1"),
      line(9, "doInputScan0", L, "LagHwConfigSm1 scan complete. Processed 1 children. "),
      line(9, "doInputScan0", V, "VeltLagStatusSm0 scan, and parent scan, complete."),
      // Reconciliation: the stale entry goes, the held-back insertion is written.
      line(9, rdy, R, ""),
      line(9, rdy, R, "Input scans for portToLagPortToLagOutput complete"),
      line(9, rdy, R, "Setting reconciliationState to skip insertions for portToLagPortToLagOutput"),
      line(9, rdy, R, "Deletion scan for reconciliation is done, last task run processed 1 items, deleting 1 items."),
      line(9, rdy, R, "Setting reconciliationState to skip nothing for portToLagPortToLagOutput"),
      line(7, rdy, R, "into( portToLag.portToLag[ intfId ] ): inserting k1=Ethernet1, value=Port-Channel20"),
      line(9, rdy, R, "Insertion scan for reconciliation is done after processing 1 items in last run. Total seen: 1"),
  };
  EXPECT_EQ(cap.lines(), expected);
  EXPECT_TRUE(sm->ready());
}

// Yielding after every item: each scan and the reconciliation hand over to their
// task after one item; a nested scan that yields makes its parent yield ("child").
TEST(LagHwConfigPortToLagSm, AsynchronousStartupTranscript) {
  CorvaneTest::TraceCapture cap("LagHwConfigPortToLagSm", 0xffff);
  auto sched = CorvaneTest::yieldingScheduler(1);
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  status->lagHwConfigIs(IntfId("Port-Channel1"))->memberInfoIs(IntfId("Ethernet1"), {});
  status->lagHwConfigIs(IntfId("Port-Channel1"))->memberInfoIs(IntfId("Ethernet2"), {});
  auto out = PortToLag::PortToLagIs();
  out->portToLagIs(IntfId("Ethernet9"), IntfId("Port-Channel3"));
  std::vector<std::string> got;
  auto take = [&] {
    for (auto const& l : cap.lines()) got.push_back(l);
    cap.clear();
  };
  auto sm = lagHwConfigPortToLagSmFactory(status, out, control(SmControl::synchronousDefault, sched));
  take();
  got.push_back("--- created");
  while (sched->runOne()) {
    take();
    got.push_back("--- ran");
  }
  std::vector<std::string> const expected = {
      "8|handleInitialized|LagHwConfigPortToLagSm|",
      "9|handleInitialized|LagHwConfigPortToLagSm|Reconciling portToLagPortToLagOutput: true",
      "9|handleInitialized|LagHwConfigPortToLagSm|create local SMs",
      "9|handleInitialized|LagHwConfigPortToLagSm|create non-public arg SMs",
      "9|doInputScan|VeltLagStatusSm0|",
      "9|doInputScan0|VeltLagStatusSm0|",
      "9|doInputScan0|VeltLagStatusSm0| scan complete: false resumed: false scan: false",
      "8|handleLagHwConfig0|VeltLagStatusSm0|k: Port-Channel1",
      "9|doInputScan|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1| scan complete: false resumed: false scan: false",
      "8|handleMemberInfo0|LagHwConfigSm1|k: Ethernet2",
      "8|doInputScan0|LagHwConfigSm1|  yielding after 1 iterations (2 total items)",
      "8|doInputScan0|VeltLagStatusSm0| child yielding after 1 iterations (1 total items)",
      "9|handleInitialized|LagHwConfigPortToLagSm|initialized",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|",
      "--- created",
      "9|doInputScan0|VeltLagStatusSm0|",
      "9|doInputScan0|VeltLagStatusSm0| scan complete: false resumed: true scan: false",
      "8|handleLagHwConfig0|VeltLagStatusSm0|k: Port-Channel1",
      "9|doInputScan|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1| scan complete: false resumed: true scan: false",
      "8|handleMemberInfo0|LagHwConfigSm1|k: Ethernet1",
      "9|doInputScan0|LagHwConfigSm1|LagHwConfigSm1 initial scan complete. Processed 2 children. ",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|",
      "9|handleInitialScanDone|LagHwConfigPortToLagSm|Initial scan done for child SMs. Now scanning with events triggered.",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|",
      "9|doInputScan|VeltLagStatusSm0|",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|",
      "9|doInputScan0|VeltLagStatusSm0|VeltLagStatusSm0 initial scan, and parent scan, complete.",
      "--- ran",
      "9|doInputScan0|VeltLagStatusSm0|",
      "9|doInputScan0|VeltLagStatusSm0| scan complete: false resumed: false scan: false",
      "8|handleLagHwConfig0|VeltLagStatusSm0|k: Port-Channel1",
      "9|doInputScan|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1| scan complete: false resumed: false scan: false",
      "8|handleMemberInfo0|LagHwConfigSm1|k: Ethernet2",
      "7|eventToStrm_pipeline0|LagHwConfigPortToLagSm|Line 12: from( veltLagStatus.lagHwConfig[].memberInfo[] ): lagIntfId=Port-Channel1 intfId=Ethernet2 memberInfoOpt=Optional( LagHwMemberInfo(index=0, active=false) )",
      "6|eventToStrm_pipeline0|LagHwConfigPortToLagSm|Inserting value true with key Port-Channel1 into groupby collection with key Ethernet2",
      "8|doInputScan0|LagHwConfigSm1|  yielding after 1 iterations (2 total items)",
      "8|doInputScan0|VeltLagStatusSm0| child yielding after 1 iterations (1 total items)",
      "--- ran",
      "9|doInputScan0|VeltLagStatusSm0|",
      "9|doInputScan0|VeltLagStatusSm0| scan complete: false resumed: true scan: false",
      "8|handleLagHwConfig0|VeltLagStatusSm0|k: Port-Channel1",
      "9|doInputScan|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1|",
      "9|doInputScan0|LagHwConfigSm1| scan complete: false resumed: true scan: false",
      "8|handleMemberInfo0|LagHwConfigSm1|k: Ethernet1",
      "7|eventToStrm_pipeline0|LagHwConfigPortToLagSm|Line 12: from( veltLagStatus.lagHwConfig[].memberInfo[] ): lagIntfId=Port-Channel1 intfId=Ethernet1 memberInfoOpt=Optional( LagHwMemberInfo(index=0, active=false) )",
      "6|eventToStrm_pipeline0|LagHwConfigPortToLagSm|Inserting value true with key Port-Channel1 into groupby collection with key Ethernet1",
      "9|doInputScan0|LagHwConfigSm1|LagHwConfigSm1 scan complete. Processed 2 children. ",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Input scans for portToLagPortToLagOutput complete",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Setting reconciliationState to skip insertions for portToLagPortToLagOutput",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Deletion scan for reconciliation is done, last task run processed 1 items, deleting 1 items.",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Setting reconciliationState to skip nothing for portToLagPortToLagOutput",
      "7|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|into( portToLag.portToLag[ intfId ] ): inserting k1=Ethernet2, value=Port-Channel1",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Yielding in reconciliation processing after processing 1 items, including 0 deletions .",
      "9|doInputScan0|VeltLagStatusSm0|VeltLagStatusSm0 scan, and parent scan, complete.",
      "--- ran",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Input scans for portToLagPortToLagOutput complete",
      "7|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|into( portToLag.portToLag[ intfId ] ): inserting k1=Ethernet1, value=Port-Channel1",
      "9|handlePortToLagPortToLagOutputInputReady|LagHwConfigPortToLagSm|Insertion scan for reconciliation is done after processing 1 items in last run. Total seen: 2",
      "--- ran",
  };
  EXPECT_EQ(got, expected);
  EXPECT_TRUE(sm->ready());
  EXPECT_TRUE(sm->idle());
}
