// IntfTcamSm against its reference: a port's set is its own TCAM, a LAG's set the
// union of its current members' TCAMs. Random TCAM moves, LAG joins, leaves and
// moves, replaced and removed phyIntf elements and lag references, ports missing
// from the hardware status.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::control;
using Hardware::Velt::SystemTcamId;

namespace {

using Sets = std::map<IntfId, std::set<uint16_t>>;

IntfId port(int n) { return IntfId::ethernet(uint16_t(n + 1)); }
IntfId lag(int n) { return IntfId::portChannel(uint32_t(n + 1)); }

struct TcamWorld {
  Ptr<Hardware::Velt::Status> status = Hardware::Velt::Status::StatusIs("veltStatus");
  Ptr<Lag::Config> lagConfig = Lag::Config::ConfigIs("lagConfig");
  std::mt19937 rng;
  explicit TcamWorld(uint32_t seed) : rng(seed) {}
  int pick(int n) { return int(rng() % uint32_t(n)); }

  Sets expected() const {
    Sets out;
    for (auto const& [p, t] : status->intfIdToSystemTcamId()) out[p].insert(t.value());
    for (auto const& [p, element] : lagConfig->phyIntf()) {
      SystemTcamId const* t = status->intfIdToSystemTcamId().find(p);
      if (t && element->lag()) out[element->lag()->intfId()].insert(t->value());
    }
    return out;
  }

  Ptr<Interface::EthLagIntfConfig const> lagRef() {
    return Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag(pick(3)));  // a fresh object each time
  }

  void change() {
    IntfId p = port(pick(10));
    switch (pick(9)) {
      case 0:
      case 1:
        status->intfIdToSystemTcamIdIs(p, SystemTcamId(uint16_t(1 + pick(4))));
        break;
      case 2:
        status->intfIdToSystemTcamIdDel(p);
        break;
      case 3:
      case 4:
        lagConfig->phyIntfIs(p)->lagIs(lagRef());
        break;
      case 5:
        if (auto e = lagConfig->phyIntf(p)) e->lagIs(nullptr);
        break;
      case 6: {
        auto e = Lag::EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(p);
        if (pick(3)) e->lagIs(lagRef());
        lagConfig->phyIntfIs(p, e);
        break;
      }
      case 7:
        lagConfig->phyIntfDel(p);
        break;
      default:
        if (pick(4) == 0) {
          lagConfig->phyIntfDelAll();
        } else {
          status->intfIdToSystemTcamIdIs(p, SystemTcamId(uint16_t(1 + pick(4))));
        }
        break;
    }
  }
};

Sets contents(IntfToTcamSet const& out) {
  Sets s;
  for (auto const& [i, set] : out.intfToTcamSet()) {
    EXPECT_EQ(set->intfId(), i);
    EXPECT_FALSE(set->tcamSet().empty()) << i << " kept an empty set";
    for (SystemTcamId t : set->tcamSet()) s[i].insert(t.value());
  }
  return s;
}

void addStale(IntfToTcamSet& out, TcamWorld& w) {
  for (int i = 0; i < 6; ++i) {
    IntfId k = w.pick(2) ? port(w.pick(12)) : lag(w.pick(4));
    out.intfToTcamSetIs(k)->tcamSetIs(SystemTcamId(uint16_t(1 + w.pick(5))));
  }
}

}  // namespace

// Synchronous: right on return and after every change. Asynchronous, the scheduler
// yielding every few items: right when ready although changes came during the start-up.
TEST(IntfTcamSm, MatchesReferenceSynchronousOrYielding) {
  int32_t nodes = Node::liveNodes();
  for (bool synchronous : {true, false}) {
    for (uint32_t seed = 1; seed <= (synchronous ? 8u : 12u); ++seed) {
      SCOPED_TRACE(fmt::format("{} seed {}", synchronous ? "synchronous" : "asynchronous", seed));
      auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
      TcamWorld w(synchronous ? seed : seed * 31);
      for (int i = 0; i < (synchronous ? 25 : 40); ++i) w.change();
      auto out = IntfToTcamSet::IntfToTcamSetIs("out");
      addStale(*out, w);
      auto sm = intfTcamSmFactory(w.status, w.lagConfig, out,
                                  control(synchronous ? SmControl::synchronousOn : SmControl::synchronousOff, sched));
      if (!synchronous) {
        uint64_t const runs = CorvaneTest::runUntilReady(*sched, [&] { return sm->ready(); },
                                                         [&] { return w.pick(3) == 0; }, [&] { w.change(); });
        EXPECT_GT(runs, 2u);
        ASSERT_EQ(contents(*out), w.expected()) << "when ready";
        sched->runUntilIdle();
        ASSERT_TRUE(sm->idle());
      }
      ASSERT_TRUE(sm->ready());
      ASSERT_EQ(contents(*out), w.expected()) << "at start";
      for (int step = 0; step < (synchronous ? 400 : 100); ++step) {
        w.change();
        ASSERT_EQ(contents(*out), w.expected()) << "step " << step;
      }
      sm->doDeleteAll();
      EXPECT_TRUE(out->intfToTcamSet().empty());
    }
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(IntfTcamSm, RestartKeepsPairsStillProduced) {
  for (uint8_t mode : {SmControl::synchronousOn, SmControl::synchronousOff}) {
    auto sched = CorvaneTest::yieldingScheduler(2);
    TcamWorld w(5);
    for (int i = 0; i < 60; ++i) w.change();
    Sets expected = w.expected();
    auto out = IntfToTcamSet::IntfToTcamSetIs("out");
    for (auto const& [i, set] : expected) {
      for (uint16_t t : set) out->intfToTcamSetIs(i)->tcamSetIs(SystemTcamId(t));
    }
    out->intfToTcamSetIs(port(3))->tcamSetIs(SystemTcamId(9));  // stale pair beside live ones
    out->intfToTcamSetIs(IntfId::ethernet(99))->tcamSetIs(SystemTcamId(1));
    struct Watch : Subscriber {
      std::vector<std::pair<IntfId, uint16_t>> deleted;
      IntfId owner;
      Ptr<IntfToTcamSet> out;
      void dispatch(uint32_t attr, void const* key) override {
        if (attr == TcamSet::attrTcamSet) {
          auto t = *static_cast<SystemTcamId const*>(key);
          if (!out->intfToTcamSet(owner) || !out->intfToTcamSet(owner)->tcamSetHas(t)) deleted.emplace_back(owner, t.value());
        }
      }
    };
    std::vector<std::unique_ptr<Watch>> watches;
    std::vector<Ptr<TcamSet>> sets;
    for (auto const& [i, set] : out->intfToTcamSet()) {
      watches.push_back(std::make_unique<Watch>());
      watches.back()->owner = i;
      watches.back()->out = out;
      set->subscriberAdd(watches.back().get());
      sets.push_back(set);
    }
    auto sm = intfTcamSmFactory(w.status, w.lagConfig, out, control(mode, sched));
    sched->runUntilIdle();
    ASSERT_TRUE(sm->ready());
    EXPECT_EQ(contents(*out), expected);
    std::vector<std::pair<IntfId, uint16_t>> deleted;
    for (size_t n = 0; n < watches.size(); ++n) {
      for (auto const& d : watches[n]->deleted) deleted.push_back(d);
      sets[n]->subscriberRemove(watches[n].get());
    }
    std::sort(deleted.begin(), deleted.end());
    EXPECT_EQ(deleted, (std::vector<std::pair<IntfId, uint16_t>>{{port(3), 9}, {IntfId::ethernet(99), 1}}));
  }
}

// A LAG whose members sit on many TCAMs: its set is one outer key with many inner
// keys while the start-up stages them. The insertion scan yields inside that set
// and goes on from where it stopped; the staging stays the size of what it holds.
TEST(IntfTcamSm, ALagOnManyTcamsStagesAndResumesInsideItsSet) {
  int32_t nodes = Node::liveNodes();
  for (bool synchronous : {true, false}) {
    SCOPED_TRACE(synchronous ? "synchronous" : "asynchronous");
    auto sched = CorvaneTest::yieldingScheduler(2);
    TcamWorld w(3);
    auto big = Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag(0));
    for (int p = 0; p < 300; ++p) {
      w.status->intfIdToSystemTcamIdIs(port(p), SystemTcamId(uint16_t(1 + p % 150)));
      if (p < 200) w.lagConfig->phyIntfIs(port(p))->lagIs(big);
    }
    auto out = IntfToTcamSet::IntfToTcamSetIs("out");
    out->intfToTcamSetIs(lag(0))->tcamSetIs(SystemTcamId(999));  // stale
    auto sm = intfTcamSmFactory(w.status, w.lagConfig, out,
                                control(synchronous ? SmControl::synchronousOn : SmControl::synchronousOff, sched));
    size_t staged = 0;
    CorvaneTest::runUntilReady(
        *sched, [&] { return sm->ready(); },
        [&] {
          staged = std::max(staged, sm->intfToTcamSetIntfToTcamSetTcamSetOutput().seenBytes());
          return false;
        },
        [] {});
    ASSERT_EQ(contents(*out), w.expected());
    EXPECT_EQ(out->intfToTcamSet(lag(0))->tcamSet().size(), 150u);
    EXPECT_LT(staged, 64u * 1024) << "450 keys staged";
    sm = nullptr;
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(IntfTcamSm, LagMembershipEdgeCases) {
  auto status = Hardware::Velt::Status::StatusIs("s");
  auto cfg = Lag::Config::ConfigIs("c");
  auto out = IntfToTcamSet::IntfToTcamSetIs("o");
  auto sm = intfTcamSmFactory(status, cfg, out, control(SmControl::synchronousOn));
  IntfId p("Ethernet1"), q("Ethernet2"), L("Port-Channel1"), M("Port-Channel2");
  auto lagL = Interface::EthLagIntfConfig::EthLagIntfConfigIs(L);
  auto lagM = Interface::EthLagIntfConfig::EthLagIntfConfigIs(M);
  auto tcams = [&](IntfId i) { return contents(*out)[i]; };
  // A member without a TCAM contributes nothing until it gets one.
  cfg->phyIntfIs(p)->lagIs(lagL);
  EXPECT_FALSE(out->intfToTcamSetHas(L));
  status->intfIdToSystemTcamIdIs(p, SystemTcamId(1));
  status->intfIdToSystemTcamIdIs(q, SystemTcamId(1));
  EXPECT_EQ(tcams(L), std::set<uint16_t>{1});
  cfg->phyIntfIs(q)->lagIs(lagL);
  cfg->phyIntf(p)->lagIs(nullptr);  // still held by q
  EXPECT_EQ(tcams(L), std::set<uint16_t>{1});
  // Alone in L, q moves TCAM: L's entry is deleted and created again.
  CorvaneTest::Heard outer(*out);
  status->intfIdToSystemTcamIdIs(q, SystemTcamId(2));
  EXPECT_EQ(tcams(L), std::set<uint16_t>{2});
  EXPECT_EQ(tcams(q), std::set<uint16_t>{2});
  EXPECT_EQ(outer.n, 4);  // q's and L's entries: each deleted, then created
  // q moves to M in one event; deleting its element retracts it.
  cfg->phyIntf(q)->lagIs(lagM);
  EXPECT_FALSE(out->intfToTcamSetHas(L));
  EXPECT_EQ(tcams(M), std::set<uint16_t>{2});
  cfg->phyIntfDel(q);
  EXPECT_FALSE(out->intfToTcamSetHas(M));
  EXPECT_EQ(tcams(q), std::set<uint16_t>{2});
}

// The order in which one hardware TCAM move reaches IntfToTcamSet's subscribers:
// the LAG pipeline (first handler) withdraws (L, t1) and adds (L, t2), then the
// port's own pipeline; a set emptied on the way is deleted and created again.
TEST(IntfTcamSm, OneTcamMoveInOrder) {
  auto status = Hardware::Velt::Status::StatusIs("s");
  auto cfg = Lag::Config::ConfigIs("c");
  auto out = IntfToTcamSet::IntfToTcamSetIs("o");
  IntfId p("Ethernet1"), L("Port-Channel1");
  status->intfIdToSystemTcamIdIs(p, SystemTcamId(1));
  cfg->phyIntfIs(p)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(L));
  auto sm = intfTcamSmFactory(status, cfg, out, control(SmControl::synchronousOn));

  struct Log {
    std::vector<std::string> events;
    struct Inner : Subscriber {
      Log* log;
      Ptr<TcamSet> set;
      void dispatch(uint32_t, void const* key) override {
        auto t = *static_cast<SystemTcamId const*>(key);
        log->events.push_back(fmt::format("{} {}{}", set->intfId(), set->tcamSetHas(t) ? "+" : "-", t));
      }
    };
    struct Outer : Subscriber {
      Log* log;
      Ptr<IntfToTcamSet> out;
      void dispatch(uint32_t, void const* key) override {
        IntfId i = *static_cast<IntfId const*>(key);
        auto set = out->intfToTcamSet(i);
        log->events.push_back(fmt::format("{} {}", set ? "create" : "delete", i));
        if (set) log->watch(set);
      }
    } outer;
    std::vector<std::unique_ptr<Inner>> inners;
    void watch(Ptr<TcamSet> const& set) {
      inners.push_back(std::make_unique<Inner>());
      inners.back()->log = this;
      inners.back()->set = set;
      set->subscriberAdd(inners.back().get());
    }
    ~Log() {
      for (auto& i : inners) i->set->subscriberRemove(i.get());
    }
  } log;
  log.outer.log = &log;
  log.outer.out = out;
  out->subscriberAdd(&log.outer);
  log.watch(out->intfToTcamSet(p));
  log.watch(out->intfToTcamSet(L));

  status->intfIdToSystemTcamIdIs(p, SystemTcamId(2));
  EXPECT_EQ(log.events, (std::vector<std::string>{"Port-Channel1 -1", "delete Port-Channel1", "create Port-Channel1",
                                                  "Port-Channel1 +2", "Ethernet1 -1", "delete Ethernet1",
                                                  "create Ethernet1", "Ethernet1 +2"}));
  out->subscriberRemove(&log.outer);
}

namespace {
// Ethernet1 in Port-Channel1, under a synchronous IntfTcamSm.
struct OnePortLag {
  Ptr<Hardware::Velt::Status> status = Hardware::Velt::Status::StatusIs("s");
  Ptr<Lag::Config> cfg = Lag::Config::ConfigIs("c");
  Ptr<IntfToTcamSet> out = IntfToTcamSet::IntfToTcamSetIs("o");
  Ptr<IntfTcamSm> sm = intfTcamSmFactory(status, cfg, out, control(SmControl::synchronousOn));
  IntfId p{"Ethernet1"}, L{"Port-Channel1"};
  OnePortLag() { cfg->phyIntfIs(p)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(L)); }
};
}  // namespace

// A LAG id with a TCAM of its own: its own TCAM and its members' mix in one set,
// not counted per source, so the last event that touched a TCAM decides it; a
// restart computes the set again from a scan of the inputs.
TEST(IntfTcamSm, LagIdsOwnTcamMixesWithItsMembers) {
  OnePortLag w;
  auto& [status, cfg, out, sm, p, L] = w;
  // [snippet:lagOwnTcam]
  status->intfIdToSystemTcamIdIs(p, SystemTcamId(1));
  status->intfIdToSystemTcamIdIs(L, SystemTcamId(1));  // also the member's
  EXPECT_TRUE(out->intfToTcamSet(L)->tcamSetHas(SystemTcamId(1)));
  status->intfIdToSystemTcamIdIs(p, SystemTcamId(2));  // the member moves: TCAM 1 goes from L
  EXPECT_FALSE(out->intfToTcamSet(L)->tcamSetHas(SystemTcamId(1)));
  EXPECT_TRUE(out->intfToTcamSet(L)->tcamSetHas(SystemTcamId(2)));
  sm = nullptr;
  sm = intfTcamSmFactory(status, cfg, out, control(SmControl::synchronousOn));
  EXPECT_TRUE(out->intfToTcamSet(L)->tcamSetHas(SystemTcamId(1)));  // L's own, seen by the scan
  EXPECT_TRUE(out->intfToTcamSet(L)->tcamSetHas(SystemTcamId(2)));
  // [snippet-end]
}

// Each element the pipeline flattens is traced at level 9: the TCAM change, then for
// each of its two elements the LAG's, in order.
TEST(IntfTcamSm, PipelineTracesEachFlattenedElement) {
  OnePortLag w;
  auto& [status, cfg, out, sm, p, L] = w;
  status->intfIdToSystemTcamIdIs(p, SystemTcamId(1));
  std::vector<std::string> flattened;
  {
    CorvaneTest::TraceCapture trace("IntfTcamSm", uint16_t(1u << 9));
    status->intfIdToSystemTcamIdIs(p, SystemTcamId(2));
    for (auto const& r : trace.records()) {
      if (r.function == "eventToStrm_pipeline0" && r.message.rfind("Flattening element:", 0) == 0) {
        flattened.push_back(r.message);
      }
    }
  }
  EXPECT_EQ(flattened, (std::vector<std::string>{
                           "Flattening element: Tuple( Optional( 1 ), false )",
                           "Flattening element: Tuple( None, false )",
                           "Flattening element: Tuple( Optional( Port-Channel1 ), true )",
                           "Flattening element: Tuple( Optional( 2 ), true )",
                           "Flattening element: Tuple( None, false )",
                           "Flattening element: Tuple( Optional( Port-Channel1 ), true )",
                       }));
}
