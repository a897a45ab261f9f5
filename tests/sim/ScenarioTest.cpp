// The simulator's scenario loader (every malformed input gets a message naming the
// source, the JSON path and the fault) and its runs (synchronous and asynchronous
// runs of the same operations print the same tables).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/sim/Scale.h"
#include "tools/sim/Scenario.h"
#include "tools/sim/Simulator.h"
#include "tools/sim/Timeline.h"

using namespace Sim;

namespace {

std::string readFile(std::string const& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string loadError(std::string const& text) {
  try {
    parseScenario(text, "t.json");
  } catch (ScenarioError const& e) {
    return e.what();
  }
  return "(loaded)";
}

}  // namespace

TEST(Scenario, BuiltInIsTheShippedDefaultAndEveryExampleLoads) {
  std::string const dir = std::string(CORVANE_SOURCE_DIR) + "/examples/scenarios/";
  EXPECT_EQ(defaultScenarioText(), readFile(dir + "default.json"));
  for (char const* name : {"default", "portmaps", "restarts"}) {
    Scenario s = loadScenarioFile(dir + name + ".json");
    EXPECT_EQ(s.name, name);
    EXPECT_FALSE(s.steps.empty());
  }
  Scenario d = parseScenario(defaultScenarioText(), "built-in");
  EXPECT_EQ(d.interfaces.size(), 14u);
  ASSERT_EQ(d.lags.size(), 2u);
  EXPECT_EQ(d.lags[0].members.size(), 3u);
  EXPECT_TRUE(d.interfaces[12].portMap->fapId().isWildcard());
}

TEST(Scenario, MalformedInputNamesThePathAndTheFault) {
  struct Case {
    char const* text;
    char const* message;
  } const cases[] = {
      {R"({"interfaces": [)",
       "t.json: not valid JSON: parse error at line 1, column 17: syntax error while parsing value - unexpected "
       "end of input; expected '[', '{', or a literal"},
      {R"([1])", "t.json: /: expected an object, found array"},
      {R"({"chip": {"maxFaps": 1E400}})",
       "t.json: not valid JSON: number overflow parsing '1E400'"},
      {R"({"interface": []})", "t.json: /interface: unknown key"},
      {R"({"chip": {"maxFaps": 0}})", "t.json: /chip/maxFaps: 0 is out of range (1 to 2046)"},
      {R"({"interfaces": [{"name": "Ethernet1", "tcam": "one"}]})",
       "t.json: /interfaces/0/tcam: expected an integer, found string"},
      {R"({"interfaces": [{"name": "Eth 1"}]})",
       "t.json: /interfaces/0/name: Net::IntfId: 'Eth 1' is not an interface name"},
      {R"({"interfaces": [{"name": "Ethernet1"}, {"name": "Ethernet1"}]})",
       "t.json: /interfaces/1/name: interface declared twice"},
      {R"({"interfaces": [{"name": "Port-Channel1"}]})", "t.json: /interfaces/0/name: a LAG belongs under /lags"},
      {R"({"interfaces": [{"name": "Ethernet1", "portMap": {"fap": 3000, "port": 1, "core": 0}}]})",
       "t.json: /interfaces/0/portMap/fap: Hardware::Velt::FapId::value < Hardware::Velt::FapId::min or > "
       "Hardware::Velt::FapId::null not allowed"},
      {R"({"interfaces": [{"name": "Ethernet1", "portMap": {"fap": 0, "port": 1, "core": 7}}]})",
       "t.json: /interfaces/0/portMap/core: Hardware::Velt::LocalCoreId::value < Hardware::Velt::LocalCoreId::min "
       "or > Hardware::Velt::LocalCoreId::null not allowed"},
      {R"({"chip": {"maxFaps": 4}, "interfaces": [{"name": "Ethernet1", "portMap": {"fap": 4, "port": 1, "core": 0}}]})",
       "t.json: /interfaces/0/portMap/fap: FAP 4 is outside the chip (FAPs 0 to 3)"},
      {R"({"interfaces": [{"name": "Ethernet1", "portMap": {"fap": "*", "core": 0}}]})",
       "t.json: /interfaces/0/portMap: missing key \"port\""},
      {R"({"lags": [{"name": "Ethernet1"}]})", "t.json: /lags/0/name: a LAG's name is Port-Channel<n>"},
      {R"({"interfaces": [{"name": "Ethernet1"}], "lags": [{"name": "Port-Channel1", "members": ["Ethernet1"]},
          {"name": "Port-Channel2", "members": ["Ethernet1"]}]})",
       "t.json: /lags/1/members/0: port is already a member of a LAG"},
      {R"({"features": [{"interface": "Ethernet9", "vlan": 1}]})",
       "t.json: /features/0/interface: unknown interface \"Ethernet9\" (declare it under /interfaces or /lags)"},
      {R"({"interfaces": [{"name": "Ethernet1"}], "features": [{"interface": "Ethernet1", "vlan": 5000}]})",
       "t.json: /features/0/vlan: 5000 is out of range (0 to 4095)"},
      {R"({"steps": [{"title": "x", "ops": [{"op": "teleport"}]}]})",
       "t.json: /steps/0/ops/0/op: unknown op \"teleport\" (known: setTcam, delTcam, setPortMap, delPortMap, "
       "holdPortMaps, releasePortMaps, addMember, removeMember, setFeature, delFeature, failHardware, "
       "recoverHardware, stop, start, restart)"},
      {R"({"steps": [{"title": "x", "ops": [{"op": "restart", "sm": "FooSm"}]}]})",
       "t.json: /steps/0/ops/0/sm: unknown SM \"FooSm\" (known: all, LagHwConfigPortToLagSm, IntfTcamSm, "
       "IntfPortMapSm, PortMapToIntfSm, ConfigLagMemberExpSm, ConfigExpSm, ConfigPortMapExpSm, "
       "IntfPerTcamFeatureStatusSm, IntfFeatureStatusSm)"},
      {R"({"interfaces": [{"name": "Ethernet1"}], "lags": [{"name": "Port-Channel1"}],
          "steps": [{"title": "x", "ops": [{"op": "setTcam", "interface": "Port-Channel1", "tcam": 1}]}]})",
       "t.json: /steps/0/ops/0/interface: not allowed on a LAG"},
      {R"({"interfaces": [{"name": "Ethernet1"}], "lags": [{"name": "Port-Channel1"}],
          "steps": [{"title": "x", "ops": [{"op": "addMember", "lag": "Port-Channel1", "interface": "Ethernet1",
          "in": "everywhere"}]}]})",
       "t.json: /steps/0/ops/0/in: \"everywhere\" is not one of config, hardware, both"},
      {R"({"steps": [{"title": "x", "ops": [{"op": "holdPortMaps", "interface": "Ethernet1"}]}]})",
       "t.json: /steps/0/ops/0/interface: unknown key"},
  };
  for (auto const& c : cases) EXPECT_EQ(loadError(c.text), c.message) << c.text;
  EXPECT_THROW(loadScenarioFile("/nonexistent/x.json"), ScenarioError);
}

// Random operations over a synthetic chip, applied to a synchronous simulator and to
// asynchronous ones with several yield counts: after every settled step their tables
// agree, and every SM is ready.
TEST(Simulator, AsynchronousRunsPrintWhatTheSynchronousRunPrints) {
  auto const processScheduler = Corvane::TaskSchedulerRoot::findOrCreateScheduler();  // lives on
  int32_t const nodes = Corvane::Node::liveNodes();
  Scenario s = scaleScenario(120);
  std::mt19937 rng(7);
  std::vector<Step> steps(40);
  for (auto& step : steps) {
    for (int n = 1 + int(rng() % 4); n > 0; --n) {
      Op op;
      auto const& i = s.interfaces[rng() % s.interfaces.size()];
      op.intf = i.id;
      op.lag = s.lags[rng() % s.lags.size()].id;
      op.tcam = SystemTcamId(uint16_t(rng() % 16));
      op.vlan = rng() % 4096;
      op.portMap = *s.interfaces[rng() % s.interfaces.size()].portMap;
      op.scope = LagScope(rng() % 3);
      switch (rng() % 9) {
        case 0: op.kind = OpKind::setTcam; break;
        case 1: op.kind = OpKind::delTcam; break;
        case 2: op.kind = OpKind::setPortMap; break;
        case 3: op.kind = rng() % 2 ? OpKind::addMember : OpKind::removeMember; break;
        case 4: op.kind = OpKind::setFeature; break;
        case 5: op.kind = rng() % 2 ? OpKind::setFeature : OpKind::delFeature; op.intf = op.lag; break;
        case 6: op.kind = rng() % 2 ? OpKind::failHardware : OpKind::recoverHardware; break;
        case 7: op.kind = OpKind::restart; op.sm = ExampleWiring::allSmKinds[rng() % ExampleWiring::smKindCount]; break;
        default: op.kind = rng() % 2 ? OpKind::holdPortMaps : OpKind::releasePortMaps; break;
      }
      step.ops.push_back(op);
    }
    Op release;
    release.kind = OpKind::releasePortMaps;
    step.ops.push_back(release);
  }
  std::vector<Tables> want;
  {
    Simulator sync(s, RunMode{});
    sync.startUp();
    for (auto const& step : steps) {
      for (auto const& op : step.ops) sync.apply(op);
      sync.settle();
      want.push_back(sync.tables());
    }
  }
  for (uint32_t yield : {1u, 3u, 0u}) {
    Simulator async(s, RunMode{true, yield});
    async.startUp();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      for (auto const& op : steps[i].ops) async.apply(op);
      async.settle();
      ASSERT_TRUE(async.ready());
      auto got = async.tables();
      for (std::size_t t = 0; t < got.size(); ++t) {
        EXPECT_EQ(got[t].rows, want[i][t].rows) << "yield " << yield << ", step " << i << ", " << got[t].name;
      }
    }
  }
  EXPECT_EQ(Corvane::Node::liveNodes(), nodes);
}

TEST(Simulator, ExplainNamesTheMembersBehindALagsTcams) {
  Simulator sim(parseScenario(defaultScenarioText(), "built-in"), RunMode{});
  sim.startUp();
  auto lines = sim.explain(Corvane::IntfId("Port-Channel1"));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], "TCAM set {1, 2} (IntfToTcamSet, by IntfTcamSm):");
  EXPECT_EQ(lines[2], "  TCAM 1: from members {Ethernet1, Ethernet2}");
  EXPECT_EQ(lines[3], "  TCAM 2: from members {Ethernet3}");
}

// The timeline of an asynchronous run of the built-in scenario is a valid trace-event
// file: every span closed in order, times never going back, names present, steps
// enclosing the SMs' pipelines and the scheduler's task runs. Recording it changes
// no delivery: each step ends with the tables of the same run without it.
TEST(Simulator, TimelineIsAValidTraceEventFile) {
  Scenario const scenario = parseScenario(defaultScenarioText(), "built-in");
  std::string text;
  std::vector<Tables> timed;
  {
    Timeline timeline;
    Simulator sim(scenario, RunMode{true, 2});
    timeline.stepBegin("Start-up");
    sim.startUp();
    timeline.stepEnd();
    for (auto const& step : scenario.steps) {
      timeline.stepBegin(step.title);
      for (auto const& op : step.ops) sim.apply(op);
      sim.settle();
      timeline.stepEnd();
      timed.push_back(sim.tables());
    }
    text = timeline.json();
  }
  Simulator plain(scenario, RunMode{true, 2});
  plain.startUp();
  for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
    for (auto const& op : scenario.steps[i].ops) plain.apply(op);
    plain.settle();
    auto const want = plain.tables();
    for (std::size_t t = 0; t < want.size(); ++t) {
      EXPECT_EQ(timed[i][t].rows, want[t].rows) << "step " << i << ", " << want[t].name;
    }
  }
  auto const events = nlohmann::json::parse(text)["traceEvents"];
  std::vector<std::string> open;
  double last = 0;
  std::map<std::string, int> spans;  // by category
  for (auto const& e : events) {
    std::string const name = e["name"];
    ASSERT_FALSE(name.empty());
    double const ts = e["ts"];
    EXPECT_GE(ts, last);
    last = ts;
    if (e["ph"] == "B") {
      if (open.empty()) {
        EXPECT_EQ(e["cat"], "step") << name << " outside every step";
      }
      open.push_back(name);
      ++spans[e["cat"]];
    } else {
      ASSERT_EQ(e["ph"], "E");
      ASSERT_FALSE(open.empty());
      EXPECT_EQ(open.back(), name);
      open.pop_back();
    }
  }
  EXPECT_TRUE(open.empty());
  EXPECT_EQ(spans["step"], int(scenario.steps.size()) + 1);
  EXPECT_GT(spans["task"], 0);
  EXPECT_GT(spans["IntfTcamSm"], 0);
  EXPECT_FALSE(Corvane::spansOn()) << "the sink goes with the timeline";
}
