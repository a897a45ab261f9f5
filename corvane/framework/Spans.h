// Spans: the begin and end of each unit of work the library does (a state machine's
// handler call, a scheduler task run), delivered in order to one process-wide sink,
// for example to write a timeline of a run. With no sink installed a notification
// costs one test of a flag per delivery.
#pragma once

#include <functional>

#include "corvane/framework/Export.h"

namespace Corvane {

struct SpanEvent {
  char const* name;      // the input SM's class name, or the task's name
  char const* category;  // the SM's source name, or "task"
  bool begin;            // begin or end; ends come in the reverse order of their begins
};
using SpanSink = std::function<void(SpanEvent const&)>;

// Installs the sink (an empty one switches spans off) and returns the previous one.
CORVANE_API SpanSink spanSinkIs(SpanSink sink);
CORVANE_API bool spansOn() noexcept;

}  // namespace Corvane
