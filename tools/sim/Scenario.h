// A simulator scenario: the chip's limits, the interfaces with their TCAM and port
// map, the LAGs, the feature's payloads, hardware failures, and a timeline of steps,
// each a list of operations. Read from JSON (docs/simulator.md describes the form);
// every reference is checked while reading, so a scenario that loads runs.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/Corvane.h"
#include "examples/wiring/TypicalWiring.h"

namespace Sim {

using Corvane::IntfId;
using Corvane::PortMap;
using Corvane::SystemTcamId;

// A malformed scenario: the message names the source, the JSON path and the fault,
// as in "bad.json: /steps/1/ops/0/op: unknown op \"teleport\"".
class ScenarioError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct InterfaceSpec {
  IntfId id;
  std::optional<SystemTcamId> tcam;
  std::optional<PortMap> portMap;
};

struct LagSpec {
  IntfId id;
  std::vector<IntfId> members;
};

struct FeatureSpec {
  IntfId intf;
  uint32_t vlan = 0;
};

struct FailureSpec {
  IntfId intf;
  SystemTcamId tcam;
};

enum class OpKind : uint8_t {
  setTcam,          // interface, tcam: the hardware reports the interface on a TCAM
  delTcam,          // interface: the hardware forgets the interface's TCAM
  setPortMap,       // interface, portMap
  delPortMap,       // interface
  holdPortMaps,     // port-map changes queue until releasePortMaps
  releasePortMaps,  // announce the queued port-map changes in one burst
  addMember,        // lag, interface (in the LAG configuration and/or the hardware)
  removeMember,     // lag, interface
  setFeature,       // interface, vlan: a new payload object for the interface
  delFeature,       // interface
  failHardware,     // interface, tcam: the hardware layer fails that entry
  recoverHardware,  // interface, tcam
  stop,             // sm (or all): the SM goes away, its outputs stay
  start,            // sm (or all): created again over its outputs
  restart,          // sm (or all): stop then start
};

// Where a LAG membership change applies.
enum class LagScope : uint8_t { both, config, hardware };

struct Op {
  OpKind kind = OpKind::setTcam;
  IntfId intf;
  IntfId lag;
  SystemTcamId tcam;
  PortMap portMap;
  uint32_t vlan = 0;
  LagScope scope = LagScope::both;
  std::optional<ExampleWiring::SmKind> sm;  // none: every SM
};

struct Step {
  std::string title;
  std::vector<Op> ops;
};

struct Scenario {
  std::string name;
  std::string description;
  uint16_t maxFaps = 4;
  uint16_t maxCores = 2;
  bool lagMemberExpansion = true;
  std::vector<InterfaceSpec> interfaces;
  std::vector<LagSpec> lags;
  std::vector<FeatureSpec> features;
  std::vector<FailureSpec> failures;
  std::vector<Step> steps;
};

// Reads a scenario from JSON text; source names it in error messages.
Scenario parseScenario(std::string_view text, std::string const& source);
// Reads a scenario file (an unreadable file is a ScenarioError too).
Scenario loadScenarioFile(std::string const& path);
// The built-in scenario's JSON (the text of examples/scenarios/default.json).
std::string_view defaultScenarioText();

// One line for an operation, as the simulator prints it.
std::string opText(Op const& op);
char const* opKindName(OpKind k) noexcept;

}  // namespace Sim
