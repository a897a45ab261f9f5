// Statistics and start-up progress of a state machine, checked against counts this
// test makes on its own by watching the entities the machine reads and writes.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::control;

namespace {

struct Payload : FeatureConfigBase {};

IntfId const et1 = IntfId::ethernet(1);
IntfId const et2 = IntfId::ethernet(2);
IntfId const et3 = IntfId::ethernet(3);
IntfId const et9 = IntfId::ethernet(9);

// Counts every notification of the entities it is added to.
struct EventCounter : Subscriber {
  uint64_t events = 0;
  void dispatch(uint32_t, void const*) override { ++events; }
};

// Classifies the output's notifications as inserts, replaces and deletes from a
// shadow copy of the table.
struct OutputWatch : Subscriber {
  Ptr<IntfTcamFeatureConfig> out;
  std::map<IntfIdSystemTcamId, FeatureConfigBase const*> shadow;
  uint64_t inserted = 0, replaced = 0, deleted = 0;
  explicit OutputWatch(Ptr<IntfTcamFeatureConfig> o) : out(std::move(o)) {
    for (auto const& [k, v] : out->config()) shadow[k] = v.get();
    out->subscriberAdd(this);
  }
  ~OutputWatch() override { out->subscriberRemove(this); }
  void dispatch(uint32_t, void const* key) override {
    auto const& k = *static_cast<IntfIdSystemTcamId const*>(key);
    Ptr<FeatureConfigBase> now = out->config(k);
    auto const it = shadow.find(k);
    if (!now) {
      ++deleted;
      shadow.erase(k);
    } else if (it == shadow.end()) {
      ++inserted;
      shadow[k] = now.get();
    } else {
      ++replaced;
      it->second = now.get();
    }
  }
  void reset() { inserted = replaced = deleted = 0; }
};

uint64_t inputEvents(SmStatistics const& s) {
  uint64_t n = 0;
  for (auto const& i : s.inputs) n += i.events;
  return n;
}

}  // namespace

TEST(Statistics, CountsMatchWhatTheEntitiesSaw) {
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("sets");
  Ptr<IntfFeatureConfig> config = intfFeatureConfigFactory();
  Ptr<IntfTcamFeatureConfig> out = intfTcamFeatureConfigFactory();
  Ptr<FeatureConfigBase> const p1 = makePtr<Payload>(), p2 = makePtr<Payload>(), p3 = makePtr<Payload>();
  sets->intfToTcamSetIs(et1)->tcamSetIs(SystemTcamId(1));
  sets->intfToTcamSetIs(et2)->tcamSetIs(SystemTcamId(1));
  sets->intfToTcamSetIs(et2)->tcamSetIs(SystemTcamId(2));
  config->configIs(et1, p1);
  config->configIs(et2, p2);
  // Left over from an earlier run: one stale entry, one still right.
  out->configIs(IntfIdSystemTcamId(et9, SystemTcamId(1)), p3);
  out->configIs(IntfIdSystemTcamId(et1, SystemTcamId(1)), p1);

  OutputWatch watch(out);
  Ptr<ConfigExpSm> sm = configExpSmFactory(sets, config, out, control(SmControl::synchronousOn));
  ASSERT_TRUE(sm->ready());
  SmStatistics s = sm->statistics();
  ASSERT_EQ(s.outputs.size(), 1u);
  EXPECT_EQ(s.outputs[0].inserted, watch.inserted);  // (Et2, 1) and (Et2, 2)
  EXPECT_EQ(watch.inserted, 2u);
  EXPECT_EQ(s.outputs[0].reconcileDeleted, watch.deleted);
  EXPECT_EQ(watch.deleted, 1u);
  EXPECT_EQ(s.outputs[0].reconcileKnown, 4u);  // the output when the deletion scan began
  EXPECT_EQ(inputEvents(s), 0u);
  for (auto const& in : s.inputs) {
    EXPECT_EQ(in.scanItems, in.scanKnown) << in.name << ": each pass visits what it found, once";
  }
  for (auto t : {&s.firstPassDone, &s.initialScanDone, &s.reconciled, &s.ready}) {
    EXPECT_GE(*t, s.created);
  }
  EXPECT_LE(s.firstPassDone, s.initialScanDone);
  EXPECT_LE(s.initialScanDone, s.ready);

  // Steady state: count the notifications of every input entity.
  EventCounter inputs;
  sets->subscriberAdd(&inputs);
  config->subscriberAdd(&inputs);
  for (auto const& [intf, set] : sets->intfToTcamSet()) set->subscriberAdd(&inputs);
  watch.reset();
  sm->statisticsReset();
  EXPECT_EQ(inputEvents(sm->statistics()), 0u);

  config->configIs(et1, p3);                         // replaces (Et1, 1)
  sets->intfToTcamSet(et2)->tcamSetDel(SystemTcamId(2));  // deletes (Et2, 2)
  Ptr<TcamSet> s3 = sets->intfToTcamSetIs(et3);
  s3->subscriberAdd(&inputs);
  s3->tcamSetIs(SystemTcamId(3));
  config->configIs(et3, p2);  // inserts (Et3, 3)
  config->configIs(et3, p2);  // the same payload again: no notification, no write

  s = sm->statistics();
  EXPECT_EQ(inputEvents(s), inputs.events);
  EXPECT_EQ(s.outputs[0].inserted, watch.inserted);
  EXPECT_EQ(s.outputs[0].replaced, watch.replaced);
  EXPECT_EQ(s.outputs[0].deleted, watch.deleted);
  EXPECT_EQ(watch.inserted + watch.replaced + watch.deleted, 3u);
  uint64_t runs = 0;
  for (auto const& p : s.pipelines) runs += p.runs;
  EXPECT_GE(runs, inputs.events - 1) << "every event but the new set's announcement ran a pipeline";
  // Reconciliation figures describe the start-up and survive a reset.
  EXPECT_EQ(s.outputs[0].reconcileDeleted, 1u);

  // Through the registry, by name.
  EXPECT_EQ(Reflect::read(*sm, "phase"), "ready");
  EXPECT_EQ(Reflect::read(*sm, "defaultSynchronous"), "false");  // whatever its control asked
  EXPECT_NE(Reflect::read(*sm, "statistics").find("output intfTcamFeatureConfigConfigOutput"), std::string::npos);
  Reflect::run(*sm, "statisticsReset");
  EXPECT_EQ(sm->statistics().outputs[0].inserted, 0u);

  for (auto const& [intf, set] : sets->intfToTcamSet()) set->subscriberRemove(&inputs);
  sets->subscriberRemove(&inputs);
  config->subscriberRemove(&inputs);
}

// A restart over stale outputs in an SM that holds its writes back until reconciled:
// what reconciliation deleted and wrote is what the output announced.
TEST(Statistics, ReconciliationCountsMatchTheOutputsNotifications) {
  auto status = Hardware::VeltLag::Status::StatusIs("lag");
  auto portToLag = PortToLag::PortToLagIs();
  for (uint32_t l = 1; l <= 3; ++l) {
    auto config = status->lagHwConfigIs(IntfId::portChannel(l));
    for (uint32_t m = 0; m < 4; ++m) config->memberInfoIs(IntfId::ethernet(uint16_t(10 * l + m)), {m, true});
  }
  portToLag->portToLagIs(IntfId::ethernet(10), IntfId::portChannel(1));  // still right
  portToLag->portToLagIs(IntfId::ethernet(11), IntfId::portChannel(7));  // wrong LAG
  portToLag->portToLagIs(IntfId::ethernet(99), IntfId::portChannel(9));  // gone
  struct Watch : Subscriber {
    Ptr<PortToLag> out;
    uint64_t writes = 0, deletes = 0;
    void dispatch(uint32_t, void const* key) override {
      ++(out->portToLagHas(*static_cast<IntfId const*>(key)) ? writes : deletes);
    }
  } watch;
  watch.out = portToLag;
  portToLag->subscriberAdd(&watch);
  Ptr<LagHwConfigPortToLagSm> sm = lagHwConfigPortToLagSmFactory(status, portToLag, control(SmControl::synchronousOn));
  ASSERT_TRUE(sm->ready());
  OutputStatistics const o = sm->statistics().outputs.at(0);
  EXPECT_EQ(o.reconcileDeleted, watch.deletes);
  EXPECT_EQ(watch.deletes, 1u);
  EXPECT_EQ(o.reconcileInserted, 12u) << "every member is written once, held back until reconciled";
  EXPECT_EQ(watch.writes, 11u) << "Ethernet10's entry was already right";
  EXPECT_EQ(o.inserted + o.replaced + o.deleted, 0u) << "nothing reached the output outside reconciliation";
  EXPECT_EQ(o.reconcileKnown, 3u + 12u) << "the stale output's entries, then the entries held back";
  portToLag->subscriberRemove(&watch);

  // A nested output's deletion scan knows every outer and every inner entry.
  auto velt = Hardware::Velt::Status::StatusIs("velt");
  velt->intfIdToSystemTcamIdIs(IntfId::ethernet(1), SystemTcamId(1));
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("sets");
  sets->intfToTcamSetIs(IntfId::ethernet(1))->tcamSetIs(SystemTcamId(1));  // still right
  sets->intfToTcamSetIs(IntfId::ethernet(2))->tcamSetIs(SystemTcamId(1));  // gone
  sets->intfToTcamSetIs(IntfId::ethernet(2))->tcamSetIs(SystemTcamId(2));  // gone
  Ptr<IntfTcamSm> tcamSm =
      intfTcamSmFactory(velt, Lag::Config::ConfigIs("lags"), sets, control(SmControl::synchronousOn));
  ASSERT_TRUE(tcamSm->ready());
  OutputStatistics const nested = tcamSm->statistics().outputs.at(0);
  EXPECT_EQ(nested.reconcileKnown, 2u + 3u + 1u) << "two interfaces, three TCAMs, then the entry held back";
  EXPECT_EQ(nested.reconcileDeleted, 3u) << "Ethernet2's two TCAMs, then Ethernet2";
}

TEST(Statistics, ProgressRisesAndCompletesExactlyAtReady) {
  auto scheduler = CorvaneTest::yieldingScheduler(3);
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("sets");
  Ptr<IntfFeatureConfig> config = intfFeatureConfigFactory();
  Ptr<IntfTcamFeatureConfig> out = intfTcamFeatureConfigFactory();
  Ptr<FeatureConfigBase> const p = makePtr<Payload>();
  for (uint32_t i = 1; i <= 40; ++i) {
    sets->intfToTcamSetIs(IntfId::ethernet(i))->tcamSetIs(SystemTcamId(i % 4));
    config->configIs(IntfId::ethernet(i), p);
    if (i % 5 == 0) out->configIs(IntfIdSystemTcamId(IntfId::ethernet(100 + i), SystemTcamId(0)), p);
  }
  Ptr<ConfigExpSm> sm = configExpSmFactory(sets, config, out, control(SmControl::synchronousOff, scheduler));
  StartupProgress last = sm->startupProgress();
  int runs = 0;
  while (scheduler->runOne()) {
    ++runs;
    StartupProgress const now = sm->startupProgress();
    EXPECT_GE(now.done, last.done);
    EXPECT_GE(now.phase, last.phase);
    EXPECT_EQ(now.complete, sm->ready());
    // Something is left until the machine is ready: the fraction stays below one.
    EXPECT_EQ(now.complete, now.done == now.known) << "done " << now.done << " known " << now.known;
    EXPECT_LE(now.done, now.known);
    last = now;
  }
  EXPECT_GT(runs, 10) << "the start-up yielded";
  EXPECT_TRUE(last.complete);
  EXPECT_EQ(last.phase, SmPhase::ready);
  StartupProgress const sum = startupProgress({sm.get(), sm.get()});
  EXPECT_EQ(sum.done, 2 * last.done);
  EXPECT_TRUE(sum.complete);
  EXPECT_GT(sm->statistics().inputs[0].scanYields + sm->statistics().inputs[1].scanYields, 0u);
  EXPECT_GT(sm->statistics().outputs[0].bookmarkResumes, 0u);
  // A value with no name prints as its number, the first one past the names too.
  EXPECT_EQ(textForm(static_cast<SmPhase>(200)), "200");
  EXPECT_EQ(textForm(static_cast<SmPhase>(6)), "6");
  EXPECT_EQ(textForm(SmPhase::eventPass), "eventPass");
}

// What memoryByType counts for the two SMs of the TCAM road and their entities comes to
// within a tenth of what the heap grew by while they were built.
TEST(Statistics, MemoryByTypeAccountsForTheHeap) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#else
  uint32_t const ports = 20000;
  // Small blocks and the large ones the allocator maps on their own.
  auto heap = [] {
    struct mallinfo2 const m = mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  size_t const before = heap();
  {
    auto velt = Hardware::Velt::Status::StatusIs("velt");
    auto lags = Lag::Config::ConfigIs("lags");
    auto sets = intfToTcamSetFactory("sets");
    auto config = intfFeatureConfigFactory();
    auto out = intfTcamFeatureConfigFactory();
    std::vector<Ptr<Interface::EthLagIntfConfig>> lagConfigs;
    for (uint32_t i = 0; i < ports; ++i) {
      IntfId const port = IntfId::ethernet(uint16_t(1 + i / 1000), uint16_t(1 + i % 1000));
      velt->intfIdToSystemTcamIdIs(port, SystemTcamId(uint16_t(i % 16)));
      if (i % 4 == 0) {
        lagConfigs.push_back(Interface::EthLagIntfConfig::EthLagIntfConfigIs(IntfId::portChannel(1 + i / 4)));
      }
      lags->phyIntfIs(port)->lagIs(lagConfigs.back());
      config->configIs(port, makePtr<Payload>());
    }
    Ptr<IntfTcamSm> tcamSm = intfTcamSmFactory(velt, lags, sets, control(SmControl::synchronousOn));
    Ptr<ConfigExpSm> expSm = configExpSmFactory(sets, config, out, control(SmControl::synchronousOn));
    ASSERT_TRUE(tcamSm->ready() && expSm->ready());
    size_t const grown = heap() - before;
    uint64_t counted = 0;
    auto const uses =
        memoryByType({velt.get(), lags.get(), sets.get(), config.get(), out.get(), tcamSm.get(), expSm.get()});
    for (auto const& use : uses) counted += use.bytes;
    EXPECT_TRUE(std::is_sorted(uses.begin(), uses.end(), [](MemoryUse const& a, MemoryUse const& b) {
      return a.bytes > b.bytes;
    })) << "largest first";
    counted += lagConfigs.capacity() * sizeof(lagConfigs[0]);  // the test's own vector
    EXPECT_NEAR(double(counted), double(grown), 0.1 * double(grown)) << "counted " << counted << ", grown " << grown;
    EngineMemory const m = tcamSm->engineMemory();
    EXPECT_GT(m.caches, 0u);
    EXPECT_GT(m.groupBys, 0u);
    EXPECT_EQ(m.seenSets, 0u) << "freed once reconciled";
  }
#endif
}

// A start-up scan that yields counts on its task the items it visited before each
// yield, as the statistics count them: what an agent reads as the task's progress.
// Many LAGs with few members, then few with many (the members' scans yield too: a
// LAG's members are not items of the input).
TEST(Statistics, ScanTasksCountTheWorkDoneBeforeEachYield) {
  for (auto [lags, members] : {std::pair{10u, 3u}, std::pair{2u, 30u}}) {
    auto sched = CorvaneTest::yieldingScheduler(4);
    auto status = Hardware::VeltLag::Status::StatusIs("s");
    for (uint32_t l = 1; l <= lags; ++l) {
      for (uint32_t m = 0; m < members; ++m) {
        status->lagHwConfigIs(IntfId::portChannel(l))->memberInfoIs(IntfId::ethernet(uint16_t(100 * l + m)), {});
      }
    }
    SmControl const c = control(SmControl::synchronousOff, sched);
    auto sm = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), c);
    uint64_t checked = 0;
    do {
      Ptr<InputSm> in = sm->inputSm(0);
      if (Task* t = in ? in->task(0) : nullptr) {
        EXPECT_EQ(t->taskWorkCount(), sm->statistics().inputs[0].scanItems) << lags << " LAGs";
        ++checked;
      }
    } while (sched->runOne());
    EXPECT_GT(checked, 10u);
    EXPECT_TRUE(sm->ready());
  }
}

// A synchronous start-up leaves out the pipeline runs that would only write again
// what the pass has written (the merge's second run per port, the payload scan after
// the set scan) unless a trace level is on. Traced or not, it ends with the same
// outputs and counts the same work, over stale outputs and a LAG with a TCAM of its
// own, ports outside LAGs, ports without payloads and wildcard port maps.
TEST(Statistics, StartUpEndsTheSameTracedOrNot) {
  using Hardware::Velt::FapId;
  using Hardware::Velt::FapPortId;
  using Hardware::Velt::LocalCoreId;
  auto run = [](bool traced) {
    std::vector<std::unique_ptr<CorvaneTest::TraceCapture>> captures;
    if (traced) {
      for (char const* sm : {"IntfTcamSm", "IntfPortMapSm", "ConfigExpSm"}) {
        captures.push_back(std::make_unique<CorvaneTest::TraceCapture>(sm, uint16_t(1u << 6)));
      }
    }
    auto status = Hardware::Velt::Status::StatusIs("veltStatus");
    auto lagConfig = Lag::Config::ConfigIs("lagConfig");
    auto portMaps = intfIdToPortMapFactory("portMaps");
    auto config = intfFeatureConfigFactory();
    auto sets = intfToTcamSetFactory("sets");
    auto portMapSets = intfToPortMapSetFactory("portMapSets");
    auto out = intfTcamFeatureConfigFactory();
    std::map<FeatureConfigBase const*, int> payloads;
    auto payload = [&] {
      Ptr<FeatureConfigBase> p = makePtr<Payload>();
      payloads[p.get()] = int(payloads.size());
      return p;
    };
    for (uint16_t i = 1; i <= 24; ++i) {
      IntfId const p = IntfId::ethernet(i);
      status->intfIdToSystemTcamIdIs(p, SystemTcamId(uint16_t(1 + i % 3)));
      if (i % 6 != 0) {
        lagConfig->phyIntfIs(p)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(IntfId::portChannel(1 + i % 4)));
      }
      portMaps->intfIdToPortMapIs(p, PortMap(FapId(i % 5 == 0 ? 2046u : i), FapPortId(8u + i), LocalCoreId(i % 2u)));
      if (i % 5 != 1) config->configIs(p, payload());
    }
    status->intfIdToSystemTcamIdIs(IntfId::portChannel(2), SystemTcamId(3));
    config->configIs(IntfId::portChannel(2), payload());
    sets->intfToTcamSetIs(IntfId::ethernet(30))->tcamSetIs(SystemTcamId(1));
    portMapSets->intfToPortMapSetIs(IntfId::ethernet(2))->portMapSetIs(PortMap(FapId(7u), FapPortId(9u), LocalCoreId(1u)));
    out->configIs(IntfIdSystemTcamId(IntfId::ethernet(30), SystemTcamId(1)), payload());
    out->configIs(IntfIdSystemTcamId(IntfId::ethernet(2), SystemTcamId(3)), payload());

    auto tcamSm = intfTcamSmFactory(status, lagConfig, sets, control(SmControl::synchronousOn));
    auto portMapSm = intfPortMapSmFactory(portMaps, lagConfig, 4, 2, portMapSets, control(SmControl::synchronousOn));
    auto expSm = configExpSmFactory(sets, config, out, control(SmControl::synchronousOn));
    EXPECT_TRUE(tcamSm->ready() && portMapSm->ready() && expSm->ready());
    std::set<std::string> entries;
    for (auto const& [i, set] : sets->intfToTcamSet()) {
      for (SystemTcamId t : set->tcamSet()) entries.insert(fmt::format("tcam {} {}", i, t));
    }
    for (auto const& [i, set] : portMapSets->intfToPortMapSet()) {
      for (PortMap const& m : set->portMapSet()) entries.insert(fmt::format("port map {} {}", i, m));
    }
    for (auto const& [k, v] : out->config()) entries.insert(fmt::format("payload {} {}", k, payloads.at(v.get())));
    std::ostringstream text;
    for (std::string const& e : entries) text << e << "\n";
    text << tcamSm->statistics() << portMapSm->statistics() << expSm->statistics();
    return text.str();
  };
  std::string const untraced = run(false);
  EXPECT_NE(untraced.find("port map Port-Channel2"), std::string::npos);
  EXPECT_EQ(untraced, run(true));
}
