// The two small entities every state machine publishes about itself:
// InputSmScanState (one flag per input stream: its scan has finished the current
// pass; plus `idle`) and OutputState (one ready flag per output, plus `ready`, the
// AND of them).
#pragma once

#include <cstdint>
#include <vector>

#include "corvane/framework/Publisher.h"

namespace Corvane {

class CORVANE_API InputSmScanState : public Entity {
  CORVANE_NODE_TYPE(InputSmScanState)

  // Flag i is attribute i; `idle` is attribute scanCount().
  explicit InputSmScanState(std::vector<char const*> scanNames);
  ~InputSmScanState() override;

  uint32_t scanCount() const noexcept { return uint32_t(names_.size()); }
  char const* scanName(uint32_t i) const noexcept { return names_[i]; }
  bool scan(uint32_t i) const noexcept { return flags_[i] != 0; }
  void scanIs(uint32_t i, bool value);
  bool allScansDone() const noexcept { return done_ == flags_.size(); }
  uint32_t idleAttr() const noexcept { return scanCount(); }
  bool idle() const noexcept { return idle_; }
  void idleIs(bool value);
  void handleIdle() { idleIs(true); }

 private:
  std::vector<char const*> names_;
  std::vector<uint8_t> flags_;
  size_t done_ = 0;
  bool idle_ = false;
};

class CORVANE_API OutputState : public Entity {
  CORVANE_NODE_TYPE(OutputState)

  // Output i's ready flag is attribute i; `ready` is attribute outputCount().
  explicit OutputState(uint32_t outputCount);
  ~OutputState() override;

  uint32_t outputCount() const noexcept { return uint32_t(flags_.size()); }
  uint32_t readyAttr() const noexcept { return outputCount(); }
  bool outputReady(uint32_t i) const noexcept { return flags_[i] != 0; }
  // Recomputes `ready`; a change of `ready` is published before the output's flag.
  void outputReadyIs(uint32_t i, bool value);
  bool ready() const noexcept { return ready_; }
  void handleReady();

 private:
  bool computeReady() const noexcept;
  std::vector<uint8_t> flags_;
  bool ready_ = false;
};

}  // namespace Corvane
