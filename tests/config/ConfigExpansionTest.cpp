// Configuration expansion against its references: the per-TCAM and per-port-map
// expansions (output = {(i, e) -> payload(i) : e in set(i)}, the payload object
// shared, never copied) and the LAG-member expansion (a member carries its LAG's
// payload, anything else its own). Random payload, set and membership changes in
// synchronous and yielding asynchronous mode, restarts over stale outputs, and the
// whole configuration road wired end to end.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::control;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

namespace {

struct Payload : FeatureConfigBase {
  int tag;
  explicit Payload(int t) : tag(t) {}
};

IntfId port(int n) { return IntfId::ethernet(uint16_t(n + 1)); }
IntfId lagId(int n) { return IntfId::portChannel(uint32_t(n + 1)); }

// Payloads are compared by identity: the map holds object addresses.
template <class K>
std::map<K, FeatureConfigBase const*> identities(HashMap<K, Ptr<FeatureConfigBase>> const& c) {
  std::map<K, FeatureConfigBase const*> out;
  for (auto const& [k, p] : c) out[k] = p.get();
  return out;
}

// Drives an IntfFeatureConfig with new objects, the same object again, and null.
struct Payloads {
  Ptr<IntfFeatureConfig> config = IntfFeatureConfig::IntfFeatureConfigIs();
  std::vector<Ptr<FeatureConfigBase>> objects;
  void change(std::mt19937& rng, IntfId i) {
    switch (rng() % 4) {
      case 0:
        objects.push_back(Ptr<FeatureConfigBase>(new Payload(int(objects.size()))));
        config->configIs(i, objects.back());
        break;
      case 1:
        if (auto p = config->config(i)) config->configIs(i, p);  // the same object again
        break;
      case 2:
        config->configIs(i, nullptr);
        break;
      default:
        if (!objects.empty()) config->configIs(i, objects[rng() % objects.size()]);  // shared between keys
        break;
    }
  }
};

// The two per-element expansions differ only in their set and key types.
struct TcamCase {
  using Sm = ConfigExpSm;
  using SetEntity = IntfToTcamSet;
  using Output = IntfTcamFeatureConfig;
  using Key = IntfIdSystemTcamId;
  static Ptr<SetEntity> sets() { return IntfToTcamSet::IntfToTcamSetIs("sets"); }
  static Ptr<Output> output() { return IntfTcamFeatureConfig::IntfTcamFeatureConfigIs(); }
  static SystemTcamId elem(int n) { return SystemTcamId(uint16_t(n)); }
  static void add(SetEntity& s, IntfId i, int n) { s.intfToTcamSetIs(i)->tcamSetIs(elem(n)); }
  static void del(SetEntity& s, IntfId i, int n) {
    if (auto t = s.intfToTcamSet(i)) t->tcamSetDel(elem(n));
  }
  static void drop(SetEntity& s, IntfId i) { s.intfToTcamSetDel(i); }
  static auto const& outer(SetEntity const& s) { return s.intfToTcamSet(); }
  static auto const& inner(TcamSet const& t) { return t.tcamSet(); }
  static Ptr<Sm> make(Ptr<SetEntity> s, Ptr<IntfFeatureConfig> c, Ptr<Output> o, SmControl const& ctl) {
    return configExpSmFactory(s, c, o, ctl);
  }
};
struct PortMapCase {
  using Sm = ConfigPortMapExpSm;
  using SetEntity = IntfToPortMapSet;
  using Output = IntfPortMapFeatureConfig;
  using Key = IntfIdPortMap;
  static Ptr<SetEntity> sets() { return IntfToPortMapSet::IntfToPortMapSetIs("sets"); }
  static Ptr<Output> output() { return IntfPortMapFeatureConfig::IntfPortMapFeatureConfigIs(); }
  static PortMap elem(int n) { return PortMap(FapId(uint32_t(n % 3)), FapPortId(uint32_t(40 + n)), LocalCoreId(1)); }
  static void add(SetEntity& s, IntfId i, int n) { s.intfToPortMapSetIs(i)->portMapSetIs(elem(n)); }
  static void del(SetEntity& s, IntfId i, int n) {
    if (auto t = s.intfToPortMapSet(i)) t->portMapSetDel(elem(n));
  }
  static void drop(SetEntity& s, IntfId i) { s.intfToPortMapSetDel(i); }
  static auto const& outer(SetEntity const& s) { return s.intfToPortMapSet(); }
  static auto const& inner(PortMapSet const& t) { return t.portMapSet(); }
  static Ptr<Sm> make(Ptr<SetEntity> s, Ptr<IntfFeatureConfig> c, Ptr<Output> o, SmControl const& ctl) {
    return configPortMapExpSmFactory(s, c, o, ctl);
  }
};

template <class Case>
struct ExpansionWorld {
  Ptr<typename Case::SetEntity> sets = Case::sets();
  Payloads payloads;
  std::mt19937 rng;
  explicit ExpansionWorld(uint32_t seed) : rng(seed) {}
  void change() {
    IntfId i = rng() % 4 ? port(int(rng() % 8)) : lagId(int(rng() % 2));
    switch (rng() % 6) {
      case 0:
      case 1:
        payloads.change(rng, i);
        break;
      case 2:
      case 3:
        Case::add(*sets, i, int(rng() % 5));
        break;
      case 4:
        Case::del(*sets, i, int(rng() % 5));
        break;
      default:
        if (rng() % 3 == 0) Case::drop(*sets, i);
        break;
    }
  }
  std::map<typename Case::Key, FeatureConfigBase const*> expected() const {
    std::map<typename Case::Key, FeatureConfigBase const*> out;
    for (auto const& [i, set] : Case::outer(*sets)) {
      auto p = payloads.config->config(i);
      if (!p) continue;
      for (auto const& e : Case::inner(*set)) out[typename Case::Key(i, e)] = p.get();
    }
    return out;
  }
};

template <class Case>
void expansionMatchesReference() {
  int32_t nodes = Node::liveNodes();
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    bool async = seed % 2 == 0;
    auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
    ExpansionWorld<Case> w(seed);
    for (int n = 0; n < 40; ++n) w.change();
    auto out = Case::output();
    // Leftovers of an earlier run: a stale key and a key the inputs produce.
    out->configIs(typename Case::Key(IntfId::ethernet(99), Case::elem(1)), Ptr<FeatureConfigBase>(new Payload(-1)));
    for (auto const& [k, p] : w.expected()) {
      out->configIs(k, w.payloads.config->config(k.intfId()));
      break;
    }
    auto sm = Case::make(w.sets, w.payloads.config, out,
                         control(async ? SmControl::synchronousOff : SmControl::synchronousOn, sched));
    CorvaneTest::runUntilReady(*sched, [&] { return sm->ready(); }, [&] { return w.rng() % 3 == 0; },
                               [&] { w.change(); });
    sched->runUntilIdle();
    ASSERT_EQ(identities(out->config()), w.expected()) << "seed " << seed;
    for (int step = 0; step < 300; ++step) {
      w.change();
      ASSERT_EQ(identities(out->config()), w.expected()) << "seed " << seed << " step " << step;
    }
    sm->doDeleteAll();
    EXPECT_TRUE(out->config().empty()) << "seed " << seed;
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

// What the LAG-member expansion must publish.
std::map<IntfId, FeatureConfigBase const*> memberExpansion(IntfFeatureConfig const& in, Lag::Config const& lags) {
  std::map<IntfId, FeatureConfigBase const*> out;
  std::set<IntfId> ids;
  for (auto const& [i, p] : in.config()) ids.insert(i);
  for (auto const& [i, e] : lags.phyIntf()) ids.insert(i);
  for (IntfId x : ids) {
    if (x.isPortChannelIntfId()) continue;
    auto e = lags.phyIntf(x);
    IntfId source = e && e->lag() ? e->lag()->intfId() : x;
    if (auto p = in.config(source)) out[x] = p.get();
  }
  return out;
}

void changeMembership(Lag::Config& lags, std::mt19937& rng) {
  IntfId p = port(int(rng() % 8));
  switch (rng() % 4) {
    case 0:
    case 1:
      lags.phyIntfIs(p)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(lagId(int(rng() % 2))));
      break;
    case 2:
      if (auto e = lags.phyIntf(p)) e->lagIs(nullptr);
      break;
    default:
      lags.phyIntfDel(p);
      break;
  }
}

}  // namespace

TEST(ConfigExpSm, MatchesReferenceSharingPayloads) { expansionMatchesReference<TcamCase>(); }
TEST(ConfigPortMapExpSm, MatchesReferenceSharingPayloads) { expansionMatchesReference<PortMapCase>(); }

TEST(ConfigExpSm, SamePayloadAgainIsSilentDownstream) {
  auto sets = IntfToTcamSet::IntfToTcamSetIs("s");
  Payloads pl;
  auto out = IntfTcamFeatureConfig::IntfTcamFeatureConfigIs();
  auto sm = configExpSmFactory(sets, pl.config, out, control(SmControl::synchronousOn));
  sets->intfToTcamSetIs(port(0))->tcamSetIs(SystemTcamId(1));
  sets->intfToTcamSetIs(port(0))->tcamSetIs(SystemTcamId(2));
  Ptr<FeatureConfigBase> p(new Payload(1));
  pl.config->configIs(port(0), p);
  EXPECT_EQ(out->config(IntfIdSystemTcamId(port(0), SystemTcamId(1))), p);
  EXPECT_EQ(out->config(IntfIdSystemTcamId(port(0), SystemTcamId(2))), p);
  CorvaneTest::Heard count(*out);
  static_cast<Payload&>(*p).tag = 7;  // changed in place and set again: invisible
  pl.config->configIs(port(0), p);
  EXPECT_EQ(count.n, 0);
  // A new payload: the pipeline says how many TCAMs it fans out to, then writes each.
  std::vector<std::string> foreach;
  {
    CorvaneTest::TraceCapture trace("ConfigExpSm", uint16_t(1u << 6));
    pl.config->configIs(port(0), Ptr<FeatureConfigBase>(new Payload(2)));
    for (auto const& r : trace.records()) {
      if (r.function == "eventToStrm_pipeline0") foreach.push_back(r.message);
    }
  }
  EXPECT_EQ(count.n, 2);
  EXPECT_EQ(foreach, std::vector<std::string>{" foreach( ( *tcamSet ).tcamSet ) flattening 2 elements"});
}

TEST(ConfigLagMemberExpSm, MatchesReference) {
  int32_t nodes = Node::liveNodes();
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    bool async = seed % 2 == 0;
    auto sched = CorvaneTest::yieldingScheduler(1 + seed % 3);
    std::mt19937 rng(seed);
    Payloads pl;
    auto lags = Lag::Config::ConfigIs("lags");
    auto change = [&] {
      if (rng() % 2) {
        pl.change(rng, rng() % 3 ? port(int(rng() % 8)) : lagId(int(rng() % 2)));
      } else {
        changeMembership(*lags, rng);
      }
    };
    for (int n = 0; n < 40; ++n) change();
    auto out = IntfFeatureConfig::IntfFeatureConfigIs();
    out->configIs(lagId(0), Ptr<FeatureConfigBase>(new Payload(-1)));     // LAGs never get an entry
    out->configIs(port(50), Ptr<FeatureConfigBase>(new Payload(-2)));     // no payload for it
    auto sm = configLagMemberExpSmFactory(pl.config, out, lags,
                                          control(async ? SmControl::synchronousOff : SmControl::synchronousOn, sched));
    CorvaneTest::runUntilReady(*sched, [&] { return sm->ready(); }, [&] { return rng() % 3 == 0; }, change);
    sched->runUntilIdle();
    ASSERT_EQ(identities(out->config()), memberExpansion(*pl.config, *lags)) << "seed " << seed;
    for (int step = 0; step < 300; ++step) {
      change();
      ASSERT_EQ(identities(out->config()), memberExpansion(*pl.config, *lags)) << "seed " << seed << " step " << step;
    }
    // The reverse membership map follows the configuration.
    for (auto const& [lag, members] : sm->lagToMemberSet()->lagMemberSet()) {
      for (IntfId m : members->memberSet()) EXPECT_EQ(lags->phyIntf(m)->lag()->intfId(), lag);
    }
    // Tearing down recomputes from the inputs, which still hold their entries: nothing changes.
    auto before = identities(out->config());
    sm->doDeleteAll();
    EXPECT_EQ(identities(out->config()), before);
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

TEST(ConfigLagMemberExpSm, LagPrecedenceEdgeCases) {
  Payloads pl;
  auto lags = Lag::Config::ConfigIs("lags");
  auto out = IntfFeatureConfig::IntfFeatureConfigIs();
  auto sm = configLagMemberExpSmFactory(pl.config, out, lags, control(SmControl::synchronousOn));
  IntfId e1 = port(0), e2 = port(1), L = lagId(0), L2 = lagId(1);
  auto lagRef = [](IntfId l) { return Interface::EthLagIntfConfig::EthLagIntfConfigIs(l); };
  Ptr<FeatureConfigBase> pL(new Payload(1)), p1(new Payload(2)), pL2(new Payload(3));
  lags->phyIntfIs(e1)->lagIs(lagRef(L));
  lags->phyIntfIs(e2)->lagIs(lagRef(L));
  pl.config->configIs(e1, p1);
  EXPECT_FALSE(out->configHas(e1));  // L has no payload: its member gets none
  pl.config->configIs(L, pL);
  EXPECT_EQ(out->config(e1), pL);
  EXPECT_EQ(out->config(e2), pL);
  EXPECT_FALSE(out->configHas(L));
  lags->phyIntf(e1)->lagIs(nullptr);
  EXPECT_EQ(out->config(e1), p1);
  lags->phyIntf(e1)->lagIs(lagRef(L));
  lags->phyIntfDel(e1);
  EXPECT_EQ(out->config(e1), p1);
  pl.config->configIs(L2, pL2);
  lags->phyIntf(e2)->lagIs(lagRef(L2));
  EXPECT_EQ(out->config(e2), pL2);
  EXPECT_FALSE(sm->lagToMemberSet()->lagMemberSetHas(L));
  pl.config->configIs(L, nullptr);  // no members left: nothing to do
  EXPECT_EQ(out->config(e2), pL2);

  // A port in no LAG whose LAG entry comes and goes: nothing for the merged pipeline.
  IntfId const e3 = port(2);
  pl.config->configIs(e3, p1);
  uint64_t const runs = sm->statistics().pipelines.at(0).runs;
  lags->phyIntfIs(e3);
  lags->phyIntfDel(e3);
  EXPECT_EQ(sm->statistics().pipelines.at(0).runs, runs);
  EXPECT_EQ(out->config(e3), p1);
  // Joining a LAG runs it once.
  lags->phyIntfIs(e3)->lagIs(lagRef(L2));
  EXPECT_EQ(sm->statistics().pipelines.at(0).runs, runs + 1);
  EXPECT_EQ(out->config(e3), pL2);

  // A machine started now writes e3 as L2's member before its LAG stream meets e3;
  // once that stream has, e3 is like any port: leaving, then losing its entry, runs once.
  auto late = configLagMemberExpSmFactory(pl.config, IntfFeatureConfig::IntfFeatureConfigIs(), lags,
                                          control(SmControl::synchronousOn));
  uint64_t const lateRuns = late->statistics().pipelines.at(0).runs;
  lags->phyIntf(e3)->lagIs(nullptr);
  lags->phyIntfDel(e3);
  EXPECT_EQ(late->statistics().pipelines.at(0).runs, lateRuns + 1);
}

// A port that leaves its LAG during the start-up event pass, after the feature
// stream has written it as a member but before the LAG stream has reached it, gets
// its own payload back. Found by the whole-wiring system test: the LAG stream saw
// (none, none) and left the LAG's payload on the port. Every interleaving point of
// the asynchronous start-up is tried, the port leaving by a cleared `lag` and by the
// removal of its element.
TEST(ConfigLagMemberExpSm, PortLeavingItsLagDuringTheStartUpPass) {
  int32_t nodes = Node::liveNodes();
  IntfId const e1 = port(0), L = lagId(0);
  for (bool removeElement : {false, true}) {
    bool windowHit = false;
    for (int steps = 0; steps < 40; ++steps) {
      auto sched = CorvaneTest::yieldingScheduler(1);
      Payloads pl;
      auto lags = Lag::Config::ConfigIs("lags");
      Ptr<FeatureConfigBase> pL(new Payload(1)), p1(new Payload(2));
      for (int n = 1; n < 6; ++n) lags->phyIntfIs(port(n));  // ports in no LAG, so the scans yield
      lags->phyIntfIs(e1)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(L));
      pl.config->configIs(L, pL);
      pl.config->configIs(e1, p1);
      auto out = IntfFeatureConfig::IntfFeatureConfigIs();
      out->configIs(port(9), Ptr<FeatureConfigBase>(new Payload(-1)));  // stale: the output is reconciled
      auto sm = configLagMemberExpSmFactory(pl.config, out, lags, control(SmControl::synchronousOff, sched));
      for (int i = 0; i < steps; ++i) sched->runOne();
      windowHit |= out->config(e1) == pL && !sm->lagToMemberSet()->lagMemberSetHas(L);
      if (removeElement) {
        lags->phyIntfDel(e1);
      } else {
        lags->phyIntf(e1)->lagIs(nullptr);
      }
      sched->runUntilIdle();
      ASSERT_TRUE(sm->ready());
      EXPECT_EQ(out->config(e1), p1) << "left after " << steps << " task runs, element removed: " << removeElement;
      EXPECT_FALSE(out->configHas(port(9)));
    }
    EXPECT_TRUE(windowHit);  // the scenario above really reached the window
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
}

// IntfTcamSm -> ConfigExpSm and IntfPortMapSm -> ConfigPortMapExpSm, both fed by
// ConfigLagMemberExpSm, with the hardware and LAG inputs changing underneath.
TEST(ConfigRoad, WiredEndToEnd) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    std::mt19937 rng(seed);
    auto sched = CorvaneTest::yieldingScheduler(2);
    SmControl ctl = control(seed % 2 ? SmControl::synchronousOn : SmControl::synchronousOff, sched);
    auto hw = Hardware::Velt::Status::StatusIs("hw");
    auto lags = Lag::Config::ConfigIs("lags");
    auto table = IntfIdToPortMap::IntfIdToPortMapIs("pm");
    Payloads pl;
    auto perPort = IntfFeatureConfig::IntfFeatureConfigIs();
    auto tcams = IntfToTcamSet::IntfToTcamSetIs("tcams");
    auto portMaps = IntfToPortMapSet::IntfToPortMapSetIs("portMaps");
    auto tcamOut = IntfTcamFeatureConfig::IntfTcamFeatureConfigIs();
    auto pmOut = IntfPortMapFeatureConfig::IntfPortMapFeatureConfigIs();
    auto change = [&] {
      IntfId p = port(int(rng() % 8));
      switch (rng() % 4) {
        case 0:
          hw->intfIdToSystemTcamIdIs(p, SystemTcamId(uint16_t(rng() % 3)));
          break;
        case 1:
          table->intfIdToPortMapIs(p, PortMap(FapId(uint32_t(rng() % 2 ? 2046 : 1)), FapPortId(uint32_t(10 + rng() % 8)),
                                              LocalCoreId(uint32_t(rng() % 2))));
          break;
        case 2:
          changeMembership(*lags, rng);
          break;
        default:
          pl.change(rng, rng() % 3 ? p : lagId(int(rng() % 2)));
          break;
      }
    };
    for (int n = 0; n < 30; ++n) change();
    auto a = intfTcamSmFactory(hw, lags, tcams, ctl);
    auto b = intfPortMapSmFactory(table, lags, 2, 2, portMaps, ctl);
    auto c = configLagMemberExpSmFactory(pl.config, perPort, lags, ctl);
    auto d = configExpSmFactory(tcams, perPort, tcamOut, ctl);
    auto e = configPortMapExpSmFactory(portMaps, perPort, pmOut, ctl);
    for (int n = 0; n < 200; ++n) {
      change();
      if (rng() % 2) sched->runOne();
    }
    sched->runUntilIdle();
    for (RootSm* sm : {static_cast<RootSm*>(a.get()), static_cast<RootSm*>(b.get()), static_cast<RootSm*>(c.get()),
                       static_cast<RootSm*>(d.get()), static_cast<RootSm*>(e.get())}) {
      EXPECT_TRUE(sm->ready()) << sm->sourceName();
    }
    // Reference from scratch: per-port payloads, then expanded over each interface's TCAMs and port maps.
    auto payloadOf = memberExpansion(*pl.config, *lags);
    std::map<IntfIdSystemTcamId, FeatureConfigBase const*> wantTcam;
    for (auto const& [i, set] : tcams->intfToTcamSet()) {
      auto it = payloadOf.find(i);
      if (it == payloadOf.end()) continue;
      for (SystemTcamId t : set->tcamSet()) wantTcam[IntfIdSystemTcamId(i, t)] = it->second;
    }
    std::map<IntfIdPortMap, FeatureConfigBase const*> wantPm;
    for (auto const& [i, set] : portMaps->intfToPortMapSet()) {
      auto it = payloadOf.find(i);
      if (it == payloadOf.end()) continue;
      for (PortMap const& m : set->portMapSet()) wantPm[IntfIdPortMap(i, m)] = it->second;
    }
    EXPECT_EQ(identities(perPort->config()), payloadOf) << "seed " << seed;
    EXPECT_EQ(identities(tcamOut->config()), wantTcam) << "seed " << seed;
    EXPECT_EQ(identities(pmOut->config()), wantPm) << "seed " << seed;
  }
}
