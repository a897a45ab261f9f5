// Text forms the state machines use in trace lines: "Optional( v )" and "None" for
// optional values, "Tuple( a, b )" for tuples, "Unit" for the empty type, and a
// payload reference as its object's address.
#pragma once

#include <optional>
#include <tuple>

#include <fmt/format.h>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Node.h"

namespace Corvane {

template <class T>
struct OptText {
  std::optional<T> const& value;
};
template <class T>
OptText<T> optText(std::optional<T> const& v) {
  return {v};
}

template <class... T>
struct TupleText {
  std::tuple<T const&...> values;
};
template <class... T>
TupleText<T...> tupleText(T const&... v) {
  return {std::tuple<T const&...>(v...)};
}

}  // namespace Corvane

template <>
struct fmt::formatter<Corvane::Unit> : fmt::formatter<fmt::string_view> {
  template <class Ctx>
  auto format(Corvane::Unit, Ctx& ctx) const {
    return fmt::formatter<fmt::string_view>::format("Unit", ctx);
  }
};

template <class T>
struct fmt::formatter<Corvane::Ptr<T>> : fmt::formatter<fmt::string_view> {
  template <class Ctx>
  auto format(Corvane::Ptr<T> const& p, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "{}", fmt::ptr(static_cast<void const*>(p.get())));
  }
};

template <class T>
struct fmt::formatter<Corvane::OptText<T>> : fmt::formatter<fmt::string_view> {
  template <class Ctx>
  auto format(Corvane::OptText<T> const& o, Ctx& ctx) const {
    if (!o.value) return fmt::format_to(ctx.out(), "None");
    return fmt::format_to(ctx.out(), "Optional( {} )", *o.value);
  }
};

template <class... T>
struct fmt::formatter<Corvane::TupleText<T...>> : fmt::formatter<fmt::string_view> {
  template <class Ctx>
  auto format(Corvane::TupleText<T...> const& t, Ctx& ctx) const {
    auto out = fmt::format_to(ctx.out(), "Tuple( ");
    bool first = true;
    std::apply(
        [&](auto const&... v) {
          ((out = first ? fmt::format_to(out, "{}", v) : fmt::format_to(out, ", {}", v), first = false), ...);
        },
        t.values);
    return fmt::format_to(out, " )");
  }
};
