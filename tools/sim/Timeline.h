// A run as a timeline: every span the library reports (pipeline entry points, task
// runs) and each step of the scenario around them, written in the trace-event JSON
// format that Perfetto and the Chrome trace viewer open.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "corvane/Corvane.h"

namespace Sim {

class Timeline {
 public:
  // Records from construction to destruction (the previous span sink comes back).
  Timeline();
  ~Timeline();
  Timeline(Timeline const&) = delete;
  Timeline& operator=(Timeline const&) = delete;

  // The enclosing span of one step of the scenario.
  void stepBegin(std::string const& title);
  void stepEnd();

  // {"traceEvents": [{"name", "cat", "ph": "B" or "E", "ts" (microseconds), "pid", "tid"}, ...]}
  std::string json() const;
  std::size_t spans() const noexcept { return events_.size() / 2; }

 private:
  struct Event {
    std::string name;
    std::string category;
    bool begin;
    double micros;
  };
  void add(std::string name, std::string category, bool begin);

  std::chrono::steady_clock::time_point start_;
  std::vector<Event> events_;
  Corvane::SpanSink previous_;
};

}  // namespace Sim
