#include "corvane/platform/RedundancyStatus.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

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

namespace {
[[maybe_unused]] bool const registered = [] {
  Corvane::TypeRegistry::typeRegister(RedundancyStatus::typeDataStatic(),
                                      Corvane::Describe<RedundancyStatus>(Corvane::TypeKind::entity).named().done());
  return true;
}();
}  // namespace
