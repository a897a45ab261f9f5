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
