#include "corvane/framework/Errors.h"

#include <cstdio>
#include <cstdlib>

namespace Corvane {

RangeError::RangeError(std::string const& message) : std::out_of_range(message) {}
RangeError::~RangeError() = default;

ParseError::ParseError(std::string const& attribute, std::string const& message)
    : std::invalid_argument(message), attribute_(attribute) {}
ParseError::~ParseError() = default;

InternalError::InternalError(std::string const& message) : std::logic_error(message) {}
InternalError::~InternalError() = default;

void fatalInternalError(std::string const& message) noexcept {
  std::fwrite(message.data(), 1, message.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  std::abort();
}

}  // namespace Corvane
