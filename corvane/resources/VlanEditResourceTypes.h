// VLAN-edit resource descriptors: one packed edit command (VlanOp and its ingress and
// egress forms), the per-tag-format command set a resource needs (VlanEditResourceKey),
// and the feature list that says who may share one. Features build these; the hardware
// layer that allocates IVE/EVE commands and profiles reads them.
#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Export.h"
#include "corvane/framework/Hash.h"
#include "corvane/framework/Node.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TextForm.h"

namespace Corvane {

// Each enumeration's table (enumTable, next to it) gives its text form, its parsing and
// its registry entry.
enum class IveVlanIdSource : uint8_t {
  iveVidSrcEmpty = 0,
  iveVidSrcAcEditInfo = 2,
  iveVidSrcAcEditInfo2 = 3,
  iveVidSrcOuterTag = 4,
  iveVidSrcInnerTag = 5,
};
CORVANE_API EnumTable const& enumTable(IveVlanIdSource) noexcept;

enum class IveVlanPcpDeiSource : uint8_t {
  ivePcpDeiSrcEmpty = 0,
  ivePcpDeiSrcAcEditInfo = 2,
  ivePcpDeiSrcAcEditInfo2 = 3,
  ivePcpDeiSrcOuterTag = 4,
  ivePcpDeiSrcInnerTag = 5,
};
CORVANE_API EnumTable const& enumTable(IveVlanPcpDeiSource) noexcept;

enum class EveVlanIdSource : uint8_t {
  eveVidSrcEmpty = 0,
  eveVidSrcOuterTag = 1,
  eveVidSrcInnerTag = 2,
  eveVidSrcEditInfo0 = 3,
  eveVidSrcEditInfo1 = 4,
  eveVidSrcEncapInfo = 5,
  eveVidSrcEditInfo2 = 6,
  eveVidSrcEditInfo3 = 7,
};
CORVANE_API EnumTable const& enumTable(EveVlanIdSource) noexcept;

enum class EvePcpDeiSource : uint8_t {
  evePcpDeiSrcEmpty = 0,
  evePcpDeiSrcOuterTag = 1,
  evePcpDeiSrcInnerTag = 2,
  evePcpDeiSrcMap = 3,
};
CORVANE_API EnumTable const& enumTable(EvePcpDeiSource) noexcept;

// Profile numbers; only the default profile has a name, the others print as numbers.
enum class IveProfile : uint32_t { iveProfileDefaultOp = 0 };
CORVANE_API EnumTable const& enumTable(IveProfile) noexcept;
enum class EveProfile : uint32_t { eveProfileDefaultOp = 0 };
CORVANE_API EnumTable const& enumTable(EveProfile) noexcept;

// How the hardware layer reports a VLAN-edit allocation.
enum class StatusCode : uint8_t { error = 0, profileAllocError = 1, hwResourceFull = 2, success = 3 };
CORVANE_API EnumTable const& enumTable(StatusCode) noexcept;

// Index of an incoming tag format, 0 (Invalid_) to 33 (Tag_Max_). Prints as its number.
class CORVANE_API TagFormat {
 public:
  static constexpr uint8_t Invalid_ = 0;
  static constexpr uint8_t Tag_Max_ = 33;
  static constexpr size_t count = Tag_Max_ + 1;

  constexpr TagFormat() noexcept = default;
  // Values above Tag_Max_ raise RangeError.
  explicit TagFormat(uint32_t v);
  explicit TagFormat(std::string_view text);

  constexpr uint8_t value() const noexcept { return value_; }
  constexpr explicit operator bool() const noexcept { return value_ != Invalid_; }

  // Decimal text; a number above Tag_Max_ raises RangeError, other bad text ParseError.
  static TagFormat parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, TagFormat& out);

  friend constexpr bool operator==(TagFormat, TagFormat) noexcept = default;
  friend constexpr auto operator<=>(TagFormat, TagFormat) noexcept = default;

  static TypeData& typeDataStatic() noexcept;

 private:
  uint8_t value_ = Invalid_;
};

// One VLAN-edit command packed into dword0, plus the direction it applies in. The
// field accessors read and write bit fields of dword0; a write masks the value to the
// field's width and leaves every other bit alone.
class CORVANE_API VlanOp {
 public:
  enum class VlanOpDir : uint8_t { invalid = 0, ingress = 1, egress = 2 };

  constexpr VlanOp() noexcept = default;
  constexpr explicit VlanOp(VlanOpDir direction) noexcept : direction_(direction) {}
  constexpr VlanOp(uint64_t dword0, VlanOpDir direction) noexcept : dword0_(dword0), direction_(direction) {}
  explicit VlanOp(std::string_view text);

  constexpr uint64_t dword0() const noexcept { return dword0_; }
  void dword0Is(uint64_t v) noexcept { dword0_ = v; }
  constexpr VlanOpDir direction() const noexcept { return direction_; }
  static constexpr uint8_t tpidIdxMax() noexcept { return 3; }

  uint8_t tagsToRemove() const noexcept { return field<0, 2>(); }
  void tagsToRemoveIs(uint8_t v) noexcept { fieldIs<0, 2>(v); }
  uint8_t outerVidSrc() const noexcept { return field<2, 3>(); }
  void outerVidSrcIs(uint8_t v) noexcept { fieldIs<2, 3>(v); }
  uint8_t outerTpidIdx() const noexcept { return field<5, 4>(); }
  void outerTpidIdxIs(uint8_t v) noexcept { fieldIs<5, 4>(v); }
  uint8_t outerPcpDeiSrc() const noexcept { return field<9, 3>(); }
  void outerPcpDeiSrcIs(uint8_t v) noexcept { fieldIs<9, 3>(v); }
  uint8_t innerVidSrc() const noexcept { return field<12, 3>(); }
  void innerVidSrcIs(uint8_t v) noexcept { fieldIs<12, 3>(v); }
  uint8_t innerTpidIdx() const noexcept { return field<15, 4>(); }
  void innerTpidIdxIs(uint8_t v) noexcept { fieldIs<15, 4>(v); }
  uint8_t innerPcpDeiSrc() const noexcept { return field<19, 3>(); }
  void innerPcpDeiSrcIs(uint8_t v) noexcept { fieldIs<19, 3>(v); }

  // The command as an ingress command: dword0 unchanged.
  VlanOp ivecFormat() const noexcept { return VlanOp(dword0_, VlanOpDir::ingress); }
  // The command as an egress command format, without the egress-only bits 22-26, so
  // commands that differ only in those share one format.
  VlanOp evecFormat() const noexcept { return VlanOp(dword0_ & ~egressOnlyMask, VlanOpDir::egress); }
  // The format in the command's own direction. A command without a direction has no
  // format: InternalError "Unsupported direction: invalid".
  VlanOp vlanEditFormat() const;

  // False for the empty slot value: dword0 0, direction invalid.
  constexpr explicit operator bool() const noexcept { return dword0_ != 0 || direction_ != VlanOpDir::invalid; }

  uint64_t hash(uint64_t seed = 0) const noexcept {
    return hashMix(hashMix(seed, dword0_), static_cast<uint64_t>(direction_));
  }

  static VlanOp parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, VlanOp& out);

  friend constexpr bool operator==(VlanOp const&, VlanOp const&) noexcept = default;
  friend constexpr auto operator<=>(VlanOp const&, VlanOp const&) noexcept = default;

  static TypeData& typeDataStatic() noexcept;

 protected:
  // Bits 22-26: vlanMirror, vlanMembership, removeTxTag.
  static constexpr uint64_t egressOnlyMask = uint64_t{0x1f} << 22;

  template <unsigned Pos, unsigned Width>
  uint8_t field() const noexcept {
    return static_cast<uint8_t>((dword0_ >> Pos) & ((uint64_t{1} << Width) - 1));
  }
  template <unsigned Pos, unsigned Width>
  void fieldIs(uint8_t v) noexcept {
    constexpr uint64_t mask = ((uint64_t{1} << Width) - 1) << Pos;
    dword0_ = (dword0_ & ~mask) | ((uint64_t{v} << Pos) & mask);
  }

 private:
  uint64_t dword0_ = 0;
  VlanOpDir direction_ = VlanOpDir::invalid;
};
CORVANE_API EnumTable const& enumTable(VlanOp::VlanOpDir) noexcept;

// A command for the ingress direction; false when dword0 is 0 and the direction ingress.
class CORVANE_API IngressVlanOp : public VlanOp {
 public:
  constexpr IngressVlanOp() noexcept : VlanOp(VlanOpDir::ingress) {}
  constexpr explicit IngressVlanOp(uint64_t dword0, VlanOpDir direction = VlanOpDir::ingress) noexcept
      : VlanOp(dword0, direction) {}
  explicit IngressVlanOp(std::string_view text);

  constexpr explicit operator bool() const noexcept { return dword0() != 0 || direction() != VlanOpDir::ingress; }

  static IngressVlanOp parse(std::string_view text);
  static TypeData& typeDataStatic() noexcept;
};

// A command for the egress direction, with the egress-only fields in bits 22-26.
class CORVANE_API EgressVlanOp : public VlanOp {
 public:
  constexpr EgressVlanOp() noexcept : VlanOp(VlanOpDir::egress) {}
  constexpr explicit EgressVlanOp(uint64_t dword0, VlanOpDir direction = VlanOpDir::egress) noexcept
      : VlanOp(dword0, direction) {}
  explicit EgressVlanOp(std::string_view text);

  uint8_t vlanMirror() const noexcept { return field<22, 2>(); }
  void vlanMirrorIs(uint8_t v) noexcept { fieldIs<22, 2>(v); }
  uint8_t vlanMembership() const noexcept { return field<24, 2>(); }
  void vlanMembershipIs(uint8_t v) noexcept { fieldIs<24, 2>(v); }
  uint8_t removeTxTag() const noexcept { return field<26, 1>(); }
  void removeTxTagIs(uint8_t v) noexcept { fieldIs<26, 1>(v); }

  constexpr explicit operator bool() const noexcept { return dword0() != 0 || direction() != VlanOpDir::egress; }

  static EgressVlanOp parse(std::string_view text);
  static TypeData& typeDataStatic() noexcept;
};

// The command to apply for each incoming tag format: 34 slots, empty ones included.
// Embedded by value in in-LIF entries, so it stays a flat array. It prints but cannot
// be read back from text.
class CORVANE_API VlanEditResourceKey {
 public:
  using VlanOpSetColl = std::array<VlanOp, TagFormat::count>;

  VlanEditResourceKey() noexcept = default;
  // Always refused: ParseError "No String constructor for VlanEditResourceKey - has collection".
  explicit VlanEditResourceKey(std::string_view text);

  // Every slot in tag-format order.
  VlanOpSetColl const& vlanOpSet() const noexcept { return vlanOpSet_; }
  VlanOp const& vlanOpSet(TagFormat t) const noexcept { return vlanOpSet_[t.value()]; }
  // An index above Tag_Max_ raises TagFormat's RangeError.
  VlanOp const& vlanOpSet(uint32_t index) const { return vlanOpSet(TagFormat(index)); }

  void vlanOpSetIs(TagFormat t, VlanOp const& op) noexcept { vlanOpSet_[t.value()] = op; }
  // An index above Tag_Max_ raises RangeError and leaves the key unchanged.
  void vlanOpSetIs(uint32_t index, VlanOp const& op);
  // Empties the slot and returns what it held.
  VlanOp vlanOpSetDel(TagFormat t) noexcept;
  VlanOp vlanOpSetDel(uint32_t index);
  void vlanOpSetDelAll() noexcept { vlanOpSet_.fill(VlanOp()); }

  // True when any slot holds a command.
  explicit operator bool() const noexcept;

  uint64_t hash(uint64_t seed = 0) const noexcept;

  friend bool operator==(VlanEditResourceKey const&, VlanEditResourceKey const&) noexcept = default;
  friend auto operator<=>(VlanEditResourceKey const&, VlanEditResourceKey const&) noexcept = default;

  static TypeData& typeDataStatic() noexcept;

 private:
  static void indexCheck(uint32_t index);

  VlanOpSetColl vlanOpSet_{};
};

// Text forms: "Corvane::VlanOp(dword0=0x1234, direction=ingress)" (likewise
// IngressVlanOp / EgressVlanOp); VlanEditResourceKey lists its non-empty slots:
// "Corvane::VlanEditResourceKey(vlanOpSet={3: Corvane::VlanOp(...), ...})".
CORVANE_API std::ostream& operator<<(std::ostream& os, VlanOp::VlanOpDir v);
CORVANE_API std::ostream& operator<<(std::ostream& os, IveVlanIdSource v);
CORVANE_API std::ostream& operator<<(std::ostream& os, IveVlanPcpDeiSource v);
CORVANE_API std::ostream& operator<<(std::ostream& os, EveVlanIdSource v);
CORVANE_API std::ostream& operator<<(std::ostream& os, EvePcpDeiSource v);
CORVANE_API std::ostream& operator<<(std::ostream& os, IveProfile v);
CORVANE_API std::ostream& operator<<(std::ostream& os, EveProfile v);
CORVANE_API std::ostream& operator<<(std::ostream& os, StatusCode v);
CORVANE_API std::ostream& operator<<(std::ostream& os, TagFormat const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, VlanOp const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, IngressVlanOp const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, EgressVlanOp const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, VlanEditResourceKey const& v);

constexpr uint64_t hashValue(TagFormat v) noexcept { return hashFinalize(v.value()); }
inline uint64_t hashValue(VlanOp const& v) noexcept { return v.hash(0); }
inline uint64_t hashValue(VlanEditResourceKey const& v) noexcept { return v.hash(0); }

}  // namespace Corvane

namespace VeltVlanEdit {

enum class VlanEditFeature : uint8_t {
  featureVeltRoutedPort = 0,
  featureVeltL3SubIntf = 1,
  featureVeltDefault = 2,
  featureVeltVlanTrans = 3,
  featureVeltInLif = 4,
  featureA = 5,
  featureB = 6,
};
CORVANE_API Corvane::EnumTable const& enumTable(VlanEditFeature) noexcept;

class CORVANE_API VlanEditFeatureUtil {
 public:
  // Whether the feature may share a VLAN-edit resource with others. A value without
  // an enumerator raises InternalError.
  static bool isFeatureCohab(VlanEditFeature feature);
  static Corvane::TypeData& typeDataStatic() noexcept;
};

CORVANE_API std::ostream& operator<<(std::ostream& os, VlanEditFeature v);

}  // namespace VeltVlanEdit

CORVANE_FORMATTER(Corvane::VlanOp::VlanOpDir);
CORVANE_FORMATTER(Corvane::IveVlanIdSource);
CORVANE_FORMATTER(Corvane::IveVlanPcpDeiSource);
CORVANE_FORMATTER(Corvane::EveVlanIdSource);
CORVANE_FORMATTER(Corvane::EvePcpDeiSource);
CORVANE_FORMATTER(Corvane::IveProfile);
CORVANE_FORMATTER(Corvane::EveProfile);
CORVANE_FORMATTER(Corvane::StatusCode);
CORVANE_FORMATTER(Corvane::TagFormat);
CORVANE_FORMATTER(Corvane::VlanOp);
CORVANE_FORMATTER(Corvane::IngressVlanOp);
CORVANE_FORMATTER(Corvane::EgressVlanOp);
CORVANE_FORMATTER(Corvane::VlanEditResourceKey);
CORVANE_FORMATTER(VeltVlanEdit::VlanEditFeature);
