// Input declarations. A state machine states each of its inputs once, as a type:
// the collection it reads, the names its traces and tasks carry, and for every scan
// the stream it feeds and the entry of the root it calls. The input templates of
// InputSm.h derive scan flags, dispatch and trace labels from that one type.
//
//   struct Sm::VeltStatusSm0
//       : ValueInput<"VeltStatusSm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId,
//                    "intfIdToSystemTcamId",
//                    Feed<0, "handleIntfIdToSystemTcamId0", "strm_stream0", &Sm::eventToStrm_stream0>,
//                    Feed<2, "handleIntfIdToSystemTcamId2", "strm_pipeline1", &Sm::eventToStrm_pipeline1>> {};
//
//   struct Sm::LagConfigSm1
//       : EntityInput<"LagConfigSm1", attribute(&Lag::Config::phyIntf), Lag::Config::attrPhyIntf, "phyIntf",
//                     Feed<1, "handlePhyIntf1", "strm_stream1">,
//                     FollowAttr<"PhyIntfSm2", attribute(&EthPhyIntfLagConfig::lagIntfId),
//                                EthPhyIntfLagConfig::attrLag, "handleLag1", &Sm::eventToStrm_stream1>> {};
//
// A collection is read through a member function of its entity, named with
// attribute() (entities also have a lookup of the same name), or a function of the
// entity. A stream is named as the root's declaration lists it (SmStreams, below); its
// index is its place there. An entry takes the key alone (a key-only stream) or the
// key and the value, absent when the key went: entry(key) or entry(key, optional
// value); a follower's entry gets its element's key first. Each declaration is
// checked when an input is made of it, and a mistake names the part that does not fit.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

#include "corvane/framework/Reflection.h"

namespace Corvane {

// A text given as a template argument: a class or handler name.
template <size_t N>
struct Name {
  char text[N]{};
  constexpr Name(char const (&s)[N]) noexcept {  // NOLINT(google-explicit-constructor)
    for (size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

namespace detail {

template <class M>
struct MemberOf {};
template <class C, class T>
struct MemberOf<T C::*> {
  using Class = C;
};

template <class T, class...>
struct FirstOf {
  using Type = T;
};

// The root an entry belongs to.
template <auto Entry>
using RootOf = typename MemberOf<std::remove_cv_t<decltype(Entry)>>::Class;

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// An attribute's value as the pipelines see it: an optional as it is, a reference
// absent when null.
template <class R>
struct OptionalOf {
  using Value = R;
  static std::optional<R> of(R&& r) { return r ? std::optional<R>(std::move(r)) : std::nullopt; }
};
template <class T>
struct OptionalOf<std::optional<T>> {
  using Value = T;
  static std::optional<T> of(std::optional<T>&& r) { return std::move(r); }
};

}  // namespace detail

// An accessor of a collection: a member function of the entity, or a function of
// it, returning a keyed collection.
template <auto Get>
concept CollectionAccessor = requires { typename detail::AccessorOf<decltype(Get)>::Entity; } &&
                             requires { typename detail::AccessorOf<decltype(Get)>::Result::key_type; };

// An accessor of one attribute: a member function of the entity returning an
// optional value or a nullable reference.
template <auto Get>
concept AttributeAccessor =
    requires { typename detail::AccessorOf<decltype(Get)>::Entity; } &&
    (detail::IsOptional<typename detail::AccessorOf<decltype(Get)>::Result>::value ||
     std::constructible_from<bool, typename detail::AccessorOf<decltype(Get)>::Result>);

namespace detail {

constexpr bool sameText(char const* a, char const* b) noexcept {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// Names numbered by their place in the list.
template <Name... Names>
struct NameList {
  static constexpr uint32_t count = sizeof...(Names);
  static constexpr char const* names[count + 1] = {Names.text..., nullptr};
  // The place of `name`, or count when it is not listed.
  static constexpr uint32_t find(char const* name) noexcept {
    uint32_t i = 0;
    while (i < count && !sameText(names[i], name)) ++i;
    return i;
  }
  template <Name N>
  static constexpr bool has = find(N.text) < count;
};

}  // namespace detail

// A machine's streams (the flags of InputSmScanState, in this order), and its
// pipeline entries (counted in statistics() by this number), each by its name.
template <Name... Names>
struct SmStreams : detail::NameList<Names...> {};
template <Name... Names>
struct SmPipelines : detail::NameList<Names...> {
  static_assert(sizeof...(Names) <= 4, "SmPipelines: at most 4 pipeline entries (RootSm::maxPipelines)");
};

// A stream a feed names: one of its root's declared Streams.
template <class Root, Name Stream>
concept StreamMember = requires { Root::Declaration::Streams::count; } &&
                       (Root::Declaration::Streams::find(Stream.text) < Root::Declaration::Streams::count);

// One scan of an input: the N of its doInputScanN and handler name, the stream it
// feeds, and the root's entry it calls (none on an input over entities: its
// followers call theirs).
template <uint8_t Number, Name Handler, Name Stream, auto Entry = nullptr>
  requires(std::is_null_pointer_v<decltype(Entry)> || std::is_member_function_pointer_v<decltype(Entry)>)
struct Feed {
  static_assert(Number < 10, "Feed: the scan number is the N of doInputScanN, 0 to 9");
  static constexpr uint8_t number = Number;
  static constexpr char const* handlerName = Handler.text;
  static constexpr char const* stream = Stream.text;
  static constexpr auto entry = Entry;

  // The stream's index in Root's declaration.
  template <class Root>
    requires StreamMember<Root, Stream>
  static constexpr int32_t flag() {
    return int32_t(Root::Declaration::Streams::find(Stream.text));
  }
};

// Calls an entry with what it takes: the keys, and the value (read through value())
// unless the entry is key-only, so a key-only stream never reads the value.
template <auto Entry, class Root, class GetValue, class... Keys>
void callEntry(Root& r, GetValue&& value, Keys const&... keys) {
  if constexpr (std::is_invocable_v<decltype(Entry), Root&, Keys const&...>) {
    (r.*Entry)(keys...);
  } else {
    static_assert(std::is_invocable_v<decltype(Entry), Root&, Keys const&..., decltype(value())>,
                  "the entry takes neither the keys alone nor the keys and the optional value");
    (r.*Entry)(keys..., value());
  }
}

// A keyed collection of values (or a set) of one entity, scanned once per Feed.
template <Name ClassName, auto Get, uint32_t AttrId, Name AttrName, class... Feeds>
  requires CollectionAccessor<Get> && (sizeof...(Feeds) >= 1 && sizeof...(Feeds) <= 2) &&
           (!std::is_null_pointer_v<decltype(Feeds::entry)> && ...)
struct ValueInput {
  using Root = detail::RootOf<detail::FirstOf<Feeds...>::Type::entry>;
  using Entity = typename detail::AccessorOf<decltype(Get)>::Entity;
  using Coll = typename detail::AccessorOf<decltype(Get)>::Result;
  static constexpr char const* className = ClassName.text;
  static constexpr char const* attrName = AttrName.text;
  static constexpr uint32_t attrId = AttrId;
  static constexpr uint8_t scanCount = sizeof...(Feeds);
  static constexpr uint8_t scanNumber[] = {Feeds::number...};
  static constexpr char const* handlerName[] = {Feeds::handlerName...};

  static Coll const& coll(Entity const& e) { return std::invoke(Get, e); }
  static int32_t flag(uint32_t scan) {
    int32_t f = -1;
    uint32_t i = 0;
    ((i++ == scan ? void(f = Feeds::template flag<Root>()) : void()), ...);
    return f;
  }
  // value() gives the key's optional value; it is read only for an entry that takes it.
  template <class Root, class Key, class GetValue>
  static void event(Root& r, uint32_t scan, Key const& k, GetValue&& value) {
    uint32_t i = 0;
    ((i++ == scan ? callEntry<Feeds::entry>(r, value, k) : void()), ...);
  }
};

// Follows one attribute of each element: entry(element key, optional value).
template <Name ClassName, auto Get, uint32_t AttrId, Name Handler, auto Entry>
  requires AttributeAccessor<Get> && std::is_member_function_pointer_v<decltype(Entry)>
struct FollowAttr {
  using Root = detail::RootOf<Entry>;
  using Entity = typename detail::AccessorOf<decltype(Get)>::Entity;
  using Value = typename detail::OptionalOf<typename detail::AccessorOf<decltype(Get)>::Result>::Value;
  static constexpr char const* className = ClassName.text;
  static constexpr uint32_t attrId = AttrId;
  static constexpr char const* handlerName = Handler.text;

  static std::optional<Value> value(Entity const& e) {
    return detail::OptionalOf<typename detail::AccessorOf<decltype(Get)>::Result>::of(std::invoke(Get, e));
  }
  template <class Root, class ParentKey>
  static void event(Root& r, ParentKey const& k, std::optional<Value> const& v) {
    callEntry<Entry>(r, [&]() -> auto const& { return v; }, k);
  }
};

// Follows a keyed collection of each element: entry(element key, key, optional value).
template <Name ClassName, auto Get, uint32_t AttrId, Name AttrName, Name Handler, auto Entry>
  requires CollectionAccessor<Get> && std::is_member_function_pointer_v<decltype(Entry)>
struct FollowColl {
  using Root = detail::RootOf<Entry>;
  using Entity = typename detail::AccessorOf<decltype(Get)>::Entity;
  using Coll = typename detail::AccessorOf<decltype(Get)>::Result;
  static constexpr char const* className = ClassName.text;
  static constexpr char const* attrName = AttrName.text;
  static constexpr uint32_t attrId = AttrId;
  static constexpr char const* handlerName = Handler.text;

  static Coll const& coll(Entity const& e) { return std::invoke(Get, e); }
  template <class Root, class ParentKey, class Key, class Value>
  static void event(Root& r, ParentKey const& pk, Key const& k, std::optional<Value> const& v) {
    callEntry<Entry>(r, [&]() -> auto const& { return v; }, pk, k);
  }
};

// A keyed collection of entities, each element followed as Follow declares.
template <Name ClassName, auto Get, uint32_t AttrId, Name AttrName, class FeedT, class Follow>
  requires CollectionAccessor<Get> && std::is_null_pointer_v<decltype(FeedT::entry)>
struct EntityInput {
  using Root = typename Follow::Root;
  using Entity = typename detail::AccessorOf<decltype(Get)>::Entity;
  using Coll = typename detail::AccessorOf<decltype(Get)>::Result;
  using Followed = Follow;
  static constexpr char const* className = ClassName.text;
  static constexpr char const* attrName = AttrName.text;
  static constexpr uint32_t attrId = AttrId;
  static constexpr uint8_t scanNumber = FeedT::number;
  static constexpr char const* handlerName = FeedT::handlerName;

  static Coll const& coll(Entity const& e) { return std::invoke(Get, e); }
  static int32_t flag() { return FeedT::template flag<Root>(); }
};

// What the input templates ask of a declaration. The messages of a failed check
// name the requirement that is not met.
template <class D>
concept ValueInputDeclaration = requires(typename D::Entity const& e) {
  { D::className } -> std::convertible_to<char const*>;
  { D::attrName } -> std::convertible_to<char const*>;
  { D::attrId } -> std::convertible_to<uint32_t>;
  { D::scanCount } -> std::convertible_to<uint8_t>;
  { D::coll(e) } -> std::same_as<typename D::Coll const&>;
};

template <class D>
concept EntityInputDeclaration = requires(typename D::Entity const& e) {
  typename D::Followed;
  { D::className } -> std::convertible_to<char const*>;
  { D::attrName } -> std::convertible_to<char const*>;
  { D::attrId } -> std::convertible_to<uint32_t>;
  { D::scanNumber } -> std::convertible_to<uint8_t>;
  { D::coll(e) } -> std::same_as<typename D::Coll const&>;
};

}  // namespace Corvane
