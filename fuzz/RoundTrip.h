// Checks shared by the parser fuzz targets. Bad text may only raise the library's
// own ParseError or RangeError; anything else escaping a parser (std::out_of_range
// from a substr, a bad_alloc, ...) reaches libFuzzer as an uncaught exception and
// counts as a crash. Text that parses must print to text that parses back to an
// equal value and prints the same again.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "corvane/framework/Errors.h"
#include "corvane/framework/TextForm.h"

namespace CorvaneFuzz {

[[noreturn]] inline void failure(char const* what, std::string_view input, std::string const& detail) {
  std::fprintf(stderr, "round-trip failure: %s\n  input:  '%.*s'\n  detail: %s\n", what, int(input.size()),
               input.data(), detail.c_str());
  std::abort();
}

// parse(text) as an optional: empty when the text is refused with a library error.
template <class T, class Parse>
std::optional<T> tryParse(Parse parse, std::string_view text) {
  try {
    return parse(text);
  } catch (Corvane::ParseError const&) {
  } catch (Corvane::RangeError const&) {
  }
  return std::nullopt;
}

// The round trip of one value type; returns the parsed value when the text parsed.
template <class T, class Parse>
std::optional<T> checkRoundTrip(char const* typeName, Parse parse, std::string_view text) {
  std::optional<T> v = tryParse<T>(parse, text);
  if (!v) return v;
  std::string const printed = Corvane::textForm(*v);
  std::optional<T> again = tryParse<T>(parse, printed);
  if (!again) failure(typeName, text, "the printed text '" + printed + "' does not parse");
  if (!(*again == *v)) failure(typeName, text, "'" + printed + "' parses to a different value");
  std::string const reprinted = Corvane::textForm(*again);
  if (reprinted != printed) failure(typeName, text, "'" + printed + "' prints again as '" + reprinted + "'");
  return v;
}

// parsePrefix(text) reads n characters: n fits the text, and when n > 0 the whole
// parser accepts exactly those n characters and gives the same value.
template <class T, class Prefix, class Parse>
void checkPrefix(char const* typeName, Prefix prefix, Parse parse, std::string_view text) {
  T v{};
  size_t n = 0;
  try {
    n = prefix(text, v);
  } catch (Corvane::ParseError const&) {
    return;
  } catch (Corvane::RangeError const&) {
    return;
  }
  if (n > text.size()) failure(typeName, text, "parsePrefix used more characters than the text has");
  if (n == 0) return;
  std::optional<T> whole = tryParse<T>(parse, text.substr(0, n));
  if (!whole) failure(typeName, text, "parsePrefix accepted a prefix that parse refuses");
  if (!(*whole == v)) failure(typeName, text, "parsePrefix and parse disagree on the prefix");
}

}  // namespace CorvaneFuzz
