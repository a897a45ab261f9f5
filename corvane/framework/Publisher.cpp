#include "corvane/framework/Publisher.h"

#include <algorithm>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Slab.h"
#include "corvane/framework/internal/SpanScope.h"

namespace Corvane {

Subscriber::~Subscriber() = default;

void Subscriber::dispatch(uint32_t attrId, void const* key, void const*) { dispatch(attrId, key); }
bool Subscriber::spanNames(char const*&, char const*&) const noexcept { return false; }

namespace {
// Delivery while spans are reported: each named subscriber's dispatch is a span.
void dispatchSpanned(Subscriber& s, uint32_t attrId, void const* key, void const* previous) {
  char const* name = nullptr;
  char const* category = nullptr;
  if (!s.spanNames(name, category)) {
    s.dispatch(attrId, key, previous);
    return;
  }
  detail::SpanScope span(name, category);
  s.dispatch(attrId, key, previous);
}
}  // namespace

namespace {
// An array is its count of slots in use, then its slots.
constexpr size_t arrayBytes(uint8_t capLog) { return sizeof(size_t) + (size_t(1) << capLog) * sizeof(Subscriber*); }
static_assert(sizeof(size_t) == sizeof(Subscriber*), "the count takes one slot's room");

// Never destroyed, like the node types' pools: entities may outlive static objects.
SlabPool& pairPool() {
  static SlabPool* pool = new SlabPool("Corvane::Publisher (two subscribers)", arrayBytes(1), alignof(Subscriber*));
  return *pool;
}
}  // namespace

Subscriber** Publisher::arrayNew(uint8_t capLog) {
  void* raw = capLog == 1 ? pairPool().allocate() : ::operator new(arrayBytes(capLog));
  return reinterpret_cast<Subscriber**>(::new (raw) size_t(0) + 1);
}

void Publisher::arrayDelete(Subscriber** a, uint8_t capLog) noexcept {
  void* raw = &arraySize(a);
  if (capLog == 1) {
    pairPool().deallocate(raw);
  } else {
    ::operator delete(raw);
  }
}

Publisher::~Publisher() {
  // The delivery loop still reads the subscriber list: its owner must be held
  // until the delivery returns (Entity::publishChange does that).
  if (depth_ != 0) fatalInternalError("Publisher: destroyed while it delivers a change");
  if (capLog_) arrayDelete(slots_.many, capLog_);
}

void Publisher::subscriberAdd(Subscriber* s) {
  if (!s) return;
  Subscriber** d = data();
  size_t const n = size();
  if (std::find(d, d + n, s) != d + n) return;
  if (!capLog_ && n == 0) {
    slots_.one = s;
  } else if (n == size_t(1) << capLog_) {
    // Full (one inline, or a full array): twice the room, the old entries moved over.
    uint8_t const capLog = uint8_t(capLog_ + 1);
    Subscriber** grown = arrayNew(capLog);
    std::copy(d, d + n, grown);
    if (capLog_) arrayDelete(slots_.many, capLog_);
    slots_.many = grown;
    capLog_ = capLog;
    grown[n] = s;
    sizeIs(n + 1);
  } else {
    d[n] = s;
    sizeIs(n + 1);
  }
  ++live_;
}

void Publisher::subscriberRemove(Subscriber* s) {
  Subscriber** d = data();
  size_t const n = size();
  Subscriber** it = std::find(d, d + n, s);
  if (!s || it == d + n) return;
  --live_;
  *it = nullptr;
  if (depth_ > 0) {
    holes_ = true;  // delivery in progress: leave a hole, compact afterwards
  } else {
    compact();
  }
}

void Publisher::deliver(uint32_t attrId, void const* key, void const* previous) {
  struct DepthGuard {
    Publisher& p;
    explicit DepthGuard(Publisher& pub) : p(pub) { ++p.depth_; }
    ~DepthGuard() {
      if (--p.depth_ == 0 && p.holes_) p.compact();
    }
  } guard(*this);
  // Subscribers added during delivery sit beyond n and first hear the next change.
  // The array may move while a subscriber runs: read it afresh each time.
  size_t const n = size();
  if (CORVANE_UNLIKELY(detail::gSpansOn)) {
    for (size_t i = 0; i < n; ++i) {
      if (Subscriber* s = data()[i]) dispatchSpanned(*s, attrId, key, previous);
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    if (Subscriber* s = data()[i]) s->dispatch(attrId, key, previous);
  }
}

void Publisher::compact() noexcept {
  Subscriber** d = data();
  size_t const n = size_t(std::remove(d, d + size(), nullptr) - d);
  holes_ = false;
  sizeIs(n);
  if (capLog_ && n <= 1) {
    Subscriber* first = n ? d[0] : nullptr;
    arrayDelete(slots_.many, capLog_);
    capLog_ = 0;
    slots_.one = first;
  }
}

CORVANE_NODE_TYPE_DEFINE(Entity, "Corvane::Entity", Node)
Entity::~Entity() = default;

void Entity::publishHeld(uint32_t attrId, void const* key, void const* previous) {
  NodeHold self(*this);
  publisher_.publishChange(attrId, key, previous);
}

CORVANE_NODE_TYPE_DEFINE(NamedEntity, "Corvane::NamedEntity", Entity)
NamedEntity::~NamedEntity() = default;

}  // namespace Corvane
