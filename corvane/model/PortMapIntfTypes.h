// PortMapToIntf: the owning interface (or LAG) of every expanded hardware port map.
// Written by PortMapToIntfSm, read by the agent.
#pragma once

#include <string>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace Corvane {

using Hardware::Velt::PortMap;

class CORVANE_API PortMapToIntf : public NamedEntity {
  CORVANE_NODE_TYPE(PortMapToIntf)

  static constexpr uint32_t attrPortMapToIntf = 1;
  using PortMapToIntfColl = HashMap<PortMap, IntfId>;

  static Ptr<PortMapToIntf> PortMapToIntfIs(std::string const& name);
  explicit PortMapToIntf(std::string name) : NamedEntity(std::move(name)) {}
  ~PortMapToIntf() override;

  PortMapToIntfColl const& portMapToIntf() const noexcept { return portMapToIntf_; }
  // The owner of the port map, or the default IntfId.
  IntfId portMapToIntf(PortMap const& p) const {
    IntfId const* i = portMapToIntf_.find(p);
    return i ? *i : IntfId();
  }
  bool portMapToIntfHas(PortMap const& p) const { return portMapToIntf_.contains(p); }
  void portMapToIntfIs(PortMap const& p, IntfId i) { collSet(portMapToIntf_, attrPortMapToIntf, p, i); }
  bool portMapToIntfDel(PortMap const& p) { return collDel(portMapToIntf_, attrPortMapToIntf, p); }
  void portMapToIntfDelAll() { collDelAll(portMapToIntf_, attrPortMapToIntf); }

  struct OutputAdapter {
    using Entity = PortMapToIntf;
    using Key = PortMap;
    using Value = IntfId;
    static PortMapToIntfColl const& coll(Entity const& e) { return e.portMapToIntf(); }
    static void write(Entity& e, Key const& k, Value v) { e.portMapToIntfIs(k, v); }
    static void erase(Entity& e, Key const& k) { e.portMapToIntfDel(k); }
  };

 private:
  PortMapToIntfColl portMapToIntf_;
};

CORVANE_API Ptr<PortMapToIntf> portMapToIntfFactory(std::string const& name);

}  // namespace Corvane
