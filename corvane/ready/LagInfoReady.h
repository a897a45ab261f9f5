// LagInfoReady: a named flag the agent publishes once link-aggregation information is ready.
// Other components of the agent subscribe to it; no state machine of this library reads it.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/framework/Publisher.h"

namespace Corvane {

class CORVANE_API LagInfoReady : public NamedEntity {
  CORVANE_NODE_TYPE(LagInfoReady)

  static constexpr uint32_t attrReady = 1;

  static Ptr<LagInfoReady> LagInfoReadyIs(std::string const& name);
  explicit LagInfoReady(std::string name);
  ~LagInfoReady() override;

  bool ready() const noexcept { return ready_; }
  // Notifies only when the flag actually changes.
  void readyIs(bool ready);

 private:
  bool ready_ = false;
};

}  // namespace Corvane
