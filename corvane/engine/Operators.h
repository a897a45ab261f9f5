// Pipeline operators: cache attributes and their change pairs, group-by collections
// in their three readings, filter and foreach traces, and integer ranges. An SM's
// pipeline is ordinary C++ over these; each operator traces what it does with the
// texts the SM gives it.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "corvane/engine/Output.h"
#include "corvane/engine/TraceText.h"
#include "corvane/framework/Errors.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/OrderedMap.h"
#include "corvane/framework/SmallSet.h"

namespace Corvane {

// One element of a change pair: the value (absent: nothing to do) and whether it is
// asserted (true) or retracted (false).
template <class V>
struct ChangeElement {
  std::optional<V> value;
  bool add;
};

template <class V>
struct ChangePair {
  ChangeElement<V> elements[2];
  ChangeElement<V> const* begin() const noexcept { return elements; }
  ChangeElement<V> const* end() const noexcept { return elements + 2; }
};

// Per-element trace of a flattening foreach.
template <class T>
void traceFlattening(Tr const& tr, T const& element) {
  tr(9, "Flattening element: {}", element);
}

// filter(x): false (and the failure traced) when the element has no value.
inline bool filterPass(Tr const& tr, bool present, char const* expression) {
  if (!present) tr(6, "filter( {} ) failed, terminating pipeline", expression);
  return present;
}

// What the caches and group-bys ask of their parameters. A key (of a cache row, of a
// group, or a group's member) is hashed and compared by the tables and printed by
// the traces; a cache's value is compared to tell a change and printed; the members
// of an ordered group are ordered as well.
template <class K>
concept OperatorKey = std::copyable<K> && std::equality_comparable<K> && fmt::is_formattable<K>::value &&
                      requires(K const& k) {
                        { hashValue(k) } -> std::convertible_to<uint64_t>;
                      };
template <class V>
concept OperatorValue = std::copyable<V> && std::equality_comparable<V> && fmt::is_formattable<V>::value;
template <class M>
concept OrderedMember = OperatorKey<M> && std::totally_ordered<M>;

namespace detail {
// A cache's lines and change pair, wherever it keeps the value: `old` is the value
// it held, store(v) keeps the new one, forget() drops it.
template <class K, class V, class Store, class Forget>
ChangePair<V> cacheUpdate(Tr const& tr, K const& k, std::optional<V> const& old, std::optional<V> const& newValue,
                          char const* foreachText, Store&& store, Forget&& forget) {
  tr(6, "Got value {} with key {} from cache", optText(old), k);
  if (newValue) {
    tr(6, "Inserting value {} with key {} into cache", *newValue, k);
    store(*newValue);
  } else {
    tr(6, "Deleting key {} from cache", k);
    forget();
  }
  tr.text(6, foreachText, 2);
  return ChangePair<V>{{{old != newValue ? old : std::nullopt, false}, {newValue, true}}};
}
}  // namespace detail

// cacheAttr<N>: the last value a pipeline saw per key.
template <OperatorKey K, OperatorValue V>
class Cache {
 public:
  std::optional<V> get(K const& k) const {
    V const* v = map_.find(k);
    return v ? std::optional<V>(*v) : std::nullopt;
  }
  size_t size() const noexcept { return map_.size(); }
  // Room for n keys (HashMap::reserve).
  void reserve(size_t n) { map_.reserve(n); }

  // Stores the new value and returns the change pair (old if different, false),
  // (new, true), tracing the cache and foreach lines with the program's text.
  ChangePair<V> update(Tr const& tr, K const& k, std::optional<V> const& newValue, char const* foreachText) {
    V* slot = map_.find(k);
    return detail::cacheUpdate(
        tr, k, slot ? std::optional<V>(*slot) : std::nullopt, newValue, foreachText,
        [&](V const& v) {
          if (slot) {
            *slot = v;
          } else {
            map_.assign(k, v);
          }
        },
        [&] {
          if (slot) map_.erase(k);
        });
  }

 private:
  HashMap<K, V> map_;

 public:
  size_t bytesHeld() const noexcept { return map_.bytesHeld(); }
};

namespace detail {
// A row of CacheRows: a value per column and a presence bit per column (bit I:
// column I holds a value). Values that copy as bytes sit side by side, those of the
// largest alignment first, with the presence bits in the byte after them, so that
// no padding falls between them: IntfTcamSm's row of an IntfId and two
// SystemTcamIds takes 16 bytes where a tuple and a flag took 32.
template <class... V>
class CacheRow {
  static constexpr size_t count = sizeof...(V);
  static constexpr std::array<size_t, count> sizes{sizeof(V)...};
  static constexpr std::array<size_t, count> aligns{alignof(V)...};
  static constexpr std::array<size_t, count> offsets = [] {
    std::array<size_t, count> order{};
    for (size_t i = 0; i < count; ++i) order[i] = i;
    for (size_t i = 1; i < count; ++i) {  // by falling alignment, columns in order among equals
      for (size_t j = i; j > 0 && aligns[order[j]] > aligns[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    }
    std::array<size_t, count> at{};
    size_t end = 0;
    for (size_t i : order) {
      end = (end + aligns[i] - 1) / aligns[i] * aligns[i];
      at[i] = end;
      end += sizes[i];
    }
    return at;
  }();
  static constexpr size_t presentAt = [] {
    size_t end = 0;
    for (size_t i = 0; i < count; ++i) end = std::max(end, offsets[i] + sizes[i]);
    return end;
  }();

 public:
  template <size_t I>
  using Value = std::tuple_element_t<I, std::tuple<V...>>;
  template <size_t I>
  Value<I> get() const noexcept {
    Value<I> v;
    std::memcpy(static_cast<void*>(&v), raw_ + offsets[I], sizeof v);
    return v;
  }
  template <size_t I>
  void set(Value<I> const& v) noexcept {
    std::memcpy(raw_ + offsets[I], static_cast<void const*>(&v), sizeof v);
  }
  uint8_t present() const noexcept { return raw_[presentAt]; }
  void presentIs(uint8_t bits) noexcept { raw_[presentAt] = bits; }

  // With fewer than 8 columns the presence byte's top bit is never set: a table of
  // rows marks its free slots there (see FreeMark).
  static constexpr size_t freeMarkAt = presentAt;
  static constexpr uint8_t freeMarkBit = count < 8 ? 0x80 : 0;

 private:
  alignas(V...) unsigned char raw_[presentAt + 1]{};
};

// The same for values that do not copy as bytes: a tuple and a flag.
template <class... V>
class CacheTupleRow {
 public:
  template <size_t I>
  using Value = std::tuple_element_t<I, std::tuple<V...>>;
  template <size_t I>
  Value<I> const& get() const noexcept {
    return std::get<I>(values_);
  }
  template <size_t I>
  void set(Value<I> const& v) {
    std::get<I>(values_) = v;
  }
  uint8_t present() const noexcept { return present_; }
  void presentIs(uint8_t bits) noexcept { present_ = bits; }

 private:
  std::tuple<V...> values_{};
  uint8_t present_ = 0;
};
}  // namespace detail

// Caches of one SM that share their key (the caches a pipeline keeps per port):
// one table row per key holds every cache's value, so they cost one table slot per
// key instead of one each. Each cache is a column with Cache's operations and traces.
template <OperatorKey K, OperatorValue... V>
class CacheRows {
  static_assert(sizeof...(V) <= 8, "one presence bit per column");
  using Row = std::conditional_t<(std::is_trivially_copyable_v<V> && ...), detail::CacheRow<V...>,
                                 detail::CacheTupleRow<V...>>;

 public:
  template <size_t I>
  class Column {
   public:
    using Value = std::tuple_element_t<I, std::tuple<V...>>;
    explicit Column(CacheRows& rows) noexcept : rows_(rows.rows_) {}

    std::optional<Value> get(K const& k) const {
      Row const* row = rows_.find(k);
      return row && (row->present() & bit) ? std::optional<Value>(row->template get<I>()) : std::nullopt;
    }

    // Whether an update to v would leave the column as it is (both absent included).
    bool holds(K const& k, std::optional<Value> const& v) const { return get(k) == v; }

    // As Cache::update.
    ChangePair<Value> update(Tr const& tr, K const& k, std::optional<Value> const& newValue, char const* foreachText) {
      Row* row = rows_.find(k);
      return detail::cacheUpdate(
          tr, k, row && (row->present() & bit) ? std::optional<Value>(row->template get<I>()) : std::nullopt,
          newValue, foreachText,
          [&](Value const& v) {
            if (!row) row = &rows_.insert(k).first->second;
            row->template set<I>(v);
            row->presentIs(uint8_t(row->present() | bit));
          },
          [&] {
            if (!row) return;
            row->presentIs(uint8_t(row->present() & ~bit));
            if (row->present() == 0) rows_.erase(k);
          });
    }

   private:
    static constexpr uint8_t bit = uint8_t(1u << I);
    HashMap<K, Row>& rows_;
  };

  size_t size() const noexcept { return rows_.size(); }
  // Room for n rows (HashMap::reserve).
  void reserve(size_t n) { rows_.reserve(n); }

  size_t bytesHeld() const noexcept { return rows_.bytesHeld(); }

 private:
  HashMap<K, Row> rows_;
};

template <class V>
void traceFlattening(Tr const& tr, ChangeElement<V> const& e) {
  if (tr.on(9)) tr(9, "Flattening element: {}", tupleText(optText(e.value), e.add));
}

namespace detail {
// The members of one group of an ordered group-by, smallest first, each with a value.
// Most groups have one member (a port map's interface, a port's LAG): it is kept in
// the group itself, and only a group of two or more holds an ordered map.
template <class M, class V>
class GroupMembers {
  static_assert(std::is_trivially_copyable_v<M> && std::is_trivially_copyable_v<V>);
  using Many = OrderedMap<M, V>;
  enum Form : uint8_t { none, one, many };

 public:
  // The member held inline is bytes, the map a pointer.
  using TriviallyRelocatable = void;

  // The form's byte comes first and holds 0 to 2: a table of groups marks its free
  // slots in its top bit (see FreeMark).
  static constexpr size_t freeMarkAt = 0;
  static constexpr uint8_t freeMarkBit = 0x80;

  GroupMembers() noexcept {}
  GroupMembers(GroupMembers&& o) noexcept : form_(std::exchange(o.form_, none)), u_(o.u_) {}
  GroupMembers& operator=(GroupMembers&& o) noexcept {
    if (this != &o) {
      release();
      u_ = o.u_;
      form_ = std::exchange(o.form_, none);
    }
    return *this;
  }
  ~GroupMembers() { release(); }

  bool empty() const noexcept { return form_ == none; }
  size_t size() const noexcept { return form_ == many ? u_.many->size() : size_t(form_); }
  // The smallest member's value; the group must not be empty.
  V const& firstValue() const noexcept { return form_ == one ? u_.one.v : u_.many->begin()->second; }
  M const& firstMember() const noexcept { return form_ == one ? u_.one.m : u_.many->begin()->first; }

  void assign(M const& m, V const& v) {
    if (form_ == none || (form_ == one && u_.one.m == m)) {
      u_.one = One{m, v};
      form_ = one;
    } else if (form_ == one) {
      auto map = std::make_unique<Many>();
      map->assign(u_.one.m, u_.one.v);
      map->assign(m, v);
      u_.many = map.release();
      form_ = many;
    } else {
      u_.many->assign(m, v);
    }
  }
  void erase(M const& m) {
    if (form_ == one) {
      if (u_.one.m == m) form_ = none;
    } else if (form_ == many && u_.many->erase(m) && u_.many->size() == 1) {
      One const last{u_.many->begin()->first, u_.many->begin()->second};
      release();
      u_.one = last;
      form_ = one;
    }
  }

  size_t bytesHeld() const noexcept { return form_ == many ? sizeof(Many) + u_.many->bytesHeld() : 0; }

 private:
  void release() noexcept {
    if (form_ == many) delete u_.many;
    form_ = none;
  }
  struct One {
    M m;
    [[no_unique_address]] V v;
  };
  union Storage {
    One one;
    Many* many;
  };
  Form form_ = none;
  Storage u_{};
};

// The same for members or values that do not copy as bytes: always the map.
template <class M, class V>
class GroupMembersMap {
 public:
  bool empty() const noexcept { return map_.empty(); }
  size_t size() const noexcept { return map_.size(); }
  V const& firstValue() const noexcept { return map_.begin()->second; }
  M const& firstMember() const noexcept { return map_.begin()->first; }
  void assign(M const& m, V const& v) { map_.assign(m, v); }
  void erase(M const& m) { map_.erase(m); }
  size_t bytesHeld() const noexcept { return map_.bytesHeld(); }

 private:
  OrderedMap<M, V> map_;
};
template <class M, class V>
using GroupOf = std::conditional_t<std::is_trivially_copyable_v<M> && std::is_trivially_copyable_v<V>,
                                   GroupMembers<M, V>, GroupMembersMap<M, V>>;

template <class GK, class Coll>
class GroupByBase {
 public:
  Coll const* group(GK const& gk) const { return groups_.find(gk); }
  // Bytes held by the groups' table and by groups grown out of their inline room.
  size_t bytesHeld() const noexcept {
    size_t n = groups_.bytesHeld();
    for (auto const& [gk, members] : groups_) n += members.bytesHeld();
    return n;
  }
  bool groupHas(GK const& gk) const { return groups_.contains(gk); }
  size_t size() const noexcept { return groups_.size(); }
  // Room for n groups (HashMap::reserve).
  void reserve(size_t n) { groups_.reserve(n); }

 protected:
  Coll& groupIs(GK const& gk) { return groups_.insert(gk).first->second; }
  // Deletes the group when its last member has gone.
  Coll const* groupSettle(GK const& gk, Coll& c) {
    if (!c.empty()) return &c;
    groups_.erase(gk);
    return nullptr;
  }
  HashMap<GK, Coll> groups_;
};

}  // namespace detail

// Group-by read as "does the group have members" (reference counting). A group
// (the member ports of one LAG on one TCAM) is usually small: four members are
// kept inline.
template <OperatorKey GK, OperatorKey M>
class GroupBySet : public detail::GroupByBase<GK, SmallSet<M, 4>> {
 public:
  // Returns whether the group has members afterwards.
  bool add(Tr const& tr, GK const& gk, M const& m) {
    auto& c = this->groupIs(gk);
    tr(6, "Inserting value {} with key {} into groupby collection with key {}", true, m, gk);
    c.insert(m);
    return true;
  }
  bool remove(Tr const& tr, GK const& gk, M const& m) {
    auto& c = this->groupIs(gk);
    tr(6, "Deleting key {} from groupby collection with key {}", m, gk);
    c.erase(m);
    return this->groupSettle(gk, c) != nullptr;
  }
};

// Group-by read as "the smallest member" (an ordered group).
template <OperatorKey GK, OrderedMember M>
class GroupBySmallest : public detail::GroupByBase<GK, detail::GroupOf<M, Unit>> {
 public:
  // Return the smallest member afterwards, absent when the group is gone.
  std::optional<M> add(Tr const& tr, GK const& gk, M const& m) {
    auto& c = this->groupIs(gk);
    tr(6, "Inserting value {} with key {} into groupby collection with key {}", true, m, gk);
    c.assign(m, Unit{});
    return c.firstMember();
  }
  std::optional<M> remove(Tr const& tr, GK const& gk, M const& m) {
    auto& c = this->groupIs(gk);
    tr(6, "Deleting key {} from groupby collection with key {}", m, gk);
    c.erase(m);
    auto const* g = this->groupSettle(gk, c);
    return g ? std::optional<M>(g->firstMember()) : std::nullopt;
  }
};

// Group-by whose members carry a value; read as the value of the first member in
// the group's order (the smallest member).
template <OperatorKey GK, OrderedMember M, OperatorValue V>
class GroupByFirstValue : public detail::GroupByBase<GK, detail::GroupOf<M, V>> {
 public:
  std::optional<V> add(Tr const& tr, GK const& gk, M const& m, V const& v) {
    auto& c = this->groupIs(gk);
    tr(6, "Inserting value {} with key {} into groupby collection with key {}", v, m, gk);
    c.assign(m, v);
    return c.firstValue();
  }
  std::optional<V> remove(Tr const& tr, GK const& gk, M const& m) {
    auto& c = this->groupIs(gk);
    tr(6, "Deleting key {} from groupby collection with key {}", m, gk);
    c.erase(m);
    auto const* g = this->groupSettle(gk, c);
    return g ? std::optional<V>(g->firstValue()) : std::nullopt;
  }
};

// Range(min, max): min, min + 1, ..., max - 1.
class CORVANE_API Range {
 public:
  Range(uint32_t min, uint32_t max);
  uint32_t min() const noexcept { return min_; }
  uint32_t max() const noexcept { return max_; }
  uint32_t size() const noexcept { return max_ - min_; }

 private:
  uint32_t min_, max_;
};

}  // namespace Corvane
