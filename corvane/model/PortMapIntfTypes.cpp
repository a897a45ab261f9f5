#include "corvane/model/PortMapIntfTypes.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(PortMapToIntf, "Corvane::PortMapToIntf", NamedEntity)
PortMapToIntf::~PortMapToIntf() = default;
Ptr<PortMapToIntf> PortMapToIntf::PortMapToIntfIs(std::string const& name) {
  return Ptr<PortMapToIntf>(new PortMapToIntf(name));
}
Ptr<PortMapToIntf> portMapToIntfFactory(std::string const& name) { return PortMapToIntf::PortMapToIntfIs(name); }

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(PortMapToIntf::typeDataStatic(),
                             Describe<PortMapToIntf>(TypeKind::entity)
                                 .named()
                                 .collection<attribute(&PortMapToIntf::portMapToIntf),
                                             &PortMapToIntf::portMapToIntfIs, &PortMapToIntf::portMapToIntfDel>(
                                     "portMapToIntf", PortMapToIntf::attrPortMapToIntf)
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
