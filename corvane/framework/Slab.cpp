#include "corvane/framework/Slab.h"

#include <cstdint>
#include <mutex>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <fmt/format.h>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Node.h"

#ifdef CORVANE_ASAN
#include <sanitizer/asan_interface.h>
#define CORVANE_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define CORVANE_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define CORVANE_POISON(p, n) ((void)(p), (void)(n))
#define CORVANE_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace Corvane {

namespace {
SlabPool* gPools = nullptr;
}

// Header at the start of every slab. Cells never handed out yet are taken in
// address order (`fresh`), freed ones from the free list.
struct SlabPool::Slab {
  Slab* prev = nullptr;
  Slab* next = nullptr;
  void* free = nullptr;
  uint32_t live = 0;
  uint32_t fresh = 0;
  bool inPartial = false;
#if CORVANE_ASSERTIONS_ON
  SlabPool const* owner = nullptr;  // a cell freed into another pool is caught
#endif
};

namespace {
// Where slabs come from. Taking each slab from the allocator aligned to its own
// size cost up to twice its size in resident memory: glibc cuts the aligned block
// out of one larger by the alignment, and the pieces left either side are touched
// and held. Slabs are cut instead from regions of 1 MiB, aligned to the largest
// slab size, in address order; a slab of less than 16 KiB is cut from a 16 KiB
// piece whose other parts wait for the next slabs of that size. A pool that holds
// many slabs already has a new piece's pages supplied as it is cut, in one call:
// its cells are written in address order, so every page of it is soon touched. A
// pool of a few objects would touch only its first page. A slab given back
// waits for the next slab of its size; a 16 KiB one gives its pages past the first
// back to the system meanwhile. Regions are not freed: they are the slabs' memory
// for the rest of the process, as glibc's heap would be.
class SlabSource {
 public:
  static constexpr size_t regionBytes = size_t(1) << 20;

  // A slab of `bytes`; with `supplyFresh`, a new piece's pages come at once. A slab
  // given back and taken again is left alone: that happens in steady state, where
  // the change that took it would pay for all of its pages at once.
  void* take(size_t bytes, bool supplyFresh) {
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (detail::gThreadSafeCounting) lock.lock();
    void*& head = free_[classOf(bytes)];
    if (!head) {
      unsigned char* piece = carve();
      if (supplyFresh) pagesIn(piece, SlabPool::slabBytes);
      for (size_t at = bytes; at < SlabPool::slabBytes; at += bytes) {
        push(head, piece + at);
        CORVANE_POISON(piece + at + sizeof(void*), bytes - sizeof(void*));
      }
      CORVANE_UNPOISON(piece, bytes);
      return piece;
    }
    void* p = head;
    CORVANE_UNPOISON(p, bytes);
    head = *static_cast<void**>(p);
    return p;
  }

  void give(void* p, size_t bytes) noexcept {
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    if (detail::gThreadSafeCounting) lock.lock();
    if (bytes == SlabPool::slabBytes) pagesBack(p, bytes);
    push(free_[classOf(bytes)], p);
    CORVANE_POISON(static_cast<unsigned char*>(p) + sizeof(void*), bytes - sizeof(void*));
  }

 private:
  static constexpr size_t classes = 5;  // 1, 2, 4, 8 and 16 KiB
  static size_t classOf(size_t bytes) noexcept {
    size_t c = 0;
    while ((size_t(1024) << c) < bytes) ++c;
    return c;
  }
  // The pages of a slab past its first (which holds the link) go back to the
  // system; they read as zeros when the slab is taken again.
  static void pagesBack(void* p, size_t bytes) noexcept {
#ifdef __linux__
    static size_t const page = size_t(sysconf(_SC_PAGESIZE));
    if (page < bytes) static_cast<void>(madvise(static_cast<unsigned char*>(p) + page, bytes - page, MADV_DONTNEED));
#else
    static_cast<void>(p);
    static_cast<void>(bytes);
#endif
  }
  // Has the system supply the pages of a fresh piece in one call instead of a page
  // fault each: a fresh 16 KiB took about 9 us to write that way here, against 13.
  // (A kernel before Linux 5.14 refuses it; the pages then come as touched.)
  static void pagesIn(void* p, size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    static_cast<void>(madvise(p, bytes, MADV_POPULATE_WRITE));
#else
    static_cast<void>(p);
    static_cast<void>(bytes);
#endif
  }
  static void push(void*& head, void* p) noexcept {
    *static_cast<void**>(p) = head;
    head = p;
  }
  // The next 16 KiB of the current region (a new region when it is used up).
  unsigned char* carve() {
    if (next_ == end_) {
      next_ = static_cast<unsigned char*>(::operator new(regionBytes, std::align_val_t(SlabPool::slabBytes)));
      end_ = next_ + regionBytes;
    }
    unsigned char* piece = next_;
    next_ += SlabPool::slabBytes;
    return piece;
  }

  std::mutex mutex_;
  void* free_[classes] = {};
  unsigned char* next_ = nullptr;
  unsigned char* end_ = nullptr;
};
// Never destroyed: objects freed by other statics' destructors at exit still
// return their slabs.
SlabSource& slabSource() {
  static SlabSource* source = new SlabSource;
  return *source;
}

// The slabs a pool holds before its new ones have their pages supplied at once.
constexpr uint64_t suppliedFrom = 8;

bool isPowerOfTwo(size_t n) noexcept { return n != 0 && (n & (n - 1)) == 0; }
size_t roundUp(size_t n, size_t align) noexcept { return (n + align - 1) / align * align; }
size_t cellAlignFor(size_t objectAlign) noexcept {
  return objectAlign < alignof(void*) ? alignof(void*) : objectAlign;
}
// A free cell holds the free-list link, so a cell is at least a pointer.
size_t cellBytesFor(size_t objectSize, size_t align) noexcept {
  return roundUp(objectSize < sizeof(void*) ? sizeof(void*) : objectSize, align);
}
}  // namespace

size_t SlabPool::slabBytesFor(size_t objectSize, size_t objectAlign) noexcept {
  size_t const align = cellAlignFor(objectAlign);
  size_t const cell = cellBytesFor(objectSize, align);
  size_t const need = roundUp(sizeof(Slab), align) + (objectSize <= 1024 ? 4 : 1) * cell;
  size_t bytes = 1024;
  while (bytes < slabBytes && bytes < need) bytes *= 2;
  return bytes;
}

SlabPool::SlabPool(char const* typeName, size_t objectSize, size_t objectAlign, size_t bytesPerSlab) noexcept
    : typeName_(typeName),
      slabBytes_(bytesPerSlab ? bytesPerSlab : slabBytesFor(objectSize, objectAlign)),
      nextPool_(gPools) {
  if (!isPowerOfTwo(objectAlign)) {
    fatalInternalError(fmt::format("SlabPool {}: alignment {} is not a power of two", typeName, objectAlign));
  }
  if (!isPowerOfTwo(slabBytes_) || slabBytes_ < 1024 || slabBytes_ > slabBytes) {
    fatalInternalError(fmt::format("SlabPool {}: {} bytes per slab is not a power of two from 1024 to {}",
                                   typeName, slabBytes_, slabBytes));
  }
  cellAlign_ = cellAlignFor(objectAlign);
  cellBytes_ = cellBytesFor(objectSize, cellAlign_);
  firstCell_ = roundUp(sizeof(Slab), cellAlign_);
  // Cells are aligned within a slab that is aligned to its own size; an object
  // that leaves no room for one cell, or asks for a stricter alignment, is
  // allocated alone.
  cellsPerSlab_ = firstCell_ + cellBytes_ <= slabBytes_ ? uint32_t((slabBytes_ - firstCell_) / cellBytes_) : 0;
  gPools = this;
}

// The pools of the library are function-local statics and go at process exit.
// Slabs still holding objects then are left to the process's end.
SlabPool::~SlabPool() {
  for (SlabPool** p = &gPools; *p; p = &(*p)->nextPool_) {
    if (*p == this) {
      *p = nextPool_;
      break;
    }
  }
  if (live_ != 0) return;
  while (partial_) {
    Slab* s = partial_;
    partialRemove(s);
    releaseSlab(s);
  }
}

SlabPool const* SlabPool::first() noexcept { return gPools; }

SlabPool::Slab* SlabPool::newSlab() {
  void* raw = slabSource().take(slabBytes_, slabs_ >= suppliedFrom);
  Slab* s = ::new (raw) Slab();
#if CORVANE_ASSERTIONS_ON
  s->owner = this;
#endif
  CORVANE_POISON(static_cast<unsigned char*>(raw) + firstCell_, slabBytes_ - firstCell_);
  ++slabs_;
  return s;
}

void SlabPool::releaseSlab(Slab* s) noexcept {
  CORVANE_UNPOISON(s, slabBytes_);
  s->~Slab();
  slabSource().give(s, slabBytes_);
  --slabs_;
}

void SlabPool::partialPush(Slab* s) noexcept {
  s->prev = nullptr;
  s->next = partial_;
  if (partial_) partial_->prev = s;
  partial_ = s;
  s->inPartial = true;
}

void SlabPool::partialRemove(Slab* s) noexcept {
  (s->prev ? s->prev->next : partial_) = s->next;
  if (s->next) s->next->prev = s->prev;
  s->prev = s->next = nullptr;
  s->inPartial = false;
}

void* SlabPool::allocate() {
  if (!detail::gThreadSafeCounting) return allocateLocked();
  std::lock_guard<std::mutex> lock(mutex_);
  return allocateLocked();
}

void SlabPool::deallocate(void* p) noexcept {
  if (!p) return;
  if (!detail::gThreadSafeCounting) return deallocateLocked(p);
  std::lock_guard<std::mutex> lock(mutex_);
  deallocateLocked(p);
}

void* SlabPool::allocateLocked() {
  if (objectsAlone()) {
    void* p = ::operator new(cellBytes_, std::align_val_t(cellAlign_));
    ++live_;
    ++slabs_;
    return p;
  }
  if (!partial_) partialPush(newSlab());
  Slab* s = partial_;
  void* cell;
  if (s->free) {
    cell = s->free;
    CORVANE_UNPOISON(cell, cellBytes_);
    s->free = *static_cast<void**>(cell);
  } else {
    cell = reinterpret_cast<unsigned char*>(s) + firstCell_ + size_t(s->fresh) * cellBytes_;
    CORVANE_UNPOISON(cell, cellBytes_);
    ++s->fresh;
  }
  ++s->live;
  ++live_;
  if (!s->free && s->fresh == cellsPerSlab_) partialRemove(s);
  return cell;
}

void SlabPool::deallocateLocked(void* p) noexcept {
  if (objectsAlone()) {
    ::operator delete(p, std::align_val_t(cellAlign_));
    --live_;
    --slabs_;
    return;
  }
  auto* s = reinterpret_cast<Slab*>(reinterpret_cast<uintptr_t>(p) & ~uintptr_t(slabBytes_ - 1));
#if CORVANE_ASSERTIONS_ON
  CORVANE_ASSERT(s->owner == this, "SlabPool: a cell freed into a pool it does not come from");
#endif
  *static_cast<void**>(p) = s->free;
  s->free = p;
  CORVANE_POISON(p, cellBytes_);
  --s->live;
  --live_;
  if (!s->inPartial) partialPush(s);
  // An empty slab goes back, unless it is the only one with room (a table that
  // shrinks and grows around one slab's worth would otherwise take and give a
  // slab at every step).
  if (s->live == 0 && (partial_ != s || s->next)) {
    partialRemove(s);
    releaseSlab(s);
  }
}

}  // namespace Corvane
