#include "corvane/framework/DelayedNotif.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

DelayedNotifDelegate::DelayedNotifDelegate() = default;
DelayedNotifDelegate::~DelayedNotifDelegate() = default;

size_t DelayedNotifDelegate::pendingCount() const noexcept {
  size_t n = 0;
  for (auto const& [id, p] : pending_) n += p->size();
  return n;
}

void DelayedNotifDelegate::trigger(Publisher& publisher) {
  // Index loop: announcing may queue keys of a new attribute (pending_ grows).
  for (size_t i = 0; i < pending_.size(); ++i) {
    pending_[i].second->announce(publisher, pending_[i].first);
  }
}

CORVANE_NODE_TYPE_DEFINE(DelayedNotifHolder, "Corvane::DelayedNotifHolder", Node)

Ptr<DelayedNotifHolder> DelayedNotifHolder::DelayedNotifHolderIs() {
  return Ptr<DelayedNotifHolder>(new DelayedNotifHolder());
}
DelayedNotifHolder::DelayedNotifHolder() = default;
DelayedNotifHolder::~DelayedNotifHolder() = default;

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(DelayedNotifHolder::typeDataStatic(),
                             Describe<DelayedNotifHolder>(TypeKind::node).creatable().done());
  return true;
}();
}  // namespace

}  // namespace Corvane
