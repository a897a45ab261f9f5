// The simulated agent: loads a scenario's inputs into the typical wiring, applies
// the scenario's operations, and reads every output entity back as text tables.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "examples/wiring/TypicalWiring.h"
#include "tools/sim/Scenario.h"

namespace Sim {

// One output entity as text: rows of (key, value), in natural key order
// ("Ethernet2" before "Ethernet10").
struct Table {
  std::string name;
  std::vector<std::pair<std::string, std::string>> rows;
};
using Tables = std::vector<Table>;

// One changed row: '+' added, '-' removed, '~' value replaced.
struct RowChange {
  char kind;
  std::string key;
  std::string oldValue;
  std::string newValue;
};
struct TableChanges {
  std::string table;
  std::vector<RowChange> changes;
};
std::vector<TableChanges> diffTables(Tables const& before, Tables const& after);

// Orders text the way people count: digit runs compare as numbers.
bool naturalLess(std::string const& a, std::string const& b);

struct RunMode {
  bool async = false;
  uint32_t yieldEvery = 0;  // asynchronous: the scheduler yields every N items (0: time slice)
};

class Simulator {
 public:
  Simulator(Scenario scenario, RunMode mode);
  ~Simulator();

  // Writes the scenario's inputs, creates every SM and runs the scheduler until idle;
  // progress (if given) is called before each SM is created and now and then while
  // the scans run.
  void startUp(std::function<void(char const* what)> const& progress = {});
  // The scenario's inputs alone (startUp does this first).
  void writeInputs();
  void apply(Op const& op);
  // Runs the scheduler until every task is done.
  void settle(std::function<void(char const* what)> const& progress = {});
  bool ready() const { return wiring_.ready(); }

  Tables tables() const;
  // The number of rows tables() would have, without building them.
  std::size_t outputEntries() const;
  // The wiring's entities by name, as a directory: "inputs/<name>" and "outputs/<name>"
  // with the member names of the wiring (veltStatus, intfToTcamSet, ...), and
  // "sms/<SM class>" for the state machines.
  Corvane::Ptr<Corvane::Directory> directory() const;
  // The wiring's state machines that exist now, in creation order.
  std::vector<Corvane::RootSm const*> rootSms() const;
  // Those and the feature status path's output SM: what --stats and --memory cover.
  std::vector<Corvane::RootSm const*> reportedSms() const { return wiring_.reportedSms(); }
  // Why each output entry of one interface exists, in lines of text.
  std::vector<std::string> explain(IntfId intf) const;

  ExampleWiring::Wiring& wiring() noexcept { return wiring_; }
  ExampleWiring::Wiring const& wiring() const noexcept { return wiring_; }
  Scenario const& scenario() const noexcept { return scenario_; }

 private:
  void setFeature(IntfId intf, uint32_t vlan);
  void lagMember(IntfId lag, IntfId member, bool add, LagScope scope);
  std::string payloadText(Corvane::FeatureConfigBase const* p) const;
  std::string statusText(Corvane::FeatureStatusBase const* s) const;

  Scenario scenario_;
  ExampleWiring::Wiring wiring_;
  std::map<IntfId, Corvane::Ptr<Interface::EthLagIntfConfig>> lagIntfConfigs_;
  Corvane::HashMap<IntfId, IntfId> hwLagOf_;  // the hardware LAG of each member port
  Corvane::Ptr<Corvane::DelayedNotifHolder> holder_;
  uint32_t payloads_ = 0;
  bool inputsWritten_ = false;
};

// Prints memory by type (everything the wiring's directory reaches) and by SM.
void printMemory(Simulator const& sim);

// The wiring as a Graphviz graph: SMs as boxes, entities as ellipses, arrows from
// writer to reader.
std::string wiringDot(bool lagMemberExpansion);

}  // namespace Sim
