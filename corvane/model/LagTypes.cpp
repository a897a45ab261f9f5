#include "corvane/model/LagTypes.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(PortToLag, "Corvane::PortToLag", Entity)
PortToLag::~PortToLag() = default;
Ptr<PortToLag> PortToLag::PortToLagIs() { return Ptr<PortToLag>(new PortToLag()); }
Ptr<PortToLag> portToLagFactory() { return PortToLag::PortToLagIs(); }

}  // namespace Corvane
