#include "corvane/framework/HashMap.h"

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace Corvane::detail {

unsigned char* releasePages(unsigned char* begin, unsigned char* end) noexcept {
#ifdef __linux__
  static uintptr_t const page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t const from = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
  uintptr_t const to = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
  if (to <= from) return begin;
  // The pages read as zeros if touched again; a failure leaves them held, nothing more.
  static_cast<void>(madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED));
  return begin + (to - reinterpret_cast<uintptr_t>(begin));
#else
  static_cast<void>(end);
  return begin;
#endif
}

}  // namespace Corvane::detail
