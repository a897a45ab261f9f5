// Stand-in for the redundancy service's status entity. The library only holds
// references to it (RedundancyStatusContainer); its content is a single mode.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/framework/Publisher.h"

class CORVANE_API RedundancyStatus : public Corvane::NamedEntity {
  CORVANE_NODE_TYPE(RedundancyStatus)

  static constexpr uint32_t attrMode = 1;
  enum class Mode : uint8_t { active, standby };

  static Corvane::Ptr<RedundancyStatus> RedundancyStatusIs(std::string const& name);
  explicit RedundancyStatus(std::string name);
  ~RedundancyStatus() override;

  Mode mode() const noexcept { return mode_; }
  void modeIs(Mode m);

 private:
  Mode mode_ = Mode::active;
};
