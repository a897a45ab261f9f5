// PortToLag: the LAG of every member port, as the hardware lists it (the smallest
// LAG id when a port is listed by several). Written by LagHwConfigPortToLagSm, read
// by PortMapToIntfSm.
#pragma once

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/platform/IntfId.h"

namespace Corvane {

class CORVANE_API PortToLag : public Entity {
  CORVANE_NODE_TYPE(PortToLag)

  static constexpr uint32_t attrPortToLag = 1;
  using PortToLagColl = HashMap<IntfId, IntfId>;

  static Ptr<PortToLag> PortToLagIs();
  PortToLag() = default;
  ~PortToLag() override;

  PortToLagColl const& portToLag() const noexcept { return portToLag_; }
  // The port's LAG, or the default IntfId when it has none.
  IntfId portToLag(IntfId port) const {
    IntfId const* l = portToLag_.find(port);
    return l ? *l : IntfId();
  }
  bool portToLagHas(IntfId port) const { return portToLag_.contains(port); }
  void portToLagIs(IntfId port, IntfId lag) { collSet(portToLag_, attrPortToLag, port, lag); }
  bool portToLagDel(IntfId port) { return collDel(portToLag_, attrPortToLag, port); }
  void portToLagDelAll() { collDelAll(portToLag_, attrPortToLag); }

  // How the state machines write portToLag[port] = lag.
  struct OutputAdapter {
    using Entity = PortToLag;
    using Key = IntfId;
    using Value = IntfId;
    static PortToLagColl const& coll(Entity const& e) { return e.portToLag(); }
    static void write(Entity& e, Key k, Value v) { e.portToLagIs(k, v); }
    static void erase(Entity& e, Key k) { e.portToLagDel(k); }
  };

 private:
  PortToLagColl portToLag_;
};

CORVANE_API Ptr<PortToLag> portToLagFactory();

}  // namespace Corvane
