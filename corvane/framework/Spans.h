// Spans: the begin and end of each unit of work the library does (a pipeline entry
// point of an SM, a scheduler task run), delivered in order to one process-wide sink,
// for example to write a timeline of a run. With no sink installed a span costs one
// test of a flag where it begins and one where it ends.
#pragma once

#include <functional>

#include "corvane/framework/Export.h"

namespace Corvane {

struct SpanEvent {
  char const* name;      // the pipeline entry point or the task's name
  char const* category;  // the SM's source name, or "task"
  bool begin;            // begin or end; ends come in the reverse order of their begins
};
using SpanSink = std::function<void(SpanEvent const&)>;

// Installs the sink (an empty one switches spans off) and returns the previous one.
CORVANE_API SpanSink spanSinkIs(SpanSink sink);

namespace detail {
CORVANE_API extern bool gSpansOn;
CORVANE_API void spanEmit(char const* name, char const* category, bool begin);
}  // namespace detail

// A span for the lifetime of the object.
class SpanScope {
 public:
  SpanScope(char const* name, char const* category) : on_(detail::gSpansOn), name_(name), category_(category) {
    if (CORVANE_UNLIKELY(on_)) detail::spanEmit(name_, category_, true);
  }
  ~SpanScope() {
    if (CORVANE_UNLIKELY(on_)) detail::spanEmit(name_, category_, false);
  }
  SpanScope(SpanScope const&) = delete;
  SpanScope& operator=(SpanScope const&) = delete;

 private:
  bool on_;
  char const* name_;
  char const* category_;
};

}  // namespace Corvane
