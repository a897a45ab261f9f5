// The library's exception types and the fatal-error exit. Value types raise
// RangeError/ParseError on bad input; resource utilities raise InternalError on
// caller programming errors; broken engine invariants end the process.
#pragma once

#include <stdexcept>
#include <string>

#include "corvane/framework/Export.h"

namespace Corvane {

// A value outside the range its type allows. what() is exactly the message.
class CORVANE_API RangeError : public std::out_of_range {
 public:
  explicit RangeError(std::string const& message);
  ~RangeError() override;
};

// Text that does not parse; attribute() names the attribute (or type) being read.
class CORVANE_API ParseError : public std::invalid_argument {
 public:
  ParseError(std::string const& attribute, std::string const& message);
  ~ParseError() override;
  std::string const& attribute() const noexcept { return attribute_; }

 private:
  std::string attribute_;
};

// A programming error of the caller that the library can report and survive.
class CORVANE_API InternalError : public std::logic_error {
 public:
  explicit InternalError(std::string const& message);
  ~InternalError() override;
};

// Broken internal invariant: writes the message and a newline to stderr, then aborts.
[[noreturn]] CORVANE_API void fatalInternalError(std::string const& message) noexcept;

}  // namespace Corvane

// A caller's precondition whose test would sit on a hot path (an iterator at end(),
// an index within its array): checked where NDEBUG is not defined or
// CORVANE_ASSERTIONS is, as a fatal internal error with `message`. Preconditions
// checked once per declaration or construction are always checked.
#if !defined(NDEBUG) || defined(CORVANE_ASSERTIONS)
#define CORVANE_ASSERTIONS_ON 1
#define CORVANE_ASSERT(cond, message) \
  (__builtin_expect(bool(cond), 1) ? static_cast<void>(0) : ::Corvane::fatalInternalError(message))
#else
#define CORVANE_ASSERTIONS_ON 0
#define CORVANE_ASSERT(cond, message) static_cast<void>(sizeof(bool(cond)))
#endif

namespace Corvane {

}  // namespace Corvane
