// What the type registry knows about a type beyond its name: its kind, its
// attributes (with their kind, types and text accessors), the enumerators of an
// enumeration and the static operations of a utility type. Each module describes
// its types once, when it registers them at library load; the generic interface
// (Reflect), the directory and the JSON dump work from that one description.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <limits>
#include <type_traits>
#include <utility>
#include <vector>

#include "corvane/framework/Errors.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/Node.h"
#include "corvane/framework/TextForm.h"

namespace Corvane {

enum class TypeKind : uint8_t { node, entity, valueType, enumeration, utility, rootSm, inputSm };
enum class AttrKind : uint8_t { value, collection, instantiatingCollection, reference, action };
CORVANE_API std::ostream& operator<<(std::ostream& os, TypeKind k);
CORVANE_API std::ostream& operator<<(std::ostream& os, AttrKind k);

// A misuse of the generic interface: an unknown type, attribute or operation, a
// wrong number of arguments, a write to a read-only attribute, a reference of the
// wrong type. what() is exactly the message; the texts are listed in docs/framework.md.
class CORVANE_API ReflectionError : public std::invalid_argument {
 public:
  explicit ReflectionError(std::string const& message);
  ~ReflectionError() override;
};

// A named entity created with more constructor arguments than its name. The text is
// fixed: "new entity of type <type> takes only a name; <n> more argument(s) refused".
class CORVANE_API NewEntityArgumentsError : public ReflectionError {
 public:
  NewEntityArgumentsError(std::string_view typeName, size_t extra);
  ~NewEntityArgumentsError() override;
};

// Enumerator names indexed by value (null where a value has no enumerator): the one
// table an enumeration's text form, parsing and registry entry come from.
class CORVANE_API EnumTable {
 public:
  // Constant-initialized (constinit), so other modules may use a table while they
  // register at load, whatever the order of the library's initializers.
  template <size_t N>
  constexpr EnumTable(char const* typeName, char const* const (&names)[N]) noexcept
      : type_(typeName, nullptr), names_(names), size_(N) {}
  EnumTable(EnumTable const&) = delete;
  EnumTable& operator=(EnumTable const&) = delete;

  TypeData& typeData() noexcept { return type_; }
  char const* typeName() const noexcept { return type_.name(); }
  // Empty for a value without an enumerator.
  std::string_view name(uint64_t v) const noexcept { return v < size_ && names_[v] ? names_[v] : std::string_view(); }
  // The name, or the number for a value without one (traces of bad input stay readable).
  std::ostream& print(std::ostream& os, uint64_t v) const;
  // The value of an enumerator name or of a listed number; ParseError otherwise.
  uint64_t parse(std::string_view text) const;
  // The value of an enumerator name (names only); nullopt otherwise.
  std::optional<uint64_t> find(std::string_view name) const noexcept;
  // v itself when it has an enumerator; RangeError otherwise.
  uint64_t checked(uint64_t v) const;
  // Registers the enumeration (kind, enumerators, parsing) with the registry.
  void typeRegister();

 private:
  TypeData type_;
  char const* const* names_;
  size_t size_;
};

// Text forms the reflection uses: bool as true/false, integers as numbers, every
// other value by its stream output.
template <class V>
std::string reflectText(V const& v) {
  if constexpr (std::is_same_v<V, bool>) {
    return v ? "true" : "false";
  } else if constexpr (std::is_integral_v<V>) {
    return std::to_string(v);
  } else {
    return textForm(v);
  }
}

// An enumeration finds its table through enumTable(E{}), declared next to it.
template <class V>
concept ReflectEnum = std::is_enum_v<V> && requires(V v) {
  { enumTable(v) } -> std::same_as<EnumTable const&>;
};

template <class V>
concept ReflectParsable = std::is_same_v<V, bool> || std::is_integral_v<V> || ReflectEnum<V> ||
                          requires(std::string_view t) { V::parse(t); } ||
                          (std::is_class_v<V> && std::constructible_from<V, std::string_view>);

// Parses a value of V from text; ParseError (naming `what`) when it does not parse.
CORVANE_API bool reflectParseBool(std::string_view what, std::string_view text);
CORVANE_API uint64_t reflectParseUnsigned(std::string_view what, std::string_view text, uint64_t max);
CORVANE_API int64_t reflectParseSigned(std::string_view what, std::string_view text, int64_t min, int64_t max);
template <ReflectParsable V>
V reflectParse(std::string_view what, std::string_view text) {
  if constexpr (ReflectEnum<V>) {
    return static_cast<V>(enumTable(V{}).parse(text));
  } else if constexpr (std::is_same_v<V, bool>) {
    return reflectParseBool(what, text);
  } else if constexpr (std::is_integral_v<V> && std::is_unsigned_v<V>) {
    return V(reflectParseUnsigned(what, text, std::numeric_limits<V>::max()));
  } else if constexpr (std::is_integral_v<V>) {
    return V(reflectParseSigned(what, text, std::numeric_limits<V>::min(), std::numeric_limits<V>::max()));
  } else if constexpr (requires { V::parse(text); }) {
    return V::parse(text);
  } else {
    return V(text);
  }
}

struct AttributeDesc {
  std::string name;
  AttrKind kind = AttrKind::value;
  uint32_t id = 0;         // the number the entity publishes changes under (0: none)
  std::string typeName;    // the value's, element's or referent's type
  std::string keyTypeName; // collections only
  // A value or reference attribute's text.
  std::function<std::string(Node const&)> text;
  // A reference attribute's referent (null when unset).
  std::function<Node const*(Node const&)> referent;
  // A collection's entries in its order: key text, value text (empty for a set) and,
  // for collections of entities, the element.
  std::function<void(Node const&, std::function<void(std::string const&, std::string const&, Node const*)> const&)>
      entries;
  // One entry's value text by key text; nullopt when absent.
  std::function<std::optional<std::string>(Node const&, std::string_view)> entry;
  // A collection of entities (children, payloads): the element by key text; null
  // when absent.
  std::function<Node const*(Node const&, std::string_view keyText)> element;
  // Bytes the collection holds outside the entity object.
  std::function<size_t(Node const&)> bytes;
  // Every key in the collection's order, as the address the entity publishes.
  std::function<void(Node const&, std::function<void(void const*, Node const*)> const&)> keys;
  // A collection key's text, given the address a notification carries
  // (Subscriber::dispatch's `key`): how a store names the entry that changed.
  std::function<std::string(void const* key)> keyText;
  // Collection writes by key text, through the entity's own setters (so they announce
  // exactly as typed calls do); each is null where the collection has no such setter.
  // A map of values: Set(k, v); a set: Set(k), the value text ignored.
  std::function<void(Node&, std::string_view keyText, std::string_view valueText)> entryWrite;
  // Del(k); true when an entry went.
  std::function<bool(Node&, std::string_view keyText)> entryDel;
  // An instantiating collection's child under k, created when absent.
  std::function<Ptr<Node>(Node&, std::string_view keyText)> childIs;
  // A map of counted references: Set(k, referent), the referent checked against the
  // element type; null does what the setter does with null (a delete, for payloads).
  std::function<void(Node&, std::string_view keyText, Ptr<Node> const&)> entryReferenceWrite;
  // Writes from text; null when read-only.
  std::function<void(Node&, std::string_view)> write;
  // Sets a reference attribute; null when it cannot be set.
  std::function<void(Node&, Ptr<Node> const&)> referenceWrite;
  // Runs an action.
  std::function<void(Node&)> run;
};

struct OperationDesc {
  std::string name;
  std::vector<std::string> parameterTypes;
  std::string resultType;
  // Arguments as text, already counted; the result as text.
  std::function<std::string(std::vector<std::string> const&)> call;
};

struct EnumeratorDesc {
  std::string name;
  uint64_t value;
};

struct TypeDescription {
  TypeKind kind = TypeKind::node;
  std::vector<AttributeDesc> attributes;
  std::vector<EnumeratorDesc> enumerators;
  std::vector<OperationDesc> operations;
  // Value types and enumerations: text to canonical text (throws when it does not parse).
  std::function<std::string(std::string_view)> parse;
  // Entities a directory can create: by name (named entities) or with no argument.
  std::function<Ptr<Node>(std::string const&)> createNamed;
  std::function<Ptr<Node>()> create;
  // Objects built from their attributes' texts (payloads a store reads back): the
  // argument answers an attribute's text by name, nullopt when it has none.
  using AttributeTexts = std::function<std::optional<std::string>(std::string_view attrName)>;
  std::function<Ptr<Node>(AttributeTexts const&)> createFrom;
};

namespace detail {
// What an accessor reads: the entity it is called on and what it returns. An
// accessor is a member function of the entity or a function of it.
template <class F>
struct AccessorOf {};
template <class E, class R>
struct AccessorOf<R (E::*)() const> {
  using Entity = E;
  using Result = std::remove_cvref_t<R>;
};
template <class E, class R>
struct AccessorOf<R (E::*)() const noexcept> : AccessorOf<R (E::*)() const> {};
template <class E, class R>
struct AccessorOf<R (*)(E const&)> {
  using Entity = E;
  using Result = std::remove_cvref_t<R>;
};
template <class E, class R>
struct AccessorOf<R (*)(E const&) noexcept> : AccessorOf<R (*)(E const&)> {};
template <class F>
struct StaticFn;
template <class R, class... A>
struct StaticFn<R (*)(A...)> {
  using Result = R;
  using Args = std::tuple<std::remove_cvref_t<A>...>;
  static constexpr size_t arity = sizeof...(A);
};
template <class R, class... A>
struct StaticFn<R (*)(A...) noexcept> : StaticFn<R (*)(A...)> {};

// A keyed collection with values (a set's elements are keys only).
template <class C>
concept MapColl = requires { typename C::mapped_type; } && !std::is_same_v<typename C::mapped_type, Unit>;
template <class V>
concept PtrLike = requires(V const& v) {
  v.get();
  typename V::element_type;
};
template <class V>
std::string typeNameOf() {
  if constexpr (PtrLike<V>) {
    return typeNameOf<std::remove_cv_t<typename V::element_type>>();
  } else if constexpr (requires { V::typeDataStatic(); }) {
    return V::typeDataStatic().name();
  } else if constexpr (ReflectEnum<V>) {
    return enumTable(V{}).typeName();
  } else if constexpr (std::is_same_v<V, bool>) {
    return "bool";
  } else if constexpr (std::is_integral_v<V>) {
    return (std::is_signed_v<V> ? "int" : "uint") + std::to_string(8 * sizeof(V)) + "_t";
  } else {
    return "";
  }
}
CORVANE_API std::string referentText(Node const* n);
[[noreturn]] CORVANE_API void referenceMismatch(std::string const& attr, std::string const& wanted, Node const& given);
// The text of attribute `attr` for building a `type`; ReflectionError when absent.
CORVANE_API std::string attributeText(TypeDescription::AttributeTexts const& texts, TypeData const& type,
                                      std::string const& attr);
// Describe<T>::constructor named a getter no value<>() of T described.
[[noreturn]] CORVANE_API void constructorGetterUnknown(char const* typeName);
template <class V>
std::string valueText(V const& v) {
  if constexpr (PtrLike<V>) {
    return referentText(v.get());
  } else {
    return reflectText(v);
  }
}
template <class E>
Node const* elementOf(E const& e) {
  if constexpr (requires { e.second.get(); }) {
    if constexpr (PtrLike<std::remove_cvref_t<decltype(e.second)>>) {
      return e.second.get();
    } else {
      return nullptr;
    }
  } else {
    return nullptr;
  }
}
template <auto Fn, size_t... I>
std::string callOperation(std::string const& name, std::vector<std::string> const& args, std::index_sequence<I...>) {
  using Args = typename StaticFn<decltype(Fn)>::Args;
  // Arguments are parsed left to right before the call.
  std::tuple<std::tuple_element_t<I, Args>...> parsed{reflectParse<std::tuple_element_t<I, Args>>(name, args[I])...};
  return reflectText(std::apply(Fn, parsed));
}
}  // namespace detail

// The accessor of an attribute, picked from the lookups of the same name:
// attribute(&IntfFeatureConfig::config) is the member taking no argument.
template <class E, class R>
constexpr auto attribute(R (E::*get)() const noexcept) noexcept {
  return get;
}
template <class E, class R>
constexpr auto attribute(R (E::*get)() const) noexcept {
  return get;
}

// The one of several overloads of a setter that takes exactly these parameters, for a
// registration: setter<IntfId>(&Lag::Config::phyIntfIs) is the creating form.
template <class... A>
struct SetterOf {
  template <class E, class R>
  constexpr auto operator()(R (E::*set)(A...)) const noexcept {
    return set;
  }
};
template <class... A>
inline constexpr SetterOf<A...> setter{};

// Builds a type's description:
//   Describe<LagInfoReady>(TypeKind::entity).named().value<&LagInfoReady::ready, &LagInfoReady::readyIs>(
//       "ready", LagInfoReady::attrReady).done()
template <class T>
class Describe {
 public:
  explicit Describe(TypeKind kind) { d_.kind = kind; }

  template <auto Get>
  Describe& value(char const* name, uint32_t id = 0) {
    using V = typename detail::AccessorOf<decltype(Get)>::Result;
    AttributeDesc& a = add(name, detail::PtrLike<V> ? AttrKind::reference : AttrKind::value, id);
    getters_.emplace_back(&getterTag<Get>, name);
    a.typeName = detail::typeNameOf<V>();
    a.text = [](Node const& n) { return detail::valueText(std::invoke(Get, self(n))); };
    if constexpr (detail::PtrLike<V>) {
      a.referent = [](Node const& n) -> Node const* { return std::invoke(Get, self(n)).get(); };
    }
    return *this;
  }
  // A settable attribute: from text, or (a reference) from a node of its type.
  template <auto Get, auto Set>
  Describe& value(char const* name, uint32_t id = 0) {
    value<Get>(name, id);
    using V = typename detail::AccessorOf<decltype(Get)>::Result;
    AttributeDesc& a = d_.attributes.back();
    if constexpr (detail::PtrLike<V>) {
      using R = typename V::element_type;
      a.referenceWrite = [n = std::string(name)](Node& e, Ptr<Node> const& r) {
        auto* typed = dynamic_cast<R*>(r.get());
        if (r && !typed) detail::referenceMismatch(n, detail::typeNameOf<std::remove_cv_t<R>>(), *r);
        (mut(e).*Set)(Ptr<R>(typed));
      };
    } else if constexpr (ReflectParsable<V>) {
      a.write = [n = std::string(name)](Node& e, std::string_view t) { (mut(e).*Set)(reflectParse<V>(n, t)); };
    }
    return *this;
  }
  // A keyed collection (a map or a set); `instantiating` when the entity creates
  // its elements (children) itself.
  template <auto Get>
  Describe& collection(char const* name, uint32_t id, bool instantiating = false) {
    using C = typename detail::AccessorOf<decltype(Get)>::Result;
    using K = typename C::key_type;
    AttributeDesc& a = add(name, instantiating ? AttrKind::instantiatingCollection : AttrKind::collection, id);
    a.keyTypeName = detail::typeNameOf<K>();
    if constexpr (detail::MapColl<C>) a.typeName = detail::typeNameOf<typename C::mapped_type>();
    a.entries = [](Node const& n, auto const& fn) {
      for (auto const& e : std::invoke(Get, self(n))) {
        if constexpr (detail::MapColl<C>) {
          fn(reflectText(e.first), entryText(e.second), detail::elementOf(e));
        } else if constexpr (requires { e.first; }) {
          fn(reflectText(e.first), std::string(), nullptr);
        } else {
          fn(reflectText(e), std::string(), nullptr);
        }
      }
    };
    a.bytes = [](Node const& n) -> size_t {
      C const& c = std::invoke(Get, self(n));
      if constexpr (requires { c.bytesHeld(); }) {
        return c.bytesHeld();
      } else {
        return c.size() * (sizeof(typename C::value_type) + 4 * sizeof(void*));  // a tree's nodes
      }
    };
    // A snapshot, so that subscribers may change the collection while it is announced.
    a.keys = [](Node const& n, auto const& fn) {
      std::vector<std::pair<K, Ptr<Node const>>> snapshot;
      for (auto const& e : std::invoke(Get, self(n))) {
        if constexpr (requires { e.first; }) {
          snapshot.emplace_back(e.first, Ptr<Node const>(detail::elementOf(e)));
        } else {
          snapshot.emplace_back(e, nullptr);
        }
      }
      for (auto const& [k, child] : snapshot) fn(&k, child.get());
    };
    a.keyText = [](void const* key) { return reflectText(*static_cast<K const*>(key)); };
    if constexpr (ReflectParsable<K>) {
      a.entry = [n = std::string(name)](Node const& e, std::string_view keyText) -> std::optional<std::string> {
        K const k = reflectParse<K>(n, keyText);
        C const& c = std::invoke(Get, self(e));
        if constexpr (detail::MapColl<C>) {
          auto const v = c.find(k);
          if constexpr (std::is_pointer_v<decltype(v)>) {
            if (!v) return std::nullopt;
            return entryText(*v);
          } else {
            if (v == c.end()) return std::nullopt;
            return entryText(v->second);
          }
        } else {
          if (!c.contains(k)) return std::nullopt;
          return std::string();
        }
      };
      if constexpr (detail::MapColl<C>) {
        if constexpr (detail::PtrLike<typename C::mapped_type>) {
          a.element = [n = std::string(name)](Node const& e, std::string_view keyText) -> Node const* {
            K const k = reflectParse<K>(n, keyText);
            C const& c = std::invoke(Get, self(e));
            auto const v = c.find(k);
            if constexpr (std::is_pointer_v<decltype(v)>) {
              return v ? v->get() : nullptr;
            } else {
              return v == c.end() ? nullptr : v->second.get();
            }
          };
        }
      }
    }
    return *this;
  }
  // A collection written by key text through its setter and delete. What Set does
  // follows from the collection's shape: on a set Set(k) adds the key; on a map of
  // values Set(k, v); on a map of counted references Set(k) (one argument) creates
  // the child, Set(k, ptr) stores a given referent.
  template <auto Get, auto Set, auto Del>
  Describe& collection(char const* name, uint32_t id, bool instantiating = false) {
    collection<Get>(name, id, instantiating);
    using C = typename detail::AccessorOf<decltype(Get)>::Result;
    using K = typename C::key_type;
    static_assert(ReflectParsable<K>, "a collection written by key text needs a key type that parses from text");
    AttributeDesc& a = d_.attributes.back();
    a.entryDel = [n = std::string(name)](Node& e, std::string_view keyText) -> bool {
      K const k = reflectParse<K>(n, keyText);
      using R = std::invoke_result_t<decltype(Del), T&, K const&>;
      if constexpr (std::is_same_v<R, bool>) {
        return std::invoke(Del, mut(e), k);
      } else if constexpr (detail::PtrLike<R>) {
        return bool(std::invoke(Del, mut(e), k));  // the removed element, or null
      } else {
        // A delete that answers the removed value cannot tell "absent" apart.
        bool const had = std::invoke(Get, self(e)).contains(k);
        std::invoke(Del, mut(e), k);
        return had;
      }
    };
    if constexpr (!detail::MapColl<C>) {
      static_assert(std::is_invocable_v<decltype(Set), T&, K const&>, "a set's setter takes the key alone");
      a.entryWrite = [n = std::string(name)](Node& e, std::string_view keyText, std::string_view) {
        std::invoke(Set, mut(e), reflectParse<K>(n, keyText));
      };
    } else if constexpr (detail::PtrLike<typename C::mapped_type>) {
      using V = typename C::mapped_type;
      using R = typename V::element_type;
      if constexpr (std::is_invocable_v<decltype(Set), T&, K const&>) {
        static_assert(detail::PtrLike<std::invoke_result_t<decltype(Set), T&, K const&>>,
                      "a one-argument setter of a map of references creates and returns the child");
        a.childIs = [n = std::string(name)](Node& e, std::string_view keyText) -> Ptr<Node> {
          return Ptr<Node>(std::invoke(Set, mut(e), reflectParse<K>(n, keyText)));
        };
      } else {
        static_assert(std::is_invocable_v<decltype(Set), T&, K const&, V>,
                      "the setter of a map of references takes the key and the reference");
        a.entryReferenceWrite = [n = std::string(name)](Node& e, std::string_view keyText, Ptr<Node> const& r) {
          K const k = reflectParse<K>(n, keyText);
          auto* typed = dynamic_cast<R*>(r.get());
          if (r && !typed) detail::referenceMismatch(n, detail::typeNameOf<std::remove_cv_t<R>>(), *r);
          std::invoke(Set, mut(e), k, V(typed));
        };
      }
    } else {
      using V = typename C::mapped_type;
      static_assert(ReflectParsable<V>, "a map written by key text needs a value type that parses from text");
      a.entryWrite = [n = std::string(name)](Node& e, std::string_view keyText, std::string_view valueText) {
        K const k = reflectParse<K>(n, keyText);
        std::invoke(Set, mut(e), k, reflectParse<V>(n, valueText));
      };
    }
    return *this;
  }
  template <auto Act>
  Describe& action(char const* name) {
    AttributeDesc& a = add(name, AttrKind::action, 0);
    a.run = [](Node& n) { (mut(n).*Act)(); };
    return *this;
  }
  // An operation of a utility type, taking and returning text.
  template <auto Fn>
  Describe& operation(char const* name) {
    using S = detail::StaticFn<decltype(Fn)>;
    OperationDesc o;
    o.name = name;
    o.resultType = detail::typeNameOf<std::remove_cvref_t<typename S::Result>>();
    addParameterTypes(o, static_cast<typename S::Args*>(nullptr));
    o.call = [n = std::string(name)](std::vector<std::string> const& args) {
      return detail::callOperation<Fn>(n, args, std::make_index_sequence<S::arity>());
    };
    d_.operations.push_back(std::move(o));
    return *this;
  }
  // Value types: parse gives the canonical text of what it read.
  Describe& parsable() {
    d_.parse = [](std::string_view t) { return reflectText(reflectParse<T>(T::typeDataStatic().name(), t)); };
    return *this;
  }
  // Entities a directory can create: T(name).
  Describe& named() {
    d_.createNamed = [](std::string const& name) { return Ptr<Node>(new T(name)); };
    return *this;
  }
  Describe& creatable() {
    d_.create = [] { return Ptr<Node>(new T()); };
    return *this;
  }
  // Objects built from attribute texts: new T(a1, a2, ...), each argument the text of
  // the attribute described (with value<>() above) by that getter, parsed as the
  // getter's type. A payload's constructor takes what its accessors read.
  template <auto... Gets>
  Describe& constructor() {
    std::vector<std::string> names{getterName(&getterTag<Gets>)...};
    d_.createFrom = [names = std::move(names)](TypeDescription::AttributeTexts const& texts) -> Ptr<Node> {
      return [&]<size_t... I>(std::index_sequence<I...>) {
        TypeData const& type = T::typeDataStatic();
        // Braced: the attributes are read and parsed left to right.
        std::tuple<typename detail::AccessorOf<decltype(Gets)>::Result...> args{
            reflectParse<typename detail::AccessorOf<decltype(Gets)>::Result>(
                names[I], detail::attributeText(texts, type, names[I]))...};
        return Ptr<Node>(new T(std::get<I>(std::move(args))...));
      }(std::index_sequence_for<decltype(Gets)...>());
    };
    return *this;
  }
  TypeDescription done() { return std::move(d_); }

 private:
  static T const& self(Node const& n) { return static_cast<T const&>(n); }
  static T& mut(Node& n) { return static_cast<T&>(n); }
  template <class V>
  static std::string entryText(V const& v) {
    return detail::valueText(v);
  }
  AttributeDesc& add(char const* name, AttrKind kind, uint32_t id) {
    AttributeDesc& a = d_.attributes.emplace_back();
    a.name = name;
    a.kind = kind;
    a.id = id;
    return a;
  }
  template <class... A>
  static void addParameterTypes(OperationDesc& o, std::tuple<A...>*) {
    (o.parameterTypes.push_back(detail::typeNameOf<A>()), ...);
  }
  // One address per getter, so constructor<>() finds the names value<>() gave them.
  template <auto Get>
  static constexpr char getterTag = 0;
  std::string const& getterName(void const* tag) const {
    for (auto const& [t, name] : getters_) {
      if (t == tag) return name;
    }
    detail::constructorGetterUnknown(T::typeDataStatic().name());
  }
  TypeDescription d_;
  std::vector<std::pair<void const*, std::string>> getters_;
};

}  // namespace Corvane

namespace Corvane {

// The generic interface: any registered type's attributes, actions, operations and
// enumerations by name, in text forms. Every misuse raises ReflectionError; text that
// does not parse raises the type's ParseError or RangeError.
class CORVANE_API Reflect {
 public:
  // The type registered under `name`; ReflectionError "unknown type '<name>'".
  static TypeData const& type(std::string_view name);
  // The type's description (an empty one when it was registered without).
  static TypeDescription const& description(TypeData const& type);
  // The attribute of that name of the type or of a type it derives from;
  // ReflectionError "type <T> has no attribute '<a>'".
  static AttributeDesc const& attribute(TypeData const& type, std::string_view name);
  // Every attribute of the type, its parents' first.
  static std::vector<AttributeDesc const*> attributes(TypeData const& type);
  // The attribute whose changes are published under `id` (the number a subscriber's
  // dispatch receives), of the type or of a type it derives from; null when none
  // (always for 0, which no attribute publishes under).
  static AttributeDesc const* attributeById(TypeData const& type, uint32_t id);

  // A value or reference attribute's text; a collection's entries as "{k: v, ...}"
  // ("{k, ...}" for a set).
  static std::string read(Node const& node, std::string_view attr);
  // One collection entry's value text (empty for a set), nullopt when absent.
  static std::optional<std::string> read(Node const& node, std::string_view attr, std::string_view key);
  // Writes a settable attribute from text; "attribute <T>::<a> is read-only" otherwise.
  static void write(Node& node, std::string_view attr, std::string_view text);
  // Sets a reference attribute (null clears it).
  static void referenceWrite(Node& node, std::string_view attr, Ptr<Node> const& referent);
  // Collection entries by key text, through the entity's setters ("<T>::<a> is not a
  // collection"; "collection <T>::<a> has no <write> by key" for a write its setters
  // do not offer). A map of values or a set (value text ignored):
  static void write(Node& node, std::string_view attr, std::string_view key, std::string_view text);
  // A map of counted references (null deletes where the setter does).
  static void referenceWrite(Node& node, std::string_view attr, std::string_view key, Ptr<Node> const& referent);
  // An instantiating collection's child, created when absent.
  static Ptr<Node> childIs(Node& node, std::string_view attr, std::string_view key);
  // Deletes an entry; true when there was one.
  static bool entryDel(Node& node, std::string_view attr, std::string_view key);
  // An object of `type` built from its attributes' texts; "type <T> is not built from
  // attributes" when it has no constructor described.
  static Ptr<Node> createFrom(TypeData const& type, TypeDescription::AttributeTexts const& texts);
  // Runs an action; "<T>::<a> is not an action" for any other attribute.
  static void run(Node& node, std::string_view action);
  // Calls a static operation of a utility type with text arguments and answers its
  // result as text; "type <T> has no operation '<op>'", "<T>::<op> takes <n>
  // argument(s), <m> given".
  static std::string call(std::string_view type, std::string_view op, std::vector<std::string> const& args);
  // An enumeration's or value type's canonical text of `text`.
  static std::string parse(std::string_view type, std::string_view text);
  // No type of this library has a message serialisation; both refuse with the fixed
  // texts "Only value types support constructFromPbMessage" and "Only value types
  // support witePbMessage".
  static std::string constructFromPbMessage(std::string_view type, std::string_view message);
  static std::string writePbMessage(std::string_view type, std::string_view text);

  // The node as JSON text: {"type": ..., "name": ... (named entities), then each
  // attribute}: values as text, references as their referent's text, collections as
  // objects keyed by key text (sets as arrays), children of instantiating
  // collections nested. indent < 0 writes one line.
  static std::string json(Node const& node, int indent = 2);
};

}  // namespace Corvane
