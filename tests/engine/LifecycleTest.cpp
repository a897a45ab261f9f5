// Engine lifecycle seen through a concrete SM: fatal checks with their exact
// texts, trace-handler choice, synchronous mode without tasks, teardown freeing
// everything, and nested-SM replacement.
#include <gtest/gtest.h>

#include <regex>

#include "examples/wiring/TypicalWiring.h"
#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::control;

namespace {

// A death test's pattern for exactly `text` and a newline.
std::string exactly(std::string const& text) {
  static std::regex const special(R"([.^$|()\[\]{}*+?\\])");
  return "^" + std::regex_replace(text, special, R"(\$&)") + "\n$";
}

}  // namespace

TEST(EngineDeathTest, NullArgumentIsFatalWithItsAccessor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  EXPECT_DEATH(lagHwConfigPortToLagSmFactory(nullptr, PortToLag::PortToLagIs(), control(SmControl::synchronousOn)),
               exactly("veltLagStatus() && \"Pointer SM args cannot be null unless they are marked Optional\""));
  EXPECT_DEATH(lagHwConfigPortToLagSmFactory(status, nullptr, SmControl()),
               exactly("portToLag() && \"Pointer SM args cannot be null unless they are marked Optional\""));
}

TEST(EngineDeathTest, MissedNotificationsAreFatalAtDeleteAll) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  auto sm = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), control(SmControl::synchronousOn));
  // Deaf to its input, the SM cannot know what it would have to retract.
  sm->veltLagStatusSm0()->hasNotificationActiveIs(false);
  status->lagHwConfigIs(IntfId("Port-Channel1"));
  EXPECT_DEATH(sm->doDeleteAll(),
               exactly("We missed notifications that happened to lagHwConfig before the enclosing entity got deleted"));
  sm->veltLagStatusSm0()->hasNotificationActiveIs(true);
  // The same for an input over a collection of values.
  auto velt = Hardware::Velt::Status::StatusIs("velt");
  auto tcamSm = intfTcamSmFactory(velt, Lag::Config::ConfigIs("lags"), intfToTcamSetFactory("sets"),
                                  control(SmControl::synchronousOn));
  tcamSm->veltStatusSm0()->hasNotificationActiveIs(false);
  velt->intfIdToSystemTcamIdIs(IntfId::ethernet(1), Hardware::Velt::SystemTcamId(1));
  EXPECT_DEATH(tcamSm->doDeleteAll(), exactly("We missed notifications that happened to intfIdToSystemTcamId "
                                              "before the enclosing entity got deleted"));
  tcamSm->veltStatusSm0()->hasNotificationActiveIs(true);
}

namespace {
// A machine with nothing to follow, to break the rules of declaration with.
class BareSm : public RootSm {
 public:
  explicit BareSm(uint32_t slots) : RootSm("BareSm", control(SmControl::synchronousOn)) {
    declare({}, {}, {}, slots, {"one"});
  }
  using RootSm::declare;
  using RootSm::handleInitialized;
  using RootSm::inputSmIs;

 private:
  void createInputSms() override {}
};

// An input declaring the scans it is given (each feeding a stream flag).
class BareInput : public InputSm {
 public:
  BareInput(RootSm& root, std::vector<int32_t> const& flags) : InputSm(root, "BareInput") {
    for (int32_t f : flags) scanDeclare(0, f, "handle");
  }

 private:
  void doInputScanN(uint32_t) override {}
  Entity const* watched() const noexcept override { return nullptr; }
  void dispatch(uint32_t, void const*) override {}
  void doDeleteAll() override {}
};
}  // namespace

// A machine's declarations are checked where a mistake would write past what was
// declared: too many pipelines, a slot past those declared, a declaration after
// start-up. A pipeline run under a number never named is caught where assertions are on.
TEST(EngineDeathTest, DeclarationsOutsideTheirBoundsAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(BareSm(0).declare({}, {}, {}, 0, {"a", "b", "c", "d", "e"}), "^BareSm: 5 pipelines declared, at most 4\n$");
  EXPECT_DEATH(BareSm(1).inputSmIs(1, nullptr), "^BareSm: input SM slot 1 of 1 declared\n$");
  EXPECT_DEATH(
      {
        BareSm sm(0);
        sm.handleInitialized();
        sm.declare({}, {}, {}, 0);
      },
      "^BareSm: argsDeclare after handleInitialized\n$");
  if (CORVANE_ASSERTIONS_ON) {
    EXPECT_DEATH(BareSm(0).pipelineRun(1), "a pipeline runs under a number declare.. did not name");
  }
  // An input's scans: at most two, each feeding a stream the machine declared (it declared none).
  EXPECT_DEATH(
      {
        BareSm sm(0);
        BareInput input(sm, {-1, -1, -1});
      },
      "^BareInput: a third scan declared, an input SM has at most 2\n$");
  EXPECT_DEATH(
      {
        BareSm sm(0);
        BareInput input(sm, {0});
      },
      "^BareInput: scan doInputScan0 feeds stream 0, the machine declared 0\n$");
}

// An input machine told to stop listening leaves its entity's subscribers, and
// joins them again when told to listen; so do the followers it made while listening.
TEST(Engine, AnInputThatStopsListeningLeavesItsEntity) {
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  auto sm = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), control(SmControl::synchronousOn));
  ASSERT_TRUE(status->hasSubscribers());
  auto lag = status->lagHwConfigIs(IntfId("Port-Channel1"));
  ASSERT_TRUE(lag->hasSubscribers());
  sm->veltLagStatusSm0()->hasNotificationActiveIs(false);
  EXPECT_FALSE(status->hasSubscribers());
  EXPECT_FALSE(lag->hasSubscribers());
  sm->veltLagStatusSm0()->hasNotificationActiveIs(true);
  EXPECT_TRUE(status->hasSubscribers());
  EXPECT_TRUE(lag->hasSubscribers());
  sm = nullptr;
  EXPECT_FALSE(status->hasSubscribers());
  EXPECT_FALSE(lag->hasSubscribers());
}

// A row of per-port caches packs its columns in whatever order leaves no padding:
// each column keeps its own value, and the presence bits theirs, whatever the
// others are set to.
TEST(Engine, CacheRowColumnsKeepTheirOwnValues) {
  static_assert(sizeof(detail::CacheRow<Hardware::Velt::SystemTcamId, IntfId, Hardware::Velt::SystemTcamId>) == 16);
  detail::CacheRow<uint16_t, uint64_t, uint8_t, uint32_t> row;
  static_assert(sizeof(row) == 16);
  auto expect = [&](uint64_t a, uint64_t b, uint64_t c, uint64_t d, uint8_t bits) {
    EXPECT_EQ(row.get<0>(), uint16_t(0x1111 * a));
    EXPECT_EQ(row.get<1>(), 0x0101010101010101u * b);
    EXPECT_EQ(row.get<2>(), uint8_t(0x11 * c));
    EXPECT_EQ(row.get<3>(), uint32_t(0x11111111u * d));
    EXPECT_EQ(row.present(), bits);
  };
  expect(0, 0, 0, 0, 0);
  row.set<0>(uint16_t(0x1111 * 15));
  row.set<1>(0x0101010101010101u * 15);
  row.set<2>(uint8_t(0x11 * 15));
  row.set<3>(uint32_t(0x11111111u * 15));
  row.presentIs(0xff);
  expect(15, 15, 15, 15, 0xff);
  row.set<1>(0);
  row.presentIs(0);
  expect(15, 0, 15, 15, 0);
  row.set<2>(0);
  row.set<0>(uint16_t(0x1111 * 2));
  expect(2, 0, 0, 15, 0);
}

// An agent that follows a machine's OutputState hears `ready` change first, then
// the flag of the output that made it change.
TEST(Engine, OutputStateAnnouncesReadyThenTheOutputsFlag) {
  struct Heard : Subscriber {
    std::vector<uint32_t> attrs;
    void dispatch(uint32_t attrId, void const*) override { attrs.push_back(attrId); }
  } heard;
  auto sched = TaskScheduler::TaskSchedulerIs();
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  status->lagHwConfigIs(IntfId("Port-Channel1"))->memberInfoIs(IntfId::ethernet(1), {});
  auto sm = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), control(SmControl::synchronousOff, sched));
  ASSERT_FALSE(sm->ready());
  Ptr<OutputState> const state = sm->outputState();
  ASSERT_EQ(state->outputCount(), 1u);
  state->subscriberAdd(&heard);
  sched->runUntilIdle();
  state->subscriberRemove(&heard);
  EXPECT_TRUE(sm->ready());
  EXPECT_EQ(heard.attrs, (std::vector<uint32_t>{state->readyAttr(), 0}));
  // With two outputs, ready waits for both and goes with either.
  auto two = makePtr<OutputState>(2);
  two->outputReadyIs(0, true);
  EXPECT_FALSE(two->ready());
  two->outputReadyIs(1, true);
  EXPECT_TRUE(two->ready());
  two->outputReadyIs(0, false);
  EXPECT_FALSE(two->ready());
}

TEST(Engine, SynchronousSmHasNoTasksAndIsReadyOnReturn) {
  auto sched = TaskScheduler::TaskSchedulerIs();
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  for (int i = 1; i <= 50; ++i) status->lagHwConfigIs(IntfId::portChannel(uint32_t(i)))->memberInfoIs(IntfId::ethernet(uint16_t(i)), {});
  SmControl const c = control(SmControl::synchronousOn, sched);
  sched->yieldEveryIs(1);
  int32_t tasks = Task::typeDataStatic().liveCount();
  auto sm = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), c);
  EXPECT_TRUE(sm->synchronous());
  EXPECT_TRUE(sm->ready());
  EXPECT_TRUE(sm->idle());
  EXPECT_EQ(Task::typeDataStatic().liveCount(), tasks);
  EXPECT_EQ(sched->readyCount(), 0u);
  EXPECT_EQ(sm->portToLag()->portToLag().size(), 50u);
  sm->handleInitialized();  // a second time does nothing
  EXPECT_EQ(sched->readyCount(), 0u);
  uint64_t const items = sm->statistics().inputs[0].scanItems;
  sm->veltLagStatusSm0()->doInputScan();  // nor does asking a finished scan again
  EXPECT_EQ(sm->statistics().inputs[0].scanItems, items);
}

TEST(Engine, AsynchronousSmIsNotIdleUntilScansAndReconciliationRan) {
  auto sched = CorvaneTest::yieldingScheduler(3);
  auto status = Hardware::VeltLag::Status::StatusIs("s");
  for (int i = 1; i <= 20; ++i) status->lagHwConfigIs(IntfId::portChannel(uint32_t(i)))->memberInfoIs(IntfId::ethernet(uint16_t(i)), {});
  SmControl c = control(SmControl::synchronousDefault, sched);
  c.taskPriorityIs(7);
  auto sm = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), c);
  EXPECT_FALSE(sm->ready());
  EXPECT_FALSE(sm->idle());
  Task* scan = sm->veltLagStatusSm0()->task(0);
  ASSERT_NE(scan, nullptr);
  EXPECT_EQ(scan->taskName(), "Corvane::LagHwConfigPortToLagSm-VeltLagStatusSm0InputScanTask0");
  EXPECT_EQ(scan->taskPriority(), 7);
  Task* recon = sm->portToLagPortToLagOutput().reconciliationTask();
  ASSERT_NE(recon, nullptr);
  EXPECT_EQ(recon->taskName(), "LagHwConfigPortToLagSm-portToLagPortToLagOutputTask");
  // An event before the initial scan is done is ignored by the pipeline and picked up by the event pass.
  status->lagHwConfigIs(IntfId("Port-Channel100"))->memberInfoIs(IntfId("Ethernet100"), {});
  sched->runUntilIdle();
  EXPECT_TRUE(sm->ready());
  EXPECT_TRUE(sm->idle());
  EXPECT_EQ(sm->portToLag()->portToLag(IntfId("Ethernet100")), IntfId("Port-Channel100"));
  EXPECT_EQ(sm->veltLagStatusSm0()->task(0), nullptr);  // tasks go when their work is done
  EXPECT_EQ(sm->portToLagPortToLagOutput().reconciliationTask(), nullptr);
}

TEST(Engine, TraceNameAndRingHandleAreUsed) {
  auto handler = getDebugHandler("EngineTest.custom");
  handler->levelMaskIs(1u << 9);
  auto ring = RingTrace::RingTraceIs(100);
  SmControl c = control(SmControl::synchronousOn);
  c.traceNameIs("EngineTest.custom");
  c.ringTraceHandleIs(ring);
  auto sm = lagHwConfigPortToLagSmFactory(Hardware::VeltLag::Status::StatusIs("s"), PortToLag::PortToLagIs(), c);
  auto records = ring->records();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records.front().source, "LagHwConfigPortToLagSm");
  EXPECT_EQ(records.front().message, "Reconciling portToLagPortToLagOutput: true");
  for (auto const& r : records) EXPECT_EQ(r.level, 9);
  EXPECT_EQ(&sm->traceHandle(), handler.get());
  EXPECT_NE(getDebugHandler("LagHwConfigPortToLagSm", false), nullptr);  // the default exists from load
}

TEST(Engine, TeardownFreesEverything) {
  int32_t nodes = Node::liveNodes();
  {
    auto sched = CorvaneTest::yieldingScheduler(2);
    auto status = Hardware::VeltLag::Status::StatusIs("s");
    for (int i = 1; i <= 10; ++i) status->lagHwConfigIs(IntfId::portChannel(uint32_t(i % 3)))->memberInfoIs(IntfId::ethernet(uint16_t(i)), {});
    auto out = PortToLag::PortToLagIs();
    SmControl const c = control(SmControl::synchronousDefault, sched);
    auto sm = lagHwConfigPortToLagSmFactory(status, out, c);
    sched->runOne();  // stopped mid-scan: tasks queued
    auto midway = lagHwConfigPortToLagSmFactory(status, PortToLag::PortToLagIs(), c);
    sched->runUntilIdle();
    sm->doDeleteAll();
    EXPECT_TRUE(out->portToLag().empty());
    sched->runOne();
    // `midway` is dropped with its work unfinished.
  }
  EXPECT_EQ(Node::liveNodes(), nodes);
  EXPECT_EQ(LagHwConfigPortToLagSm::typeDataStatic().liveCount(), 0);
  EXPECT_EQ(InputSmScanState::typeDataStatic().liveCount(), 0);
}

// After doDeleteAll every SM of the wiring says it follows nothing: not ready, phase
// retracted, and later input changes leave its outputs alone. A second call changes
// nothing, even after its inputs changed; a machine made anew over the same
// entities follows them again.
TEST(Engine, DeleteAllLeavesEverySmRetractedUntilItIsMadeAgain) {
  ExampleWiring::Options o;
  o.synchronous = true;
  ExampleWiring::Wiring w(o);
  w.veltStatus->intfIdToSystemTcamIdIs(IntfId::ethernet(1), SystemTcamId(1));
  w.startAll();
  ASSERT_TRUE(w.ready());
  for (RootSm* sm : std::initializer_list<RootSm*>{
           w.portToLagSm().get(), w.intfTcamSm().get(), w.intfPortMapSm().get(), w.portMapToIntfSm().get(),
           w.configLagMemberExpSm().get(), w.configExpSm().get(), w.configPortMapExpSm().get(),
           w.perTcamStatusSm().get()}) {
    sm->doDeleteAll();
    EXPECT_FALSE(sm->ready()) << sm->sourceName();
    EXPECT_TRUE(sm->retracted());
    EXPECT_EQ(sm->phase(), SmPhase::retracted);
    w.veltStatus->intfIdToSystemTcamIdIs(IntfId::ethernet(9), SystemTcamId(9));
    w.veltStatus->intfIdToSystemTcamIdDel(IntfId::ethernet(9));
    w.intfIdToPortMap->intfIdToPortMapIs(IntfId::ethernet(9), PortMap(Hardware::Velt::FapId(1), Hardware::Velt::FapPortId(9), Hardware::Velt::LocalCoreId(0)));
    w.intfIdToPortMap->intfIdToPortMapDel(IntfId::ethernet(9));
    w.lagConfig->phyIntfIs(IntfId::ethernet(9));
    w.lagConfig->phyIntfDel(IntfId::ethernet(9));
    w.veltLagStatus->lagHwConfigIs(IntfId("Port-Channel9"));
    w.veltLagStatus->lagHwConfigDel(IntfId("Port-Channel9"));
    sm->doDeleteAll();
    EXPECT_EQ(sm->phase(), SmPhase::retracted);
  }
  EXPECT_FALSE(w.ready());
  EXPECT_TRUE(w.intfToTcamSet->intfToTcamSet().empty());
  w.veltStatus->intfIdToSystemTcamIdIs(IntfId::ethernet(2), SystemTcamId(2));
  EXPECT_TRUE(w.intfToTcamSet->intfToTcamSet().empty()) << "a retracted SM follows nothing";
  w.restart(ExampleWiring::SmKind::intfTcam);
  EXPECT_TRUE(w.intfTcamSm()->ready());
  EXPECT_EQ(w.intfToTcamSet->intfToTcamSet().size(), 2u);
}

// Every SM class and every input SM is a node type of its own in the registry, and
// its live count follows its machines: one while the wiring runs it, none after.
TEST(Engine, EverySmTypeIsRegisteredAndCountsItsMachines) {
  auto type = [](std::string const& name) { return TypeRegistry::type("Corvane::" + name); };
  TypeData const* root = type("RootSm");
  ASSERT_NE(root, nullptr);
  std::vector<std::pair<TypeData const*, int32_t>> before;
  for (ExampleWiring::SmKind k : ExampleWiring::allSmKinds) {
    TypeData const* t = type(ExampleWiring::smKindName(k));
    ASSERT_NE(t, nullptr) << ExampleWiring::smKindName(k);
    if (k != ExampleWiring::SmKind::featureStatus) {
      EXPECT_EQ(t->parent(), root) << t->name();
    }
    before.emplace_back(t, t->liveCount());
  }
  // The input SMs too, each under its SM's name (class names repeat across SMs).
  TypeData const* input = type("InputSm");
  ASSERT_NE(input, nullptr);
  for (char const* name : {"IntfFeatureStatusOutputSm", "IntfTcamSm::VeltStatusSm0", "IntfTcamSm::LagConfigSm1",
                           "IntfPortMapSm::LagConfigSm1", "IntfPortMapSm::IntfIdToPortMapSm0",
                           "PortMapToIntfSm::IntfIdToPortMapSm0", "ConfigExpSm::IntfToTcamSetSm1",
                           "ConfigPortMapExpSm::IntfToPortMapSetSm1",
                           "IntfFeatureStatusOutputSm::PerIntfFeatureStatusSm0"}) {
    TypeData const* t = type(name);
    ASSERT_NE(t, nullptr) << name;
    if (t->parent() != root) {
      EXPECT_EQ(t->parent(), input) << name;
    }
    before.emplace_back(t, t->liveCount());
  }
  {
    ExampleWiring::Wiring w;
    w.startAll();
    w.runUntilIdle();
    for (auto const& [t, n] : before) EXPECT_EQ(t->liveCount(), n + 1) << t->name();
  }
  for (auto const& [t, n] : before) EXPECT_EQ(t->liveCount(), n) << t->name();
}
