#include "corvane/ready/TcamDbStatusInterfaceReady.h"

#include <utility>

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(TcamDbStatusInterfaceReady, "Corvane::TcamDbStatusInterfaceReady", NamedEntity)

Ptr<TcamDbStatusInterfaceReady> TcamDbStatusInterfaceReady::TcamDbStatusInterfaceReadyIs(std::string const& name) { return Ptr<TcamDbStatusInterfaceReady>(new TcamDbStatusInterfaceReady(name)); }
TcamDbStatusInterfaceReady::TcamDbStatusInterfaceReady(std::string name) : NamedEntity(std::move(name)) {}
TcamDbStatusInterfaceReady::~TcamDbStatusInterfaceReady() = default;

void TcamDbStatusInterfaceReady::readyIs(bool ready) {
  if (ready == ready_) return;
  ready_ = ready;
  publishChange(attrReady, nullptr);
}

}  // namespace Corvane
