// Keyed collections of the framework.
//
// HashMap/HashSet: hash tables whose iteration order is fixed and independent of
// the table's size: entries come in increasing order of their 64-bit hash, ties
// broken by key order. That order is what makes bookmarks work: lowerBound(key)
// finds the first entry at or after any key, present or not, and a Cursor standing
// on an entry that gets deleted continues with the next one. Every change (insert,
// replace, delete) advances version().
//
// The entries sit in one array in that same order (open addressing with linear
// probing, kept sorted): a key's home slot is its hash's top bits scaled to the
// array, and each entry sits at its home slot or after it, with no empty slot in
// between. A lookup reads from the home slot up to the first larger hash, usually
// within one cache line, and a miss stops as early as a hit. An insert shifts the
// rest of its run up one slot, or up to the first free slot in it. An erase leaves
// its slot dead: the slot keeps its place in the order (the hash with its lowest bit
// set, which no live entry has) and holds nothing, so nothing moves, and putting the
// same key back, or any key whose place is there, fills it (a change to an entry is
// often an erase and an insert of its key), as does an insert whose run moves up
// into it. Live and dead slots together stay within about 7/8 of the home slots:
// there an erase closes its gap instead, by moving the entries after it that are
// away from home back one, and each insert closes dead slots from a sweep that goes
// round the array a few slots at a time. Growth leaves the dead slots behind.
// Entries larger than 64 bytes, or that may throw while moving, live in nodes of
// their own, their slots holding pointers.
//
// Entries move when others are inserted or erased: pointers and iterators into a
// table last until its next change. A Cursor lasts: it finds its key again.
//
// A large table grows without a pause: the larger array comes in at once, but the
// entries move into it a few at a time, in hash order, at each later insert or
// erase, so no single operation does work proportional to the table. Until they
// have all moved, keys hashing below the first entry not yet moved are in the new
// array and the others in the old one; the iteration order is the same either way.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "corvane/framework/Export.h"
#include "corvane/framework/Errors.h"
#include "corvane/framework/Hash.h"
#include "corvane/framework/Prefetch.h"

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

// Types whose objects may be moved by copying their bytes, the source then counted
// as gone (no destructor runs on it): the trivially copyable ones, and those that
// declare `using TriviallyRelocatable = void;` because they hold nothing that points
// into themselves (Ptr, a SmallSet of such keys). Tables move such entries with
// memmove.
template <class T>
inline constexpr bool triviallyRelocatable =
    std::is_trivially_copyable_v<T> || requires { requires std::is_void_v<typename T::TriviallyRelocatable>; };
template <class K, class V>
inline constexpr bool triviallyRelocatable<MapEntry<K, V>> = triviallyRelocatable<K> && triviallyRelocatable<V>;

namespace detail {

// Hashes as the tables keep them: even, and below all ones. A slot's hash with its
// lowest bit set marks it free: all ones an empty slot, any other odd value a dead
// one (an entry erased there). Keys whose hashes differ only in the lowest bit, or
// hash within 3 of all ones, are ordered by key among themselves.
inline constexpr uint64_t emptyHash = ~uint64_t(0);
constexpr uint64_t tableHash(uint64_t h) noexcept { return h >= emptyHash - 2 ? emptyHash - 3 : h & ~uint64_t(1); }
// The part of a hash that a slot keeping half a hash holds: the top 31 bits of its
// table hash, as the top of a 64-bit hash with the rest clear. Ordered as the table
// hashes are (a key's full hash decides among keys that share these bits). Bit 32,
// the lowest of the half kept, is clear, as a dead slot sets it; and the half stays
// below all ones with it set, which marks an empty slot.
constexpr uint64_t halfHash(uint64_t h) noexcept {
  constexpr uint64_t top = uint64_t(0xfffffffc) << 32;
  uint64_t const half = h & ~((uint64_t(1) << 33) - 1);
  return half < top ? half : top;
}
// Where the bytes after both members of an entry begin: from there to the entry's
// end is padding, which may hold half of the entry's hash.
template <class E>
constexpr size_t entryEnd() noexcept {
  size_t const key = offsetof(E, first) + sizeof(E::first);
  size_t const value = offsetof(E, second) + sizeof(E::second);
  return key > value ? key : value;
}

// The home slot of hash h among `cap`: the hash's top bits scaled to the table, so
// home slots never decrease as hashes increase.
inline uint32_t homeSlot(uint64_t h, uint32_t cap) noexcept {
#ifdef __SIZEOF_INT128__
  return static_cast<uint32_t>((static_cast<unsigned __int128>(h) * cap) >> 64);
#else
  uint64_t const hi = (h >> 32) * cap;
  uint64_t const lo = (h & 0xffffffffu) * cap;
  return static_cast<uint32_t>((hi + (lo >> 32)) >> 32);
#endif
}

// Gives the whole memory pages within [begin, end) back to the system; their
// contents are lost. For arrays being emptied from the front while still allocated.
// Returns where the pages given back end (begin when there were none), so that the
// next call starts there: a page the range only partly covers stays held until then.
CORVANE_API unsigned char* releasePages(unsigned char* begin, unsigned char* end) noexcept;
// The same for an array emptied from its start `first` on: each 2 MiB block of it
// wholly given back by now is given back once more as one range, which lets the
// system free that block's page table as well, so that freeing the array at the end
// has fewer of them left to free.
CORVANE_API unsigned char* releasePages(unsigned char* begin, unsigned char* end, void const* first) noexcept;

// Slot arrays. One of `bytes` comes from operator new, or from 32 MiB on (16 on
// 32-bit systems) from a mapping of the table's own (not in builds with
// AddressSanitizer): a growing table then unmaps its old array from the front,
// 2 MiB at a time, as the entries leave it, so that the end of a growth has little
// left to free; from the allocator, freeing an array of 36 MB whose pages had all
// been given back took 40 to 60 us.
CORVANE_API void* slotArrayNew(size_t bytes);
// Frees an array of slotArrayNew(bytes) whose memory before `kept` (the array itself
// unless slotArrayGiveBack returned more) has been given back already.
CORVANE_API void slotArrayDelete(void* array, size_t bytes, void const* kept) noexcept;
// Gives back the whole pages of [begin, end) of an array of slotArrayNew(bytes)
// being emptied from the front (see releasePages); begin is the array's start or
// what the call before returned.
CORVANE_API unsigned char* slotArrayGiveBack(void* array, size_t bytes, unsigned char* begin,
                                             unsigned char* end) noexcept;
// Has the system supply the pages of an array of slotArrayNew(bytes) about to be
// written from end to end, all in one call: taking them one page fault at a time
// cost about 2.5 us a page here, in one call 1.5. Arrays of less than 256 KiB are
// left alone.
CORVANE_API void slotArrayPopulate(void* array, size_t bytes) noexcept;
// The bytes of slot arrays held in mappings of their own, for memory accounting
// beside what operator new has handed out.
CORVANE_API size_t slotArrayMappedBytes() noexcept;

template <class K, class V, class H, bool IsSet>
class HashTable {
 public:
  using Entry = MapEntry<K, V>;
  using key_type = K;
  using mapped_type = V;

 private:
  // Entries of up to 64 bytes that move without throwing live in the slots; larger
  // ones live in nodes of their own, and their slots hold pointers.
  static constexpr bool inlineEntries = sizeof(Entry) <= 64 && std::is_nothrow_move_constructible_v<Entry>;
  using Stored = std::conditional_t<inlineEntries, Entry, Entry*>;
  static constexpr bool trivialSlots = triviallyRelocatable<Stored>;
  // Entries of a key of hashFromKey and a value with a FreeMark keep no hash in
  // their slots: a slot's hash is worked out from its key when needed, and the
  // value's free bit marks a free slot (its byte is FreeMark::bit in an empty slot,
  // FreeMark::dead in a dead one, whose key stays for its place in the order).
  using Mark = FreeMark<V>;
  static constexpr bool keyedSlots =
      inlineEntries && hashFromKey<K> && Mark::exists && std::is_trivially_copyable_v<K> &&
      std::is_default_constructible_v<K> && triviallyRelocatable<Entry> && std::is_standard_layout_v<Entry> &&
      std::is_empty_v<H> && std::is_default_constructible_v<H>;
  // Map entries with four bytes of padding after their members (an IntfId and a
  // 2-byte value) keep the top half of their hash there, so that the slot is the
  // entry alone, 16 bytes instead of 24 for that pair; set keys of 4-byte alignment
  // or less keep it after the key, 8 bytes instead of 16 for a 32-bit key (and 12
  // for an IntfId on 32-bit systems, where it is aligned to 4). The slot's
  // place in the order is those 32 bits (halfHash() of the entry's hash; all ones
  // when empty, the lowest bit set when dead), and among slots that share them a
  // key's hash is worked out again to order it. Not for keys whose hashes share
  // their top half by design (hashSharesTopHalf), nor for hashers with a state.
  static constexpr size_t halfAt = [] {
    if constexpr (!keyedSlots && !hashSharesTopHalf<K> && inlineEntries && trivialSlots &&
                  std::is_standard_layout_v<Entry> && std::is_empty_v<H> && std::is_default_constructible_v<H>) {
      if constexpr (IsSet) {
        return alignof(Stored) <= 4 ? (sizeof(Stored) + 3) / 4 * 4 : size_t(0);
      } else {
        size_t const at = (detail::entryEnd<Entry>() + 3) / 4 * 4;
        return at + 4 <= sizeof(Entry) ? at : 0;
      }
    } else {
      return size_t(0);
    }
  }();
  static constexpr bool halfSlots = halfAt != 0;
  struct HashedSlot {
    uint64_t hash;  // emptyHash when the slot is empty
    alignas(Stored) unsigned char raw[sizeof(Stored)];
  };
  struct KeyedSlot {
    alignas(Stored) unsigned char raw[sizeof(Stored)];
  };
  // A set's key and the half of its hash after it.
  struct HalfAfterSlot {
    alignas(Stored) alignas(uint32_t) unsigned char raw[halfAt + 4];
  };
  using Slot = std::conditional_t<halfSlots && IsSet, HalfAfterSlot,
                                  std::conditional_t<keyedSlots || halfSlots, KeyedSlot, HashedSlot>>;
  // While a table grows step by step, the old array and how far it has moved.
  struct Migration {
    Slot* old;
    uint32_t oldCap;
    uint32_t oldLen;
    uint32_t pos;      // old slots before this one have moved (their contents are gone)
    uint32_t cleared;  // new slots before this one are initialised; the others are not yet
    uint64_t boundary;  // keys hashing below it are in the new array, the others in the old
    unsigned char* released;  // the old array's memory before this has been given back
  };

  // Up to 4 home slots a table fills completely; larger ones grow at 3/4 of their
  // home slots (to half, or to 3/8 below 8): an insert or erase moves about 1/(1 - load)^2 / 2 slots,
  // 8 at 3/4 and 32 at 7/8. Past the home slots come a few overflow slots for the
  // entries pushed beyond the last home, then slots that always stay empty and end
  // every probe. Capacities run 1, 2, 4, 8, 12, 16, 24, 36...: a group of 7 to 9 (a
  // LAG's members) takes 13 slots, not the 24 of 16 home slots and their overflow.
  static constexpr uint32_t smallCap = 16;
  static uint32_t maxSize(uint32_t cap) noexcept { return cap <= 4 ? cap : cap - cap / 4; }
  static uint32_t nextCap(uint32_t cap) noexcept {
    return cap == 0 ? 1 : cap < 8 ? cap * 2 : cap < smallCap ? cap + 4 : cap + cap / 2;
  }
  // A lookup in a table past the small sizes reads this many slots from home at once,
  // and an erase as many from its slot: such tables end with that many empty slots.
  // Four slots of up to 24 bytes (two cache lines at most), three of up to 40, else two.
  static constexpr unsigned window = sizeof(Slot) <= 24 ? 4 : sizeof(Slot) <= 40 ? 3 : 2;
  // Overflow slots: a quarter of the home slots in a table that grows at once, where
  // running out of them only brings the growth forward; 64 and more in one that
  // grows step by step, where it would mean moving everything at once.
  static uint32_t lenFor(uint32_t cap) noexcept {
    return cap < smallCap ? cap + 1 : cap + (cap < 256 ? cap / 4 : 64 + cap / 2048) + window;
  }
  // The slots that may hold entries: all but the empty ones at the end.
  static uint32_t usable(uint32_t cap, uint32_t len) noexcept { return len - (cap < smallCap ? 1 : window); }
  // Erases leave dead slots while live and dead slots together stay below this many
  // (in tables past the small sizes).
  uint32_t deadLimit() const noexcept { return cap_ - cap_ / 8; }
  // Slots a sweep step looks at (see sweepSome).
  static constexpr uint32_t sweepSlots = 16;
  // Tables of this many home slots or more grow step by step, moving this many
  // entries (and any that share the last one's hash) at each later insert or erase.
  static constexpr uint32_t incrementalFrom = 512;
  static constexpr uint32_t entriesPerStep = 16;
  static constexpr size_t releaseBytes = 16 * 1024;
  // An insert that finds its run this far past its home slot grows the table.
  static constexpr ptrdiff_t longRun = 32;

  static Stored& stored(Slot* s) noexcept { return *std::launder(reinterpret_cast<Stored*>(s->raw)); }
  static Entry& entryOf(Slot* s) noexcept {
    if constexpr (inlineEntries) {
      return stored(s);
    } else {
      return *stored(s);
    }
  }
  static K const& keyOf(Slot* s) noexcept { return entryOf(s).first; }
  // The byte of a keyed slot's value that holds its free bit: the bit clear in a
  // live slot, Mark::bit alone in an empty one, Mark::dead in a dead one.
  static constexpr size_t markAt() noexcept {
    if constexpr (keyedSlots) {
      return offsetof(Entry, second) + Mark::at;
    } else {
      return 0;
    }
  }
  static uint8_t markOf(Slot const* s) noexcept { return s->raw[markAt()]; }
  static void markIs(Slot* s, uint8_t b) noexcept { s->raw[markAt()] = b; }
  // The half of a hash a slot keeps, in the entry's padding.
  static uint32_t halfOf(Slot const* s) noexcept {
    uint32_t x;
    std::memcpy(&x, s->raw + halfAt, sizeof(x));
    return x;
  }
  static void halfIs(Slot* s, uint32_t x) noexcept { std::memcpy(s->raw + halfAt, &x, sizeof(x)); }
  // A slot's place in the order: its entry's hash; that hash with its lowest bit
  // set when the slot is dead; all ones when it is empty.
  static uint64_t hashAt(Slot const* s) noexcept {
    if constexpr (halfSlots) {
      // The 32 bits as the top of a hash, the rest clear: what an empty slot keeps
      // sorts after every entry, and what a dead one does after its entry's hash.
      return uint64_t(halfOf(s)) << 32;
    } else if constexpr (keyedSlots) {
      uint8_t const b = markOf(s);
      K k;
      std::memcpy(static_cast<void*>(&k), s->raw + offsetof(Entry, first), sizeof(K));
      uint64_t const h = tableHash(H{}(k)) | uint64_t((b & Mark::bit) != 0);
      return b == Mark::bit ? emptyHash : h;
    } else {
      return s->hash;
    }
  }
  // A slot's place as a lookup's window compares it with a key's hash h, taken as
  // rankOf(h): for slots keeping half a hash the 32 bits alone (a key's hash has the
  // rest clear), else hashAt().
  using Rank = std::conditional_t<halfSlots, uint32_t, uint64_t>;
  static Rank rankAt(Slot const* s) noexcept {
    if constexpr (halfSlots) {
      return halfOf(s);
    } else {
      return hashAt(s);
    }
  }
  static Rank rankOf(uint64_t h) noexcept { return Rank(h >> (halfSlots ? 32 : 0)); }
  // Records the hash of the entry just put in slot s (a keyed slot has it already).
  static void hashIs(Slot* s, uint64_t h) noexcept {
    if constexpr (halfSlots) {
      halfIs(s, uint32_t(h >> 32));
    } else if constexpr (keyedSlots) {
      static_cast<void>(s);
      static_cast<void>(h);
    } else {
      s->hash = h;
    }
  }
  static void emptyIs(Slot* s) noexcept {
    if constexpr (halfSlots) {
      halfIs(s, ~uint32_t(0));
    } else if constexpr (keyedSlots) {
      markIs(s, Mark::bit);
    } else {
      s->hash = emptyHash;
    }
  }
  // The entry of key k has left slot s (and been destroyed): the slot stays in its
  // place, dead. (k may be the very key the slot held: erase(it->first).)
  static void deadIs(Slot* s, K const& k) noexcept {
    if constexpr (halfSlots) {
      static_cast<void>(k);
      halfIs(s, halfOf(s) | 1);
    } else if constexpr (keyedSlots) {
      std::memmove(s->raw + offsetof(Entry, first), static_cast<void const*>(&k), sizeof(K));
      markIs(s, Mark::dead);
    } else {
      static_cast<void>(k);
      s->hash |= 1;
    }
  }
  static bool empty(Slot const* s) noexcept {
    if constexpr (halfSlots) {
      return halfOf(s) == ~uint32_t(0);
    } else if constexpr (keyedSlots) {
      return markOf(s) == Mark::bit;
    } else {
      return s->hash == emptyHash;
    }
  }
  // Empty or dead: a slot an insert may take.
  static bool vacant(Slot const* s) noexcept {
    if constexpr (halfSlots) {
      return (halfOf(s) & 1) != 0;
    } else if constexpr (keyedSlots) {
      return (markOf(s) & Mark::bit) != 0;
    } else {
      return (s->hash & 1) != 0;
    }
  }
  static bool live(Slot const* s) noexcept { return !vacant(s); }
  static bool dead(Slot const* s) noexcept { return vacant(s) && !empty(s); }
  // Moves slot src's contents (a dead slot's place only) into the empty slot dst.
  static void relocate(Slot* dst, Slot* src) noexcept {
    if constexpr (trivialSlots) {
      std::memcpy(static_cast<void*>(dst), static_cast<void const*>(src), sizeof(Slot));
    } else {
      hashIs(dst, hashAt(src));
      if (live(src)) {
        ::new (static_cast<void*>(dst->raw)) Stored(std::move(stored(src)));
        stored(src).~Stored();
      }
    }
  }
  void destroy(Slot* s) noexcept {
    if constexpr (inlineEntries) {
      stored(s).~Stored();
    } else {
      dropStored(stored(s));
    }
  }
  static Slot* allocSlots(uint32_t len) { return static_cast<Slot*>(slotArrayNew(sizeof(Slot) * size_t(len))); }
  static void freeSlots(Slot* s, uint32_t len, void const* kept) noexcept {
    slotArrayDelete(s, sizeof(Slot) * size_t(len), kept);
  }
  static void clearSlots(Slot* s, uint32_t n) noexcept {
    if constexpr (keyedSlots) {
      // The whole slot, so that an empty slot's key reads as a key too.
      for (uint32_t i = 0; i < n; ++i) std::memcpy(static_cast<void*>(s + i), &emptySlot_, sizeof(Slot));
    } else {
      for (uint32_t i = 0; i < n; ++i) emptyIs(s + i);
    }
  }
  // A new array of `len` empty slots, written whole at once.
  static Slot* clearedSlots(uint32_t len) {
    Slot* s = allocSlots(len);
    slotArrayPopulate(s, sizeof(Slot) * size_t(len));
    clearSlots(s, len);
    return s;
  }
  // A condition as a number the compiler cannot turn back into a branch: where it
  // depends on a slot just read from memory, a mispredicted branch would stall the
  // next operation behind that read.
  static unsigned opaque(bool b) noexcept {
    unsigned v = b;
#if defined(__GNUC__)
    __asm__("" : "+r"(v));
#endif
    return v;
  }
  // Whether slot s sorts below (h, k). A dead slot's hash is never h: it is odd, or
  // in a slot keeping half a hash, has bit 32 set.
  static bool slotLess(Slot* s, uint64_t h, K const& k) noexcept {
    uint64_t const at = hashAt(s);
    if constexpr (halfSlots) {
      if (at != h) return at < h;
      if (keyOf(s) == k) return false;
      uint64_t const full = tableHash(H{}(keyOf(s)));
      uint64_t const want = tableHash(H{}(k));
      return full < want || (full == want && keyOf(s) < k);
    }
    return at < h || (at == h && keyOf(s) < k);
  }
  // The empty table's one slot: every probe ends on it. Keyed: zero bytes but the
  // free bit.
  static constexpr Slot emptySlot_ = [] {
    Slot s{};
    if constexpr (halfSlots) {
      for (size_t i = 0; i < 4; ++i) s.raw[halfAt + i] = 0xff;
    } else if constexpr (keyedSlots) {
      s.raw[markAt()] = Mark::bit;
    } else {
      s.hash = emptyHash;
    }
    return s;
  }();

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
    Iter(TablePtr t, Slot* s) : t_(t), s_(s) {}
    template <bool C2>
      requires(Const && !C2)
    Iter(Iter<C2> const& o) : t_(o.t_), s_(o.s_) {}

    reference operator*() const {
      CORVANE_ASSERT(s_, "HashMap: an iterator at end() dereferenced");
      if constexpr (IsSet) {
        return entryOf(s_).first;
      } else {
        return entryOf(s_);
      }
    }
    pointer operator->() const { return &**this; }
    Iter& operator++() {
      CORVANE_ASSERT(s_, "HashMap: an iterator at end() advanced");
      s_ = t_->settle(s_ + 1);
      return *this;
    }
    Iter operator++(int) {
      Iter r = *this;
      ++*this;
      return r;
    }
    friend bool operator==(Iter const& a, Iter const& b) { return a.s_ == b.s_; }

    Entry* entry() const { return s_ ? &entryOf(s_) : nullptr; }
    uint64_t hash() const {
      CORVANE_ASSERT(s_, "HashMap: the hash of an iterator at end() read");
      if constexpr (halfSlots) return tableHash(H{}(entryOf(s_).first));
      return hashAt(s_);
    }

   private:
    friend class HashTable;
    template <bool>
    friend class Iter;
    TablePtr t_ = nullptr;
    Slot* s_ = nullptr;
  };
  using iterator = Iter<false>;
  using const_iterator = Iter<true>;

  // A position that survives changes of the collection: after any change it finds
  // its place again by key (the entry it stood on, or the next one). A cursor of a
  // const table reads only.
  template <bool Const>
  class BasicCursor {
    using Table = std::conditional_t<Const, HashTable const, HashTable>;
    using It = Iter<Const>;
    using EntryT = std::conditional_t<Const, Entry const, Entry>;

   public:
    BasicCursor() = default;
    BasicCursor(Table* t, It it) : t_(t) { load(it); }

    bool done() const { return !it_.s_; }
    K const& key() const { return key_; }
    // The entry under the cursor, or null when it was deleted after the cursor got there.
    EntryT* entry() {
      if (!it_.s_ || stale_) return nullptr;
      if (version_ != t_->version_) {
        version_ = t_->version_;
        Slot* s = t_->findIn(hash_, key_);
        if (!s) {
          stale_ = true;  // next() continues after the key
          return nullptr;
        }
        it_.s_ = s;
      }
      return &entryOf(it_.s_);
    }
    // The entry d slots further on, or null: a hint to read ahead (say, to
    // fetch what the entry points to into the caches), never a step of the walk.
    Entry const* ahead(uint32_t d) const noexcept {
      if (!it_.s_ || stale_ || version_ != t_->version_) return nullptr;
      return t_->entryAhead(it_.s_, d);
    }
    void next() {
      if (!it_.s_) return;
      if (stale_ || version_ != t_->version_) {
        load(It(t_, t_->seekSlot(hash_, key_, true)));
      } else {
        load(++it_);
      }
    }

   private:
    void load(It it) {
      it_ = it;
      stale_ = false;
      version_ = t_->version_;
      if (it_.s_) {
        key_ = keyOf(it_.s_);
        hash_ = hashAt(it_.s_);
      }
    }
    Table* t_ = nullptr;
    It it_;
    uint64_t version_ = 0;
    uint64_t hash_ = 0;
    K key_{};
    bool stale_ = false;
  };
  using Cursor = BasicCursor<false>;
  using ConstCursor = BasicCursor<true>;

  HashTable() = default;
  HashTable(HashTable const& o) : hasher_(o.hasher_) {
    if (o.size_ == 0) return;
    uint32_t cap = 1;
    while (maxSize(cap) < o.size_) cap = nextCap(cap);
    adopt(capFitting(o, cap));
    try {
      uint32_t next = 0;
      for (Slot* s = o.settle(o.slots_); s; s = o.settle(s + 1)) {
        Slot* to = slots_ + orderedSlot(hashAt(s), cap_, next);
        ::new (static_cast<void*>(to->raw)) Stored(makeStored(entryOf(s).first, entryOf(s).second));
        hashIs(to, hashAt(s));
        ++size_;
      }
    } catch (...) {
      release();
      throw;
    }
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
  ~HashTable() { release(); }
  // Both sides count the swap as a change, with a version neither has shown before,
  // so no cursor on either side mistakes the new content for the old.
  void swap(HashTable& o) noexcept {
    std::swap(slots_, o.slots_);
    std::swap(mig_, o.mig_);
    std::swap(dead_, o.dead_);
    std::swap(size_, o.size_);
    std::swap(cap_, o.cap_);
    std::swap(limit_, o.limit_);
    std::swap(sweep_, o.sweep_);
    std::swap(len_, o.len_);
    std::swap(hasher_, o.hasher_);
    std::swap(pool_, o.pool_);
    uint64_t v = (version_ > o.version_ ? version_ : o.version_) + 1;
    version_ = o.version_ = v;
  }

  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  uint64_t version() const noexcept { return version_; }
  // Fetches the start of the slot array into the caches for a read soon: all of a
  // table of a few entries.
  void readAhead() const noexcept { prefetchRead(slots_); }
  uint64_t hashOf(K const& k) const noexcept { return tableHash(hasher_(k)); }
  // The hash as the slots keep it.
  uint64_t slotHash(K const& k) const noexcept {
    if constexpr (halfSlots) return halfHash(hasher_(k));
    return hashOf(k);
  }

  iterator begin() { return iterator(this, settle(slots_)); }
  iterator end() { return iterator(this, nullptr); }
  const_iterator begin() const { return const_iterator(this, settle(slots_)); }
  const_iterator end() const { return const_iterator(this, nullptr); }

  // First entry at or after `k` in iteration order (k need not be present).
  iterator lowerBound(K const& k) { return seek(slotHash(k), k, false); }
  const_iterator lowerBound(K const& k) const { return const_iterator(this, seekSlot(slotHash(k), k, false)); }
  // First entry strictly after `k`.
  iterator upperBound(K const& k) { return seek(slotHash(k), k, true); }

  Cursor cursor() { return Cursor(this, begin()); }
  Cursor cursorAt(K const& k) { return Cursor(this, lowerBound(k)); }
  ConstCursor cursor() const { return ConstCursor(this, begin()); }
  ConstCursor cursorAt(K const& k) const { return ConstCursor(this, lowerBound(k)); }

  Entry* findEntry(K const& k) noexcept {
    Slot* s = findIn(slotHash(k), k);
    return s ? &entryOf(s) : nullptr;
  }
  Entry const* findEntry(K const& k) const noexcept {
    Slot* s = findIn(slotHash(k), k);
    return s ? &entryOf(s) : nullptr;
  }
  bool contains(K const& k) const noexcept { return findIn(slotHash(k), k) != nullptr; }

  iterator find(K const& k) { return iterator(this, findIn(slotHash(k), k)); }
  const_iterator find(K const& k) const { return const_iterator(this, findIn(slotHash(k), k)); }

  // Inserts (k, v) if k is absent. Returns the entry and whether it was inserted.
  template <class U = V>
  std::pair<Entry*, bool> insert(K const& k, U&& v = U()) {
    uint64_t const h = slotHash(k);
    Place p = locate(h, k);
    if (p.found) return {&entryOf(p.at), false};
    return {&entryOf(add(p, h, k, std::forward<U>(v))), true};
  }

  // Inserts or replaces. An equal value already stored changes nothing (no version
  // step). On replace, the old value is moved into *previous when given.
  template <class U>
  AssignResult assign(K const& k, U&& v, V* previous = nullptr) {
    uint64_t const h = slotHash(k);
    Place p = locate(h, k);
    if (p.found) {
      V& cur = entryOf(p.at).second;
      if (cur == v) return AssignResult::unchanged;
      if (previous) {
        *previous = std::exchange(cur, std::forward<U>(v));
      } else {
        cur = std::forward<U>(v);
      }
      ++version_;
      return AssignResult::replaced;
    }
    add(p, h, k, std::forward<U>(v));
    return AssignResult::inserted;
  }

  // Marks an in-place change of a value (through findEntry) as a change.
  void touch() noexcept { ++version_; }

  // Makes room for n entries, so that a fill up to n grows no further: for a table
  // about to take many entries whose count is known. An empty table takes its array
  // at once, and the version stays. A large one holding entries grows to it step by
  // step, as at any growth: nothing moves yet, and the version stays too. A small
  // one moves its entries at once, which counts as a change (cursors find their keys
  // again). A table that holds room enough already, or is growing, is left alone.
  void reserve(size_t n) {
    if (n <= limit_ || n >= (size_t(1) << 29) || mig_) return;
    uint32_t cap;
    if (n < smallCap) {
      // A small table takes the size its growth would have reached.
      for (cap = cap_ ? cap_ : 1; maxSize(cap) < n;) cap = nextCap(cap);
    } else {
      for (cap = uint32_t(n + n / 3 + 1); maxSize(cap) < n;) ++cap;
    }
    if (size_ == 0) {
      rehash(cap);
    } else if (cap_ < incrementalFrom) {
      rehash(cap);
      ++version_;
    } else {
      grow(double(cap));
    }
  }

  // Removes k; its value is moved into *removed when given. Returns whether k was present.
  bool erase(K const& k, V* removed = nullptr) {
    uint64_t const h = slotHash(k);
    Slot* s = findIn(h, k);
    if (!s) return false;
    // The entry leaves the table before anything of it is destroyed or handed over,
    // so a destructor that reads the table finds it whole.
    Stored item(std::move(stored(s)));
    stored(s).~Stored();
    // A dead slot sorts after every key of its hash: it may not stand before another.
    if (CORVANE_LIKELY(!mig_) && CORVANE_LIKELY(cap_ >= smallCap) && CORVANE_LIKELY(size_ + dead_ < deadLimit()) &&
        CORVANE_LIKELY(hashAt(s + 1) != h)) {
      deadIs(s, k);
      ++dead_;
    } else if (!mig_) {
      backShift(slots_, cap_, s);
    } else {
      bool const old = h >= mig_->boundary;
      backShift(old ? mig_->old : slots_, old ? mig_->oldCap : cap_, s);
    }
    --size_;
    ++version_;
    if (mig_) migrateSome();
    if (removed) {
      if constexpr (inlineEntries) {
        *removed = std::move(item.second);
      } else {
        *removed = std::move(item->second);
      }
    }
    dropStored(item);
    return true;
  }

  void clear() {
    if (size_ == 0) return;
    destroyAll();
    if (mig_) endMigration();
    clearSlots(slots_, len_);
    size_ = 0;
    dead_ = 0;
    ++version_;
  }

  // The bytes held from the allocator (slot arrays, the migration record, nodes),
  // for memory accounting.
  size_t bytesHeld() const noexcept {
    if (cap_ == 0) return 0;
    size_t n = sizeof(Slot) * size_t(len_);
    if (mig_) n += sizeof(Migration) + sizeof(Slot) * size_t(mig_->oldLen);
    if constexpr (!inlineEntries) n += sizeof(Entry) * (size_t(size_) + pool_.spare);
    return n;
  }

 private:
  template <bool>
  friend class Iter;

  // Where a key is or would go: `at` is the first slot not below it (possibly empty).
  struct Place {
    Slot* base;
    uint32_t cap;
    uint32_t len;
    Slot* at;
    bool found;
    bool old;  // in the old array of a migration
    bool far;  // more than longRun slots past the home slot
    bool nearby = false;  // within `window` slots of home, in a table past the small sizes, not migrating
  };

  // The slot of (h, k) from its home slot s, or null. Most keys sit within a few
  // slots of home: the first `window` hashes are read together and the place is counted
  // from them, so a lookup takes no branch that depends on how far the key sits.
  // (Past an empty slot every hash is larger than h, so the slots below h come first.)
  [[gnu::always_inline]] static Slot* probe(Slot* s, uint32_t cap, uint64_t h, K const& k) noexcept {
    if constexpr (keyedSlots) {
      // Keys compare quicker than hashes are worked out: the keys are compared
      // `window` slots at a time, up to an empty slot, and only the last slot of
      // each such stretch has its hash worked out, to tell whether the key could
      // be past it. (Reading stops at an empty slot: past it, the new array of a
      // migration may not be initialised.)
      for (;; s += window) {
        for (unsigned i = 0; i + 1 < window; ++i) {
          uint8_t const b = markOf(s + i);
          if (b == Mark::bit) return nullptr;
          if ((b & Mark::bit) == 0 && keyOf(s + i) == k) return s + i;
        }
        uint64_t const last = hashAt(s + window - 1);
        if (CORVANE_LIKELY(last > h)) return nullptr;
        if (last == h && keyOf(s + window - 1) == k) return s + window - 1;
      }
    } else if (Rank const r = rankOf(h); CORVANE_LIKELY(cap >= smallCap) && CORVANE_LIKELY(rankAt(s + window - 1) >= r)) {
      unsigned below = 0;
      for (unsigned i = 0; i + 1 < window; ++i) below += rankAt(s + i) < r;
      s += below;
      if (rankAt(s) != r) return nullptr;
      if (CORVANE_LIKELY(keyOf(s) == k)) return s;
    }
    while (hashAt(s) < h) ++s;
    for (; hashAt(s) == h; ++s) {
      if (keyOf(s) == k) return s;
    }
    return nullptr;
  }

  Slot* findIn(uint64_t h, K const& k) const noexcept {
    if (CORVANE_LIKELY(!mig_)) return probe(slots_ + homeSlot(h, cap_), cap_, h, k);
    Migration const& m = *mig_;
    if (h >= m.boundary) {
      uint32_t const home = homeSlot(h, m.oldCap);
      return probe(m.old + (home > m.pos ? home : m.pos), m.oldCap, h, k);
    }
    uint32_t const home = homeSlot(h, cap_);
    return home + window <= m.cleared ? probe(slots_ + home, cap_, h, k)
           : home < m.cleared         ? probe(slots_ + home, 0, h, k)
                                      : nullptr;
  }

  // Finds where (h, k) is or would go; makes the new array's slots it needs exist.
  [[gnu::always_inline]] Place locate(uint64_t h, K const& k) {
    if (CORVANE_LIKELY(!mig_) && CORVANE_LIKELY(cap_ >= smallCap)) {
      // As in probe(): the place counted from the first `window` hashes when the
      // last of them is larger.
      Slot* s = slots_ + homeSlot(h, cap_);
      if constexpr (keyedSlots) {
        // As in probe(): the key itself first, up to the window's first empty slot;
        // a new key goes at or before that slot, after the slots that sort below it,
        // so most inserts work out one hash or none.
        for (unsigned i = 0; i < window; ++i) {
          Slot* const at = s + i;
          if (empty(at)) {
            while (s < at && slotLess(s, h, k)) ++s;
            return Place{slots_, cap_, len_, s, false, false, false, true};
          }
          if (live(at) && keyOf(at) == k) return Place{slots_, cap_, len_, at, true, false, false, true};
        }
        // No empty slot (dead ones, a crowded stretch): the place is in the window
        // if its last slot sorts after the key.
        if (CORVANE_LIKELY(!slotLess(s + window - 1, h, k))) {
          while (slotLess(s, h, k)) ++s;
          return Place{slots_, cap_, len_, s, false, false, false, true};
        }
      } else if (Rank const r = rankOf(h); CORVANE_LIKELY(rankAt(s + window - 1) > r)) {
        unsigned below = 0;
        for (unsigned i = 0; i + 1 < window; ++i) below += rankAt(s + i) < r;
        s += below;
        if (CORVANE_LIKELY(rankAt(s) != r)) return Place{slots_, cap_, len_, s, false, false, false, true};
        if (CORVANE_LIKELY(keyOf(s) == k)) return Place{slots_, cap_, len_, s, true, false, false, true};
      }
    }
    return locateSlow(h, k);
  }
  [[gnu::noinline]] Place locateSlow(uint64_t h, K const& k) {
    if (cap_ == 0) adopt(1);
    Place p{slots_, cap_, len_, nullptr, false, false, false};
    uint32_t start = homeSlot(h, cap_);
    if (mig_) {
      Migration& m = *mig_;
      if (h >= m.boundary) {
        p = Place{m.old, m.oldCap, m.oldLen, nullptr, false, true, false};
        start = homeSlot(h, m.oldCap);
        if (start < m.pos) start = m.pos;
      } else {
        clearTo(start + 2);
      }
    }
    Slot* s = p.base + start;
    if constexpr (keyedSlots) {
      // Keys compare quicker than hashes are worked out: as in probe(), the keys
      // from home are compared `window` slots at a time, up to an empty slot or a
      // stretch whose last slot sorts after the key, and the place of a new key is
      // then found in the slots passed by halving (they are in order). A fill in hash
      // order puts each key at the end of a run.
      Slot* e = s;
      for (bool end = false; !end;) {
        for (unsigned i = 0; i < window; ++i, ++e) {
          if (empty(e)) {
            end = true;
            break;
          }
          if (live(e) && keyOf(e) == k) {
            p.at = e;
            p.found = true;
            p.far = e - s > longRun;
            return p;
          }
        }
        if (!end && !slotLess(e - 1, h, k)) {
          --e;
          end = true;
        }
      }
      while (s < e) {
        Slot* const mid = s + (e - s) / 2;
        if (slotLess(mid, h, k)) {
          s = mid + 1;
        } else {
          e = mid;
        }
      }
      p.at = s;
      p.found = false;
    } else {
      while (slotLess(s, h, k)) ++s;
      p.at = s;
      p.found = hashAt(s) == h && keyOf(s) == k;
    }
    p.far = s - (p.base + start) > longRun;
    return p;
  }

  // Puts a new entry at p (from locate) and returns its slot, once any growth or
  // migration step the insert brings has been made. The common case, a place near
  // home, goes inline.
  template <class U>
  [[gnu::always_inline]] Slot* add(Place p, uint64_t h, K const& k, U&& v) {
    Stored item = makeStored(k, std::forward<U>(v));
    if constexpr (trivialSlots) {
      if (CORVANE_LIKELY(p.nearby) && addNearby(p.at, h, item)) return p.at;
    }
    return addSlow(h, k, item);
  }
  // The rest, out of line: the place is found again there, so that the common case
  // need not keep it for the call.
  [[gnu::noinline]] Slot* addSlow(uint64_t h, K const& k, Stored& item) {
    Place p = locate(h, k);
    if (CORVANE_UNLIKELY(p.far) && !mig_ && dead_ > 0) {
      // Dead slots on the way make the run longer than its entries: close them first.
      closeDead(slots_ + homeSlot(h, cap_), p.at);
      p = locate(h, k);
    }
    if (CORVANE_UNLIKELY(p.far) && !mig_ && crowded(p, p.at - 1) && !holdsWholeFill(p, h)) {
      // Keys that come in hash order (one table copied into another, a scan) each
      // land after all the others: a table sized for its count holds them in one
      // long run at its start, which every insert walks. It grows until the run
      // spreads out; at once while few of its slots are taken, and then to the
      // size the whole sequence will need when it can tell.
      try {
        if (size_ < cap_ / 4 || cap_ < incrementalFrom) {
          rehash(spreadingCap(p, h));
        } else {
          grow();
        }
      } catch (std::bad_alloc const&) {
      }
      p = locate(h, k);
    }
    if constexpr (trivialSlots) {
      if (CORVANE_LIKELY(!mig_) && CORVANE_LIKELY(p.cap >= smallCap) && addNearby(p.at, h, item)) {
        return p.at;
      }
    }
    Slot* end = p.at;
    while (!vacant(end)) ++end;
    while (end >= p.base + usable(p.cap, p.len)) {
      // The overflow slots are full: the whole table moves to a larger array now
      // (the entry is not in yet, so a failure leaves the table as it was).
      try {
        rehash(nextCap(cap_ > p.cap ? cap_ : p.cap));
      } catch (...) {
        dropStored(item);
        throw;
      }
      p = locate(h, k);
      for (end = p.at; !vacant(end);) ++end;
    }
    dead_ -= unsigned(!empty(end));
    shiftRight(p.at, end);
    ::new (static_cast<void*>(p.at->raw)) Stored(std::move(item));
    hashIs(p.at, h);
    if (mig_ && !p.old) clearTo(uint32_t(end - slots_) + 2);
    ++size_;
    ++version_;
    if (mig_) {
      migrateSome();
    } else if (size_ <= limit_ && dead_ > 0 && size_ + dead_ >= deadLimit()) {
      // Live and dead slots have reached the limit: close some of the dead ones, so
      // that the table neither grows for them nor gets fuller.
      sweepSome();
    } else if (size_ > limit_) {
      // In a fill in hash order that surely ends within a load of 7/8, the table
      // takes the rest of it rather than growing: a growth moves the entries over
      // the inserts that follow, and a table left mid-way when they stop would
      // hold both arrays. Otherwise it grows, for the whole fill when it can tell.
      Estimate const fill = orderedFill(p.at + 1, h);
      if (fill.most > 0 && fill.most < double(cap_ - cap_ / 8)) {
        limit_ = cap_ - cap_ / 8;
        return p.at;
      }
      // The entry is in: if the table cannot grow now, it stays correct with a
      // fuller array, and a later insert tries again.
      try {
        grow(fillCap(fill));
      } catch (std::bad_alloc const&) {
      }
    } else {
      return p.at;
    }
    return findIn(h, k);
  }

  // How many keys a fill in hash order holds in all, judged when its latest key
  // (hash h) has just gone in, with nothing after it from slot `from` on (checked at
  // eight points): such a fill covers the hashes evenly, so it holds about
  // size / (h / 2^64) keys, give or take 1 / sqrt(size) of it. The bounds are two of
  // those deviations either side; both 0 when the array does not look so. A table
  // sized from a wide estimate estimates again, more closely, when its run grows
  // long or it fills.
  struct Estimate {
    double fewest = 0;
    double most = 0;
  };
  Estimate orderedFill(Slot* from, uint64_t h) const noexcept {
    if (h < (uint64_t(1) << 48)) return {};
    Slot* const last = slots_ + usable(cap_, len_);
    if (last - from < 16) return {};
    size_t const span = size_t(last - from);
    for (size_t i = 1; i <= 8; ++i) {
      if (!empty(from + span * i / 8 - 1)) return {};
    }
    double const seen = double(size_);
    double const count = seen / (double(h) * 0x1p-64);
    double const deviation = count / std::sqrt(seen);
    return {count - 2 * deviation, count + 2 * deviation};
  }
  // Home slots for the whole of a fill in hash order: its expected count at the
  // usual load of 3/4 when the most it may hold still fits within 7/8 (so from a
  // few hundred keys on); a fill that turns out larger takes the rest up to there
  // rather than growing. While the estimate is wider, room for its fewest keys at a
  // load of 5/8.
  static double fillCap(Estimate const& fill) noexcept {
    double const expected = (fill.fewest + fill.most) / 2;
    return fill.most * 6 <= expected * 7 ? expected * 4 / 3 + 2 : fill.fewest * 1.6;
  }

  // The home slots to rehash to when an insert found its run too long in a table
  // mostly empty: those for the whole of a fill in hash order when it looks like one
  // (the array empty past the run), else twice today's. Room for the whole fill
  // keeps the rest of it from growing the table more than once. Only at
  // the fill's start (most entries in the one run, their hashes spread evenly below
  // the new key's) may the estimate go past twice today's: a poor hash that piles
  // keys on a few small values makes runs too, and estimates far too high.
  uint32_t spreadingCap(Place const& p, uint64_t h) const noexcept {
    Slot* runStart = p.at;
    while (runStart > p.base && !empty(runStart - 1)) --runStart;
    Slot* runEnd = p.at;
    while (!empty(runEnd)) ++runEnd;
    Estimate const fill = orderedFill(runEnd, h);
    if (fill.fewest <= 0) return cap_ * 2;
    uint64_t const middle = hashAt(runStart + (runEnd - runStart) / 2);
    bool const start = size_t(runEnd - runStart) * 2 >= size_ && middle >= h / 4 && middle <= h / 4 * 3;
    double const most = start ? double(1u << 30) : cap_ * 2.0;
    double const cap = std::min(std::max(fillCap(fill), cap_ * 1.125 + 1), most);
    return uint32_t(cap);
  }

  // Whether the table is in a fill in hash order that it is already sized to hold
  // whole: a long run there is of keys piled on a few homes, which growing would
  // not spread.
  bool holdsWholeFill(Place const& p, uint64_t h) const noexcept {
    Slot* runEnd = p.at;
    while (!empty(runEnd)) ++runEnd;
    Estimate const fill = orderedFill(runEnd, h);
    return fill.fewest > 0 && fillCap(fill) <= cap_;
  }

  // Whether the run from last's home slot to `last` is of keys that a larger table
  // would spread: keys of at least crowdedHashes different hashes, counting hashes
  // that share their top 32 bits as one, and no more than longRun / 2 keys of any
  // one of those. Keys that share them keep one home in a table of any size: a run
  // of one hash (a poor hash), or of keys hashed by a part they share (an
  // interface's port maps), stays as long however far the table grows, and so do
  // the runs of the keys whose homes it covers.
  static constexpr unsigned crowdedHashes = 8;
  static bool crowded(Place const& p, Slot* last) noexcept {
    Slot* s = p.base + homeSlot(hashAt(last), p.cap);
    uint64_t top = hashAt(s) >> 32;
    unsigned hashes = 1;
    unsigned same = 1;
    while (s < last) {
      uint64_t const t = hashAt(++s) >> 32;
      same = t == top ? same + 1 : 1;
      if (same > longRun / 2) return false;
      hashes += unsigned(t != top);
      top = t;
    }
    return hashes >= crowdedHashes;
  }

  // The common insert in a table not migrating: into the place itself when an erase
  // left it dead (the same key put back, most often), else up to the first free slot
  // (empty or dead) within `window` slots of the place, the run moving up one slot
  // whatever its length, without a branch on it. Returns false, changing nothing, when
  // the run is longer, or live and dead slots have reached the limit (growth or a
  // sweep is due).
  [[gnu::always_inline]] bool addNearby(Slot* at, uint64_t h, Stored& item) noexcept {
    if (CORVANE_UNLIKELY(size_ >= limit_) || CORVANE_UNLIKELY(size_ + dead_ >= deadLimit())) return false;
    if (dead(at)) {
      --dead_;
    } else {
      unsigned freeMask = 0;
      for (unsigned i = 0; i < window; ++i) freeMask |= unsigned(vacant(at + i)) << i;
      if (CORVANE_UNLIKELY(freeMask == 0)) return false;
      unsigned const end = static_cast<unsigned>(__builtin_ctz(freeMask));
      // The run may not move into the empty slots that end the array.
      if (CORVANE_UNLIKELY(at + end >= slots_ + usable(cap_, len_))) return false;
      dead_ -= unsigned(!empty(at + end));
      for (unsigned i = window - 1; i > 0; --i) {
        Slot const* from = at + i - opaque(i <= end);
        Slot const tmp = *from;
        at[i] = tmp;
      }
    }
    ::new (static_cast<void*>(at->raw)) Stored(std::move(item));
    hashIs(at, h);
    ++size_;
    ++version_;
    return true;
  }

  // An entry ready to go in a slot: the entry itself, or a node holding it (from
  // the nodes this table has given up, when it has some).
  template <class U>
  Stored makeStored(K const& k, U&& v) {
    if constexpr (inlineEntries) {
      return Entry{k, V(std::forward<U>(v))};
    } else {
      void* raw = pool_.free;
      if (raw) {
        pool_.free = *static_cast<void**>(raw);
        --pool_.spare;
      } else {
        raw = ::operator new(sizeof(Entry));
      }
      try {
        return ::new (raw) Entry{k, V(std::forward<U>(v))};
      } catch (...) {
        giveNode(raw);
        throw;
      }
    }
  }
  // Destroys the node of an entry from makeStored, keeping it for the next insert
  // (an entry held inline is destroyed with its variable).
  void dropStored(Stored& item) noexcept {
    if constexpr (!inlineEntries) {
      item->~Entry();
      giveNode(item);
    }
  }
  void giveNode(void* raw) noexcept {
    *static_cast<void**>(raw) = pool_.free;
    pool_.free = raw;
    ++pool_.spare;
  }
  void freeNodes() noexcept {
    if constexpr (!inlineEntries) {
      for (void* n = pool_.free; n;) {
        void* next = *static_cast<void**>(n);
        ::operator delete(n);
        n = next;
      }
      pool_ = {};
    }
  }

  // Moves slots [at, end) one slot up; end is empty.
  static void shiftRight(Slot* at, Slot* end) noexcept {
    if constexpr (trivialSlots) {
      std::memmove(static_cast<void*>(at + 1), static_cast<void const*>(at), sizeof(Slot) * size_t(end - at));
    } else {
      for (Slot* s = end; s > at; --s) relocate(s, s - 1);
    }
  }

  // Closes the gap at `gap` (its entry destroyed): each following entry away from
  // its home slot moves down one, up to an empty slot or an entry at home. Returns
  // the slot left empty: the entries after `gap` up to it have moved down one.
  static Slot* backShift(Slot* base, uint32_t cap, Slot* gap) noexcept {
    if constexpr (trivialSlots) {
      if (CORVANE_LIKELY(cap >= smallCap)) {
        // The common case without a branch on the run: of the next window - 1 slots, the
        // leading ones away from home move down one.
        uint32_t const g = uint32_t(gap - base);
        unsigned moving = 0;
        unsigned all = 1;
        for (unsigned i = 1; i < window; ++i) {
          all &= unsigned(!empty(gap + i)) & unsigned(homeSlot(hashAt(gap + i), cap) < g + i);
          moving += all;
        }
        if (CORVANE_LIKELY(moving < window - 1)) {
          for (unsigned i = 0; i + 1 < window; ++i) {
            Slot const* from = gap + i + opaque(i < moving);
            Slot const tmp = *from;
            gap[i] = tmp;
          }
          emptyIs(gap + moving);
          return gap + moving;
        }
      }
    }
    if constexpr (trivialSlots) {
      // Each entry away from home after the gap moves down one as it is found.
      Slot* n = gap + 1;
      for (uint32_t at = uint32_t(n - base); !empty(n) && homeSlot(hashAt(n), cap) < at; ++at, ++n) {
        std::memcpy(static_cast<void*>(n - 1), static_cast<void const*>(n), sizeof(Slot));
      }
      emptyIs(n - 1);
      return n - 1;
    }
    for (Slot* n = gap + 1; !empty(n) && homeSlot(hashAt(n), cap) <= uint32_t(gap - base); ++n) {
      relocate(gap, n);
      gap = n;
    }
    emptyIs(gap);
    return gap;
  }

  // Closes the dead slots in [from, to), a stretch of one run (a close may move the
  // slot at `to` down one).
  void closeDead(Slot* from, Slot* to) noexcept {
    for (Slot* s = from; s < to;) {
      if (dead(s)) {
        backShift(slots_, cap_, s);
        --dead_;
        --to;
      } else {
        ++s;
      }
    }
  }

  // Closes dead slots from sweep_ on, looking at sweepSlots slots (a slot whose dead
  // entry closed holds the next entry then, and is looked at again), and starting
  // over from the array's start past its end. Each insert that finds the table at
  // its limit makes a step, until enough are closed.
  void sweepSome() noexcept {
    uint32_t const end = usable(cap_, len_);
    uint32_t i = sweep_ < end ? sweep_ : 0;
    for (uint32_t looked = 0; looked < sweepSlots && dead_ > 0; ++looked) {
      Slot* const s = slots_ + i;
      if (dead(s)) {
        backShift(slots_, cap_, s);
        --dead_;
      } else if (++i == end) {
        i = 0;
      }
    }
    sweep_ = i;
  }

  // The entry d slots after slot s when that slot holds one in the same array; null
  // past the array's end, on an empty or dead slot, and while the table grows.
  Entry const* entryAhead(Slot* s, uint32_t d) const noexcept {
    if (mig_ || d >= uint32_t(slots_ + len_ - 1 - s)) return nullptr;
    return live(s + d) ? &entryOf(s + d) : nullptr;
  }

  // The first entry at or after slot s in iteration order, or null.
  Slot* settle(Slot* s) const noexcept {
    if (CORVANE_LIKELY(!mig_)) {
      Slot* const end = slots_ + len_ - 1;
      for (; s < end; ++s) {
        if (live(s)) return s;
      }
      return nullptr;
    }
    Migration const& m = *mig_;
    auto const at = reinterpret_cast<uintptr_t>(s);
    if (at >= reinterpret_cast<uintptr_t>(slots_) && at <= reinterpret_cast<uintptr_t>(slots_ + len_)) {
      for (Slot* const end = slots_ + m.cleared; s < end; ++s) {
        if (live(s)) return s;
      }
      s = m.old + m.pos;
    }
    for (Slot* const end = m.old + m.oldLen - 1; s < end; ++s) {
      if (live(s)) return s;
    }
    return nullptr;
  }

  Slot* seekSlot(uint64_t h, K const& k, bool strictlyAfter) const noexcept {
    Slot* s;
    if (!mig_) {
      s = slots_ + homeSlot(h, cap_);
    } else if (h >= mig_->boundary) {
      uint32_t const home = homeSlot(h, mig_->oldCap);
      s = mig_->old + (home > mig_->pos ? home : mig_->pos);
    } else {
      uint32_t const home = homeSlot(h, cap_);
      s = slots_ + (home < mig_->cleared ? home : mig_->cleared);
    }
    while (!empty(s) && (slotLess(s, h, k) || (strictlyAfter && hashAt(s) == h && keyOf(s) == k))) ++s;
    return settle(s);
  }
  iterator seek(uint64_t h, K const& k, bool strictlyAfter) { return iterator(this, seekSlot(h, k, strictlyAfter)); }

  // Takes a fresh array of `cap` home slots for an empty table.
  void adopt(uint32_t cap) {
    uint32_t const len = lenFor(cap);
    slots_ = clearedSlots(len);
    cap_ = cap;
    limit_ = maxSize(cap);
    len_ = len;
  }

  // Grows to `want` home slots when that is more than an eighth above today's
  // (and at most 2^30), else by the usual step.
  void grow(double want = 0) {
    uint32_t const cap = want > cap_ + cap_ / 8 && want < double(1u << 30) ? uint32_t(want) : nextCap(cap_);
    if (cap_ < incrementalFrom) {
      rehash(cap);
      return;
    }
    // The new array comes in uninitialised; its slots are cleared as the old
    // entries reach them, so no step touches all of it. The first entries move at
    // the next insert or erase: the allocation (a system call, and at a million
    // entries as long as a whole step with its page faults) is this one's share.
    uint32_t const len = lenFor(cap);
    Slot* fresh = allocSlots(len);
    Migration* m;
    try {
      m = new Migration{slots_, cap_, len_, 0, 0, 0, reinterpret_cast<unsigned char*>(slots_)};
    } catch (...) {
      freeSlots(fresh, len, fresh);
      throw;
    }
    slots_ = fresh;
    cap_ = cap;
    limit_ = maxSize(cap);
    len_ = len;
    mig_ = m;
  }

  // Where an entry goes when entries come in order, each after the one before: its
  // home slot or the slot after the last, whichever is later.
  static uint32_t orderedSlot(uint64_t h, uint32_t cap, uint32_t& next) noexcept {
    uint32_t const home = homeSlot(h, cap);
    uint32_t const at = home > next ? home : next;
    next = at + 1;
    return at;
  }
  // The first of cap, 2 cap, 4 cap... whose array takes every entry of `from` in order
  // without filling its last slot (only a hash that piles many keys on few values
  // needs more than `cap`).
  static uint32_t capFitting(HashTable const& from, uint32_t cap) noexcept {
    for (;; cap *= 2) {
      uint32_t const last = usable(cap, lenFor(cap));
      uint32_t next = 0;
      Slot* s = from.settle(from.slots_);
      while (s && orderedSlot(hashAt(s), cap, next) < last) s = from.settle(s + 1);
      if (!s) return cap;
    }
  }

  // Moves every entry into a new array of at least `cap` home slots at once.
  void rehash(uint32_t cap) {
    cap = capFitting(*this, cap);
    uint32_t const len = lenFor(cap);
    Slot* fresh = clearedSlots(len);
    uint32_t next = 0;
    for (Slot* s = settle(slots_); s;) {
      Slot* following = settle(s + 1);
      relocate(fresh + orderedSlot(hashAt(s), cap, next), s);
      s = following;
    }
    if (mig_) dropMigration();
    if (cap_ != 0) freeSlots(slots_, len_, slots_);
    slots_ = fresh;
    cap_ = cap;
    limit_ = maxSize(cap);
    len_ = len;
    dead_ = 0;
  }

  // Makes the new array's slots up to `n` exist (empty) during a migration.
  void clearTo(uint32_t n) noexcept {
    Migration& m = *mig_;
    if (n > len_) n = len_;
    if (n <= m.cleared) return;
    clearSlots(slots_ + m.cleared, n - m.cleared);
    m.cleared = n;
  }

  // Moves the next entries of the old array into the new one; the last step frees
  // the old array.
  void migrateSome() noexcept {
    Migration& m = *mig_;
    uint32_t const last = m.oldLen - 1;
    uint32_t i = m.pos;
    uint32_t moved = 0;
    uint64_t lastHash = 0;
    // Every entry of the new array sorts below the one moving, so it goes to the
    // first empty slot from its home on; after the first move of the step that is
    // its home or the slot after the entry moved before it, whichever is later
    // (nothing is above that one).
    Slot* next = nullptr;
    Slot* const end = slots_ + usable(cap_, len_);
    for (; i < last; ++i) {
      Slot* s = m.old + i;
      if (vacant(s)) {
        dead_ -= unsigned(!empty(s));
        continue;
      }
      uint64_t const hs = hashAt(s);
      if (moved >= entriesPerStep && hs != lastHash) break;
      Slot* to = slots_ + homeSlot(hs, cap_);
      if (next) {
        if (to < next) to = next;
      } else {
        clearTo(uint32_t(to - slots_) + 2);
        while (!empty(to)) ++to;
      }
      if (to >= end) {
        // The new array's overflow slots are full (a hash that piles keys on one
        // value): stop here, so that the next insert moves everything at once.
        break;
      }
      clearTo(uint32_t(to - slots_) + 2);
      relocate(to, s);
      next = to + 1;
      lastHash = hs;
      ++moved;
    }
    for (; i < last && vacant(m.old + i); ++i) dead_ -= unsigned(!empty(m.old + i));
    if (i >= last) {
      endMigration();
      return;
    }
    m.pos = i;
    m.boundary = hashAt(m.old + i);
    // The old array's memory goes back as the entries leave it, 16 KiB at a time:
    // freeing tens of megabytes at once at the end took a millisecond, and a give-back
    // of 64 KiB took up to 30 us when the system call itself came in cold.
    auto* const passed = reinterpret_cast<unsigned char*>(m.old + i);
    if (size_t(passed - m.released) >= releaseBytes) {
      m.released = slotArrayGiveBack(m.old, sizeof(Slot) * size_t(m.oldLen), m.released, passed);
    }
    // Keep the cleared part of the new array in step with the old array's progress
    // through its home slots, so that the new array's overflow slots are cleared by
    // the time the last entries move and the last step has little left to do.
    uint64_t const ahead = uint64_t(i) * len_ / m.oldCap + 2;
    clearTo(ahead < len_ ? uint32_t(ahead) : len_);
  }

  // Ends a migration: the new array fully initialised, the old one freed (its
  // entries moved or destroyed by the caller).
  void endMigration() noexcept {
    clearTo(len_);
    dead_ = 0;
    dropMigration();
  }
  // Frees the old array and the record, leaving the new array's uncleared part as
  // it is: for the end of a migration, and for a table going away or moved at once.
  void dropMigration() noexcept {
    freeSlots(mig_->old, mig_->oldLen, mig_->released);
    delete mig_;
    mig_ = nullptr;
  }

  // Destroys every entry (a node's entry, and the node goes to the spare list).
  void destroyAll() noexcept {
    if constexpr (!inlineEntries || !std::is_trivially_destructible_v<Stored>) {
      for (Slot* s = settle(slots_); s; s = settle(s + 1)) destroy(s);
    }
  }
  void release() noexcept {
    if (cap_ == 0) return;
    destroyAll();
    freeNodes();
    // The new array goes as it is: clearing the slots no entry reached yet would
    // only touch memory about to be freed.
    if (mig_) dropMigration();
    freeSlots(slots_, len_, slots_);
  }

  struct NodePool {
    void* free = nullptr;  // nodes given up, linked through their first word
    uint32_t spare = 0;
  };
  struct NoNodes {};

  Slot* slots_ = const_cast<Slot*>(&emptySlot_);
  [[no_unique_address]] std::conditional_t<inlineEntries, NoNodes, NodePool> pool_;
  uint64_t version_ = 0;
  Migration* mig_ = nullptr;
  uint32_t size_ = 0;
  uint32_t dead_ = 0;  // dead slots (made only while not migrating)
  uint32_t limit_ = 0;  // maxSize(cap_): the size past which the table grows
  uint32_t sweep_ = 0;  // where the next sweep step starts
  uint32_t cap_ = 0;  // home slots; 0 while the table holds no array
  uint32_t len_ = 1;  // slots in the array: home, overflow and the empty one at the end
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
