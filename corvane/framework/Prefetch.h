// Reading ahead: a hint to fetch memory into the caches before it is read.
#pragma once

namespace Corvane {

// Fetches the cache line holding p for a read soon; p may be any address, even an
// invalid one (nothing is read). GCC counts a prefetch as no effect and drops the
// call of a function that does nothing else; the empty statement after it keeps it.
inline void prefetchRead(void const* p) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
  asm volatile("" : : "r"(p));
#else
  static_cast<void>(p);
#endif
}

// Fetches every cache line of the object at p.
template <class T>
void prefetchObject(T const* p) noexcept {
  auto const* bytes = reinterpret_cast<char const*>(p);
  prefetchRead(bytes);
  if constexpr (sizeof(T) > 1) prefetchRead(bytes + sizeof(T) - 1);
}

}  // namespace Corvane
