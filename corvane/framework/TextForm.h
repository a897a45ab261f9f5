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

namespace detail {
// One stream per thread, reused: making a std::ostringstream costs more than
// printing most values into it. A value whose printing asks for another text form
// gets a stream of its own.
struct TextFormStream {
  std::ostringstream os;
  bool busy = false;
};
inline TextFormStream& textFormStream() {
  thread_local TextFormStream s;
  return s;
}
}  // namespace detail

template <class T>
std::string textForm(T const& v) {
  detail::TextFormStream& s = detail::textFormStream();
  if (s.busy) {
    std::ostringstream os;
    os << v;
    return os.str();
  }
  struct Use {
    detail::TextFormStream& s;
    explicit Use(detail::TextFormStream& stream) : s(stream) {
      s.busy = true;
      s.os.str(std::string());
      s.os.clear();
    }
    // What a print may have set is put back as a new stream has it.
    ~Use() {
      s.os.flags(std::ios_base::skipws | std::ios_base::dec);
      s.os.width(0);
      s.os.precision(6);
      s.os.fill(' ');
      s.busy = false;
    }
  } use(s);
  s.os << v;
  return s.os.str();
}

}  // namespace Corvane

#define CORVANE_FORMATTER(Type) \
  template <>                   \
  struct fmt::formatter<Type> : fmt::ostream_formatter {}
