#include "tools/sim/Timeline.h"

#include <nlohmann/json.hpp>

namespace Sim {

Timeline::Timeline() : start_(std::chrono::steady_clock::now()) {
  previous_ = Corvane::spanSinkIs([this](Corvane::SpanEvent const& e) { add(e.name, e.category, e.begin); });
}

Timeline::~Timeline() { Corvane::spanSinkIs(std::move(previous_)); }

void Timeline::add(std::string name, std::string category, bool begin) {
  double const micros = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start_).count();
  events_.push_back({std::move(name), std::move(category), begin, micros});
}

void Timeline::stepBegin(std::string const& title) { add(title, "step", true); }
void Timeline::stepEnd() { add("", "step", false); }

std::string Timeline::json() const {
  auto events = nlohmann::ordered_json::array();
  std::vector<std::string const*> open;  // an end carries its begin's name
  for (Event const& e : events_) {
    std::string const& name = e.begin ? e.name : *open.back();
    events.push_back({{"name", e.category == "task" || e.category == "step" ? name : e.category + " " + name},
                      {"cat", e.category},
                      {"ph", e.begin ? "B" : "E"},
                      {"ts", e.micros},
                      {"pid", 1},
                      {"tid", 1}});
    if (e.begin) {
      open.push_back(&e.name);
    } else {
      open.pop_back();
    }
  }
  return nlohmann::ordered_json{{"traceEvents", std::move(events)}, {"displayTimeUnit", "ms"}}.dump(1);
}

}  // namespace Sim
