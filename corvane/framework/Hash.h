// Hashing of the library's value types. Hash values are 64-bit on every target
// (32-bit agents included), so iteration order of hash collections is the same
// everywhere.
#pragma once

#include <concepts>
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

// Value types whose every value has its lowest bit clear: pointers to objects
// aligned to two bytes or more, held in one word. A table of such values keyed by
// keys of hashFromKey marks its free slots in that bit and keeps no hash at all.
// Specialized true by such types of the library (counted references, the engine's
// follower pointers).
template <class V>
inline constexpr bool lowBitFree = false;

// The hash a collection uses: hashValue() found by argument-dependent lookup.
template <class K>
struct Hasher {
  uint64_t operator()(K const& k) const noexcept {
    using Corvane::hashValue;
    return hashValue(k);
  }
};

}  // namespace Corvane
