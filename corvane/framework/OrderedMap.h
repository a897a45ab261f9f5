// Ordered collections (smallest key first), with the same version counter, bookmark
// lookup and deletion-proof cursor as HashMap. Used where the order of keys matters
// to the result (the smallest member of a group) or for small sorted sets.
#pragma once

#include <cstdint>
#include <map>
#include <type_traits>
#include <utility>

#include "corvane/framework/HashMap.h"

namespace Corvane {

template <class K, class V>
class OrderedMap {
  using Map = std::map<K, V>;

 public:
  using iterator = typename Map::iterator;
  using const_iterator = typename Map::const_iterator;

  // A cursor of a const map reads only.
  template <bool Const>
  class BasicCursor {
    using Owner = std::conditional_t<Const, OrderedMap const, OrderedMap>;
    using It = std::conditional_t<Const, const_iterator, iterator>;
    using EntryT = std::conditional_t<Const, std::pair<K const, V> const, std::pair<K const, V>>;

   public:
    BasicCursor() = default;
    BasicCursor(Owner* m, It it) : m_(m) { load(it); }
    bool done() const { return !m_ || it_ == m_->map_.end(); }
    K const& key() const { return key_; }
    EntryT* entry() {
      if (done() || stale_) return nullptr;
      if (version_ != m_->version_) {
        version_ = m_->version_;
        it_ = m_->map_.find(key_);
        if (it_ == m_->map_.end()) {
          it_ = m_->map_.upper_bound(key_);
          stale_ = true;
          return nullptr;
        }
      }
      return &*it_;
    }
    void next() {
      if (done()) return;
      if (stale_ || version_ != m_->version_) {
        load(m_->map_.upper_bound(key_));
      } else {
        load(std::next(it_));
      }
    }

   private:
    void load(It it) {
      it_ = it;
      stale_ = false;
      version_ = m_->version_;
      if (it_ != m_->map_.end()) key_ = it_->first;
    }
    Owner* m_ = nullptr;
    It it_;
    uint64_t version_ = 0;
    K key_{};
    bool stale_ = false;
  };
  using Cursor = BasicCursor<false>;
  using ConstCursor = BasicCursor<true>;

  size_t size() const noexcept { return map_.size(); }
  bool empty() const noexcept { return map_.empty(); }
  // Approximate bytes held: one tree node (three links and a colour) per entry.
  size_t bytesHeld() const noexcept { return map_.size() * (sizeof(typename Map::value_type) + 4 * sizeof(void*)); }
  uint64_t version() const noexcept { return version_; }

  iterator begin() { return map_.begin(); }
  iterator end() { return map_.end(); }
  const_iterator begin() const { return map_.begin(); }
  const_iterator end() const { return map_.end(); }
  iterator lowerBound(K const& k) { return map_.lower_bound(k); }
  const_iterator lowerBound(K const& k) const { return map_.lower_bound(k); }
  Cursor cursor() { return Cursor(this, map_.begin()); }
  Cursor cursorAt(K const& k) { return Cursor(this, map_.lower_bound(k)); }
  ConstCursor cursor() const { return ConstCursor(this, map_.begin()); }
  ConstCursor cursorAt(K const& k) const { return ConstCursor(this, map_.lower_bound(k)); }

  V* find(K const& k) {
    auto it = map_.find(k);
    return it == map_.end() ? nullptr : &it->second;
  }
  V const* find(K const& k) const {
    auto it = map_.find(k);
    return it == map_.end() ? nullptr : &it->second;
  }
  bool contains(K const& k) const { return map_.count(k) != 0; }

  template <class U = V>
  std::pair<V*, bool> insert(K const& k, U&& v = U()) {
    auto [it, inserted] = map_.try_emplace(k, std::forward<U>(v));
    if (inserted) ++version_;
    return {&it->second, inserted};
  }
  template <class U>
  AssignResult assign(K const& k, U&& v, V* previous = nullptr) {
    auto [it, inserted] = map_.try_emplace(k, v);
    if (inserted) {
      ++version_;
      return AssignResult::inserted;
    }
    if (it->second == v) return AssignResult::unchanged;
    if (previous) {
      *previous = std::exchange(it->second, std::forward<U>(v));
    } else {
      it->second = std::forward<U>(v);
    }
    ++version_;
    return AssignResult::replaced;
  }
  bool erase(K const& k, V* removed = nullptr) {
    auto it = map_.find(k);
    if (it == map_.end()) return false;
    if (removed) *removed = std::move(it->second);
    map_.erase(it);
    ++version_;
    return true;
  }
  void clear() {
    if (map_.empty()) return;
    map_.clear();
    ++version_;
  }
  void touch() noexcept { ++version_; }

 private:
  Map map_;
  uint64_t version_ = 0;
};

// Ordered set: an OrderedMap to Unit whose iteration yields keys.
template <class K>
class OrderedSet {
  using Map = OrderedMap<K, Unit>;

 public:
  class const_iterator {
   public:
    using Inner = typename Map::const_iterator;
    const_iterator() = default;
    explicit const_iterator(Inner i) : i_(i) {}
    K const& operator*() const { return i_->first; }
    K const* operator->() const { return &i_->first; }
    const_iterator& operator++() {
      ++i_;
      return *this;
    }
    friend bool operator==(const_iterator const& a, const_iterator const& b) { return a.i_ == b.i_; }

   private:
    Inner i_;
  };

  size_t size() const noexcept { return m_.size(); }
  bool empty() const noexcept { return m_.empty(); }
  size_t bytesHeld() const noexcept { return m_.bytesHeld(); }
  uint64_t version() const noexcept { return m_.version(); }
  const_iterator begin() const { return const_iterator(m_.begin()); }
  const_iterator end() const { return const_iterator(m_.end()); }
  const_iterator lowerBound(K const& k) const { return const_iterator(m_.lowerBound(k)); }
  bool contains(K const& k) const { return m_.contains(k); }
  bool insert(K const& k) { return m_.insert(k, Unit{}).second; }
  bool erase(K const& k) { return m_.erase(k); }
  void clear() { m_.clear(); }
  typename Map::ConstCursor cursor() const { return m_.cursor(); }
  typename Map::ConstCursor cursorAt(K const& k) const { return m_.cursorAt(k); }

 private:
  Map m_;
};

}  // namespace Corvane
