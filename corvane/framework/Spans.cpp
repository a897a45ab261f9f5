#include "corvane/framework/Spans.h"

#include <utility>

#include "corvane/framework/internal/SpanScope.h"

namespace Corvane {

namespace detail {
bool gSpansOn = false;
}  // namespace detail

namespace {
SpanSink& sink() {
  static auto* s = new SpanSink();
  return *s;
}
}  // namespace

SpanSink spanSinkIs(SpanSink s) {
  SpanSink previous = std::exchange(sink(), std::move(s));
  detail::gSpansOn = static_cast<bool>(sink());
  return previous;
}

bool spansOn() noexcept { return detail::gSpansOn; }

void detail::spanEmit(char const* name, char const* category, bool begin) {
  if (sink()) sink()({name, category, begin});
}

}  // namespace Corvane
