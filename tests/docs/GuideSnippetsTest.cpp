// The code of the guides in docs/ (wiring.md, tracing.md, features.md, framework.md)
// that has no home in examples/: each region between "// [snippet:NAME]" and "// [snippet-end]"
// is copied verbatim into a guide, and check-snippets.cmake fails when the two
// drift apart. The tests check what the guides say the code does; the trace of one
// change shown in docs/tracing.md is compared with the one the library prints now.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "examples/wiring/TypicalWiring.h"

using namespace Corvane;

namespace {

IntfId const et1 = IntfId::ethernet(1);
IntfId const et2 = IntfId::ethernet(2);
IntfId const po1 = IntfId::portChannel(1);

// Counts the notifications of one entity.
struct Counter : Subscriber {
  int count = 0;
  void dispatch(uint32_t, void const*) override { ++count; }
};

// Two ports on TCAM 1, both members of Port-Channel1.
void addLag(Hardware::Velt::Status& velt, Lag::Config& lags) {
  velt.intfIdToSystemTcamIdIs(et1, SystemTcamId(1));
  velt.intfIdToSystemTcamIdIs(et2, SystemTcamId(1));
  lags.phyIntfIs(et1)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(po1));
  lags.phyIntfIs(et2)->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(po1));
}

std::vector<uint16_t> tcamsOf(IntfToTcamSet const& sets, IntfId intf) {
  std::vector<uint16_t> out;
  if (auto set = sets.intfToTcamSet(intf)) {
    for (SystemTcamId t : set->tcamSet()) out.push_back(t.value());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The lines of the ```text block that follows `marker` in a guide.
std::vector<std::string> guideBlock(std::string const& guide, std::string const& marker) {
  auto path = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "docs" / guide;
  std::ifstream in(path);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::vector<std::string> out;
  std::string line;
  bool seen = false, inside = false;
  while (std::getline(in, line)) {
    if (!seen) {
      seen = line == marker;
    } else if (!inside) {
      if (line.rfind("```", 0) == 0) inside = true;
    } else if (line.rfind("```", 0) == 0) {
      break;
    } else {
      out.push_back(line);
    }
  }
  EXPECT_TRUE(seen) << "no line \"" << marker << "\" in " << path;
  return out;
}

// Payloads print as their addresses, which change from run to run.
std::vector<std::string> withoutAddresses(std::vector<std::string> lines) {
  static std::regex const address("0x[0-9a-f]+");
  for (auto& l : lines) l = std::regex_replace(l, address, "0x?");
  return lines;
}

}  // namespace

// ---- docs/wiring.md ------------------------------------------------------------

TEST(WiringGuide, AsynchronousSmIsReadyAfterItsTasksRan) {
  auto veltStatus = Hardware::Velt::Status::StatusIs("velt");
  auto lagConfig = Lag::Config::ConfigIs("lag");
  addLag(*veltStatus, *lagConfig);
  for (uint16_t n = 3; n <= 12; ++n) veltStatus->intfIdToSystemTcamIdIs(IntfId::ethernet(n), SystemTcamId(n % 3));
  auto syncOut = intfToTcamSetFactory("sync");
  auto intfToTcamSet = intfToTcamSetFactory("async");

  // [snippet:synchronous]
  SmControl sync;
  sync.synchronousIs(SmControl::synchronousOn);
  auto syncSm = intfTcamSmFactory(veltStatus, lagConfig, syncOut, sync);
  EXPECT_TRUE(syncSm->ready());  // scanned and reconciled inside the factory call
  // [snippet-end]

  // [snippet:asynchronous]
  auto scheduler = TaskScheduler::TaskSchedulerIs();
  scheduler->yieldEveryIs(2);  // tests: a task yields after every second item
  SmControl control;
  control.schedulerIs(scheduler);
  control.synchronousIs(SmControl::synchronousOff);
  auto sm = intfTcamSmFactory(veltStatus, lagConfig, intfToTcamSet, control);
  EXPECT_FALSE(sm->ready());  // its scans and reconciliation are queued tasks
  uint64_t runs = scheduler->runUntilIdle();
  EXPECT_TRUE(sm->ready());
  // [snippet-end]

  EXPECT_GT(runs, 1u);  // the scans yielded
  EXPECT_EQ(intfToTcamSet->intfToTcamSet().size(), 13u);
  for (auto const& [intf, set] : syncOut->intfToTcamSet()) EXPECT_EQ(tcamsOf(*intfToTcamSet, intf), tcamsOf(*syncOut, intf));
  EXPECT_EQ(tcamsOf(*intfToTcamSet, po1), std::vector<uint16_t>{1});
  // Once ready, a change travels through inside the changing call, in both modes.
  veltStatus->intfIdToSystemTcamIdIs(et2, SystemTcamId(2));
  EXPECT_EQ(tcamsOf(*intfToTcamSet, po1), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(tcamsOf(*syncOut, po1), (std::vector<uint16_t>{1, 2}));
}

TEST(WiringGuide, AgentPublishesReadinessOnceTheSmsAreReady) {
  ExampleWiring::Options options;
  options.synchronous = false;
  options.scheduler = TaskScheduler::TaskSchedulerIs();
  ExampleWiring::Wiring wiring(options);
  addLag(*wiring.veltStatus, *wiring.lagConfig);
  wiring.veltLagStatus->lagHwConfigIs(po1)->memberInfoIs(et1, {});
  auto lagInfoReady = LagInfoReady::LagInfoReadyIs("lagInfoReady");
  Counter listener;
  lagInfoReady->subscriberAdd(&listener);

  // [snippet:readiness]
  wiring.startAll();
  wiring.runUntilIdle();
  // The LAG information is complete once the SMs that compute it have reconciled.
  if (wiring.portToLagSm()->ready() && wiring.intfTcamSm()->ready()) lagInfoReady->readyIs(true);
  // [snippet-end]

  EXPECT_TRUE(wiring.ready());
  EXPECT_TRUE(lagInfoReady->ready());
  EXPECT_EQ(listener.count, 1);
  lagInfoReady->readyIs(true);  // no change, no notification
  EXPECT_EQ(listener.count, 1);
  EXPECT_EQ(wiring.portToLag->portToLag(et1), po1);
  lagInfoReady->subscriberRemove(&listener);
}

TEST(WiringGuide, TeardownRetractsThenFreesEverything) {
  auto process = TaskSchedulerRoot::findOrCreateScheduler();  // lives as long as the process
  // [snippet:teardown]
  int32_t nodes = Node::liveNodes();
  int32_t sms = InputSmScanState::typeDataStatic().liveCount();  // one per live SM
  {
    auto veltStatus = Hardware::Velt::Status::StatusIs("velt");
    auto lagConfig = Lag::Config::ConfigIs("lag");
    auto intfToTcamSet = intfToTcamSetFactory("intfToTcamSet");
    addLag(*veltStatus, *lagConfig);
    SmControl control;
    control.synchronousIs(SmControl::synchronousOn);
    auto sm = intfTcamSmFactory(veltStatus, lagConfig, intfToTcamSet, control);
    EXPECT_EQ(intfToTcamSet->intfToTcamSet().size(), 3u);  // Et1, Et2, Port-Channel1

    sm->doDeleteAll();  // retracts what every input contributed
    EXPECT_TRUE(intfToTcamSet->intfToTcamSet().empty());
  }  // the last references go: the SM, its input SMs and the entities are destroyed
  EXPECT_EQ(Node::liveNodes(), nodes);
  EXPECT_EQ(InputSmScanState::typeDataStatic().liveCount(), sms);
  // [snippet-end]
  EXPECT_TRUE(process->idle());
}

TEST(WiringGuide, DroppedSmLeavesItsOutputsForTheNextOneToReconcile) {
  ExampleWiring::Wiring wiring;
  addLag(*wiring.veltStatus, *wiring.lagConfig);
  wiring.startAll();
  // [snippet:restart]
  wiring.stop(ExampleWiring::SmKind::intfTcam);  // as after a crash: IntfToTcamSet keeps its entries
  wiring.veltStatus->intfIdToSystemTcamIdDel(et2);
  EXPECT_EQ(wiring.intfToTcamSet->intfToTcamSet().size(), 3u);
  wiring.start(ExampleWiring::SmKind::intfTcam);  // scans its inputs and deletes the stale Et2 entry
  EXPECT_FALSE(wiring.intfToTcamSet->intfToTcamSetHas(et2));
  // [snippet-end]
  EXPECT_EQ(wiring.intfToTcamSet->intfToTcamSet().size(), 2u);
}

// ---- docs/tracing.md -----------------------------------------------------------

TEST(TracingGuide, LevelsSinkAndRing) {
  auto veltStatus = Hardware::Velt::Status::StatusIs("velt");
  auto lagConfig = Lag::Config::ConfigIs("lag");
  addLag(*veltStatus, *lagConfig);
  auto intfToTcamSet = intfToTcamSetFactory("intfToTcamSet");
  auto featureConfig = intfFeatureConfigFactory();
  featureConfig->configIs(et2, Ptr<FeatureConfigBase>(new ExampleFeature::Config(10)));
  auto tcamConfig = intfTcamFeatureConfigFactory();

  // [snippet:ring]
  auto ring = RingTrace::RingTraceIs(256);  // keeps the newest 256 records
  SmControl control;
  control.synchronousIs(SmControl::synchronousOn);
  control.ringTraceHandleIs(ring);
  auto tcamSm = intfTcamSmFactory(veltStatus, lagConfig, intfToTcamSet, control);
  auto expansion = configExpSmFactory(intfToTcamSet, featureConfig, tcamConfig, control);
  // [snippet-end]
  EXPECT_TRUE(ring->records().empty());  // every level was off while they started

  // [snippet:levels]
  getDebugHandler("IntfTcamSm")->levelMaskIs(1u << 6 | 1u << 7);  // caches, group-bys, filters too
  getDebugHandler("ConfigExpSm")->levelMaskIs(1u << 7);            // source lines, output writes
  // [snippet-end]

  // [snippet:sink]
  std::vector<std::string> lines;
  TraceSink previous = traceSinkIs([&](TraceRecord const& r) { lines.push_back(traceRecordText(r)); });
  veltStatus->intfIdToSystemTcamIdIs(et2, SystemTcamId(2));
  traceSinkIs(previous);  // the sink is process-wide: put back the one that was there
  // [snippet-end]

  // [snippet:ringRead]
  std::vector<TraceRecord> recent = ring->records();  // oldest first
  // [snippet-end]

  ASSERT_EQ(recent.size(), lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(traceRecordText(recent[i]), lines[i]);
  bool intfTcamLevel6 = false, configExpLevel7 = false;
  for (auto const& r : recent) {
    intfTcamLevel6 |= r.level == 6 && r.source == "IntfTcamSm";
    configExpLevel7 |= r.level == 7 && r.source == "ConfigExpSm";
    EXPECT_FALSE(r.level == 6 && r.source == "ConfigExpSm") << "level 6 is off for ConfigExpSm";
  }
  EXPECT_TRUE(intfTcamLevel6);
  EXPECT_TRUE(configExpLevel7);
  EXPECT_TRUE(tcamConfig->configHas(IntfIdSystemTcamId(et2, SystemTcamId(2))));
  // Levels off: the same kind of change traces nothing.
  getDebugHandler("IntfTcamSm")->levelMaskIs(0);
  getDebugHandler("ConfigExpSm")->levelMaskIs(0);
  veltStatus->intfIdToSystemTcamIdIs(et2, SystemTcamId(1));
  EXPECT_EQ(ring->records().size(), recent.size());
}

// The trace docs/tracing.md walks through: Ethernet2, a member of Port-Channel1
// configured with the example feature, moves from TCAM 1 to TCAM 2.
TEST(TracingGuide, TraceOfOneChangeIsTheOneTheGuideShows) {
  ExampleWiring::Wiring wiring;
  addLag(*wiring.veltStatus, *wiring.lagConfig);
  wiring.featureConfig->configIs(po1, Ptr<FeatureConfigBase>(new ExampleFeature::Config(10)));
  wiring.startAll();
  getDebugHandler("IntfTcamSm")->levelMaskIs(1u << 7);
  getDebugHandler("ConfigExpSm")->levelMaskIs(1u << 7);
  std::vector<std::string> lines;
  TraceSink previous = traceSinkIs([&](TraceRecord const& r) { lines.push_back(traceRecordText(r)); });
  wiring.veltStatus->intfIdToSystemTcamIdIs(et2, SystemTcamId(2));
  traceSinkIs(previous);
  getDebugHandler("IntfTcamSm")->levelMaskIs(0);
  getDebugHandler("ConfigExpSm")->levelMaskIs(0);

  EXPECT_TRUE(wiring.tcamConfig->configHas(IntfIdSystemTcamId(et2, SystemTcamId(2))));
  EXPECT_FALSE(wiring.tcamConfig->configHas(IntfIdSystemTcamId(et2, SystemTcamId(1))));
  std::string now;
  for (auto const& l : lines) now += l + "\n";
  EXPECT_EQ(withoutAddresses(guideBlock("tracing.md", "<!-- trace: tests/docs/GuideSnippetsTest.cpp -->")),
            withoutAddresses(lines))
      << "docs/tracing.md shows an old trace; the library now prints:\n"
      << now;
}

// ---- docs/features.md ----------------------------------------------------------

TEST(FeaturesGuide, PayloadsAreKnownByIdentity) {
  auto intfToTcamSet = intfToTcamSetFactory("intfToTcamSet");
  intfToTcamSet->intfToTcamSetIs(et1)->tcamSetIs(SystemTcamId(1));
  auto config = intfFeatureConfigFactory();
  auto tcamConfig = intfTcamFeatureConfigFactory();
  SmControl control;
  control.synchronousIs(SmControl::synchronousOn);
  auto expansion = configExpSmFactory(intfToTcamSet, config, tcamConfig, control);
  Counter changes;
  tcamConfig->subscriberAdd(&changes);
  IntfIdSystemTcamId const et1Tcam1(et1, SystemTcamId(1));

  // [snippet:identity]
  Ptr<FeatureConfigBase> vlan10(new ExampleFeature::Config(10));
  config->configIs(et1, vlan10);
  EXPECT_EQ(tcamConfig->config(et1Tcam1), vlan10);  // the same object, not a copy
  config->configIs(et1, vlan10);                     // the object already held: nothing happens
  EXPECT_EQ(changes.count, 1);
  config->configIs(et1, Ptr<FeatureConfigBase>(new ExampleFeature::Config(10)));  // equal, but new: a change
  EXPECT_EQ(changes.count, 2);
  config->configIs(et1, nullptr);  // null removes the key
  EXPECT_FALSE(tcamConfig->configHas(et1Tcam1));
  // [snippet-end]

  EXPECT_EQ(changes.count, 3);
  EXPECT_FALSE(config->configHas(et1));
  tcamConfig->subscriberRemove(&changes);
}

TEST(FeaturesGuide, MergeSmPublishesTheWorstTcamState) {
  using ExampleFeature::State;
  auto process = TaskSchedulerRoot::findOrCreateScheduler();
  auto intfToTcamSet = intfToTcamSetFactory("intfToTcamSet");
  auto tcamStatus = intfTcamFeatureStatusFactory();
  auto perTcamStatus = intfPerTcamFeatureStatusFactory();
  auto featureStatus = intfFeatureStatusFactory();
  SmControl control;
  control.synchronousIs(SmControl::synchronousOn);
  auto regrouping = intfPerTcamFeatureStatusSmFactory(tcamStatus, perTcamStatus, control);
  intfToTcamSet->intfToTcamSetIs(et1)->tcamSetIs(SystemTcamId(1));
  intfToTcamSet->intfToTcamSet(et1)->tcamSetIs(SystemTcamId(2));

  // [snippet:mergeWiring]
  uint64_t built = 0;
  auto statusSm = IntfFeatureStatusSmIs(intfToTcamSet, perTcamStatus, featureStatus,
                                        ExampleFeature::statusMergeSmFactory(&built));
  process->runUntilIdle();  // its output SM runs on the process scheduler
  // [snippet-end]

  auto state = [&] {
    auto s = featureStatus->status(et1);
    return s ? std::optional<State>(static_cast<ExampleFeature::Status const&>(*s).state()) : std::nullopt;
  };
  auto report = [&](uint16_t tcam, State s) {
    tcamStatus->statusIs(IntfIdSystemTcamId(et1, SystemTcamId(tcam)), Ptr<FeatureStatusBase>(new ExampleFeature::Status(s)));
  };
  EXPECT_TRUE(statusSm->ready());
  EXPECT_EQ(state(), std::nullopt);  // no status reported yet: no merge
  report(1, State::ok);
  EXPECT_EQ(built, 1u);
  EXPECT_EQ(state(), State::pending);  // TCAM 2 has not reported
  report(2, State::failed);
  EXPECT_EQ(state(), State::failed);
  report(2, State::ok);
  EXPECT_EQ(state(), State::ok);
  // An unchanged merged state keeps the published object: readers see no change.
  auto published = featureStatus->status(et1);
  report(1, State::ok);
  EXPECT_EQ(featureStatus->status(et1), published);
  intfToTcamSet->intfToTcamSetDel(et1);
  EXPECT_EQ(state(), std::nullopt);
  EXPECT_EQ(statusSm->featureStatusMergeSm(et1), nullptr);
}

// docs/framework.md: the registry, the generic interface, the directory and the dump.
TEST(FrameworkGuide, RegistryDirectoryGenericInterfaceAndDump) {
  // [snippet:registry]
  TypeData const& type = Reflect::type("Corvane::IntfIdToPortMap");
  for (AttributeDesc const* a : Reflect::attributes(type)) {
    std::printf("%s: %s\n", a->name.c_str(), textForm(a->kind).c_str());
  }
  // intfIdToPortMap: collection
  // delayedNotifHolder: reference
  // triggerDelayedNotif: action
  std::string const table = Reflect::call("VeltInLif::InLifResourceUtil", "resourceToTableType", {"routedPort"});
  // [snippet-end]
  EXPECT_EQ(Reflect::attributes(type).size(), 3u);
  using VeltInLif::InLifResourceUtil;
  EXPECT_EQ(table, textForm(InLifResourceUtil::resourceToTableType(VeltInLif::InLifResourceType::routedPort)));

  // [snippet:directory]
  Ptr<Directory> agent = Directory::DirectoryIs("agent");
  Ptr<Node> lagReady = agent->folderIs("ready")->entityIs("lag", "Corvane::LagInfoReady");
  Reflect::write(*lagReady, "ready", "true");
  std::string const flag = Reflect::read(*agent->lookup("ready/lag"), "ready");  // "true"
  try {
    agent->folderIs("ready")->entityIs("tcam", "Corvane::TcamDbStatusInterfaceReady", {"extra"});
  } catch (NewEntityArgumentsError const& e) {
    // "new entity of type Corvane::TcamDbStatusInterfaceReady takes only a name; 1 more argument(s) refused"
  }
  // [snippet-end]
  EXPECT_EQ(flag, "true");
  EXPECT_FALSE(agent->lookup("ready/tcam"));

  // [snippet:dump]
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("intfToTcamSet");
  sets->intfToTcamSetIs(et1)->tcamSetIs(SystemTcamId(3));
  std::string const json = Reflect::json(*sets);
  // {"type": "Corvane::IntfToTcamSet", "name": "intfToTcamSet",
  //  "intfToTcamSet": {"Ethernet1": {"type": "Corvane::TcamSet", "intfId": "Ethernet1", "tcamSet": ["3"]}}}
  // [snippet-end]
  EXPECT_EQ(json, Reflect::json(*sets, 2));
  EXPECT_NE(Reflect::json(*sets, -1).find(R"("tcamSet":["3"])"), std::string::npos);
}
