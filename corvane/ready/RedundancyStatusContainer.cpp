#include "corvane/ready/RedundancyStatusContainer.h"

#include <utility>

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(RedundancyStatusContainer, "Corvane::RedundancyStatusContainer", NamedEntity)

Ptr<RedundancyStatusContainer> RedundancyStatusContainer::RedundancyStatusContainerIs(std::string const& name) {
  return Ptr<RedundancyStatusContainer>(new RedundancyStatusContainer(name));
}
RedundancyStatusContainer::RedundancyStatusContainer(std::string name) : NamedEntity(std::move(name)) {}
RedundancyStatusContainer::~RedundancyStatusContainer() = default;

void RedundancyStatusContainer::redundancyStatusIs(Ptr<::RedundancyStatus const> status) {
  if (status == redundancyStatus_) return;
  // A subscriber may still look at the old status while it hears of the change.
  Ptr<::RedundancyStatus const> const previous = std::exchange(redundancyStatus_, std::move(status));
  publishChange(attrRedundancyStatus, nullptr, previousOf(previous));
}

Ptr<RedundancyStatusContainer> redundancyStatusContainerFactory(std::string const& name) {
  return RedundancyStatusContainer::RedundancyStatusContainerIs(name);
}

}  // namespace Corvane
