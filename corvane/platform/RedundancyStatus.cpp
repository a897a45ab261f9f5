#include "corvane/platform/RedundancyStatus.h"

CORVANE_NODE_TYPE_DEFINE(RedundancyStatus, "RedundancyStatus", Corvane::NamedEntity)

Corvane::Ptr<RedundancyStatus> RedundancyStatus::RedundancyStatusIs(std::string const& name) {
  return Corvane::Ptr<RedundancyStatus>(new RedundancyStatus(name));
}
RedundancyStatus::RedundancyStatus(std::string name) : NamedEntity(std::move(name)) {}
RedundancyStatus::~RedundancyStatus() = default;

void RedundancyStatus::modeIs(Mode m) {
  if (m == mode_) return;
  mode_ = m;
  publishChange(attrMode, nullptr);
}
