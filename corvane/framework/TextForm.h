// Text forms of value types. A value type prints itself with operator<<; declaring
// CORVANE_FORMATTER(Type) at global scope lets {fmt} use the same text, so trace
// messages and streams agree. Works with {fmt} 9 and 10.
#pragma once

#include <ostream>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <fmt/ostream.h>

namespace Corvane {

template <class T>
std::string textForm(T const& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}

}  // namespace Corvane

#define CORVANE_FORMATTER(Type) \
  template <>                   \
  struct fmt::formatter<Type> : fmt::ostream_formatter {}
