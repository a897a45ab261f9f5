// Slab allocation. Objects of one type come from slabs: blocks of a fixed size,
// aligned to that size, cut into equal cells. Allocating takes a free cell of a
// slab with room; freeing returns the cell to its slab, found from the cell's
// address; a slab left empty goes back to the allocator unless it is the only one
// with room. Small objects that the library makes by the hundred thousand (the
// records that follow the elements of an input collection) cost no allocator header
// and no allocator call each.
//
// Every pool counts its objects and slabs, and all pools can be listed, so memory
// can be read per type. Under AddressSanitizer a free cell is poisoned. A pool takes
// a lock only when the process counts thread-safely (threadSafeCountingIs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

#include "corvane/framework/Export.h"

namespace Corvane {

class CORVANE_API SlabPool {
 public:
  // Bytes of one slab (and its alignment).
  static constexpr size_t slabBytes = 16384;

  SlabPool(char const* typeName, size_t objectSize, size_t objectAlign) noexcept;
  ~SlabPool();
  SlabPool(SlabPool const&) = delete;
  SlabPool& operator=(SlabPool const&) = delete;

  // A cell for one object; throws std::bad_alloc when no slab can be had.
  void* allocate();
  void deallocate(void* p) noexcept;

  char const* typeName() const noexcept { return typeName_; }
  size_t objectSize() const noexcept { return cellBytes_; }
  size_t objectsPerSlab() const noexcept { return cellsPerSlab_; }
  uint64_t objectsLive() const noexcept { return live_; }
  uint64_t slabsHeld() const noexcept { return slabs_; }
  uint64_t bytesHeld() const noexcept { return slabs_ * slabBytes; }

  // Every pool of the process, most recently created first.
  static SlabPool const* first() noexcept;
  SlabPool const* next() const noexcept { return nextPool_; }

 private:
  struct Slab;
  void* allocateLocked();
  void deallocateLocked(void* p) noexcept;
  Slab* newSlab();
  void releaseSlab(Slab* s) noexcept;
  void partialPush(Slab* s) noexcept;
  void partialRemove(Slab* s) noexcept;

  char const* typeName_;
  size_t cellBytes_;
  size_t firstCell_;  // offset of the first cell in a slab
  uint32_t cellsPerSlab_;
  Slab* partial_ = nullptr;  // slabs with at least one free cell
  uint64_t live_ = 0;
  uint64_t slabs_ = 0;
  SlabPool* nextPool_ = nullptr;
  std::mutex mutex_;
};

// The pool of T's objects; `name` is given by the first caller.
template <class T>
SlabPool& slabPoolOf(char const* name) noexcept {
  static SlabPool pool(name, sizeof(T), alignof(T));
  return pool;
}

}  // namespace Corvane

// Gives a node type of the library its own slab pool: `new Type(...)` and the
// deleting destructor go through it (a derived type of another size falls back to
// the global operator new). Declared in the class, defined in one source file of the
// library, so that every object of the type comes from the library's one pool.
#define CORVANE_SLAB_ALLOCATED(Type)                      \
 public:                                                  \
  static void* operator new(std::size_t n);               \
  static void operator delete(void* p, std::size_t n) noexcept;

#define CORVANE_SLAB_ALLOCATED_DEFINE(Type, NameText)                     \
  void* Type::operator new(std::size_t n) {                              \
    if (n != sizeof(Type)) return ::operator new(n);                     \
    return ::Corvane::slabPoolOf<Type>(NameText).allocate();             \
  }                                                                      \
  void Type::operator delete(void* p, std::size_t n) noexcept {          \
    if (n != sizeof(Type)) return ::operator delete(p);                  \
    ::Corvane::slabPoolOf<Type>(NameText).deallocate(p);                 \
  }
