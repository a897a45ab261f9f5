// Leveled tracing. Every state machine traces through a named DebugHandler whose
// 16-bit mask enables levels (bit N enables level N). A line is formatted only when
// its level is enabled: the disabled path is one test and a branch. Formatted
// records go to the process-wide sink (if any) and to the ring buffer the caller
// passes (if any).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "corvane/framework/Node.h"

namespace Corvane {

// False only in builds configured with CORVANE_TRACE_COMPILED_OUT=ON, which exist to
// measure what the disabled trace lines cost: there no level is ever enabled, so the
// compiler drops every trace line with its test.
#if defined(CORVANE_TRACE_COMPILED_OUT) && CORVANE_TRACE_COMPILED_OUT
inline constexpr bool traceCompiledIn = false;
#else
inline constexpr bool traceCompiledIn = true;
#endif

struct TraceRecord {
  int level = 0;
  std::string source;     // the module that traced (IntfTcamSm, ...)
  std::string function;   // handleInitialized, doInputScan0, ...
  std::string className;  // IntfTcamSm, VeltStatusSm0, ...
  std::string message;    // the filled-in message text
};

using TraceSink = std::function<void(TraceRecord const&)>;

// Installs the process-wide sink (an empty one means none) and returns the previous one.
CORVANE_API TraceSink traceSinkIs(TraceSink sink);

// One line of text for a record: "<level> <source> <className>::<function>: <message>".
CORVANE_API std::string traceRecordText(TraceRecord const& r);

// Ring buffer of the most recent records, attachable to a state machine.
class CORVANE_API RingTrace : public Node {
  CORVANE_NODE_TYPE(RingTrace)

  static Ptr<RingTrace> RingTraceIs(size_t capacity);
  explicit RingTrace(size_t capacity);
  ~RingTrace() override;

  size_t capacity() const noexcept { return capacity_; }
  // Retained records, oldest first.
  std::vector<TraceRecord> records() const;
  void recordAdd(TraceRecord const& r);
  void recordsClear();

 private:
  size_t capacity_;
  size_t next_ = 0;
  std::vector<TraceRecord> ring_;
};

class CORVANE_API DebugHandler : public Node {
  CORVANE_NODE_TYPE(DebugHandler)

  explicit DebugHandler(std::string name);
  ~DebugHandler() override;

  std::string const& name() const noexcept { return name_; }
  uint16_t levelMask() const noexcept { return mask_; }
  void levelMaskIs(uint16_t mask) noexcept { mask_ = mask; }
  // Levels outside 0 to 15 are never enabled (a constant level costs nothing more).
  bool enabled(int level) const noexcept {
    return traceCompiledIn && unsigned(level) < 16u && ((mask_ >> level) & 1u);
  }

  // Formats and emits when `level` is enabled; does nothing (and formats nothing) otherwise.
  template <class... A>
  void trace(int level, char const* source, char const* function, char const* className,
             RingTrace* ring, fmt::format_string<A...> format, A&&... args) const {
    if (CORVANE_UNLIKELY(enabled(level))) {
      emit(level, source, function, className, ring, fmt::format(format, std::forward<A>(args)...));
    }
  }

  // Emits an already formatted message (the caller has tested enabled()).
  void emit(int level, char const* source, char const* function, char const* className,
            RingTrace* ring, std::string message) const;

 private:
  std::string name_;
  uint16_t mask_ = 0;
};

// The handler registered under `name`; created (all levels off) when absent and
// `create` is true, else null.
CORVANE_API Ptr<DebugHandler> getDebugHandler(std::string const& name, bool create = true);

// Traces through `handler` (a DebugHandler& or pointer-like) without evaluating the
// arguments when the level is off.
#define CORVANE_TRACE(handler, level, source, function, className, ring, ...)              \
  do {                                                                                      \
    auto const& corvaneH_ = (handler);                                                      \
    if (CORVANE_UNLIKELY(corvaneH_.enabled(level)))                                         \
      corvaneH_.emit(level, source, function, className, ring, fmt::format(__VA_ARGS__));   \
  } while (0)

}  // namespace Corvane
