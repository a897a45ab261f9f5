// TcamDbStatusInterfaceReady: a named flag the agent publishes once the TCAM database status interface is ready.
// Other components of the agent subscribe to it; no state machine of this library reads it.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/framework/Publisher.h"

namespace Corvane {

class CORVANE_API TcamDbStatusInterfaceReady : public NamedEntity {
  CORVANE_NODE_TYPE(TcamDbStatusInterfaceReady)

  static constexpr uint32_t attrReady = 1;

  static Ptr<TcamDbStatusInterfaceReady> TcamDbStatusInterfaceReadyIs(std::string const& name);
  explicit TcamDbStatusInterfaceReady(std::string name);
  ~TcamDbStatusInterfaceReady() override;

  bool ready() const noexcept { return ready_; }
  // Notifies only when the flag actually changes.
  void readyIs(bool ready);

 private:
  bool ready_ = false;
};

}  // namespace Corvane
