// A named place where the agent puts its reference to the redundancy service's status,
// so that other components can find it and subscribe to its replacement. The
// container only holds the status; it never reads it.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/framework/Publisher.h"
#include "corvane/platform/RedundancyStatus.h"

namespace Corvane {

class CORVANE_API RedundancyStatusContainer : public NamedEntity {
  CORVANE_NODE_TYPE(RedundancyStatusContainer)

  static constexpr uint32_t attrRedundancyStatus = 1;

  static Ptr<RedundancyStatusContainer> RedundancyStatusContainerIs(std::string const& name);
  explicit RedundancyStatusContainer(std::string name);
  ~RedundancyStatusContainer() override;

  Ptr<::RedundancyStatus const> const& redundancyStatus() const noexcept { return redundancyStatus_; }
  // Setting the object already held does nothing; null clears. The previous object
  // is released only after subscribers have heard of the change.
  void redundancyStatusIs(Ptr<::RedundancyStatus const> status);

 private:
  Ptr<::RedundancyStatus const> redundancyStatus_;
};

CORVANE_API Ptr<RedundancyStatusContainer> redundancyStatusContainerFactory(std::string const& name);

}  // namespace Corvane
