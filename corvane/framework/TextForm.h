// Text forms of value types. A value type prints itself with operator<<; declaring
// CORVANE_FORMATTER(Type) at global scope lets {fmt} use the same text, so trace
// messages and streams agree. Works with {fmt} 9 and 10.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>

#include <fmt/format.h>
#include <fmt/ostream.h>

namespace Corvane {

// Prints an enumeration's value by its name table (indexed by value, null where a
// value has no enumerator). A value without a name prints as its number, so traces
// of bad input stay readable.
template <size_t N>
std::ostream& printEnum(std::ostream& os, char const* const (&names)[N], uint64_t v) {
  if (v < N && names[v]) return os << names[v];
  return os << v;
}

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
