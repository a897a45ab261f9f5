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
