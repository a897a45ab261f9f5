#include "corvane/framework/Node.h"

namespace Corvane {

namespace detail {
bool gThreadSafeCounting = false;

SlabPool* nodePoolMake(TypeData& type, size_t objectSize, size_t objectAlign, size_t slabBytes) {
  auto* pool = new SlabPool(type.name(), objectSize, objectAlign, slabBytes);
  type.slabPoolIs(pool);
  return pool;
}
}  // namespace detail

namespace {
std::atomic<int32_t> gLiveNodes{0};
}

void threadSafeCountingIs(bool on) noexcept { detail::gThreadSafeCounting = on; }
bool threadSafeCounting() noexcept { return detail::gThreadSafeCounting; }

Node::Node() noexcept { detail::counterAdd(gLiveNodes, 1); }
Node::~Node() { detail::counterAdd(gLiveNodes, -1); }

int32_t Node::liveNodes() noexcept { return gLiveNodes.load(std::memory_order_relaxed); }

TypeData& Node::typeDataStatic() noexcept {
  static TypeData td("Corvane::Node", nullptr);
  return td;
}
TypeData const& Node::typeData() const noexcept { return typeDataStatic(); }

void Node::lastUserGone() noexcept { delete this; }

}  // namespace Corvane
