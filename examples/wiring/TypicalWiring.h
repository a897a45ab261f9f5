// The typical wiring of Corvane, as an agent sets it up: the input entities, every
// state machine, the entities chained from one SM to the next, and a simulated
// hardware layer that answers every programmed (interface, TCAM) configuration entry
// with a status of the example feature.
//
//   VeltLag::Status -> LagHwConfigPortToLagSm -> PortToLag -> PortMapToIntfSm
//                                          (+ IntfIdToPortMap) -> PortMapToIntf
//   Velt::Status + Lag::Config -> IntfTcamSm -> IntfToTcamSet
//   IntfIdToPortMap + Lag::Config -> IntfPortMapSm -> IntfToPortMapSet
//   feature config -> ConfigLagMemberExpSm -> member config
//   member config (or the feature config) + IntfToTcamSet -> ConfigExpSm -> IntfTcamFeatureConfig
//   member config (or the feature config) + IntfToPortMapSet -> ConfigPortMapExpSm
//                                                         -> IntfPortMapFeatureConfig
//   IntfTcamFeatureConfig -> hardware layer -> IntfTcamFeatureStatus
//     -> IntfPerTcamFeatureStatusSm -> IntfPerTcamFeatureStatus
//     -> IntfFeatureStatusSm (+ IntfToTcamSet, the example merge) -> IntfFeatureStatus
//
// Used by the simulator, the system test and the benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "corvane/Corvane.h"
#include "examples/feature/ExampleFeature.h"

namespace ExampleWiring {

using Corvane::Ptr;

// Every SM of the wiring, in the order startAll() creates them.
enum class SmKind : uint8_t {
  portToLag,           // LagHwConfigPortToLagSm
  intfTcam,            // IntfTcamSm
  intfPortMap,         // IntfPortMapSm
  portMapToIntf,       // PortMapToIntfSm
  configLagMemberExp,  // ConfigLagMemberExpSm
  configExp,           // ConfigExpSm
  configPortMapExp,    // ConfigPortMapExpSm
  perTcamStatus,       // IntfPerTcamFeatureStatusSm
  featureStatus,       // IntfFeatureStatusSm (with its IntfFeatureStatusOutputSm)
};
inline constexpr std::size_t smKindCount = 9;
inline constexpr std::array<SmKind, smKindCount> allSmKinds = {
    SmKind::portToLag,          SmKind::intfTcam,  SmKind::intfPortMap,
    SmKind::portMapToIntf,      SmKind::configLagMemberExp, SmKind::configExp,
    SmKind::configPortMapExp,   SmKind::perTcamStatus,      SmKind::featureStatus};

// The SM's class name, which is also its trace source name.
char const* smKindName(SmKind k) noexcept;
std::optional<SmKind> smKindFromName(std::string_view name) noexcept;

struct Options {
  uint16_t maxFaps = 4;   // FAPs a wildcard FAP id stands for
  uint16_t maxCores = 2;  // cores a wildcard core id stands for
  bool synchronous = true;
  // The scheduler the asynchronous SMs run their tasks on; null: the process
  // scheduler (which IntfFeatureStatusSm's output SM always uses).
  Ptr<Corvane::TaskScheduler> scheduler;
  // True: the per-TCAM and per-port-map expansions read the per-port configuration
  // ConfigLagMemberExpSm makes (LAG payloads on member ports, none on LAGs).
  // False: they read the feature configuration itself, and ConfigLagMemberExpSm's
  // output is read by nobody but the agent.
  bool lagMemberExpansion = true;
  // Handed to every SM's control record (null: none).
  Ptr<Corvane::RingTrace> ringTrace;
};

// The agent's hardware layer, simulated: for every entry of IntfTcamFeatureConfig it
// "programs" it and writes the example feature's status for the same key into
// IntfTcamFeatureStatus (ok, or failed while the key is marked failing), and deletes
// the status when the entry goes. It reacts inside the notification, so a change
// reaches IntfFeatureStatus before the changing call returns.
class HardwareLayer : Corvane::Subscriber {
 public:
  HardwareLayer(Ptr<Corvane::IntfTcamFeatureConfig const> config, Ptr<Corvane::IntfTcamFeatureStatus> status);
  ~HardwareLayer() override;
  HardwareLayer(HardwareLayer const&) = delete;
  HardwareLayer& operator=(HardwareLayer const&) = delete;

  // Failing keys report failed while programmed; clearing the mark reports ok again.
  void failingIs(Corvane::IntfIdSystemTcamId const& key, bool failing);
  bool failing(Corvane::IntfIdSystemTcamId const& key) const { return failing_.contains(key); }
  Corvane::HashSet<Corvane::IntfIdSystemTcamId> const& failingKeys() const noexcept { return failing_; }
  // Brings every status in line with the configuration (done at construction).
  void sync();
  // Statuses written (set or deleted) so far.
  uint64_t writes() const noexcept { return writes_; }
  // The k-th key it handles from now on (k >= 1; 0: none) fails as a driver call can:
  // std::runtime_error leaves its dispatch before the status is written.
  void throwAtIs(uint64_t k) noexcept {
    throwAt_ = k;
    handled_ = 0;
    thrown_ = false;
  }
  bool thrown() const noexcept { return thrown_; }
  // The hardware keeps one profile per payload object, shared by every key that
  // carries it: how many profiles are programmed, and how many keys use a payload's.
  std::size_t profiles() const noexcept { return profiles_.size(); }
  uint32_t profileUsers(Corvane::FeatureConfigBase const* payload) const;

 private:
  // A change of the configuration: the key's new payload is read from the table,
  // the one it replaces or removes comes with the notification, so a profile is
  // withdrawn without a shadow copy of the table.
  void dispatch(uint32_t attrId, void const* key, void const* previous) override;
  void dispatch(uint32_t attrId, void const* key) override;
  void handle(Corvane::IntfIdSystemTcamId const& key);
  void profileUse(Corvane::FeatureConfigBase const* payload);
  void profileRelease(Corvane::FeatureConfigBase const* payload);

  Ptr<Corvane::IntfTcamFeatureConfig const> config_;
  Ptr<Corvane::IntfTcamFeatureStatus> status_;
  Corvane::HashSet<Corvane::IntfIdSystemTcamId> failing_;
  // Users per payload, by the payload's address. The library's table, which grows a
  // few buckets at a time, so a new profile never stalls a change.
  Corvane::HashMap<std::uintptr_t, uint32_t> profiles_;
  uint64_t writes_ = 0;
  uint64_t throwAt_ = 0;
  uint64_t handled_ = 0;
  bool thrown_ = false;
};

class Wiring {
  Options options_;  // first: the members below are built from it

 public:
  explicit Wiring(Options options = {});
  // Destroys the SMs (last created first), then the hardware layer.
  ~Wiring();
  Wiring(Wiring const&) = delete;
  Wiring& operator=(Wiring const&) = delete;

  Options const& options() const noexcept { return options_; }

  // Inputs the agent writes.
  Ptr<Hardware::Velt::Status> const veltStatus;
  Ptr<Hardware::VeltLag::Status> const veltLagStatus;
  Ptr<Lag::Config> const lagConfig;
  Ptr<Corvane::IntfIdToPortMap> const intfIdToPortMap;
  Ptr<Corvane::IntfFeatureConfig> const featureConfig;
  // Entities the SMs write (and the hardware layer's statuses).
  Ptr<Corvane::PortToLag> const portToLag;
  Ptr<Corvane::PortMapToIntf> const portMapToIntf;
  Ptr<Corvane::IntfToTcamSet> const intfToTcamSet;
  Ptr<Corvane::IntfToPortMapSet> const intfToPortMapSet;
  Ptr<Corvane::IntfFeatureConfig> const memberConfig;
  Ptr<Corvane::IntfTcamFeatureConfig> const tcamConfig;
  Ptr<Corvane::IntfPortMapFeatureConfig> const portMapConfig;
  Ptr<Corvane::IntfTcamFeatureStatus> const tcamStatus;
  Ptr<Corvane::IntfPerTcamFeatureStatus> const perTcamStatus;
  Ptr<Corvane::IntfFeatureStatus> const featureStatus;

  HardwareLayer& hardware() noexcept { return hardware_; }
  HardwareLayer const& hardware() const noexcept { return hardware_; }
  // The configuration the two expansions read (memberConfig or featureConfig).
  Ptr<Corvane::IntfFeatureConfig> const& expansionInput() const noexcept;

  // Creates every SM not yet running, in the order of SmKind.
  void startAll();
  // Creates one SM over the current inputs and outputs (nothing if it runs).
  void start(SmKind k);
  // Destroys one SM; its outputs keep what they hold, as after an agent crash.
  void stop(SmKind k);
  // stop then start: an agent restart of one SM over its existing outputs.
  void restart(SmKind k);
  void stopAll();
  bool running(SmKind k) const noexcept;
  // Every running SM has reconciled its outputs.
  bool ready() const noexcept;
  // Runs the SMs' scheduler and the process scheduler until both are idle.
  void runUntilIdle();
  // The scheduler the asynchronous SMs use.
  Ptr<Corvane::TaskScheduler> const& scheduler() const noexcept { return scheduler_; }

  // The running SMs (null when stopped).
  Ptr<Corvane::LagHwConfigPortToLagSm> const& portToLagSm() const noexcept { return portToLagSm_; }
  Ptr<Corvane::IntfTcamSm> const& intfTcamSm() const noexcept { return intfTcamSm_; }
  Ptr<Corvane::IntfPortMapSm> const& intfPortMapSm() const noexcept { return intfPortMapSm_; }
  Ptr<Corvane::PortMapToIntfSm> const& portMapToIntfSm() const noexcept { return portMapToIntfSm_; }
  Ptr<Corvane::ConfigLagMemberExpSm> const& configLagMemberExpSm() const noexcept { return configLagMemberExpSm_; }
  Ptr<Corvane::ConfigExpSm> const& configExpSm() const noexcept { return configExpSm_; }
  Ptr<Corvane::ConfigPortMapExpSm> const& configPortMapExpSm() const noexcept { return configPortMapExpSm_; }
  Ptr<Corvane::IntfPerTcamFeatureStatusSm> const& perTcamStatusSm() const noexcept { return perTcamStatusSm_; }
  Ptr<Corvane::IntfFeatureStatusSm> const& featureStatusSm() const noexcept { return featureStatusSm_; }
  // The running SMs built on the engine, in the order of SmKind.
  std::vector<Corvane::RootSm const*> rootSms() const;
  // The same, then the feature status path's output SM (IntfFeatureStatusSm's
  // child): every SM a statistics or memory report covers.
  std::vector<Corvane::RootSm const*> reportedSms() const;
  // IntfFeatureStatusSm's own line for such a report: its merge SMs and the
  // interfaces it keeps a status for ("" when it is not running).
  std::string featureStatusSmSummary() const;
  // Merge SMs the example feature's factory has built so far.
  uint64_t mergeSmsCreated() const noexcept { return mergeSmsCreated_; }

 private:
  Corvane::SmControl control() const;
  // Calls fn with the member that holds SM k, returning what fn returns.
  template <class F>
  auto visit(SmKind k, F&& fn) {
    switch (k) {
      case SmKind::portToLag: return fn(portToLagSm_);
      case SmKind::intfTcam: return fn(intfTcamSm_);
      case SmKind::intfPortMap: return fn(intfPortMapSm_);
      case SmKind::portMapToIntf: return fn(portMapToIntfSm_);
      case SmKind::configLagMemberExp: return fn(configLagMemberExpSm_);
      case SmKind::configExp: return fn(configExpSm_);
      case SmKind::configPortMapExp: return fn(configPortMapExpSm_);
      case SmKind::perTcamStatus: return fn(perTcamStatusSm_);
      case SmKind::featureStatus: break;
    }
    return fn(featureStatusSm_);
  }

  Ptr<Corvane::TaskScheduler> scheduler_;
  HardwareLayer hardware_;
  Ptr<Corvane::LagHwConfigPortToLagSm> portToLagSm_;
  Ptr<Corvane::IntfTcamSm> intfTcamSm_;
  Ptr<Corvane::IntfPortMapSm> intfPortMapSm_;
  Ptr<Corvane::PortMapToIntfSm> portMapToIntfSm_;
  Ptr<Corvane::ConfigLagMemberExpSm> configLagMemberExpSm_;
  Ptr<Corvane::ConfigExpSm> configExpSm_;
  Ptr<Corvane::ConfigPortMapExpSm> configPortMapExpSm_;
  Ptr<Corvane::IntfPerTcamFeatureStatusSm> perTcamStatusSm_;
  Ptr<Corvane::IntfFeatureStatusSm> featureStatusSm_;
  uint64_t mergeSmsCreated_ = 0;
};

}  // namespace ExampleWiring
