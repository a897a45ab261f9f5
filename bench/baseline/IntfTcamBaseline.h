// The yardstick for the benchmarks of IntfTcamSm -> ConfigExpSm: the same two maps
// (the system TCAMs of every interface, LAGs included, and the configuration payload
// of every (interface, TCAM) pair) kept by plain hand-written code: std hash maps,
// a member count per (LAG, TCAM), no engine, no tracing, no announcements of its own.
//
// It reads the same entities the SMs read (the hardware status, the LAG
// configuration and the per-port configuration) and follows the hardware status
// through a subscription, so a change costs both sides the same write into
// Hardware::Velt::Status. It follows only that input: the LAG configuration and the
// payloads are read at construction. It exists to give the benchmark ratios a
// denominator, not to be used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "corvane/Corvane.h"

namespace CorvaneBench {

using Corvane::IntfId;
using Corvane::IntfIdSystemTcamId;
using Corvane::Ptr;
using Corvane::SystemTcamId;

class IntfTcamBaseline : Corvane::Subscriber {
 public:
  IntfTcamBaseline(Ptr<Hardware::Velt::Status const> veltStatus, Ptr<Lag::Config const> lagConfig,
                   Ptr<Corvane::IntfFeatureConfig const> config);
  ~IntfTcamBaseline() override;
  IntfTcamBaseline(IntfTcamBaseline const&) = delete;
  IntfTcamBaseline& operator=(IntfTcamBaseline const&) = delete;

  // The interface's TCAMs (null when it has none) and the (interface, TCAM) payloads.
  std::vector<SystemTcamId> const* tcams(IntfId i) const;
  Corvane::FeatureConfigBase const* config(IntfIdSystemTcamId const& k) const;
  // Output entries: TCAMs over all interfaces, and (interface, TCAM) payloads.
  size_t tcamEntries() const noexcept { return tcamEntries_; }
  size_t configEntries() const noexcept { return tcamConfig_.size(); }

 private:
  struct IntfHash {
    size_t operator()(IntfId i) const noexcept { return size_t(Net::hashValue(i)); }
  };
  // Its own combination of the two fields, as hand-written code would have it: the
  // yardstick does not move with the library's choice of hash.
  struct KeyHash {
    size_t operator()(IntfIdSystemTcamId const& k) const noexcept {
      return size_t(Corvane::hashMix(Corvane::hashMix(0, Net::hashValue(k.intfId())), k.systemTcamId().value()));
    }
  };

  void dispatch(uint32_t attrId, void const* key) override;
  void portTcamIs(IntfId port, SystemTcamId const* tcam);
  void tcamAdd(IntfId intf, SystemTcamId t);
  void tcamDel(IntfId intf, SystemTcamId t);

  Ptr<Hardware::Velt::Status const> veltStatus_;
  Ptr<Lag::Config const> lagConfig_;
  Ptr<Corvane::IntfFeatureConfig const> config_;
  // What was applied per port: its own TCAM.
  std::unordered_map<IntfId, SystemTcamId, IntfHash> portTcam_;
  // Member ports per (LAG, TCAM): the LAG is on the TCAM while the count is non-zero.
  std::unordered_map<IntfIdSystemTcamId, uint32_t, KeyHash> lagTcamMembers_;
  // The outputs.
  std::unordered_map<IntfId, std::vector<SystemTcamId>, IntfHash> intfTcams_;
  std::unordered_map<IntfIdSystemTcamId, Ptr<Corvane::FeatureConfigBase>, KeyHash> tcamConfig_;
  size_t tcamEntries_ = 0;
};

}  // namespace CorvaneBench
