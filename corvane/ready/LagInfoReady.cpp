#include "corvane/ready/LagInfoReady.h"

#include <utility>

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(LagInfoReady, "Corvane::LagInfoReady", NamedEntity)

Ptr<LagInfoReady> LagInfoReady::LagInfoReadyIs(std::string const& name) { return Ptr<LagInfoReady>(new LagInfoReady(name)); }
LagInfoReady::LagInfoReady(std::string name) : NamedEntity(std::move(name)) {}
LagInfoReady::~LagInfoReady() = default;

void LagInfoReady::readyIs(bool ready) {
  if (ready == ready_) return;
  ready_ = ready;
  publishChange(attrReady, nullptr);
}

}  // namespace Corvane
