#include "corvane/framework/Trace.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

#include <map>

namespace Corvane {

namespace {
TraceSink& sink() {
  static TraceSink s;
  return s;
}
std::map<std::string, Ptr<DebugHandler>, std::less<>>& handlers() {
  static auto* h = new std::map<std::string, Ptr<DebugHandler>, std::less<>>();
  return *h;  // never destroyed: handlers stay valid through static destruction
}
}  // namespace

TraceSink traceSinkIs(TraceSink s) {
  TraceSink prev = std::move(sink());
  sink() = std::move(s);
  return prev;
}

std::string traceRecordText(TraceRecord const& r) {
  return fmt::format("{} {} {}::{}: {}", r.level, r.source, r.className, r.function, r.message);
}

CORVANE_NODE_TYPE_DEFINE(RingTrace, "Corvane::RingTrace", Node)

Ptr<RingTrace> RingTrace::RingTraceIs(size_t capacity) { return Ptr<RingTrace>(new RingTrace(capacity)); }
RingTrace::RingTrace(size_t capacity) : capacity_(capacity) { ring_.reserve(capacity < 1024 ? capacity : 1024); }
RingTrace::~RingTrace() = default;

void RingTrace::recordAdd(TraceRecord const& r) {
  if (capacity_ == 0) return;
  if (ring_.size() < capacity_) {
    ring_.push_back(r);
  } else {
    ring_[next_] = r;
    next_ = (next_ + 1) % capacity_;
  }
}

std::vector<TraceRecord> RingTrace::records() const {
  std::vector<TraceRecord> out;
  out.reserve(ring_.size());
  for (size_t i = 0; i < ring_.size(); ++i) out.push_back(ring_[(next_ + i) % ring_.size()]);
  return out;
}

void RingTrace::recordsClear() {
  ring_.clear();
  next_ = 0;
}

CORVANE_NODE_TYPE_DEFINE(DebugHandler, "Corvane::DebugHandler", Node)

DebugHandler::DebugHandler(std::string name) : name_(std::move(name)) {}
DebugHandler::~DebugHandler() = default;

void DebugHandler::emit(int level, char const* source, char const* function, char const* className,
                        RingTrace* ring, std::string message) const {
  TraceRecord r{level, source, function, className, std::move(message)};
  if (ring) ring->recordAdd(r);
  if (TraceSink const& s = sink()) s(r);
}

Ptr<DebugHandler> getDebugHandler(std::string const& name, bool create) {
  auto& h = handlers();
  auto it = h.find(name);
  if (it != h.end()) return it->second;
  if (!create) return nullptr;
  Ptr<DebugHandler> d(new DebugHandler(name));
  h.emplace(name, d);
  return d;
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(RingTrace::typeDataStatic(), Describe<RingTrace>(TypeKind::node).done());
  // A handler's level mask can be set by name, for example from an agent's CLI.
  TypeRegistry::typeRegister(DebugHandler::typeDataStatic(),
                             Describe<DebugHandler>(TypeKind::node)
                                 .value<&DebugHandler::name>("name")
                                 .value<&DebugHandler::levelMask, &DebugHandler::levelMaskIs>("levelMask")
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
