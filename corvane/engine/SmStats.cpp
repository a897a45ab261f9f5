#include "corvane/engine/SmStats.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <unordered_set>

#include "corvane/engine/RootSm.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TextForm.h"

namespace Corvane {

namespace {
constexpr char const* phaseNames[] = {"created", "firstPass", "eventPass", "reconciling", "ready", "retracted"};
}  // namespace

std::ostream& operator<<(std::ostream& os, SmPhase p) { return printEnum(os, phaseNames, uint64_t(p)); }

std::ostream& operator<<(std::ostream& os, SmStatistics const& s) {
  os << s.sm << "\n";
  for (InputStatistics const& i : s.inputs) {
    os << "  input " << i.name << ": events " << i.events << ", scanned " << i.scanItems << " of " << i.scanKnown
       << ", yields " << i.scanYields << "\n";
  }
  for (PipelineStatistics const& p : s.pipelines) os << "  pipeline " << p.name << ": runs " << p.runs << "\n";
  for (OutputStatistics const& o : s.outputs) {
    os << "  output " << o.name << ": inserted " << o.inserted << ", replaced " << o.replaced << ", deleted "
       << o.deleted << "; reconciled " << o.reconcileVisited << " of " << o.reconcileKnown << ", deleted "
       << o.reconcileDeleted << ", inserted " << o.reconcileInserted << ", resumed " << o.bookmarkResumes << "\n";
  }
  return os;
}

std::vector<MemoryUse> memoryByType(std::vector<Node const*> const& roots) {
  std::unordered_set<Node const*> seen;
  std::map<TypeData const*, MemoryUse> byType;
  std::vector<Node const*> todo(roots.begin(), roots.end());
  while (!todo.empty()) {
    Node const* n = todo.back();
    todo.pop_back();
    if (!n || !seen.insert(n).second) continue;
    TypeData const& type = n->typeData();
    MemoryUse& use = byType[&type];
    use.type = type.name();
    ++use.objects;
    use.bytes += type.objectSize();
    if (auto const* sm = dynamic_cast<RootSm const*>(n)) use.bytes += sm->engineMemory().total() - type.objectSize();
    for (AttributeDesc const* a : Reflect::attributes(type)) {
      if (a->bytes) use.bytes += a->bytes(*n);
      if (a->referent) todo.push_back(a->referent(*n));
      if (a->keys) {
        a->keys(*n, [&](void const*, Node const* element) { todo.push_back(element); });
      }
    }
  }
  std::vector<MemoryUse> out;
  for (auto& [type, use] : byType) out.push_back(std::move(use));
  std::sort(out.begin(), out.end(), [](auto const& a, auto const& b) {
    return a.bytes != b.bytes ? a.bytes > b.bytes : a.type < b.type;
  });
  return out;
}

StartupProgress& StartupProgress::operator+=(StartupProgress const& o) noexcept {
  phase = std::min(phase, o.phase);
  done += o.done;
  known += o.known;
  complete = complete && o.complete;
  return *this;
}

StartupProgress startupProgress(std::vector<RootSm const*> const& sms) {
  StartupProgress sum;
  sum.phase = SmPhase::ready;
  sum.complete = true;
  for (RootSm const* sm : sms) {
    if (sm) sum += sm->startupProgress();
  }
  return sum;
}

}  // namespace Corvane
