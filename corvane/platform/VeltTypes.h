// Hardware::Velt value types: system TCAM ids, FAP ids, core ids, FAP ports and the
// PortMap that places a port in the chip. They check their ranges, hash with 64-bit
// arithmetic, order field by field and print and parse a text form of their own.
#pragma once

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Hash.h"
#include "corvane/framework/TextForm.h"

namespace Corvane {
class TypeData;
}  // namespace Corvane

namespace Hardware::Velt {

// One system TCAM. Default 2048; 65535 is reserved (an absent id in a stored optional).
class CORVANE_API SystemTcamId {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  static constexpr uint16_t defaultValue = 2048;
  static constexpr uint16_t reservedNone = 65535;

  constexpr SystemTcamId() noexcept = default;
  constexpr explicit SystemTcamId(uint16_t v) noexcept : value_(v) {}
  constexpr uint16_t value() const noexcept { return value_; }

  // Decimal text. Parsing past 65535 raises RangeError, other bad text ParseError.
  static SystemTcamId parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, SystemTcamId& out);

  friend constexpr bool operator==(SystemTcamId, SystemTcamId) noexcept = default;
  friend constexpr auto operator<=>(SystemTcamId, SystemTcamId) noexcept = default;

 private:
  uint16_t value_ = defaultValue;
};

// FAP number, 0 to 2048 (null). 2046 and 2047 are wildcards: every FAP.
class CORVANE_API FapId {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  static constexpr uint16_t min = 0;
  static constexpr uint16_t null = 2048;
  static constexpr uint16_t wildcardA = 2046;
  static constexpr uint16_t wildcardB = 2047;

  constexpr FapId() noexcept = default;
  explicit FapId(uint32_t v);
  constexpr uint16_t value() const noexcept { return value_; }
  constexpr bool isWildcard() const noexcept { return value_ == wildcardA || value_ == wildcardB; }
  constexpr bool isNull() const noexcept { return value_ == null; }

  friend constexpr bool operator==(FapId, FapId) noexcept = default;
  friend constexpr auto operator<=>(FapId, FapId) noexcept = default;

 private:
  uint16_t value_ = null;
};

// Core number within a FAP, 0 to 6 (null). 4 and 5 are wildcards: every core.
class CORVANE_API LocalCoreId {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  static constexpr uint16_t min = 0;
  static constexpr uint16_t null = 6;
  static constexpr uint16_t wildcardA = 4;
  static constexpr uint16_t wildcardB = 5;

  constexpr LocalCoreId() noexcept = default;
  explicit LocalCoreId(uint32_t v);
  constexpr uint16_t value() const noexcept { return value_; }
  constexpr bool isWildcard() const noexcept { return value_ == wildcardA || value_ == wildcardB; }
  constexpr bool isNull() const noexcept { return value_ == null; }

  friend constexpr bool operator==(LocalCoreId, LocalCoreId) noexcept = default;
  friend constexpr auto operator<=>(LocalCoreId, LocalCoreId) noexcept = default;

 private:
  uint16_t value_ = null;
};

// Port number on a FAP. Default 256 (no port). FAP ports 0 to 7 are the CPU TM ports,
// through which the chip talks to the CPU.
class CORVANE_API FapPortId {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  static constexpr uint32_t defaultValue = 256;
  static constexpr uint32_t cpuTmPortLast = 7;

  constexpr FapPortId() noexcept = default;
  constexpr explicit FapPortId(uint32_t v) noexcept : value_(v) {}
  constexpr uint32_t value() const noexcept { return value_; }
  constexpr bool isCpuTmPort() const noexcept { return value_ <= cpuTmPortLast; }

  friend constexpr bool operator==(FapPortId, FapPortId) noexcept = default;
  friend constexpr auto operator<=>(FapPortId, FapPortId) noexcept = default;

 private:
  uint32_t value_ = defaultValue;
};

// Where a port sits: FAP, port on the FAP, core. Ordered by the fields in that order.
// Text form: "PortMap(fap=3, port=17, core=1)".
class CORVANE_API PortMap {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  constexpr PortMap() noexcept = default;
  constexpr PortMap(FapId fap, FapPortId port, LocalCoreId core) noexcept
      : fapId_(fap), localCoreId_(core), fapPortId_(port) {}

  constexpr FapId fapId() const noexcept { return fapId_; }
  constexpr FapPortId fapPortId() const noexcept { return fapPortId_; }
  constexpr LocalCoreId localCoreId() const noexcept { return localCoreId_; }
  void fapIdIs(FapId f) noexcept { fapId_ = f; }
  void fapPortIdIs(FapPortId p) noexcept { fapPortId_ = p; }
  void localCoreIdIs(LocalCoreId c) noexcept { localCoreId_ = c; }

  // The three fields side by side in one word, mixed once.
  uint64_t hash(uint64_t seed = 0) const noexcept {
    return Corvane::hashMix(seed, uint64_t(fapPortId_.value()) << 32 | uint64_t(fapId_.value()) << 16 |
                                      localCoreId_.value());
  }

  // Range errors of the FAP and core ids pass through; other bad text is a ParseError.
  static PortMap parse(std::string_view text);
  // Reads one port map at the start of text; returns the characters used (0: none).
  static size_t parsePrefix(std::string_view text, PortMap& out);

  // A FAP id is at most 2048: the top bit of its high byte is never set, and a
  // table of port maps marks its free slots there (see Corvane::FreeMark).
  static constexpr size_t freeMarkAt = std::endian::native == std::endian::little ? 1 : 0;
  static constexpr uint8_t freeMarkBit = 0x80;

  friend constexpr bool operator==(PortMap const&, PortMap const&) noexcept = default;
  friend constexpr std::strong_ordering operator<=>(PortMap const& a, PortMap const& b) noexcept {
    if (auto c = a.fapId_ <=> b.fapId_; c != 0) return c;
    if (auto c = a.fapPortId_ <=> b.fapPortId_; c != 0) return c;
    return a.localCoreId_ <=> b.localCoreId_;
  }

 private:
  // The two 16-bit ids side by side: 8 bytes rather than 12, in every table of
  // port maps. The order above stays FAP, port, core.
  FapId fapId_;
  LocalCoreId localCoreId_;
  FapPortId fapPortId_;
};
static_assert(sizeof(PortMap) == 8 && FapId::null < 0x8000);

CORVANE_API std::ostream& operator<<(std::ostream& os, SystemTcamId const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, FapId const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, LocalCoreId const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, FapPortId const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, PortMap const& v);

constexpr uint64_t hashValue(SystemTcamId v) noexcept { return Corvane::hashFinalize(v.value()); }
constexpr uint64_t hashValue(FapId v) noexcept { return Corvane::hashFinalize(v.value()); }
constexpr uint64_t hashValue(LocalCoreId v) noexcept { return Corvane::hashFinalize(v.value()); }
constexpr uint64_t hashValue(FapPortId v) noexcept { return Corvane::hashFinalize(v.value()); }
inline uint64_t hashValue(PortMap const& v) noexcept { return v.hash(0); }

}  // namespace Hardware::Velt

namespace Corvane {
// One 16-bit word, finalized: tables work the hash out again rather than keep it
// (an interface's statuses by TCAM, mostly one entry, take 16-byte slots).
template <>
inline constexpr bool hashFromKey<Hardware::Velt::SystemTcamId> = true;
}  // namespace Corvane

CORVANE_FORMATTER(Hardware::Velt::SystemTcamId);
CORVANE_FORMATTER(Hardware::Velt::FapId);
CORVANE_FORMATTER(Hardware::Velt::LocalCoreId);
CORVANE_FORMATTER(Hardware::Velt::FapPortId);
CORVANE_FORMATTER(Hardware::Velt::PortMap);
