#include "corvane/engine/SmStats.h"

#include <algorithm>
#include <ostream>

#include "corvane/engine/RootSm.h"
#include "corvane/framework/TextForm.h"

namespace Corvane {

namespace {
constexpr char const* phaseNames[] = {"created", "firstPass", "eventPass", "reconciling", "ready"};
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
