#include "corvane/framework/HashMap.h"

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Corvane::detail {

unsigned char* releasePages(unsigned char* begin, unsigned char* end) noexcept {
  return releasePages(begin, end, nullptr);
}

unsigned char* releasePages(unsigned char* begin, unsigned char* end, void const* first) noexcept {
#ifdef __linux__
  static uintptr_t const page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t const from = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
  uintptr_t const to = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
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
    uintptr_t const start = (reinterpret_cast<uintptr_t>(first) + page - 1) & ~(page - 1);
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

}  // namespace Corvane::detail
