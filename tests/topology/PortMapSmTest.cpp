// IntfIdToPortMap and the two port-map SMs against their references: random
// port-map changes (wildcards, CPU TM ports), LAG membership changes, immediate and
// deferred (burst) announcements, synchronous and yielding asynchronous mode.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "tests/support/Support.h"
#include "tests/support/WiringReference.h"

using namespace Corvane;
using CorvaneTest::control;
using CorvaneTest::errorText;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

namespace {

constexpr uint16_t kFaps = 3, kCores = 2;

PortMap pm(uint32_t fap, uint32_t port, uint32_t core) { return PortMap(FapId(fap), FapPortId(port), LocalCoreId(core)); }

// Distinct FAP ports, so no two pool entries expand to a common port map.
PortMap const pool[] = {pm(1, 20, 0), pm(2046, 21, 1), pm(0, 22, 5), pm(2047, 23, 4), pm(2, 3, 0), pm(2048, 24, 6)};

std::vector<PortMap> expand(PortMap const& p) { return CorvaneTest::expansion(p, kFaps, kCores); }

IntfId intf(int n) { return n < 8 ? IntfId::ethernet(uint16_t(n + 1)) : IntfId::cpuTm(uint32_t(n - 8)); }

struct PortMapWorld {
  Ptr<IntfIdToPortMap> table = IntfIdToPortMap::IntfIdToPortMapIs("intfIdToPortMap");
  Ptr<Lag::Config> lagConfig = Lag::Config::ConfigIs("lagConfig");
  Ptr<PortToLag> portToLag = PortToLag::PortToLagIs();
  Ptr<DelayedNotifHolder> holder = DelayedNotifHolder::DelayedNotifHolderIs();
  std::mt19937 rng;
  explicit PortMapWorld(uint32_t seed) : rng(seed) {}
  int pick(int n) { return int(rng() % uint32_t(n)); }
  bool deferred() const { return bool(table->delayedNotifHolder()); }

  void change() {
    IntfId i = intf(pick(14));
    IntfId lag = IntfId::portChannel(uint32_t(1 + pick(3)));
    switch (pick(10)) {
      case 0:
      case 1:
      case 2:
        table->intfIdToPortMapIs(i, pool[pick(6)]);
        break;
      case 3:
        table->intfIdToPortMapDel(i);
        break;
      case 4:
        lagConfig->phyIntfIs(i)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag));
        portToLag->portToLagIs(i, lag);
        break;
      case 5:
        lagConfig->phyIntfDel(i);
        portToLag->portToLagDel(i);
        break;
      case 6:  // a burst: changes queue up, then go out together
        table->delayedNotifHolderIs(holder);
        for (int n = 0; n < 4; ++n) table->intfIdToPortMapIs(intf(pick(14)), pool[pick(6)]);
        table->intfIdToPortMapDel(intf(pick(14)));
        table->triggerDelayedNotif();
        table->delayedNotifHolderIs(nullptr);
        break;
      default:
        table->intfIdToPortMapIs(i, pool[pick(6)]);
        break;
    }
  }

  // What IntfToPortMapSet must hold.
  std::map<IntfId, std::set<PortMap>> expectedSets() const {
    std::map<IntfId, std::set<PortMap>> out;
    for (auto const& [i, p] : table->intfIdToPortMap()) {
      for (PortMap const& e : expand(p)) out[i].insert(e);
      if (auto lag = CorvaneTest::configuredLag(*lagConfig, i)) {
        for (PortMap const& e : expand(p)) out[*lag].insert(e);
      }
    }
    return out;
  }

  // What PortMapToIntf must hold: per port map, the owner of its smallest eligible interface.
  std::map<PortMap, IntfId> expectedOwners() const {
    std::map<PortMap, std::map<IntfId, IntfId>> groups;
    for (auto const& [i, p] : table->intfIdToPortMap()) {
      if (p.fapPortId().isCpuTmPort() && !PortMapToIntfSm::isCpuTmOwner(i)) continue;
      groups[p][i] = portToLag->portToLagHas(i) ? portToLag->portToLag(i) : i;
    }
    std::map<PortMap, IntfId> out;
    for (auto const& [p, members] : groups) {
      for (PortMap const& e : expand(p)) out[e] = members.begin()->second;
    }
    return out;
  }
};

std::map<IntfId, std::set<PortMap>> contents(IntfToPortMapSet const& s) {
  std::map<IntfId, std::set<PortMap>> out;
  for (auto const& [i, set] : s.intfToPortMapSet()) {
    EXPECT_FALSE(set->portMapSet().empty());
    for (PortMap const& p : set->portMapSet()) out[i].insert(p);
  }
  return out;
}

std::map<PortMap, IntfId> contents(PortMapToIntf const& m) {
  std::map<PortMap, IntfId> out;
  for (auto const& [p, i] : m.portMapToIntf()) out[p] = i;
  return out;
}

// Both port-map SMs over one table, synchronous: owners on 2 FAPs and 2 cores, the
// interfaces' sets on `setFaps` FAPs and 2 cores. start() again is a restart.
struct BothPortMapSms {
  Ptr<IntfIdToPortMap> table = IntfIdToPortMap::IntfIdToPortMapIs("t");
  Ptr<PortToLag> portToLag = PortToLag::PortToLagIs();
  Ptr<PortMapToIntf> owners = PortMapToIntf::PortMapToIntfIs("o");
  Ptr<IntfToPortMapSet> sets = IntfToPortMapSet::IntfToPortMapSetIs("s");
  Ptr<Lag::Config> lagConfig = Lag::Config::ConfigIs("l");
  Ptr<PortMapToIntfSm> ownerSm;
  Ptr<IntfPortMapSm> setSm;
  void start(uint16_t setFaps) {
    setSm = nullptr;
    ownerSm = nullptr;
    ownerSm = portMapToIntfSmFactory(table, portToLag, 2, 2, owners, control(SmControl::synchronousOn));
    setSm = intfPortMapSmFactory(table, lagConfig, setFaps, 2, sets, control(SmControl::synchronousOn));
  }
};

}  // namespace

TEST(IntfIdToPortMap, ImmediateAndDeferredAnnouncements) {
  auto table = IntfIdToPortMap::IntfIdToPortMapIs("t");
  struct Seen : Subscriber {
    IntfIdToPortMap* table;
    std::vector<std::pair<IntfId, PortMap>> events;
    int holderChanges = 0;
    void dispatch(uint32_t attr, void const* key) override {
      holderChanges += attr == IntfIdToPortMap::attrDelayedNotifHolder;
      if (attr != IntfIdToPortMap::attrIntfIdToPortMap) return;
      IntfId i = *static_cast<IntfId const*>(key);
      events.emplace_back(i, table->intfIdToPortMap(i));
    }
  } seen;
  seen.table = table.get();
  // Nobody listening: delete-all is silent and leaves any holder queue alone.
  table->intfIdToPortMapIs(intf(0), pool[0]);
  table->intfIdToPortMapDelAll();
  EXPECT_TRUE(table->intfIdToPortMap().empty());
  table->subscriberAdd(&seen);
  table->intfIdToPortMapIs(intf(1), pool[1]);
  table->intfIdToPortMapIs(intf(1), pool[1]);  // equal: silent
  EXPECT_EQ(seen.events.size(), 1u);
  EXPECT_EQ(table->intfIdToPortMap(intf(5)), PortMap());
  EXPECT_EQ(table->intfIdToPortMapDel(intf(5)), PortMap());
  table->triggerDelayedNotif();  // no holder: nothing
  EXPECT_EQ(seen.events.size(), 1u);

  auto holder = DelayedNotifHolder::DelayedNotifHolderIs();
  table->delayedNotifHolderIs(holder);
  EXPECT_EQ(seen.holderChanges, 1);
  table->intfIdToPortMapIs(intf(2), pool[0]);
  table->intfIdToPortMapIs(intf(2), pool[2]);
  table->intfIdToPortMapIs(intf(2), pool[3]);
  table->intfIdToPortMapIs(intf(3), pool[0]);
  table->intfIdToPortMapDel(intf(3));  // inserted and deleted: seen as absent
  EXPECT_EQ(seen.events.size(), 1u);
  table->triggerDelayedNotif();
  ASSERT_EQ(seen.events.size(), 3u);
  std::map<IntfId, PortMap> burst(seen.events.begin() + 1, seen.events.end());
  EXPECT_EQ(burst[intf(2)], pool[3]);
  EXPECT_EQ(burst[intf(3)], PortMap());
  table->triggerDelayedNotif();
  EXPECT_EQ(seen.events.size(), 3u);
  // Detached: immediate again, and what the old holder still queues is not delivered.
  table->intfIdToPortMapIs(intf(4), pool[0]);
  table->delayedNotifHolderIs(nullptr);
  EXPECT_EQ(seen.holderChanges, 2);
  table->triggerDelayedNotif();
  EXPECT_EQ(seen.events.size(), 3u);
  table->intfIdToPortMapIs(intf(4), pool[1]);
  EXPECT_EQ(seen.events.size(), 4u);
  // Listened to: delete-all empties the table and announces each key as absent.
  table->intfIdToPortMapDelAll();
  EXPECT_TRUE(table->intfIdToPortMap().empty());
  ASSERT_EQ(seen.events.size(), 7u);
  for (size_t e = 4; e < 7; ++e) EXPECT_EQ(seen.events[e].second, PortMap()) << e;
  table->subscriberRemove(&seen);
}

// Synchronous over stale entries: right on return and after every change.
// Asynchronous, the scheduler yielding every few items, over owners partly wrong:
// right at quiescence although changes came during the start-up.
TEST(PortMapSms, MatchReferencesSynchronousOrYielding) {
  int32_t nodes = Node::liveNodes();
  for (bool synchronous : {true, false}) {
    for (uint32_t seed = 1; seed <= (synchronous ? 6u : 10u); ++seed) {
      SCOPED_TRACE(fmt::format("{} seed {}", synchronous ? "synchronous" : "asynchronous", seed));
      auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
      PortMapWorld w(synchronous ? seed : seed * 7);
      for (int i = 0; i < (synchronous ? 30 : 40); ++i) w.change();
      auto sets = IntfToPortMapSet::IntfToPortMapSetIs("sets");
      auto owners = PortMapToIntf::PortMapToIntfIs("owners");
      if (synchronous) {
        sets->intfToPortMapSetIs(intf(0))->portMapSetIs(pm(9, 99, 0));
        owners->portMapToIntfIs(pm(9, 99, 0), intf(0));
      } else {
        for (auto const& [p, o] : w.expectedOwners()) owners->portMapToIntfIs(p, o == intf(0) ? intf(1) : o);
      }
      SmControl const c = control(synchronous ? SmControl::synchronousOn : SmControl::synchronousOff, sched);
      auto a = intfPortMapSmFactory(w.table, w.lagConfig, kFaps, kCores, sets, c);
      auto b = portMapToIntfSmFactory(w.table, w.portToLag, kFaps, kCores, owners, c);
      if (!synchronous) {
        CorvaneTest::runUntilReady(*sched, [&] { return a->ready() && b->ready(); }, [&] { return w.pick(3) == 0; },
                                   [&] { w.change(); });
        sched->runUntilIdle();
      }
      ASSERT_EQ(contents(*sets), w.expectedSets());
      ASSERT_EQ(contents(*owners), w.expectedOwners());
      for (int step = 0; synchronous && step < 300; ++step) {
        w.change();
        ASSERT_EQ(contents(*sets), w.expectedSets()) << "step " << step;
        ASSERT_EQ(contents(*owners), w.expectedOwners()) << "step " << step;
      }
      a->doDeleteAll();
      b->doDeleteAll();
      EXPECT_TRUE(sets->intfToPortMapSet().empty());
      EXPECT_TRUE(owners->portMapToIntf().empty());
    }
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(PortMapSms, WildcardsCpuTmAndSharedOwners) {
  BothPortMapSms w;
  auto& [table, portToLag, owners, sets, lagConfig, ownerSm, setSm] = w;
  w.start(4);
  // FAP 2047, core 4 with 2 FAPs and 2 cores: four keys, FAP outermost.
  IntfId e1("Ethernet1"), e2("Ethernet2");
  table->intfIdToPortMapIs(e1, pm(2047, 30, 4));
  EXPECT_EQ(contents(*owners),
            (std::map<PortMap, IntfId>{{pm(0, 30, 0), e1}, {pm(0, 30, 1), e1}, {pm(1, 30, 0), e1}, {pm(1, 30, 1), e1}}));
  // FAP 2046 with maxFaps 4: four port maps in the interface's set.
  EXPECT_EQ(sets->intfToPortMapSet(e1)->portMapSet().size(), 8u);
  // Shared port map: the smallest interface's owner wins; a LAG member maps to the LAG.
  table->intfIdToPortMapIs(e2, pm(2047, 30, 4));
  EXPECT_EQ(owners->portMapToIntf(pm(1, 30, 1)), e1);
  portToLag->portToLagIs(e1, IntfId("Port-Channel7"));
  EXPECT_EQ(owners->portMapToIntf(pm(1, 30, 1)), IntfId("Port-Channel7"));
  table->intfIdToPortMapDel(e1);
  EXPECT_EQ(owners->portMapToIntf(pm(1, 30, 1)), e2);
  table->intfIdToPortMapDel(e2);
  EXPECT_TRUE(owners->portMapToIntf().empty());
  // CPU TM ports belong to CpuTm0..4 only.
  table->intfIdToPortMapIs(e1, pm(0, 2, 0));
  table->intfIdToPortMapIs(IntfId("CpuTm5"), pm(0, 2, 0));
  EXPECT_FALSE(owners->portMapToIntfHas(pm(0, 2, 0)));
  table->intfIdToPortMapIs(IntfId("CpuTm2"), pm(0, 2, 0));
  EXPECT_EQ(owners->portMapToIntf(pm(0, 2, 0)), IntfId("CpuTm2"));
  // The null FAP id is no wildcard.
  table->intfIdToPortMapIs(e2, pm(2048, 40, 1));
  EXPECT_EQ(sets->intfToPortMapSet(e2)->portMapSet().size(), 1u);
  EXPECT_TRUE(sets->intfToPortMapSet(e2)->portMapSetHas(pm(2048, 40, 1)));
}

// A wildcard past the limits: the error ends the event, what it wrote before stays,
// and the SM goes on serving other interfaces.
TEST(PortMapSms, RangeErrorsEndTheEventOnly) {
  auto table = IntfIdToPortMap::IntfIdToPortMapIs("t");
  auto lagConfig = Lag::Config::ConfigIs("l");
  auto sets0 = IntfToPortMapSet::IntfToPortMapSetIs("zero");
  auto sets9 = IntfToPortMapSet::IntfToPortMapSetIs("nine");
  auto table9 = IntfIdToPortMap::IntfIdToPortMapIs("t9");
  auto zero = intfPortMapSmFactory(table, lagConfig, 0, 2, sets0, control(SmControl::synchronousOn));
  auto wide = intfPortMapSmFactory(table9, lagConfig, 2050, 8, sets9, control(SmControl::synchronousOn));
  EXPECT_EQ(errorText<RangeError>([&] { table->intfIdToPortMapIs(IntfId("Ethernet1"), pm(2046, 50, 1)); }),
            "KelStrom::Range::min >= _max not allowed");
  EXPECT_TRUE(table->intfIdToPortMapHas(IntfId("Ethernet1")));  // the table keeps the change
  // Cores 0..7 with maxCores 8: core 7 is past the null core id 6.
  EXPECT_EQ(errorText<RangeError>([&] { table9->intfIdToPortMapIs(IntfId("Ethernet2"), pm(3, 51, 5)); }),
            "Hardware::Velt::LocalCoreId::value < Hardware::Velt::LocalCoreId::min or > "
            "Hardware::Velt::LocalCoreId::null not allowed");
  // The cores before it were written.
  EXPECT_EQ(sets9->intfToPortMapSet(IntfId("Ethernet2"))->portMapSet().size(), 7u);
  // FAPs 0..2049 with maxFaps 2050: FAP 2049 fails after 0..2048 were written.
  EXPECT_EQ(errorText<RangeError>([&] { table9->intfIdToPortMapIs(IntfId("Ethernet3"), pm(2047, 52, 0)); }),
            "Hardware::Velt::FapId::value < Hardware::Velt::FapId::min or > Hardware::Velt::FapId::null not allowed");
  EXPECT_EQ(sets9->intfToPortMapSet(IntfId("Ethernet3"))->portMapSet().size(), 2049u);
  // Valid port maps of other interfaces are still served by both.
  EXPECT_NO_THROW(table->intfIdToPortMapIs(IntfId("Ethernet4"), pm(1, 53, 1)));
  EXPECT_NO_THROW(table9->intfIdToPortMapIs(IntfId("Ethernet4"), pm(1, 53, 1)));
  EXPECT_TRUE(sets0->intfToPortMapSet(IntfId("Ethernet4"))->portMapSetHas(pm(1, 53, 1)));
  EXPECT_TRUE(sets9->intfToPortMapSet(IntfId("Ethernet4"))->portMapSetHas(pm(1, 53, 1)));
}

TEST(PortMapSms, FullWildcardWithLargestLimits) {
  auto table = IntfIdToPortMap::IntfIdToPortMapIs("t");
  auto owners = PortMapToIntf::PortMapToIntfIs("o");
  auto b = portMapToIntfSmFactory(table, PortToLag::PortToLagIs(), 2049, 7, owners, control(SmControl::synchronousOn));
  table->intfIdToPortMapIs(IntfId("Ethernet1"), pm(2046, 60, 4));
  EXPECT_EQ(owners->portMapToIntf().size(), 2049u * 7u);
  EXPECT_EQ(owners->portMapToIntf(pm(2048, 60, 6)), IntfId("Ethernet1"));
  table->intfIdToPortMapDel(IntfId("Ethernet1"));
  EXPECT_TRUE(owners->portMapToIntf().empty());
}

// At level 9 the port-map owner pipeline traces each element of the change pair it
// flattens: the old port map withdrawn and the new one added; at level 6 each fan-out
// of a port map over FAPs and cores says how many elements it flattens.
TEST(PortMapSms, OwnerPipelineTracesEachFlattenedChange) {
  auto table = intfIdToPortMapFactory("table");
  auto owners = PortMapToIntf::PortMapToIntfIs("owners");
  auto sm = portMapToIntfSmFactory(table, PortToLag::PortToLagIs(), kFaps, kCores, owners,
                                   control(SmControl::synchronousOn));
  table->intfIdToPortMapIs(intf(1), pm(1, 20, 0));
  CorvaneTest::TraceCapture trace("PortMapToIntfSm", uint16_t(1u << 9 | 1u << 6));
  table->intfIdToPortMapIs(intf(1), pm(2046, 20, 1));
  std::vector<std::string> flattened, fanOut;
  for (TraceRecord const& r : trace.records()) {
    if (r.function != "eventToStrm_pipeline0") continue;
    if (r.message.rfind("Flattening element: Tuple(", 0) == 0) flattened.push_back(r.message);
    if (r.level == 6 && r.message.find("Range") != std::string::npos) fanOut.push_back(r.message);
  }
  ASSERT_EQ(flattened.size(), 2u);
  EXPECT_EQ(flattened[0], "Flattening element: Tuple( Optional( PortMap(fap=1, port=20, core=0) ), false )");
  EXPECT_EQ(flattened[1], "Flattening element: Tuple( Optional( PortMap(fap=2046, port=20, core=1) ), true )");
  // The old port map: one FAP, one core; the new one: every FAP, one core on each.
  std::string const fap = " foreach( _fapIdRange15.coll ) flattening ";
  std::string const core = " foreach( _localCoreIdRange16.coll ) flattening ";
  EXPECT_EQ(fanOut, (std::vector<std::string>{fap + "1 elements", core + "1 elements", fap + "3 elements",
                                              core + "1 elements", core + "1 elements", core + "1 elements"}));

  // A deleted port map leaves the cache: given a port map again, the port had none.
  table->intfIdToPortMapDel(intf(1));
  trace.clear();
  table->intfIdToPortMapIs(intf(1), pm(1, 20, 0));
  std::vector<std::string> cacheReads;
  for (TraceRecord const& r : trace.records()) {
    if (r.message.find("from cache") != std::string::npos) cacheReads.push_back(r.message);
  }
  EXPECT_EQ(cacheReads, std::vector<std::string>{"Got value None with key Ethernet2 from cache"});
}

// Two different port maps whose expansions meet: neither SM counts an expanded port
// map per source, so withdrawing one source withdraws the shared key although the
// other still expands to it, and the last event that touched a key decides it. A
// restart computes the outputs again from a scan of the inputs.
TEST(PortMapSms, OverlappingExpansionsFollowTheLastEvent) {
  BothPortMapSms w;
  auto& [table, portToLag, owners, sets, lagConfig, ownerSm, setSm] = w;
  w.start(2);
  IntfId e1("Ethernet1"), e2("Ethernet2"), lag("Port-Channel1");
  PortMap const shared = pm(1, 30, 0);  // in the expansion of pm(2047, 30, 0), and itself
  for (IntfId m : {e1, e2}) lagConfig->phyIntfIs(m)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lag));
  table->intfIdToPortMapIs(e1, pm(2047, 30, 0));  // FAPs 0 and 1
  table->intfIdToPortMapIs(e2, shared);
  EXPECT_EQ(owners->portMapToIntf(shared), e2);  // written last
  EXPECT_EQ(sets->intfToPortMapSet(lag)->portMapSet().size(), 2u);

  table->intfIdToPortMapDel(e2);  // e1 still expands to the shared key
  EXPECT_FALSE(owners->portMapToIntfHas(shared));
  EXPECT_FALSE(sets->intfToPortMapSet(lag)->portMapSetHas(shared));
  EXPECT_TRUE(sets->intfToPortMapSet(e1)->portMapSetHas(shared));  // a port's own set has one source

  // A restart over those outputs puts the key back: the scan sees e1 alone.
  w.start(2);
  EXPECT_EQ(owners->portMapToIntf(shared), e1);
  EXPECT_TRUE(sets->intfToPortMapSet(lag)->portMapSetHas(shared));

  // A LAG id's own port map mixes with its members' in the LAG's set.
  table->intfIdToPortMapIs(lag, shared);
  table->intfIdToPortMapDel(lag);
  EXPECT_FALSE(sets->intfToPortMapSet(lag)->portMapSetHas(shared));
  EXPECT_TRUE(sets->intfToPortMapSet(lag)->portMapSetHas(pm(0, 30, 0)));
}

// A restart over outputs that are already right changes nothing and announces
// nothing, also where interfaces share a port map and the scan meets its owner (the
// smallest interface) after the others.
TEST(PortMapSms, RestartOverRightOutputsIsSilent) {
  BothPortMapSms w;
  auto& [table, portToLag, owners, sets, lagConfig, ownerSm, setSm] = w;
  w.start(2);
  for (int i = 0; i < 8; ++i) table->intfIdToPortMapIs(intf(i), pm(1, uint32_t(40 + i % 2), 0));
  table->intfIdToPortMapIs(intf(3), pm(2047, 50, 1));  // a wildcard of its own
  auto const rightOwners = contents(*owners);
  auto const rightSets = contents(*sets);
  CorvaneTest::Heard heardOwners(*owners), heardSets(*sets);
  w.start(2);
  EXPECT_EQ(heardOwners.n, 0);
  EXPECT_EQ(heardSets.n, 0);
  EXPECT_EQ(contents(*owners), rightOwners);
  EXPECT_EQ(contents(*sets), rightSets);
}
