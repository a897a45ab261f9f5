// In-LIF resource descriptors: the kind of an incoming-LIF resource, the table it lives
// in, the keys naming one resource, and the content of one in-LIF entry, plus the rules
// of which table holds a kind and which features may share an in-LIF. Features fill
// these in; the hardware layer allocates and programs the entries.
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Export.h"
#include "corvane/framework/Hash.h"
#include "corvane/framework/Node.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TextForm.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"
#include "corvane/resources/VlanEditResourceTypes.h"

namespace VeltInLif {

// Each enumeration's table (enumTable, next to it) gives its text form, its parsing and
// its registry entry.
enum class InLifResourceType : uint8_t {
  unknown = 0,
  dropLif = 1,
  routedPort = 2,
  decapLfib = 3,
  l3SubIntf = 4,
  l2SubIntf = 5,
  switchPort = 6,
  vrfSelection = 7,
  vlanTrans = 8,
  reflectorPort = 9,
};
CORVANE_API Corvane::EnumTable const& enumTable(InLifResourceType) noexcept;

// The stored values do not follow the table numbers: inLif1 is 0.
enum class InLifTableType : uint8_t { inLif1 = 0, inLif23 = 1, inLif0 = 2 };
CORVANE_API Corvane::EnumTable const& enumTable(InLifTableType) noexcept;

enum class InLifFeature : uint8_t {
  featureUnknown = 0,
  featureVeltRoutedPort = 1,
  featureVeltSwitchPort = 2,
  featureVeltL3SubIntf = 3,
  featureVeltMpls = 4,
  featureVeltVrfSelection = 5,
  featureVeltVlanTrans = 6,
  featureVeltReflectorPort = 7,
  featureA = 8,
  featureB = 9,
};
CORVANE_API Corvane::EnumTable const& enumTable(InLifFeature) noexcept;

enum class ResultType : uint8_t { acMp = 0 };
CORVANE_API Corvane::EnumTable const& enumTable(ResultType) noexcept;

// Names one in-LIF resource: its kind and two words the hardware layer gives meaning to.
// Text form: "VeltInLif::InLifResourceKey(type=switchPort, dword0=5, dword1=0)".
class CORVANE_API InLifResourceKey {
 public:
  constexpr InLifResourceKey() noexcept = default;
  constexpr InLifResourceKey(InLifResourceType type, uint64_t dword0, uint64_t dword1) noexcept
      : type_(type), dword0_(dword0), dword1_(dword1) {}
  explicit InLifResourceKey(std::string_view text);

  constexpr InLifResourceType type() const noexcept { return type_; }
  constexpr uint64_t dword0() const noexcept { return dword0_; }
  constexpr uint64_t dword1() const noexcept { return dword1_; }
  void dword0Is(uint64_t v) noexcept { dword0_ = v; }
  void dword1Is(uint64_t v) noexcept { dword1_ = v; }

  constexpr explicit operator bool() const noexcept {
    return type_ != InLifResourceType::unknown || dword0_ != 0 || dword1_ != 0;
  }

  uint64_t hash(uint64_t seed = 0) const noexcept {
    return Corvane::hashMix(Corvane::hashMix(Corvane::hashMix(seed, uint64_t(type_)), dword0_), dword1_);
  }

  static InLifResourceKey parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, InLifResourceKey& out);

  friend constexpr bool operator==(InLifResourceKey const&, InLifResourceKey const&) noexcept = default;
  friend constexpr auto operator<=>(InLifResourceKey const&, InLifResourceKey const&) noexcept = default;

  static Corvane::TypeData& typeDataStatic() noexcept;

 private:
  InLifResourceType type_ = InLifResourceType::unknown;
  uint64_t dword0_ = 0;
  uint64_t dword1_ = 0;
};

// Names one resource within a table.
// Text form: "VeltInLif::InLifKey(table=inLif1, resKey=VeltInLif::InLifResourceKey(...))".
class CORVANE_API InLifKey {
 public:
  constexpr InLifKey() noexcept = default;
  constexpr InLifKey(InLifTableType table, InLifResourceKey const& resKey) noexcept
      : table_(table), resKey_(resKey) {}
  explicit InLifKey(std::string_view text);

  constexpr InLifTableType table() const noexcept { return table_; }
  constexpr InLifResourceKey const& resKey() const noexcept { return resKey_; }

  constexpr explicit operator bool() const noexcept {
    return table_ != InLifTableType::inLif1 || static_cast<bool>(resKey_);
  }

  uint64_t hash(uint64_t seed = 0) const noexcept { return resKey_.hash(Corvane::hashMix(seed, uint64_t(table_))); }

  static InLifKey parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, InLifKey& out);

  friend constexpr bool operator==(InLifKey const&, InLifKey const&) noexcept = default;
  friend constexpr auto operator<=>(InLifKey const&, InLifKey const&) noexcept = default;

  static Corvane::TypeData& typeDataStatic() noexcept;

 private:
  InLifTableType table_ = InLifTableType::inLif1;
  InLifResourceKey resKey_;
};

// The content of one in-LIF entry. Each numeric field has a hardware width; a setter
// given a value that does not fit raises RangeError naming the field. Equality only:
// entries are looked up by key, never sorted.
class CORVANE_API InLifEntry {
 public:
  // Hardware widths of the numeric fields.
  static constexpr unsigned fodoAssignmentModeBits = 1;
  static constexpr unsigned fodoBits = 12;
  static constexpr unsigned propagationProfBits = 1;
  static constexpr unsigned learnEnableBits = 1;
  static constexpr unsigned learnInfoBits = 21;
  static constexpr unsigned learnPayloadContextBits = 4;
  static constexpr unsigned statObjectCmdBits = 5;
  static constexpr unsigned statObjectIdBits = 13;
  static constexpr unsigned destinationBits = 21;
  static constexpr unsigned vlanEditVid1Bits = 12;

  InLifEntry() noexcept = default;
  explicit InLifEntry(ResultType resultType) noexcept : resultType_(resultType) {}
  // Never succeeds in practice: the VLAN-edit key has no text reader, so reading stops
  // there with a ParseError naming vlanEditResourceKey.
  explicit InLifEntry(std::string_view text);

  ResultType resultType() const noexcept { return resultType_; }
  uint8_t fodoAssignmentMode() const noexcept { return fodoAssignmentMode_; }
  uint16_t fodo() const noexcept { return fodo_; }
  uint8_t propagationProf() const noexcept { return propagationProf_; }
  uint8_t learnEnable() const noexcept { return learnEnable_; }
  uint32_t learnInfo() const noexcept { return learnInfo_; }
  uint8_t learnPayloadContext() const noexcept { return learnPayloadContext_; }
  uint8_t statObjectCmd() const noexcept { return statObjectCmd_; }
  uint16_t statObjectId() const noexcept { return statObjectId_; }
  uint32_t destination() const noexcept { return destination_; }
  Net::IntfId intfId() const noexcept { return intfId_; }
  Hardware::Velt::SystemTcamId systemTcamId() const noexcept { return systemTcamId_; }
  Corvane::VlanEditResourceKey const& vlanEditResourceKey() const noexcept { return vlanEditResourceKey_; }
  uint16_t vlanEditVid1() const noexcept { return vlanEditVid1_; }

  void fodoAssignmentModeIs(uint32_t v);
  void fodoIs(uint32_t v);
  void propagationProfIs(uint32_t v);
  void learnEnableIs(uint32_t v);
  void learnInfoIs(uint32_t v);
  void learnPayloadContextIs(uint32_t v);
  void statObjectCmdIs(uint32_t v);
  void statObjectIdIs(uint32_t v);
  void destinationIs(uint32_t v);
  void intfIdIs(Net::IntfId v) noexcept { intfId_ = v; }
  void systemTcamIdIs(Hardware::Velt::SystemTcamId v) noexcept { systemTcamId_ = v; }
  void vlanEditResourceKeyIs(Corvane::VlanEditResourceKey const& v) noexcept { vlanEditResourceKey_ = v; }
  void vlanEditVid1Is(uint32_t v);

  // False exactly when equal to a fresh InLifEntry(acMp).
  explicit operator bool() const noexcept { return *this != InLifEntry(); }

  uint64_t hash(uint64_t seed = 0) const noexcept;

  static InLifEntry parse(std::string_view text);

  friend bool operator==(InLifEntry const&, InLifEntry const&) noexcept = default;

  static Corvane::TypeData& typeDataStatic() noexcept;

 private:
  ResultType resultType_ = ResultType::acMp;
  uint8_t fodoAssignmentMode_ = 0;
  uint16_t fodo_ = 0;
  uint8_t propagationProf_ = 0;
  uint8_t learnEnable_ = 0;
  uint32_t learnInfo_ = 0;
  uint8_t learnPayloadContext_ = 0;
  uint8_t statObjectCmd_ = 0;
  uint16_t statObjectId_ = 0;
  uint32_t destination_ = 0;
  Net::IntfId intfId_;
  Hardware::Velt::SystemTcamId systemTcamId_;
  Corvane::VlanEditResourceKey vlanEditResourceKey_;
  uint16_t vlanEditVid1_ = 0;
};

class CORVANE_API InLifResourceUtil {
 public:
  // The table holding resources of this kind. unknown, l2SubIntf and values without an
  // enumerator have no table: InternalError "Unknown InLifResourceType <name>".
  static InLifTableType resourceToTableType(InLifResourceType resType);
  static Corvane::TypeData& typeDataStatic() noexcept;
};

class CORVANE_API InLifFeatureUtil {
 public:
  // Whether the feature may share an in-LIF with others. A value without an enumerator
  // raises InternalError.
  static bool isFeatureCohab(InLifFeature feature);
  static Corvane::TypeData& typeDataStatic() noexcept;
};

CORVANE_API std::ostream& operator<<(std::ostream& os, InLifResourceType v);
CORVANE_API std::ostream& operator<<(std::ostream& os, InLifTableType v);
CORVANE_API std::ostream& operator<<(std::ostream& os, InLifFeature v);
CORVANE_API std::ostream& operator<<(std::ostream& os, ResultType v);
CORVANE_API std::ostream& operator<<(std::ostream& os, InLifResourceKey const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, InLifKey const& v);
CORVANE_API std::ostream& operator<<(std::ostream& os, InLifEntry const& v);

inline uint64_t hashValue(InLifResourceKey const& v) noexcept { return v.hash(0); }
inline uint64_t hashValue(InLifKey const& v) noexcept { return v.hash(0); }
inline uint64_t hashValue(InLifEntry const& v) noexcept { return v.hash(0); }

}  // namespace VeltInLif

CORVANE_FORMATTER(VeltInLif::InLifResourceType);
CORVANE_FORMATTER(VeltInLif::InLifTableType);
CORVANE_FORMATTER(VeltInLif::InLifFeature);
CORVANE_FORMATTER(VeltInLif::ResultType);
CORVANE_FORMATTER(VeltInLif::InLifResourceKey);
CORVANE_FORMATTER(VeltInLif::InLifKey);
CORVANE_FORMATTER(VeltInLif::InLifEntry);
