// Inside the library only (not installed): the flag the hot paths test and the span
// of a scope.
#pragma once

#include "corvane/framework/Spans.h"

namespace Corvane::detail {

extern bool gSpansOn;  // hidden: read with one load where a notification is delivered
void spanEmit(char const* name, char const* category, bool begin);

// A span for the lifetime of the object.
class SpanScope {
 public:
  SpanScope(char const* name, char const* category) : on_(gSpansOn), name_(name), category_(category) {
    if (CORVANE_UNLIKELY(on_)) spanEmit(name_, category_, true);
  }
  ~SpanScope() {
    if (CORVANE_UNLIKELY(on_)) spanEmit(name_, category_, false);
  }
  SpanScope(SpanScope const&) = delete;
  SpanScope& operator=(SpanScope const&) = delete;

 private:
  bool on_;
  char const* name_;
  char const* category_;
};

}  // namespace Corvane::detail
