#include "corvane/model/PortMapIntfTypes.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(PortMapToIntf, "Corvane::PortMapToIntf", NamedEntity)
PortMapToIntf::~PortMapToIntf() = default;
Ptr<PortMapToIntf> PortMapToIntf::PortMapToIntfIs(std::string const& name) {
  return Ptr<PortMapToIntf>(new PortMapToIntf(name));
}
Ptr<PortMapToIntf> portMapToIntfFactory(std::string const& name) { return PortMapToIntf::PortMapToIntfIs(name); }

}  // namespace Corvane
