#include "corvane/model/LagTypes.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(PortToLag, "Corvane::PortToLag", Entity)
PortToLag::~PortToLag() = default;
Ptr<PortToLag> PortToLag::PortToLagIs() { return Ptr<PortToLag>(new PortToLag()); }
Ptr<PortToLag> portToLagFactory() { return PortToLag::PortToLagIs(); }

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(
      PortToLag::typeDataStatic(),
      Describe<PortToLag>(TypeKind::entity)
          .collection<attribute(&PortToLag::portToLag), &PortToLag::portToLagIs, &PortToLag::portToLagDel>(
              "portToLag", PortToLag::attrPortToLag)
          .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
