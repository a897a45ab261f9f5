#include "corvane/framework/Publisher.h"

#include <algorithm>

namespace Corvane {

Subscriber::~Subscriber() = default;

Publisher::~Publisher() = default;

void Publisher::subscriberAdd(Subscriber* s) {
  if (!s || std::find(subs_.begin(), subs_.end(), s) != subs_.end()) return;
  subs_.push_back(s);
  ++live_;
}

void Publisher::subscriberRemove(Subscriber* s) {
  auto it = std::find(subs_.begin(), subs_.end(), s);
  if (!s || it == subs_.end()) return;
  --live_;
  if (depth_ > 0) {
    *it = nullptr;  // delivery in progress: leave a hole, compact afterwards
    holes_ = true;
  } else {
    subs_.erase(it);
  }
}

void Publisher::deliver(uint32_t attrId, void const* key) {
  struct DepthGuard {
    Publisher& p;
    explicit DepthGuard(Publisher& pub) : p(pub) { ++p.depth_; }
    ~DepthGuard() {
      if (--p.depth_ == 0 && p.holes_) p.compact();
    }
  } guard(*this);
  // Subscribers added during delivery sit beyond n and first hear the next change.
  size_t const n = subs_.size();
  for (size_t i = 0; i < n; ++i) {
    if (Subscriber* s = subs_[i]) s->dispatch(attrId, key);
  }
}

void Publisher::compact() noexcept {
  subs_.erase(std::remove(subs_.begin(), subs_.end(), nullptr), subs_.end());
  holes_ = false;
}

CORVANE_NODE_TYPE_DEFINE(Entity, "Corvane::Entity", Node)
Entity::~Entity() = default;

void Entity::publishHeld(uint32_t attrId, void const* key) {
  NodeHold self(*this);
  publisher_.publishChange(attrId, key);
}

CORVANE_NODE_TYPE_DEFINE(NamedEntity, "Corvane::NamedEntity", Entity)
NamedEntity::~NamedEntity() = default;

}  // namespace Corvane
