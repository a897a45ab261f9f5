// The simulator's scenario reader. Malformed JSON or a malformed scenario may only
// raise Sim::ScenarioError, and its message must begin with the source name the
// reader was given (the simulator prints it and exits with status 2). A scenario that
// loads reads the same way twice and every operation prints.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "RoundTrip.h"
#include "tools/sim/Scenario.h"

namespace {

char const* const kSource = "fuzz.json";

std::string opsText(Sim::Scenario const& s) {
  std::string out = s.name + "\n";
  for (Sim::Step const& step : s.steps) {
    out += step.title + "\n";
    for (Sim::Op const& op : step.ops) out += Sim::opText(op) + "\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);
  Sim::Scenario s;
  try {
    s = Sim::parseScenario(text, kSource);
  } catch (Sim::ScenarioError const& e) {
    if (std::string_view(e.what()).rfind(std::string(kSource) + ": ", 0) != 0) {
      CorvaneFuzz::failure("Sim::ScenarioError", text, std::string("the message does not name the source: ") + e.what());
    }
    return 0;
  }
  std::string const first = opsText(s);
  if (opsText(Sim::parseScenario(text, kSource)) != first) {
    CorvaneFuzz::failure("Sim::Scenario", text, "a second read gives other operations");
  }
  return 0;
}
