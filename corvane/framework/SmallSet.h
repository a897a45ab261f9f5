// A set that keeps up to N keys inside itself and moves them to a HashSet only when
// it grows past N (and back when it shrinks to N again). The library makes one such
// set per interface (its TCAMs, its port maps), and most hold one to four keys.
//
// It behaves as a HashSet in every way a reader can see: iteration in increasing
// order of the keys' 64-bit hash, ties by key; lowerBound-style bookmarks
// (cursorAt); cursors that survive deletion of the key they stand on, and a change
// of form under them; a version counter that advances on every change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>

#include "corvane/framework/HashMap.h"

namespace Corvane {

template <class K, unsigned N, class H = Hasher<K>>
class SmallSet {
  static_assert(N >= 1 && N < 255, "between 1 and 254 keys inline");
  using Big = HashSet<K, H>;
  static constexpr uint8_t bigForm = 255;

  static uint64_t hashOf(K const& k) noexcept { return detail::tableHash(H{}(k)); }
  static bool less(uint64_t ha, K const& a, uint64_t hb, K const& b) noexcept {
    return ha < hb || (ha == hb && a < b);
  }

 public:
  using key_type = K;
  // Its large form is a pointer: with keys that are plain bytes, a table may move
  // it as bytes.
  using TriviallyRelocatable = std::conditional_t<std::is_trivially_copyable_v<K>, void, SmallSet>;

  class const_iterator {
   public:
    using value_type = K;
    using reference = K const&;
    using pointer = K const*;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::forward_iterator_tag;

    const_iterator() = default;
    reference operator*() const { return p_ ? *p_ : *it_; }
    pointer operator->() const { return &**this; }
    const_iterator& operator++() {
      if (p_) {
        ++p_;
      } else {
        ++it_;
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator r = *this;
      ++*this;
      return r;
    }
    friend bool operator==(const_iterator const& a, const_iterator const& b) { return a.p_ == b.p_ && a.it_ == b.it_; }

   private:
    friend class SmallSet;
    K const* p_ = nullptr;  // inline form
    typename Big::const_iterator it_{};
  };

  // A position that finds its place again by key after any change. It only reads,
  // so a const set hands it out too.
  class Cursor {
   public:
    Cursor() = default;
    bool done() const noexcept { return done_; }
    K const& key() const noexcept { return key_; }
    void next() {
      if (done_) return;
      if (version_ == s_->version_ && big_ == s_->big()) {
        if (big_) {
          bc_.next();
          loadBig();
        } else {
          loadInline(pos_ + 1);
        }
      } else {
        seek(true);
      }
    }

   private:
    friend class SmallSet;
    Cursor(SmallSet const* s, K const* from) : s_(s) {
      if (from) {
        key_ = *from;
        hash_ = hashOf(key_);
        seek(false);
      } else {
        big_ = s_->big();
        version_ = s_->version_;
        if (big_) {
          bc_ = std::as_const(*s_->u_.big).cursor();
          loadBig();
        } else {
          loadInline(0);
        }
      }
    }
    // The first key at or after (strictlyAfter: after) the remembered one.
    void seek(bool strictlyAfter) {
      big_ = s_->big();
      version_ = s_->version_;
      if (big_) {
        bc_ = std::as_const(*s_->u_.big).cursorAt(key_);
        if (strictlyAfter && !bc_.done() && bc_.key() == key_) bc_.next();
        loadBig();
        return;
      }
      uint32_t i = 0;
      while (i < s_->n_) {
        K const& k = s_->u_.keys[i];
        uint64_t const h = hashOf(k);
        if (less(hash_, key_, h, k) || (!strictlyAfter && h == hash_ && k == key_)) break;
        ++i;
      }
      loadInline(i);
    }
    void loadInline(uint32_t i) {
      pos_ = i;
      done_ = i >= s_->n_;
      if (!done_) {
        key_ = s_->u_.keys[i];
        hash_ = hashOf(key_);
      }
    }
    void loadBig() {
      done_ = bc_.done();
      if (!done_) {
        key_ = bc_.key();
        hash_ = hashOf(key_);
      }
    }

    SmallSet const* s_ = nullptr;
    typename Big::ConstCursor bc_{};
    uint64_t version_ = 0;
    uint64_t hash_ = 0;
    K key_{};
    uint32_t pos_ = 0;
    bool big_ = false;
    bool done_ = true;
  };

  SmallSet() noexcept {}
  SmallSet(SmallSet const&) = delete;
  SmallSet& operator=(SmallSet const&) = delete;
  // Moving leaves the source empty (tables keep their sets by value).
  SmallSet(SmallSet&& o) noexcept : version_(o.version_ + 1) {
    take(o);
    o.n_ = 0;
    ++o.version_;
  }
  SmallSet& operator=(SmallSet&& o) noexcept {
    if (this != &o) {
      if (big()) delete u_.big;
      take(o);
      version_ = (version_ > o.version_ ? version_ : o.version_) + 1;
      o.n_ = 0;
      ++o.version_;
    }
    return *this;
  }
  ~SmallSet() {
    if (big()) delete u_.big;
  }

  size_t size() const noexcept { return big() ? u_.big->size() : n_; }
  bool empty() const noexcept { return size() == 0; }
  uint64_t version() const noexcept { return version_; }

  bool contains(K const& k) const noexcept {
    if (big()) return u_.big->contains(k);
    for (uint32_t i = 0; i < n_; ++i) {
      if (u_.keys[i] == k) return true;
    }
    return false;
  }

  const_iterator begin() const {
    const_iterator it;
    if (big()) {
      it.it_ = u_.big->begin();
    } else {
      it.p_ = u_.keys;
    }
    return it;
  }
  const_iterator end() const {
    const_iterator it;
    if (big()) {
      it.it_ = u_.big->end();
    } else {
      it.p_ = u_.keys + n_;
    }
    return it;
  }

  Cursor cursor() const { return Cursor(this, nullptr); }
  Cursor cursorAt(K const& k) const { return Cursor(this, &k); }

  // Adds k; returns whether it was absent.
  bool insert(K const& k) {
    if (big()) {
      if (!u_.big->insert(k)) return false;
      ++version_;
      return true;
    }
    uint64_t const h = hashOf(k);
    uint32_t at = 0;
    for (; at < n_; ++at) {
      K const& cur = u_.keys[at];
      if (cur == k) return false;
      if (less(h, k, hashOf(cur), cur)) break;
    }
    if (n_ == N) {
      // Past the inline room: every key to a table of its own, sized for them at
      // once rather than grown through every small size on the way.
      auto* b = new Big;
      try {
        b->reserve(N + 1);
        for (uint32_t i = 0; i < n_; ++i) b->insert(u_.keys[i]);
        b->insert(k);
      } catch (...) {
        delete b;
        throw;
      }
      u_.big = b;
      n_ = bigForm;
    } else {
      for (uint32_t i = n_; i > at; --i) u_.keys[i] = u_.keys[i - 1];
      u_.keys[at] = k;
      ++n_;
    }
    ++version_;
    return true;
  }

  // Room for n keys: past the inline room, an empty set takes the table they will
  // need at once. The keys and the version stay as they are.
  void reserve(size_t n) {
    if (n <= N) return;
    if (!big()) {
      if (n_ != 0) return;
      u_.big = new Big;
      n_ = bigForm;
    }
    u_.big->reserve(n);
  }

  bool erase(K const& k) {
    if (big()) {
      if (!u_.big->erase(k)) return false;
      ++version_;
      if (u_.big->size() <= N) toInline();
      return true;
    }
    for (uint32_t i = 0; i < n_; ++i) {
      if (u_.keys[i] == k) {
        for (uint32_t j = i + 1; j < n_; ++j) u_.keys[j - 1] = u_.keys[j];
        --n_;
        ++version_;
        return true;
      }
    }
    return false;
  }

  void clear() {
    if (empty()) return;
    if (big()) {
      delete u_.big;
      n_ = 0;
    } else {
      n_ = 0;
    }
    ++version_;
  }

  // Bytes held outside the set object itself.
  size_t bytesHeld() const noexcept { return big() ? sizeof(Big) + u_.big->bytesHeld() : 0; }

 private:
  bool big() const noexcept { return n_ == bigForm; }
  // Copies o's keys or table pointer (only what is in use: the rest is unset).
  void take(SmallSet const& o) noexcept {
    n_ = o.n_;
    if (o.big()) {
      u_.big = o.u_.big;
    } else {
      for (uint32_t i = 0; i < o.n_; ++i) u_.keys[i] = o.u_.keys[i];
    }
  }
  // Back inside: the table's order is the inline order.
  void toInline() noexcept {
    Big* b = u_.big;
    uint32_t i = 0;
    for (K const& k : *b) u_.keys[i++] = k;
    n_ = uint8_t(i);
    delete b;
  }

  union U {
    U() noexcept {}
    K keys[N];
    Big* big;
  } u_;
  static_assert(std::is_trivially_copyable_v<K>, "inline keys are copied as bytes");
  // One word for both: a set of four 8-byte keys takes 40 bytes, so that a table
  // entry of a 24-byte key and such a set (a group of ports) stays within 64 bytes
  // and in the table's own array. 2^56 changes do not wrap in a set's life.
  uint64_t version_ : 56 = 0;
  uint64_t n_ : 8 = 0;
};

}  // namespace Corvane
