// Hashing of the library's value types. Hash values are 64-bit on every target
// (32-bit agents included), so iteration order of hash collections is the same
// everywhere.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace Corvane {

// Finalizer of a 64-bit value (MurmurHash3's fmix64): every input bit reaches every output bit.
constexpr uint64_t hashFinalize(uint64_t h) noexcept {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}

// Mixes a value into a running seed.
constexpr uint64_t hashMix(uint64_t seed, uint64_t value) noexcept {
  return hashFinalize(seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2)));
}

template <std::integral I>
constexpr uint64_t hashValue(I v) noexcept {
  return hashFinalize(static_cast<uint64_t>(v));
}

template <class E>
  requires std::is_enum_v<E>
constexpr uint64_t hashValue(E v) noexcept {
  return hashFinalize(static_cast<uint64_t>(v));
}

inline uint64_t hashValue(std::string_view s) noexcept {
  uint64_t h = 0xcbf29ce484222325ULL;  // FNV-1a, then finalized
  for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ULL;
  return hashFinalize(h);
}
inline uint64_t hashValue(std::string const& s) noexcept { return hashValue(std::string_view(s)); }

// Key types whose hash a table may work out again from the key whenever it needs
// it, rather than keep it beside the entry: a finalizer of one word away, and every
// pattern of their bytes a key. Specialized true by such types of the library.
template <class K>
inline constexpr bool hashFromKey = std::is_integral_v<K> || std::is_enum_v<K>;

// Key types whose hash holds a part of the key in its low 32 bits, below a hash of
// the rest that many keys share (an interface's TCAMs, or its port maps). Tables
// keep whole hashes for them: with only the top half kept, most of their keys would
// be ordered by working their hashes out again. Specialized true by such types.
template <class K>
inline constexpr bool hashSharesTopHalf = false;

// Value types whose every value has its lowest bit clear: pointers to objects
// aligned to two bytes or more, held in one word (see FreeMark). Specialized true
// by such types of the library (counted references, the engine's follower pointers).
template <class V>
inline constexpr bool lowBitFree = false;

// Where a value type keeps a bit that no value of it sets: `at` is the byte's offset
// in the value and `bit` the bit. A table of such values keyed by keys of
// hashFromKey keeps no hash: it marks an empty slot with that byte set to `bit`
// alone and a dead one with `dead`. One-word values of lowBitFree have it in the
// word's lowest bit; a type may name its own with static members freeMarkAt and
// freeMarkBit (a flag byte with a spare top bit, say; a bit of 0 names none).
template <class V>
struct FreeMark {
  static constexpr bool exists = false;
};
template <class V>
  requires(lowBitFree<V> && sizeof(V) == sizeof(std::uintptr_t))
struct FreeMark<V> {
  static constexpr bool exists = true;
  static constexpr std::size_t at = std::endian::native == std::endian::little ? 0 : sizeof(V) - 1;
  static constexpr std::uint8_t bit = 1;
  static constexpr std::uint8_t dead = 3;
};
template <class V>
  requires requires {
    { V::freeMarkAt } -> std::convertible_to<std::size_t>;
    { V::freeMarkBit } -> std::convertible_to<std::uint8_t>;
  } && (V::freeMarkBit != 0)
struct FreeMark<V> {
  static_assert(V::freeMarkAt < sizeof(V) && std::has_single_bit(unsigned(V::freeMarkBit)));
  static constexpr bool exists = true;
  static constexpr std::size_t at = V::freeMarkAt;
  static constexpr std::uint8_t bit = V::freeMarkBit;
  static constexpr std::uint8_t dead = std::uint8_t(bit | (bit == 1 ? 2 : bit >> 1));
};

// The hash a collection uses: hashValue() found by argument-dependent lookup.
template <class K>
struct Hasher {
  uint64_t operator()(K const& k) const noexcept {
    using Corvane::hashValue;
    return hashValue(k);
  }
};

}  // namespace Corvane
