// corvane-sim: plays a switch agent around Corvane's state machines. It writes a
// scenario's inputs, wires every SM as an agent does, simulates the hardware layer,
// applies the scenario's timeline and prints what changed in every output table.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tools/sim/Scale.h"
#include "tools/sim/Scenario.h"
#include "tools/sim/Simulator.h"
#include "tools/sim/Timeline.h"

using namespace Sim;

namespace {

constexpr char const* usageText =
    "usage: corvane-sim [SCENARIO.json] [options]\n"
    "\n"
    "Runs the built-in scenario, or the scenario file given, through every state\n"
    "machine of Corvane and prints what changed in every output table after each\n"
    "step, then the final tables.\n"
    "\n"
    "options:\n"
    "  --json                 machine-readable output of the same content\n"
    "  --trace SOURCE=LEVELS  enable trace levels of an SM (e.g. IntfTcamSm=7,9 or\n"
    "                         ConfigExpSm=6-9 or IntfTcamSm=all), printed inline\n"
    "  --async                asynchronous SMs: start-up scans run in scheduler tasks\n"
    "  --yield-every N        with --async: the scheduler yields every N items\n"
    "  --explain INTF         after the run, why each output entry of INTF exists\n"
    "  --dump NAME            after the run, print one table as JSON instead of the\n"
    "                         report (inputs/veltStatus, outputs/intfToTcamSet,\n"
    "                         sms/IntfTcamSm, ...; \"list\" names them all)\n"
    "  --stats                after the run, each SM's statistics (events, pipeline\n"
    "                         runs, writes, reconciliation); in --json as \"statistics\"\n"
    "  --timeline FILE        write the run to FILE as trace-event JSON (open it in\n"
    "                         Perfetto or chrome://tracing): steps, SM pipelines, tasks\n"
    "  --memory               after the run, memory by type and by SM, largest first\n"
    "  --dot                  print the wiring as a Graphviz graph and exit\n"
    "  --scale N              a synthetic chip of N interfaces: start-up time, time\n"
    "                         per change and memory\n"
    "  --help                 this text\n";

[[noreturn]] void usageError(std::string const& what) {
  std::fprintf(stderr, "corvane-sim: %s\n%s", what.c_str(), usageText);
  std::exit(2);
}

uint32_t positive(std::string const& opt, std::string const& v, uint32_t min) {
  char* end = nullptr;
  unsigned long n = std::strtoul(v.c_str(), &end, 10);
  if (v.empty() || *end != '\0' || v[0] == '-' || n < min || n > 100000000ul) {
    usageError(fmt::format("{} wants a number of at least {}, not \"{}\"", opt, min, v));
  }
  return uint32_t(n);
}

// "7,9", "6-9", "all" -> a level mask.
uint16_t levelMask(std::string const& text) {
  if (text == "all") return 0x3c0;  // levels 6 to 9
  uint16_t mask = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(',', pos);
    std::string part = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    std::size_t dash = part.find('-');
    uint32_t lo = positive("--trace", part.substr(0, dash), 0);
    uint32_t hi = dash == std::string::npos ? lo : positive("--trace", part.substr(dash + 1), 0);
    if (hi > 15 || lo > hi) usageError(fmt::format("--trace: bad level range \"{}\" (levels are 0 to 15)", part));
    for (uint32_t l = lo; l <= hi; ++l) mask = uint16_t(mask | (1u << l));
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return mask;
}

struct Options {
  std::string file;
  bool json = false;
  bool dot = false;
  RunMode mode;
  bool yieldGiven = false;
  std::vector<std::pair<std::string, uint16_t>> traces;
  std::string explain;
  std::string dump;
  bool stats = false;
  bool memory = false;
  std::string timeline;
  uint32_t scale = 0;
};

Options parseArgs(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string const& a = args[i];
    auto value = [&]() -> std::string const& {
      if (i + 1 >= args.size()) usageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(usageText, stdout);
      std::exit(0);
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--dot") {
      o.dot = true;
    } else if (a == "--async") {
      o.mode.async = true;
    } else if (a == "--yield-every") {
      o.mode.yieldEvery = positive(a, value(), 1);
      o.yieldGiven = true;
    } else if (a == "--trace") {
      std::string const& v = value();
      auto eq = v.find('=');
      if (eq == std::string::npos || eq == 0) usageError("--trace wants SOURCE=LEVELS, e.g. IntfTcamSm=7,9");
      std::string source = v.substr(0, eq);
      if (!Corvane::getDebugHandler(source, false)) {
        usageError(fmt::format("--trace: no trace source \"{}\" (the SM class names, e.g. IntfTcamSm)", source));
      }
      o.traces.emplace_back(source, levelMask(v.substr(eq + 1)));
    } else if (a == "--explain") {
      o.explain = value();
    } else if (a == "--timeline") {
      o.timeline = value();
    } else if (a == "--memory") {
      o.memory = true;
    } else if (a == "--stats") {
      o.stats = true;
    } else if (a == "--dump") {
      o.dump = value();
    } else if (a == "--scale") {
      o.scale = positive(a, value(), 1);
    } else if (!a.empty() && a[0] == '-') {
      usageError(fmt::format("unknown option \"{}\"", a));
    } else if (o.file.empty()) {
      o.file = a;
    } else {
      usageError("one scenario file at most");
    }
  }
  if (o.yieldGiven && !o.mode.async) usageError("--yield-every goes with --async");
  return o;
}

void printRows(Table const& t) {
  std::printf("%s (%zu)\n", t.name.c_str(), t.rows.size());
  for (auto const& [k, v] : t.rows) std::printf("  %s -> %s\n", k.c_str(), v.c_str());
}

void printChanges(std::vector<TableChanges> const& changes) {
  if (changes.empty()) std::printf("(no output changed)\n");
  for (auto const& tc : changes) {
    std::printf("%s\n", tc.table.c_str());
    for (auto const& c : tc.changes) {
      if (c.kind == '~') {
        std::printf("  ~ %s: %s -> %s\n", c.key.c_str(), c.oldValue.c_str(), c.newValue.c_str());
      } else {
        std::printf("  %c %s -> %s\n", c.kind, c.key.c_str(), (c.kind == '+' ? c.newValue : c.oldValue).c_str());
      }
    }
  }
}

nlohmann::ordered_json changesJson(std::vector<TableChanges> const& changes) {
  auto out = nlohmann::ordered_json::array();
  for (auto const& tc : changes) {
    auto rows = nlohmann::ordered_json::array();
    for (auto const& c : tc.changes) {
      nlohmann::ordered_json r;
      r["change"] = c.kind == '+' ? "added" : c.kind == '-' ? "removed" : "replaced";
      r["key"] = c.key;
      if (c.kind != '+') r["old"] = c.oldValue;
      if (c.kind != '-') r["value"] = c.newValue;
      rows.push_back(std::move(r));
    }
    out.push_back({{"table", tc.table}, {"changes", std::move(rows)}});
  }
  return out;
}

nlohmann::ordered_json statisticsJson(Simulator const& sim) {
  using Micros = std::chrono::duration<double, std::micro>;
  auto out = nlohmann::ordered_json::array();
  for (Corvane::RootSm const* sm : sim.reportedSms()) {
    Corvane::SmStatistics const s = sm->statistics();
    auto inputs = nlohmann::ordered_json::array();
    for (auto const& i : s.inputs) {
      inputs.push_back({{"name", i.name}, {"events", i.events}, {"scanItems", i.scanItems},
                        {"scanKnown", i.scanKnown}, {"scanYields", i.scanYields}});
    }
    auto pipelines = nlohmann::ordered_json::array();
    for (auto const& p : s.pipelines) pipelines.push_back({{"name", p.name}, {"runs", p.runs}});
    auto outputs = nlohmann::ordered_json::array();
    for (auto const& o : s.outputs) {
      outputs.push_back({{"name", o.name}, {"inserted", o.inserted}, {"replaced", o.replaced}, {"deleted", o.deleted},
                         {"reconcileKnown", o.reconcileKnown}, {"reconcileVisited", o.reconcileVisited},
                         {"reconcileDeleted", o.reconcileDeleted}, {"reconcileInserted", o.reconcileInserted},
                         {"bookmarkResumes", o.bookmarkResumes}});
    }
    out.push_back({{"sm", s.sm},
                   {"inputs", std::move(inputs)},
                   {"pipelines", std::move(pipelines)},
                   {"outputs", std::move(outputs)},
                   {"firstPassUs", Micros(s.firstPassTime()).count()},
                   {"initialScanUs", Micros(s.initialScanTime()).count()},
                   {"readyUs", Micros(s.readyTime()).count()}});
  }
  // The status path's own state machines are not built on the engine: its merge SMs.
  ExampleWiring::Wiring const& w = sim.wiring();
  if (w.featureStatusSm()) {
    out.push_back({{"sm", "IntfFeatureStatusSm"},
                   {"mergeSms", w.featureStatusSm()->featureStatusMergeSm().size()},
                   {"mergeSmsMade", w.mergeSmsCreated()},
                   {"interfacesWithStatus", w.featureStatusSm()->perIntfFeatureStatus()->status().size()}});
  }
  return out;
}

int run(Options const& o) {
  Scenario scenario;
  try {
    scenario = o.file.empty() ? parseScenario(defaultScenarioText(), "built-in scenario") : loadScenarioFile(o.file);
  } catch (ScenarioError const& e) {
    std::fprintf(stderr, "corvane-sim: %s\n", e.what());
    return 2;
  }
  std::optional<IntfId> explainId;
  if (!o.explain.empty()) {
    try {
      explainId = IntfId(o.explain);
    } catch (Corvane::ParseError const& e) {
      usageError(fmt::format("--explain: {}", e.what()));
    }
  }

  // Traces print inline, between the lines of the step that caused them.
  for (auto const& [source, mask] : o.traces) Corvane::getDebugHandler(source)->levelMaskIs(mask);
  FILE* traceOut = o.json ? stderr : stdout;
  if (!o.traces.empty()) {
    Corvane::traceSinkIs([traceOut](Corvane::TraceRecord const& r) {
      std::fprintf(traceOut, "  | %s\n", Corvane::traceRecordText(r).c_str());
    });
  }

  // --explain prints the explanation only, --dump the table only.
  bool const quiet = explainId.has_value() || !o.dump.empty();
  bool const text = !o.json && !quiet;
  nlohmann::ordered_json doc;
  auto steps = nlohmann::ordered_json::array();
  if (text) {
    std::printf("Scenario \"%s\"%s%s\n", scenario.name.c_str(), scenario.description.empty() ? "" : ": ",
                scenario.description.c_str());
    std::printf("Chip: %u FAPs, %u cores per FAP; %zu interfaces, %zu LAGs, %zu payloads; LAG-member expansion %s\n",
                scenario.maxFaps, scenario.maxCores, scenario.interfaces.size(), scenario.lags.size(),
                scenario.features.size(), scenario.lagMemberExpansion ? "on" : "off");
  }
  if (o.mode.async) {
    std::fprintf(stderr, "corvane-sim: asynchronous SMs, the scheduler yields every %u items\n", o.mode.yieldEvery);
  }

  std::optional<Timeline> timeline;
  if (!o.timeline.empty()) timeline.emplace();
  Simulator sim(scenario, o.mode);
  Tables before = sim.tables();
  auto step = [&](std::string const& title, std::vector<Op> const& ops, auto&& body) {
    if (text) {
      std::printf("\n== %s\n", title.c_str());
      for (auto const& op : ops) std::printf("  > %s\n", opText(op).c_str());
    }
    if (timeline) timeline->stepBegin(title);
    body();
    if (timeline) timeline->stepEnd();
    Tables after = sim.tables();
    auto changes = diffTables(before, after);
    if (text) printChanges(changes);
    if (o.json) {
      auto opsJson = nlohmann::ordered_json::array();
      for (auto const& op : ops) opsJson.push_back(opText(op));
      steps.push_back({{"title", title}, {"ops", std::move(opsJson)}, {"changes", changesJson(changes)}});
    }
    before = std::move(after);
  };
  step("Start-up: the inputs written, then every SM created", {}, [&] { sim.startUp(); });
  for (std::size_t i = 0; i < scenario.steps.size(); ++i) {
    auto const& s = scenario.steps[i];
    step(fmt::format("Step {}: {}", i + 1, s.title), s.ops, [&] {
      for (auto const& op : s.ops) sim.apply(op);
      sim.settle();
    });
  }
  if (!sim.ready()) {
    std::fprintf(stderr, "corvane-sim: an SM is not ready after the scheduler ran dry\n");
    return 1;
  }

  if (!o.dump.empty()) {
    Corvane::Ptr<Corvane::Directory> dir = sim.directory();
    if (o.dump == "list") {
      for (auto const& [folder, node] : dir->entry()) {
        for (auto const& [name, entry] : static_cast<Corvane::Directory const&>(*node).entry()) {
          std::printf("%s/%s\n", folder.c_str(), name.c_str());
        }
      }
    } else if (Corvane::Ptr<Corvane::Node> node = dir->lookup(o.dump)) {
      std::printf("%s\n", Corvane::Reflect::json(*node).c_str());
    } else {
      std::fprintf(stderr, "corvane-sim: --dump: no table \"%s\" (--dump list names them)\n", o.dump.c_str());
      return 2;
    }
  } else if (explainId) {
    auto lines = sim.explain(*explainId);
    if (o.json) {
      std::cout << nlohmann::ordered_json{{"interface", explainId->stringValue()}, {"explain", lines}}.dump(2) << "\n";
    } else {
      for (auto const& l : lines) std::printf("%s\n", l.c_str());
    }
  } else if (o.json) {
    doc["scenario"] = scenario.name;
    doc["steps"] = std::move(steps);
    auto finalJson = nlohmann::ordered_json::array();
    for (auto const& t : before) {
      auto rows = nlohmann::ordered_json::array();
      for (auto const& [k, v] : t.rows) rows.push_back({{"key", k}, {"value", v}});
      finalJson.push_back({{"table", t.name}, {"rows", std::move(rows)}});
    }
    doc["final"] = std::move(finalJson);
    if (o.stats) doc["statistics"] = statisticsJson(sim);
    std::cout << doc.dump(2) << "\n";
  } else {
    std::printf("\n== Final tables\n");
    for (auto const& t : before) printRows(t);
    if (o.memory) printMemory(sim);
    if (o.stats) {
      std::printf("\n== Statistics\n");
      for (Corvane::RootSm const* sm : sim.reportedSms()) std::printf("%s", Corvane::textForm(sm->statistics()).c_str());
      std::printf("%s", sim.wiring().featureStatusSmSummary().c_str());
    }
  }
  if (!o.traces.empty()) Corvane::traceSinkIs({});
  if (timeline) {
    std::ofstream f(o.timeline);
    f << timeline->json() << "\n";
    if (!f) {
      std::fprintf(stderr, "corvane-sim: --timeline: cannot write %s\n", o.timeline.c_str());
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parseArgs(argc, argv);
  if (o.dot) {
    bool expansion = true;
    if (!o.file.empty()) {
      try {
        expansion = loadScenarioFile(o.file).lagMemberExpansion;
      } catch (ScenarioError const& e) {
        std::fprintf(stderr, "corvane-sim: %s\n", e.what());
        return 2;
      }
    }
    std::fputs(wiringDot(expansion).c_str(), stdout);
    return 0;
  }
  if (o.scale > 0) return runScale(o.scale, o.mode, o.memory);
  return run(o);
}
