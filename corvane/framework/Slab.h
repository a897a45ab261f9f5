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
//
// Slabs of one pool share one size, a power of two: the largest, 16 KiB, for the
// types made per port or per element; for other types the smallest that holds a
// few objects, so a type of which an agent makes one object (a state machine, a
// table) keeps little more than that object.
//
// An object too large (or too strictly aligned) for one cell of the pool's slab is
// taken from the global allocator on its own, aligned as its type asks: the pool
// still counts it, as a slab of one object of objectSize() bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <new>

#include "corvane/framework/Export.h"

namespace Corvane {

class CORVANE_API SlabPool {
 public:
  // Bytes of one slab (and its alignment) unless the pool is given another size.
  static constexpr size_t slabBytes = 16384;
  // The slab size for objects of `objectSize` made a few at a time: at least 1 KiB,
  // four cells for objects up to 1 KiB, one for larger ones, at most slabBytes.
  static size_t slabBytesFor(size_t objectSize, size_t objectAlign = alignof(void*)) noexcept;

  // `objectAlign`: a power of two. `bytesPerSlab`: a power of two from 1 KiB to
  // slabBytes, or 0 for slabBytesFor(objectSize, objectAlign). A value outside
  // these ends the process with a message: cells would be found from their
  // addresses with the wrong mask.
  SlabPool(char const* typeName, size_t objectSize, size_t objectAlign, size_t bytesPerSlab = slabBytes) noexcept;
  ~SlabPool();
  SlabPool(SlabPool const&) = delete;
  SlabPool& operator=(SlabPool const&) = delete;

  // A cell for one object; throws std::bad_alloc when no slab can be had.
  void* allocate();
  void deallocate(void* p) noexcept;

  char const* typeName() const noexcept { return typeName_; }
  size_t objectSize() const noexcept { return cellBytes_; }
  // Whether objects come from the global allocator one by one (too large for a slab).
  bool objectsAlone() const noexcept { return cellsPerSlab_ == 0; }
  size_t objectsPerSlab() const noexcept { return objectsAlone() ? 1 : cellsPerSlab_; }
  uint64_t objectsLive() const noexcept { return live_; }
  uint64_t slabsHeld() const noexcept { return slabs_; }
  size_t bytesPerSlab() const noexcept { return objectsAlone() ? cellBytes_ : slabBytes_; }
  uint64_t bytesHeld() const noexcept { return slabs_ * bytesPerSlab(); }

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
  size_t slabBytes_;
  size_t cellBytes_;
  size_t cellAlign_;
  size_t firstCell_;  // offset of the first cell in a slab
  uint32_t cellsPerSlab_;  // 0: objects alone
  Slab* partial_ = nullptr;  // slabs with at least one free cell
  uint64_t live_ = 0;
  uint64_t slabs_ = 0;
  SlabPool* nextPool_ = nullptr;
  std::mutex mutex_;
};

// The pool of T's objects; `name` is given by the first caller. Pools live until
// the process ends, so an object freed by another static's destructor at exit still
// finds its pool.
template <class T>
SlabPool& slabPoolOf(char const* name) {
  static SlabPool* pool = new SlabPool(name, sizeof(T), alignof(T));
  return *pool;
}

}  // namespace Corvane
