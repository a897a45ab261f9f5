#include "corvane/framework/HashMap.h"

#include <atomic>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Corvane::detail {

namespace {

// From this size on glibc maps every block on its own, so a mapping of the table's
// own costs the same to make; below it, glibc may serve an array from memory freed
// before, and takes it back in 2 to 4 us. AddressSanitizer checks only what comes
// from the allocator: there, every array does.
#if defined(__linux__) && !defined(CORVANE_ASAN)
constexpr size_t mappedFrom = size_t(4) * 1024 * 1024 * sizeof(long);
#else
constexpr size_t mappedFrom = ~size_t(0);
#endif

std::atomic<size_t> gMappedBytes{0};

#ifdef __linux__
uintptr_t pageSize() noexcept {
  static uintptr_t const page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  return page;
}
size_t mappedLength(size_t bytes) noexcept { return (bytes + pageSize() - 1) & ~(pageSize() - 1); }
// The first page boundary at or after p, and the last at or before it.
uintptr_t pageUp(void const* p) noexcept { return (reinterpret_cast<uintptr_t>(p) + pageSize() - 1) & ~(pageSize() - 1); }
uintptr_t pageDown(void const* p) noexcept { return reinterpret_cast<uintptr_t>(p) & ~(pageSize() - 1); }
#endif

}  // namespace

unsigned char* releasePages(unsigned char* begin, unsigned char* end) noexcept {
  return releasePages(begin, end, nullptr);
}

unsigned char* releasePages(unsigned char* begin, unsigned char* end, void const* first) noexcept {
#ifdef __linux__
  uintptr_t const from = pageUp(begin);
  uintptr_t const to = pageDown(end);
  if (to <= from) return begin;
  // The pages read as zeros if touched again; a failure leaves them held, nothing more.
  static_cast<void>(madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED));
  if (first) {
    // The blocks this call completes: every page of them is gone already, so the
    // call costs a walk of one empty page table, and Linux frees a page table whose
    // whole range a give-back covers. Freeing 54 MB given back 64 KiB at a time took
    // 60 to 140 us here, and about 40 us once its whole blocks had been given back
    // again (a 2 MiB block's give-back, 5 to 11 us).
    constexpr uintptr_t block = uintptr_t(2) << 20;
    uintptr_t const start = pageUp(first);
    for (uintptr_t x = (from & ~(block - 1)) + block; x <= to && x > from; x += block) {
      if (x - block >= start) static_cast<void>(madvise(reinterpret_cast<void*>(x - block), block, MADV_DONTNEED));
    }
  }
  return begin + (to - reinterpret_cast<uintptr_t>(begin));
#else
  static_cast<void>(end);
  static_cast<void>(first);
  return begin;
#endif
}

void* slotArrayNew(size_t bytes) {
#ifdef __linux__
  if (bytes >= mappedFrom) {
    size_t const length = mappedLength(bytes);
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    gMappedBytes.fetch_add(length, std::memory_order_relaxed);
    return p;
  }
#endif
  return ::operator new(bytes);
}

#ifdef __linux__
namespace {
// Blocks of an own mapping are unmapped whole, once every page of them has been
// given back: an unmapping costs about twice a give-back of the same pages here, and
// each one frees the block's page table with it.
constexpr uintptr_t unmapBlock = uintptr_t(2) << 20;
// Where the part of a mapping not yet unmapped starts, its memory before `kept`
// having been given back.
uintptr_t stillMapped(void const* array, void const* kept) noexcept {
  auto const a = reinterpret_cast<uintptr_t>(array);
  uintptr_t const block = reinterpret_cast<uintptr_t>(kept) & ~(unmapBlock - 1);
  return block > a ? block : a;
}
}  // namespace
#endif

void slotArrayDelete(void* array, size_t bytes, void const* kept) noexcept {
#ifdef __linux__
  if (bytes >= mappedFrom) {
    size_t const length = mappedLength(bytes);
    uintptr_t const from = stillMapped(array, kept);
    uintptr_t const end = reinterpret_cast<uintptr_t>(array) + length;
    if (from < end) static_cast<void>(munmap(reinterpret_cast<void*>(from), end - from));
    gMappedBytes.fetch_sub(length, std::memory_order_relaxed);
    return;
  }
#endif
  static_cast<void>(bytes);
  static_cast<void>(kept);
  ::operator delete(array);
}

unsigned char* slotArrayGiveBack(void* array, size_t bytes, unsigned char* begin, unsigned char* end) noexcept {
#ifdef __linux__
  if (bytes >= mappedFrom) {
    unsigned char* const done = releasePages(begin, end);
    // The blocks this call completed leave the mapping. (Should that fail, their
    // pages stay given back and their range mapped until the process ends.)
    uintptr_t const from = stillMapped(array, begin);
    uintptr_t const to = reinterpret_cast<uintptr_t>(done) & ~(unmapBlock - 1);
    if (to > from) static_cast<void>(munmap(reinterpret_cast<void*>(from), to - from));
    return done;
  }
#endif
  return releasePages(begin, end, array);
}

void slotArrayPopulate(void* array, size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (bytes < (size_t(256) << 10)) return;
  uintptr_t const from = pageUp(array);
  uintptr_t const to = pageDown(static_cast<unsigned char*>(array) + bytes);
  // A kernel without it (before Linux 5.14) refuses; the pages then come as touched.
  if (to > from) static_cast<void>(madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE));
#else
  static_cast<void>(array);
  static_cast<void>(bytes);
#endif
}

size_t slotArrayMappedBytes() noexcept { return gMappedBytes.load(std::memory_order_relaxed); }

}  // namespace Corvane::detail
