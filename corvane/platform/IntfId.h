// Net::IntfId, the platform's 64-bit interface identifier, as the library needs it:
// built from or printed as an interface name, classified (LAG or not), hashed, and
// ordered by its value as an unsigned number.
//
// Encoding: the top byte is the interface kind; the rest depends on the kind.
//   Ethernet     kind 1, bits 48-49 hold (number of name components - 1), then up to
//                three 16-bit components at bits 32, 16 and 0: "Ethernet3",
//                "Ethernet3/1", "Ethernet3/1/2".
//   Port-Channel kind 2, the number in the low 32 bits: "Port-Channel10".
//   CpuTm        kind 3, the number in the low 32 bits: "CpuTm0".
// Any other value prints as "Intf0x<hex>" and parses back from that text; the
// default IntfId (value 0, no interface) prints as "Intf0x0".
#pragma once

#include <compare>
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

namespace Net {

class CORVANE_API IntfId {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  static constexpr uint8_t kindEthernet = 1;
  static constexpr uint8_t kindPortChannel = 2;
  static constexpr uint8_t kindCpuTm = 3;

  constexpr IntfId() noexcept = default;
  constexpr explicit IntfId(uint64_t value) noexcept : value_(value) {}
  // Parses an interface name; bad text throws Corvane::ParseError.
  explicit IntfId(std::string_view name);
  explicit IntfId(char const* name) : IntfId(std::string_view(name)) {}
  explicit IntfId(std::string const& name) : IntfId(std::string_view(name)) {}

  static IntfId ethernet(uint16_t a) noexcept;
  static IntfId ethernet(uint16_t a, uint16_t b) noexcept;
  static IntfId ethernet(uint16_t a, uint16_t b, uint16_t c) noexcept;
  static IntfId portChannel(uint32_t n) noexcept;
  static IntfId cpuTm(uint32_t n) noexcept;

  // Reads one interface name at the start of `text`, stops at the first character
  // that cannot continue it and returns the number of characters used (0: none).
  static size_t parsePrefix(std::string_view text, IntfId& out) noexcept;

  constexpr uint64_t value() const noexcept { return value_; }
  constexpr uint8_t kind() const noexcept { return static_cast<uint8_t>(value_ >> 56); }
  constexpr bool isPortChannelIntfId() const noexcept { return kind() == kindPortChannel; }
  constexpr bool isCpuTmIntfId() const noexcept { return kind() == kindCpuTm; }
  constexpr bool isEthernetIntfId() const noexcept { return kind() == kindEthernet; }
  constexpr explicit operator bool() const noexcept { return value_ != 0; }

  std::string stringValue() const;  // "Ethernet3/1", "Port-Channel10", ...
  std::string shortName() const;    // "Et3/1", "Po10", "CpuTm0", ...

  friend constexpr bool operator==(IntfId a, IntfId b) noexcept { return a.value_ == b.value_; }
  friend constexpr std::strong_ordering operator<=>(IntfId a, IntfId b) noexcept {
    return a.value_ <=> b.value_;
  }

 private:
  uint64_t value_ = 0;
};

CORVANE_API std::ostream& operator<<(std::ostream& os, IntfId const& i);

constexpr uint64_t hashValue(IntfId i) noexcept { return Corvane::hashFinalize(i.value()); }

}  // namespace Net

namespace Corvane {
using Net::IntfId;
// One word, finalized: tables work the hash out again rather than keep it.
template <>
inline constexpr bool hashFromKey<IntfId> = true;
}  // namespace Corvane

template <>
struct std::hash<Net::IntfId> {
  size_t operator()(Net::IntfId i) const noexcept { return static_cast<size_t>(hashValue(i)); }
};

CORVANE_FORMATTER(Net::IntfId);
