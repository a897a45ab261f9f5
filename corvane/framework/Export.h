// Symbol export for libcorvane. The library is built with hidden visibility;
// everything an agent links against carries CORVANE_API.
#pragma once

#define CORVANE_API __attribute__((visibility("default")))

#if defined(__GNUC__)
#define CORVANE_LIKELY(x) __builtin_expect(!!(x), 1)
#define CORVANE_UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define CORVANE_LIKELY(x) (x)
#define CORVANE_UNLIKELY(x) (x)
#endif

// Defined in code built with AddressSanitizer, which checks only memory that comes
// from its own allocator.
#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_ASAN 1
#endif
#endif
