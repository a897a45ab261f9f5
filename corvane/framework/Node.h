// Counted nodes and the Ptr<T> reference that holds them. Every entity, task,
// trace handler and state machine of the library is a Node; its count starts at 1
// and the first Ptr made from the raw pointer adopts that reference.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "corvane/framework/Export.h"
#include "corvane/framework/Hash.h"
#include "corvane/framework/Slab.h"

namespace Corvane {

namespace detail {
// Process-wide: when false (the default) counts change with plain arithmetic.
CORVANE_API extern bool gThreadSafeCounting;

inline void counterAdd(std::atomic<int32_t>& c, int32_t d) noexcept {
  if (gThreadSafeCounting) {
    c.fetch_add(d, std::memory_order_relaxed);
  } else {
    c.store(c.load(std::memory_order_relaxed) + d, std::memory_order_relaxed);
  }
}
}  // namespace detail

// Switch reference counts (and live-object counts) to atomic read-modify-write.
// Set it before a second thread touches any library object.
CORVANE_API void threadSafeCountingIs(bool on) noexcept;
CORVANE_API bool threadSafeCounting() noexcept;

// Per-type descriptor: the type's name, its parent type, how many objects of it are
// alive now, so tests can prove that a teardown freed everything, and the slab pool
// its objects come from (once the first one was made).
class CORVANE_API TypeData {
 public:
  constexpr TypeData(char const* name, TypeData const* parent, uint32_t objectSize = 0) noexcept
      : name_(name), parent_(parent), objectSize_(objectSize) {}
  TypeData(TypeData const&) = delete;
  TypeData& operator=(TypeData const&) = delete;

  char const* name() const noexcept { return name_; }
  TypeData const* parent() const noexcept { return parent_; }
  // sizeof an object of a node type (0 for value types and abstract bases).
  uint32_t objectSize() const noexcept { return objectSize_; }
  int32_t liveCount() const noexcept { return live_.load(std::memory_order_relaxed); }
  int32_t createdCount() const noexcept { return created_.load(std::memory_order_relaxed); }

  void liveInc() noexcept {
    detail::counterAdd(live_, 1);
    detail::counterAdd(created_, 1);
  }
  void liveDec() noexcept { detail::counterAdd(live_, -1); }

  // The pool of the type's objects (objects live, slabs and bytes held); null for a
  // value type, an abstract base, or before the first object of the type.
  SlabPool const* slabPool() const noexcept { return pool_; }
  void slabPoolIs(SlabPool* pool) noexcept { pool_ = pool; }

 private:
  char const* name_;
  TypeData const* parent_;
  SlabPool* pool_ = nullptr;
  uint32_t objectSize_;
  std::atomic<int32_t> live_{0};
  std::atomic<int32_t> created_{0};
};

// Counts the live objects of T: a zero-size member that T's constructors and
// destructor run through.
template <class T>
struct LiveToken {
  LiveToken() noexcept { T::typeDataStatic().liveInc(); }
  LiveToken(LiveToken const&) noexcept { T::typeDataStatic().liveInc(); }
  LiveToken& operator=(LiveToken const&) noexcept { return *this; }
  ~LiveToken() { T::typeDataStatic().liveDec(); }
};

namespace detail {
// Makes the pool of a node type (named after it) and records it in the descriptor.
CORVANE_API SlabPool* nodePoolMake(TypeData& type, size_t objectSize, size_t objectAlign, size_t slabBytes);

template <class T, size_t SlabBytes>
SlabPool& nodePool() {
  static_assert(SlabBytes == 0 || (SlabBytes >= 1024 && SlabBytes <= SlabPool::slabBytes &&
                                   (SlabBytes & (SlabBytes - 1)) == 0),
                "CORVANE_NODE_TYPE_DEFINE_SLABS: the slab size is 0 or a power of two from 1024 to "
                "SlabPool::slabBytes");
  static SlabPool* pool = nodePoolMake(T::typeDataStatic(), sizeof(T), alignof(T), SlabBytes);
  return *pool;
}

// A node type's operator new and delete: objects of the type itself come from its
// pool; a derived type of another size that declares none of its own falls back to
// the global operators.
template <class T, size_t SlabBytes>
void* nodeNew(std::size_t n) {
  return n == sizeof(T) ? nodePool<T, SlabBytes>().allocate() : ::operator new(n);
}
template <class T, size_t SlabBytes>
void nodeDelete(void* p, std::size_t n) noexcept {
  if (n == sizeof(T)) {
    nodePool<T, SlabBytes>().deallocate(p);
  } else {
    ::operator delete(p);
  }
}
}  // namespace detail

// Declares a node type's descriptor, live count and allocation from its slab pool.
// Leaves the class in public:.
#define CORVANE_NODE_TYPE(Type)                                                 \
 public:                                                                         \
  static ::Corvane::TypeData& typeDataStatic() noexcept;                         \
  ::Corvane::TypeData const& typeData() const noexcept override {                \
    return typeDataStatic();                                                     \
  }                                                                              \
  static void* operator new(std::size_t n);                                      \
  static void operator delete(void* p, std::size_t n) noexcept;                  \
  [[no_unique_address]] ::Corvane::LiveToken<Type> corvaneLiveToken_;            \
                                                                                 \
 public:

// Defines a value type's descriptor (declared as static TypeData& typeDataStatic()).
#define CORVANE_VALUE_TYPE_DEFINE(Type, NameText)                              \
  ::Corvane::TypeData& Type::typeDataStatic() noexcept {                       \
    static ::Corvane::TypeData td(NameText, nullptr);                          \
    return td;                                                                 \
  }

// Defines what CORVANE_NODE_TYPE declares (in one source file). Slabs of SlabBytes
// for a type made per port or per element (SlabPool::slabBytes), 0 for the size
// that suits a type made a few at a time.
#define CORVANE_NODE_TYPE_DEFINE_SLABS(Type, NameText, Parent, SlabBytes)             \
  ::Corvane::TypeData& Type::typeDataStatic() noexcept {                              \
    static ::Corvane::TypeData td(NameText, &Parent::typeDataStatic(), sizeof(Type)); \
    return td;                                                                        \
  }                                                                                   \
  void* Type::operator new(std::size_t n) {                                           \
    return ::Corvane::detail::nodeNew<Type, SlabBytes>(n);                            \
  }                                                                                   \
  void Type::operator delete(void* p, std::size_t n) noexcept {                       \
    ::Corvane::detail::nodeDelete<Type, SlabBytes>(p, n);                             \
  }

#define CORVANE_NODE_TYPE_DEFINE(Type, NameText, Parent) CORVANE_NODE_TYPE_DEFINE_SLABS(Type, NameText, Parent, 0)

class CORVANE_API Node {
 public:
  // Flag bits of a node.
  static constexpr uint8_t flagNotificationActive = 1;
  static constexpr uint8_t flagZombie = 2;
  static constexpr uint8_t flagAdopted = 4;  // the initial reference has an owner

  Node() noexcept;
  Node(Node const&) = delete;
  Node& operator=(Node const&) = delete;
  virtual ~Node();

  uint32_t refCount() const noexcept { return refs_.load(std::memory_order_relaxed); }

  void refInc() const noexcept {
    if (detail::gThreadSafeCounting) {
      refs_.fetch_add(1, std::memory_order_relaxed);
    } else {
      refs_.store(refs_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
  }
  void refDec() const noexcept {
    uint32_t left;
    if (detail::gThreadSafeCounting) {
      left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    } else {
      left = refs_.load(std::memory_order_relaxed) - 1;
      refs_.store(left, std::memory_order_relaxed);
    }
    if (left == 0) const_cast<Node*>(this)->lastUserGone();
  }

  bool nodeFlag(uint8_t flag) const noexcept { return (flags_ & flag) != 0; }
  void nodeFlagSet(uint8_t flag, bool value) const noexcept {
    flags_ = value ? uint8_t(flags_ | flag) : uint8_t(flags_ & ~flag);
  }

  static TypeData& typeDataStatic() noexcept;
  virtual TypeData const& typeData() const noexcept;

  // Number of Node objects alive in the process, of any type.
  static int32_t liveNodes() noexcept;

 protected:
  // Called when the last reference goes; the default destroys the node.
  virtual void lastUserGone() noexcept;

 private:
  mutable std::atomic<uint32_t> refs_{1};
  mutable uint8_t flags_ = 0;
};

// Keeps a node alive for a scope: a reactor or task run holds its own object, so
// that a subscriber which drops the last other reference meanwhile only defers the
// destruction to the end of the run. Unlike Ptr it never adopts (the node may still
// be under construction), and a node already being destroyed is left alone.
class NodeHold {
 public:
  explicit NodeHold(Node const& n) noexcept : n_(n.refCount() != 0 ? &n : nullptr) {
    if (n_) n_->refInc();
  }
  NodeHold(NodeHold const&) = delete;
  NodeHold& operator=(NodeHold const&) = delete;
  ~NodeHold() {
    if (n_) n_->refDec();
  }

 private:
  Node const* n_;
};

// Counted reference. Ptr<T>(raw) adopts the reference a new node starts with the
// first time, and adds one on every later use, so Ptr<T>(new T) leaves count 1.
template <class T>
class Ptr {
 public:
  using element_type = T;
  // One pointer: a table may move it by copying its bytes.
  using TriviallyRelocatable = void;

  constexpr Ptr() noexcept = default;
  constexpr Ptr(std::nullptr_t) noexcept {}
  explicit Ptr(T* p) noexcept : p_(p) {
    if (p_) {
      if (p_->nodeFlag(Node::flagAdopted)) {
        p_->refInc();
      } else {
        p_->nodeFlagSet(Node::flagAdopted, true);
      }
    }
  }
  Ptr(Ptr const& o) noexcept : p_(o.p_) {
    if (p_) p_->refInc();
  }
  Ptr(Ptr&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(Ptr<U> const& o) noexcept : p_(o.get()) {
    if (p_) p_->refInc();
  }
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(Ptr<U>&& o) noexcept : p_(o.release()) {}
  ~Ptr() {
    if (p_) p_->refDec();
  }

  Ptr& operator=(Ptr const& o) noexcept {
    Ptr(o).swap(*this);
    return *this;
  }
  Ptr& operator=(Ptr&& o) noexcept {
    Ptr(std::move(o)).swap(*this);
    return *this;
  }
  Ptr& operator=(std::nullptr_t) noexcept {
    reset();
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  void reset() noexcept { Ptr().swap(*this); }
  void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }
  // Gives up the reference without dropping it.
  T* release() noexcept { return std::exchange(p_, nullptr); }

 private:
  T* p_ = nullptr;
};

// A counted reference is one pointer to a node, and nodes are aligned to their words.
template <class T>
inline constexpr bool lowBitFree<Ptr<T>> = true;

template <class T, class U>
bool operator==(Ptr<T> const& a, Ptr<U> const& b) noexcept {
  return static_cast<void const*>(a.get()) == static_cast<void const*>(b.get());
}
template <class T>
bool operator==(Ptr<T> const& a, std::nullptr_t) noexcept {
  return !a;
}
template <class T, class U>
std::strong_ordering operator<=>(Ptr<T> const& a, Ptr<U> const& b) noexcept {
  return std::compare_three_way{}(static_cast<void const*>(a.get()),
                                  static_cast<void const*>(b.get()));
}

template <class T, class... A>
Ptr<T> makePtr(A&&... a) {
  return Ptr<T>(new T(std::forward<A>(a)...));
}

template <class T, class U>
Ptr<T> ptrCast(Ptr<U> const& p) noexcept {
  return Ptr<T>(static_cast<T*>(p.get()));
}

}  // namespace Corvane

template <class T>
struct std::hash<Corvane::Ptr<T>> {
  size_t operator()(Corvane::Ptr<T> const& p) const noexcept {
    return std::hash<void const*>{}(p.get());
  }
};
