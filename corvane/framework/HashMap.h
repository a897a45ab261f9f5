// Keyed collections of the framework.
//
// HashMap/HashSet: chained hash tables whose iteration order is fixed and
// independent of the table's size: entries come in increasing order of their
// 64-bit hash, ties broken by key order. Buckets are indexed by the top bits of the
// hash, so growing the table never reorders entries. That order is what makes
// bookmarks work: lowerBound(key) finds the first entry at or after any key, present
// or not, and a Cursor standing on an entry that gets deleted continues with the
// next one. Every change (insert, replace, delete) advances version().
//
// A large table grows without a pause: the doubled bucket array comes in at once,
// but the old buckets move into it a few at a time, at each later insert or erase,
// so no single operation does work proportional to the table. Until they have all
// moved, a key is looked for in the old bucket or in the new pair it splits into,
// whichever holds it; the iteration order is the same either way.
//
// Entries live in a per-collection pool: deleting and re-inserting keys reuses
// storage without touching the allocator. Most tables of the library hold one or
// two entries (the TCAMs or port maps of one interface), so the first allocation
// carries the one-bucket array and the first slot together, and the table object
// itself is kept small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "corvane/framework/Export.h"
#include "corvane/framework/Errors.h"
#include "corvane/framework/Hash.h"

namespace Corvane {

// Value of a set's entries and of the empty type in traces.
struct Unit {
  friend constexpr bool operator==(Unit, Unit) noexcept { return true; }
  friend constexpr auto operator<=>(Unit, Unit) noexcept { return std::strong_ordering::equal; }
};

enum class AssignResult : uint8_t { unchanged, inserted, replaced };

// One map entry; binds as `auto const& [key, value]`.
template <class K, class V>
struct MapEntry {
  K first;
  [[no_unique_address]] V second;
};

namespace detail {

template <class K, class V, class H, bool IsSet>
class HashTable {
 public:
  using Entry = MapEntry<K, V>;
  using key_type = K;
  using mapped_type = V;

 private:
  struct Slot {
    Slot* next;
    uint64_t hash;
    Entry e;
  };
  struct ChunkHeader {
    ChunkHeader* next;
  };
  static constexpr size_t roundToSlot(size_t n) { return (n + alignof(Slot) - 1) / alignof(Slot) * alignof(Slot); }
  static constexpr size_t chunkOffset = roundToSlot(sizeof(ChunkHeader));
  // The first block: chunk header, the one-bucket array, then one slot.
  static constexpr size_t firstSlotOffset = roundToSlot(sizeof(ChunkHeader) + sizeof(Slot*));
  // Linking a new chunk's slots touches all of its memory at once, which the
  // kernel supplies page by page: chunks stay a few pages long, so the insert that
  // adds one does not stall (with chunks of 1,024 slots it took tens of page faults).
  static constexpr uint32_t maxChunkSlots = 64;
  // Tables of this many buckets or more grow step by step, this many old buckets a step.
  static constexpr uint32_t incrementalFrom = 2048;
  static constexpr uint32_t bucketsPerStep = 16;

  static bool slotLess(uint64_t ha, K const& ka, uint64_t hb, K const& kb) {
    return ha < hb || (ha == hb && ka < kb);
  }

 public:
  template <bool Const>
  class Iter {
   public:
    using TablePtr = std::conditional_t<Const, HashTable const*, HashTable*>;
    using value_type = std::conditional_t<IsSet, K, Entry>;
    using reference = std::conditional_t<IsSet, K const&, std::conditional_t<Const, Entry const&, Entry&>>;
    using pointer = std::remove_reference_t<reference>*;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::forward_iterator_tag;

    Iter() = default;
    Iter(TablePtr t, uint32_t b, Slot* s) : t_(t), b_(b), s_(s) {}
    template <bool C2>
      requires(Const && !C2)
    Iter(Iter<C2> const& o) : t_(o.t_), b_(o.b_), s_(o.s_) {}

    reference operator*() const {
      CORVANE_ASSERT(s_, "HashMap: an iterator at end() dereferenced");
      if constexpr (IsSet) {
        return s_->e.first;
      } else {
        return s_->e;
      }
    }
    pointer operator->() const { return &**this; }
    Iter& operator++() {
      CORVANE_ASSERT(s_, "HashMap: an iterator at end() advanced");
      s_ = s_->next;
      if (!s_) t_->firstFrom(b_ + 1, b_, s_);
      return *this;
    }
    Iter operator++(int) {
      Iter r = *this;
      ++*this;
      return r;
    }
    friend bool operator==(Iter const& a, Iter const& b) { return a.s_ == b.s_; }

    Entry* entry() const { return s_ ? &s_->e : nullptr; }
    uint64_t hash() const {
      CORVANE_ASSERT(s_, "HashMap: the hash of an iterator at end() read");
      return s_->hash;
    }

   private:
    friend class HashTable;
    template <bool>
    friend class Iter;
    TablePtr t_ = nullptr;
    uint32_t b_ = 0;
    Slot* s_ = nullptr;
  };
  using iterator = Iter<false>;
  using const_iterator = Iter<true>;

  // A position that survives changes of the collection: after any change it finds
  // its place again by key (the entry it stood on, or the next one).
  class Cursor {
   public:
    Cursor() = default;
    Cursor(HashTable* t, iterator it) : t_(t) { load(it); }

    bool done() const { return !it_.s_; }
    K const& key() const { return key_; }
    // The entry under the cursor, or null when it was deleted after the cursor got there.
    Entry* entry() {
      if (!it_.s_ || stale_) return nullptr;
      if (version_ != t_->version_) {
        version_ = t_->version_;
        Entry* e = t_->findSlot(hash_, key_);
        if (!e) {
          stale_ = true;  // next() continues after the key
          return nullptr;
        }
        it_ = t_->seek(hash_, key_, false);
      }
      return &it_.s_->e;
    }
    void next() {
      if (!it_.s_) return;
      if (stale_ || version_ != t_->version_) {
        load(t_->seek(hash_, key_, true));
      } else {
        load(++it_);
      }
    }

   private:
    void load(iterator it) {
      it_ = it;
      stale_ = false;
      version_ = t_->version_;
      if (it_.s_) {
        key_ = it_.s_->e.first;
        hash_ = it_.s_->hash;
      }
    }
    HashTable* t_ = nullptr;
    iterator it_;
    uint64_t version_ = 0;
    uint64_t hash_ = 0;
    K key_{};
    bool stale_ = false;
  };

  HashTable() = default;
  HashTable(HashTable const& o) : hasher_(o.hasher_) {
    for (Slot* s : o.slotsInOrder()) insertSlot(s->hash, s->e.first, s->e.second);
  }
  HashTable(HashTable&& o) noexcept { swap(o); }
  HashTable& operator=(HashTable const& o) {
    if (this != &o) HashTable(o).swap(*this);
    return *this;
  }
  HashTable& operator=(HashTable&& o) noexcept {
    HashTable(std::move(o)).swap(*this);
    return *this;
  }
  ~HashTable() {
    destroyAll();
    if (migrating_) ::operator delete(oldBuckets());
    if (nBuckets_ > 1) ::operator delete(buckets_);  // one bucket lives in the first block
    for (ChunkHeader* c = chunks_; c;) {
      ChunkHeader* n = c->next;
      ::operator delete(c);
      c = n;
    }
  }
  // Both sides count the swap as a change, with a version neither has shown before,
  // so no cursor on either side mistakes the new content for the old.
  void swap(HashTable& o) noexcept {
    std::swap(buckets_, o.buckets_);
    std::swap(nBuckets_, o.nBuckets_);
    std::swap(shift_, o.shift_);
    std::swap(size_, o.size_);
    std::swap(free_, o.free_);
    std::swap(chunks_, o.chunks_);
    std::swap(nextChunk_, o.nextChunk_);
    std::swap(slotCapacity_, o.slotCapacity_);
    std::swap(hasher_, o.hasher_);
    std::swap(migrating_, o.migrating_);
    uint64_t v = (version_ > o.version_ ? version_ : o.version_) + 1;
    version_ = o.version_ = v;
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  uint64_t version() const noexcept { return version_; }
  uint64_t hashOf(K const& k) const noexcept { return hasher_(k); }

  iterator begin() {
    iterator it(this, 0, nullptr);
    firstFrom(0, it.b_, it.s_);
    return it;
  }
  iterator end() { return iterator(this, nBuckets_, nullptr); }
  const_iterator begin() const {
    const_iterator it(this, 0, nullptr);
    firstFrom(0, it.b_, it.s_);
    return it;
  }
  const_iterator end() const { return const_iterator(this, nBuckets_, nullptr); }

  // First entry at or after `k` in iteration order (k need not be present).
  iterator lowerBound(K const& k) { return seek(hasher_(k), k, false); }
  const_iterator lowerBound(K const& k) const {
    return const_cast<HashTable*>(this)->seek(hasher_(k), k, false);
  }
  // First entry strictly after `k`.
  iterator upperBound(K const& k) { return seek(hasher_(k), k, true); }

  Cursor cursor() { return Cursor(this, begin()); }
  Cursor cursorAt(K const& k) { return Cursor(this, lowerBound(k)); }

  Entry* findEntry(K const& k) noexcept { return findSlot(hasher_(k), k); }
  Entry const* findEntry(K const& k) const noexcept {
    return const_cast<HashTable*>(this)->findSlot(hasher_(k), k);
  }
  bool contains(K const& k) const noexcept { return findEntry(k) != nullptr; }

  iterator find(K const& k) {
    uint64_t h = hasher_(k);
    iterator it = seek(h, k, false);
    return (it.s_ && it.s_->hash == h && it.s_->e.first == k) ? it : end();
  }
  const_iterator find(K const& k) const { return const_cast<HashTable*>(this)->find(k); }

  // Inserts (k, v) if k is absent. Returns the entry and whether it was inserted.
  template <class U = V>
  std::pair<Entry*, bool> insert(K const& k, U&& v = U()) {
    uint64_t h = hasher_(k);
    Slot** link = linkFor(h, k);
    if (*link && (*link)->hash == h && (*link)->e.first == k) return {&(*link)->e, false};
    return {&linkNew(link, h, k, std::forward<U>(v))->e, true};
  }

  // Inserts or replaces. An equal value already stored changes nothing (no version
  // step). On replace, the old value is moved into *previous when given.
  template <class U>
  AssignResult assign(K const& k, U&& v, V* previous = nullptr) {
    uint64_t h = hasher_(k);
    Slot** link = linkFor(h, k);
    if (*link && (*link)->hash == h && (*link)->e.first == k) {
      V& cur = (*link)->e.second;
      if (cur == v) return AssignResult::unchanged;
      if (previous) {
        *previous = std::exchange(cur, std::forward<U>(v));
      } else {
        cur = std::forward<U>(v);
      }
      ++version_;
      return AssignResult::replaced;
    }
    linkNew(link, h, k, std::forward<U>(v));
    return AssignResult::inserted;
  }

  // Marks an in-place change of a value (through findEntry) as a change.
  void touch() noexcept { ++version_; }

  // Removes k; its value is moved into *removed when given. Returns whether k was present.
  bool erase(K const& k, V* removed = nullptr) {
    uint64_t h = hasher_(k);
    if (!buckets_) return false;
    Slot** link = linkFor(h, k);
    Slot* s = *link;
    if (!s || s->hash != h || !(s->e.first == k)) return false;
    if (removed) *removed = std::move(s->e.second);
    *link = s->next;
    freeSlot(s);
    --size_;
    ++version_;
    if (migrating_) migrateSome();
    return true;
  }

  void clear() {
    if (size_ == 0) return;
    while (migrating_) migrateSome();
    destroyAll();
    std::memset(static_cast<void*>(buckets_), 0, sizeof(Slot*) * nBuckets_);
    size_ = 0;
    ++version_;
  }

  // The bytes held from the allocator (first block, bucket arrays, slot chunks), for
  // memory accounting.
  size_t bytesHeld() const noexcept {
    if (nBuckets_ == 0) return 0;
    // Chunks after the first hold 2, 4, ... maxChunkSlots slots, then maxChunkSlots each.
    size_t chunks = 1;
    for (size_t cap = 1, n = 2; cap < slotCapacity_; cap += n, n = n < maxChunkSlots ? n * 2 : n) ++chunks;
    size_t const buckets = nBuckets_ > 1 ? sizeof(Slot*) * (nBuckets_ + (migrating_ ? 2 + nBuckets_ / 2 : 0)) : 0;
    return firstSlotOffset + buckets + size_t(slotCapacity_) * sizeof(Slot) + (chunks - 1) * chunkOffset;
  }

 private:
  template <bool>
  friend class Iter;

  uint32_t bucketOf(uint64_t h) const noexcept {
    return static_cast<uint32_t>((h >> 1) >> (shift_ - 1));
  }

  // Leaves (b, s) on the first slot of bucket `from` or later, or at end.
  void firstFrom(uint32_t from, uint32_t& b, Slot*& s) const noexcept {
    for (b = from; b < nBuckets_; ++b) {
      if (Slot* head = headAt(b)) {
        s = head;
        return;
      }
    }
    s = nullptr;
  }

  // While the old buckets move, the new array holds two more words: the old array
  // and how many of its buckets have moved. Old bucket i becomes new buckets 2i and
  // 2i+1; until it has moved, its chain stands for both (the odd one reads empty).
  Slot** oldBuckets() const noexcept { return reinterpret_cast<Slot**>(buckets_[nBuckets_]); }
  uint32_t moved() const noexcept {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buckets_[nBuckets_ + 1]));
  }
  // The first slot of bucket b (of the new array's numbering).
  Slot* headAt(uint32_t b) const noexcept {
    if (CORVANE_LIKELY(!migrating_) || (b >> 1) < moved()) return buckets_[b];
    return (b & 1) ? nullptr : oldBuckets()[b >> 1];
  }
  // The link that heads the chain holding hash h.
  Slot** chainFor(uint64_t h) const noexcept {
    uint32_t const b = bucketOf(h);
    if (CORVANE_LIKELY(!migrating_) || (b >> 1) < moved()) return &buckets_[b];
    return &oldBuckets()[b >> 1];
  }

  // The link that points at the first slot not below (h, k), in h's bucket.
  Slot** linkFor(uint64_t h, K const& k) {
    if (!buckets_) grow();
    Slot** link = chainFor(h);
    while (*link && slotLess((*link)->hash, (*link)->e.first, h, k)) link = &(*link)->next;
    return link;
  }

  iterator seek(uint64_t h, K const& k, bool strictlyAfter) {
    if (!buckets_) return end();
    uint32_t b = bucketOf(h);
    if (migrating_ && (b >> 1) >= moved()) b &= ~1u;  // the old chain covers both halves
    Slot* s = headAt(b);
    while (s && (slotLess(s->hash, s->e.first, h, k) ||
                 (strictlyAfter && s->hash == h && s->e.first == k))) {
      s = s->next;
    }
    if (!s) firstFrom(b + 1, b, s);
    return iterator(this, b, s);
  }

  Entry* findSlot(uint64_t h, K const& k) noexcept {
    if (!buckets_) return nullptr;
    for (Slot* s = *chainFor(h); s; s = s->next) {
      if (s->hash == h) {
        if (s->e.first == k) return &s->e;
      } else if (s->hash > h) {
        break;
      }
    }
    return nullptr;
  }

  template <class U>
  Slot* linkNew(Slot** link, uint64_t h, K const& k, U&& v) {
    Slot* s = allocSlot();
    ::new (static_cast<void*>(&s->e)) Entry{k, V(std::forward<U>(v))};
    s->hash = h;
    s->next = *link;
    *link = s;
    ++size_;
    ++version_;
    // The entry is in: if the bucket array cannot grow now, the table stays
    // correct with longer chains, and a later insert tries again.
    if (migrating_) {
      migrateSome();
    } else if (size_ > nBuckets_) {
      try {
        grow();
      } catch (std::bad_alloc const&) {
      }
    }
    return s;
  }

  void insertSlot(uint64_t h, K const& k, V const& v) { linkNew(linkFor(h, k), h, k, v); }

  Slot* allocSlot() {
    if (!free_) addChunk();
    Slot* s = free_;
    free_ = *reinterpret_cast<Slot**>(s);
    return s;
  }
  void freeSlot(Slot* s) noexcept {
    s->e.~Entry();
    *reinterpret_cast<Slot**>(s) = free_;
    free_ = s;
  }
  void addChunk() {
    uint32_t n = nextChunk_;
    auto* raw = static_cast<unsigned char*>(::operator new(chunkOffset + n * sizeof(Slot)));
    chunkLink(raw, reinterpret_cast<Slot*>(raw + chunkOffset), n);
  }
  // Puts a chunk of n slots on the chunk list and the slots on the free list.
  void chunkLink(unsigned char* raw, Slot* slots, uint32_t n) noexcept {
    auto* hdr = reinterpret_cast<ChunkHeader*>(raw);
    hdr->next = chunks_;
    chunks_ = hdr;
    for (uint32_t i = n; i-- > 0;) {
      *reinterpret_cast<Slot**>(&slots[i]) = free_;
      free_ = &slots[i];
    }
    slotCapacity_ += n;
    if (nextChunk_ < maxChunkSlots) nextChunk_ = uint16_t(nextChunk_ * 2);
  }

  void destroyAll() noexcept {
    for (uint32_t b = 0; b < nBuckets_; ++b) {
      for (Slot* s = headAt(b); s;) {
        Slot* n = s->next;
        freeSlot(s);
        s = n;
      }
    }
  }

  // Doubles the bucket array. Buckets split in place: bucket i becomes 2i and 2i+1
  // and every chain keeps its order.
  void grow() {
    if (nBuckets_ == 0) {
      // One allocation for the chunk header, the one-bucket array and the first slot.
      auto* raw = static_cast<unsigned char*>(::operator new(firstSlotOffset + sizeof(Slot)));
      buckets_ = reinterpret_cast<Slot**>(raw + sizeof(ChunkHeader));
      buckets_[0] = nullptr;
      nBuckets_ = 1;
      chunkLink(raw, reinterpret_cast<Slot*>(raw + firstSlotOffset), 1);
      return;
    }
    // insert() grows the table only when no migration is under way.
    if (migrating_) fatalInternalError("HashMap: the table doubles before its last migration ended");
    uint32_t const nb = nBuckets_ * 2;
    if (nBuckets_ < incrementalFrom) {
      // A small table splits every bucket at once. Clearing the new array first
      // and ending each moved slot's chain as it goes measured faster here than
      // split(), whose stores land on memory not yet in the cache.
      Slot** nbk = static_cast<Slot**>(::operator new(sizeof(Slot*) * nb));
      std::memset(static_cast<void*>(nbk), 0, sizeof(Slot*) * nb);
      uint32_t const newShift = shift_ - 1u;
      for (uint32_t b = 0; b < nBuckets_; ++b) {
        Slot** tail[2] = {&nbk[2 * b], &nbk[2 * b + 1]};
        for (Slot* s = buckets_[b]; s;) {
          Slot* n = s->next;
          uint32_t to = static_cast<uint32_t>((s->hash >> 1) >> (newShift - 1)) - 2 * b;
          *tail[to] = s;
          tail[to] = &s->next;
          s->next = nullptr;
          s = n;
        }
      }
      if (nBuckets_ > 1) ::operator delete(buckets_);
      buckets_ = nbk;
    } else {
      // Two more words hold the old array and how many of its buckets have moved;
      // the new buckets are written as their old one moves, so nothing is cleared now.
      Slot** nbk = static_cast<Slot**>(::operator new(sizeof(Slot*) * (nb + 2)));
      nbk[nb] = reinterpret_cast<Slot*>(buckets_);
      nbk[nb + 1] = nullptr;
      buckets_ = nbk;
      migrating_ = true;
    }
    nBuckets_ = nb;
    shift_ = uint8_t(shift_ - 1u);
  }

  // Splits old bucket b's chain into new buckets 2b and 2b+1 (numbered with
  // `newShift`); both chains keep their order.
  static void split(Slot* chain, Slot** nbk, uint32_t b, uint32_t newShift) noexcept {
    Slot** tail[2] = {&nbk[2 * b], &nbk[2 * b + 1]};
    for (Slot* s = chain; s;) {
      Slot* n = s->next;
      uint32_t to = static_cast<uint32_t>((s->hash >> 1) >> (newShift - 1)) - 2 * b;
      *tail[to] = s;
      tail[to] = &s->next;
      s = n;
    }
    *tail[0] = nullptr;
    *tail[1] = nullptr;
  }

  // Moves the next few old buckets; the last one frees the old array.
  void migrateSome() noexcept {
    uint32_t const oldN = nBuckets_ / 2;
    uint32_t b = moved();
    Slot** old = oldBuckets();
    for (uint32_t end = b + bucketsPerStep < oldN ? b + bucketsPerStep : oldN; b < end; ++b) {
      split(old[b], buckets_, b, shift_);
    }
    if (b < oldN) {
      buckets_[nBuckets_ + 1] = reinterpret_cast<Slot*>(static_cast<uintptr_t>(b));
      return;
    }
    ::operator delete(old);
    migrating_ = false;
  }

  struct SlotList {
    HashTable const* t;
    struct It {
      const_iterator i;
      Slot* operator*() const { return i.s_; }
      It& operator++() {
        ++i;
        return *this;
      }
      bool operator!=(It const& o) const { return !(i == o.i); }
    };
    It begin() const { return {t->begin()}; }
    It end() const { return {t->end()}; }
  };
  SlotList slotsInOrder() const { return {this}; }

  Slot** buckets_ = nullptr;
  uint64_t version_ = 0;
  Slot* free_ = nullptr;
  ChunkHeader* chunks_ = nullptr;
  uint32_t size_ = 0;
  uint32_t nBuckets_ = 0;
  uint32_t slotCapacity_ = 0;
  uint16_t nextChunk_ = 1;
  uint8_t shift_ = 64;  // 64 - log2(nBuckets_)
  bool migrating_ = false;  // old buckets still to move (see grow)
  [[no_unique_address]] H hasher_{};
};

}  // namespace detail

template <class K, class V, class H = Hasher<K>>
class HashMap : public detail::HashTable<K, V, H, false> {
  using Base = detail::HashTable<K, V, H, false>;

 public:
  using Base::Base;

  V* find(K const& k) noexcept {
    auto* e = this->findEntry(k);
    return e ? &e->second : nullptr;
  }
  V const* find(K const& k) const noexcept {
    auto const* e = this->findEntry(k);
    return e ? &e->second : nullptr;
  }
};

template <class K, class H = Hasher<K>>
class HashSet : public detail::HashTable<K, Unit, H, true> {
  using Base = detail::HashTable<K, Unit, H, true>;

 public:
  using Base::Base;
  // Adds k; returns whether it was absent.
  bool insert(K const& k) { return Base::insert(k, Unit{}).second; }
};

}  // namespace Corvane
