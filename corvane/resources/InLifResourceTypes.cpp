#include "corvane/resources/InLifResourceTypes.h"

#include <cctype>
#include <ostream>

#include <fmt/format.h>

#include "corvane/framework/TypeRegistry.h"

namespace VeltInLif {

using Corvane::EnumTable;
using Corvane::ParseError;
using Corvane::RangeError;

namespace {

constexpr char const* kResourceTypeNames[] = {"unknown",   "dropLif",    "routedPort",   "decapLfib",
                                              "l3SubIntf", "l2SubIntf",  "switchPort",   "vrfSelection",
                                              "vlanTrans", "reflectorPort"};
constexpr char const* kTableTypeNames[] = {"inLif1", "inLif23", "inLif0"};
constexpr char const* kFeatureNames[] = {"featureUnknown",          "featureVeltRoutedPort",
                                         "featureVeltSwitchPort",   "featureVeltL3SubIntf",
                                         "featureVeltMpls",         "featureVeltVrfSelection",
                                         "featureVeltVlanTrans",    "featureVeltReflectorPort",
                                         "featureA",                "featureB"};
constexpr char const* kResultTypeNames[] = {"acMp"};

constinit EnumTable resourceTypes("VeltInLif::InLifResourceType", kResourceTypeNames);
constinit EnumTable tableTypes("VeltInLif::InLifTableType", kTableTypeNames);
constinit EnumTable features("VeltInLif::InLifFeature", kFeatureNames);
constinit EnumTable resultTypes("VeltInLif::ResultType", kResultTypeNames);

// Reads the framework text form "<Type>(attr=value, attr=value, ...)" one attribute at
// a time, in declaration order. Anything wrong raises ParseError naming the attribute
// being read, so the caller learns which field of a long entry is bad.
class Reader {
 public:
  Reader(std::string_view text, char const* typeName) : text_(text), typeName_(typeName) {
    if (!expect(typeName_) || !expect("(")) fail(typeName_, "does not start with the type name");
  }

  uint64_t number(char const* name, unsigned bits) {
    attr(name);
    size_t const start = pos_;
    uint64_t v = 0;
    bool overflow = false;
    for (; pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9'; ++pos_) {
      uint64_t const d = uint64_t(text_[pos_] - '0');
      if (v > (UINT64_MAX - d) / 10) overflow = true;
      v = v * 10 + d;
    }
    if (pos_ == start) fail(name, "expected a number");
    if (overflow || (bits < 64 && (v >> bits) != 0)) {
      fail(name, fmt::format("value {} does not fit {} bits", text_.substr(start, pos_ - start), bits));
    }
    return v;
  }

  // An enumerator by name; the text form never writes an enumeration as a number.
  template <class E>
  E enumerator(char const* name) {
    attr(name);
    size_t end = pos_;
    while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_')) ++end;
    std::string_view const word = text_.substr(pos_, end - pos_);
    std::optional<uint64_t> const v = enumTable(E{}).find(word);
    if (!v) fail(name, fmt::format("'{}' is not an enumerator", word));
    pos_ = end;
    return static_cast<E>(*v);
  }

  // A nested value read by its own parsePrefix; its range errors name this attribute.
  template <class T>
  T value(char const* name) {
    attr(name);
    T v;
    size_t used = 0;
    try {
      used = T::parsePrefix(text_.substr(pos_), v);
    } catch (RangeError const& e) {
      fail(name, e.what());
    }
    if (used == 0) fail(name, "cannot parse the value");
    pos_ += used;
    return v;
  }

  void attr(char const* name) {
    if (!first_ && !expect(", ")) fail(name, "expected ', ' before the attribute");
    first_ = false;
    if (!expect(name) || !expect("=")) fail(name, "missing attribute");
  }

  size_t end() {
    if (!expect(")")) fail(typeName_, "expected ')' after the last attribute");
    return pos_;
  }

  [[noreturn]] void fail(char const* name, std::string_view why) const {
    throw ParseError(name, fmt::format("{}: error deserializing attribute {}: {}", typeName_, name, why));
  }

 private:
  bool expect(std::string_view what) {
    if (text_.substr(pos_, what.size()) != what) return false;
    pos_ += what.size();
    return true;
  }

  std::string_view text_;
  char const* typeName_;
  size_t pos_ = 0;
  bool first_ = true;
};

template <class T>
T parseWhole(std::string_view text, char const* typeName) {
  T v;
  size_t const used = T::parsePrefix(text, v);
  if (used != text.size()) {
    throw ParseError(typeName, fmt::format("{}: unexpected text after the value: '{}'", typeName, text.substr(used)));
  }
  return v;
}

void widthCheck(char const* name, unsigned bits, uint32_t v) {
  if ((uint64_t{v} >> bits) != 0) {
    throw RangeError(fmt::format("VeltInLif::InLifEntry::{} > {} not allowed", name, (uint64_t{1} << bits) - 1));
  }
}

}  // namespace

// ---- InLifResourceKey / InLifKey ---------------------------------------------------

size_t InLifResourceKey::parsePrefix(std::string_view text, InLifResourceKey& out) {
  Reader r(text, "VeltInLif::InLifResourceKey");
  auto const type = r.enumerator<InLifResourceType>("type");
  uint64_t const dword0 = r.number("dword0", 64);
  uint64_t const dword1 = r.number("dword1", 64);
  size_t const used = r.end();
  out = InLifResourceKey(type, dword0, dword1);
  return used;
}
InLifResourceKey InLifResourceKey::parse(std::string_view text) {
  return parseWhole<InLifResourceKey>(text, "VeltInLif::InLifResourceKey");
}
InLifResourceKey::InLifResourceKey(std::string_view text) : InLifResourceKey(parse(text)) {}

size_t InLifKey::parsePrefix(std::string_view text, InLifKey& out) {
  Reader r(text, "VeltInLif::InLifKey");
  auto const table = r.enumerator<InLifTableType>("table");
  InLifResourceKey const resKey = r.value<InLifResourceKey>("resKey");
  size_t const used = r.end();
  out = InLifKey(table, resKey);
  return used;
}
InLifKey InLifKey::parse(std::string_view text) { return parseWhole<InLifKey>(text, "VeltInLif::InLifKey"); }
InLifKey::InLifKey(std::string_view text) : InLifKey(parse(text)) {}

// ---- InLifEntry --------------------------------------------------------------------

void InLifEntry::fodoAssignmentModeIs(uint32_t v) {
  widthCheck("fodoAssignmentMode", fodoAssignmentModeBits, v);
  fodoAssignmentMode_ = static_cast<uint8_t>(v);
}
void InLifEntry::fodoIs(uint32_t v) {
  widthCheck("fodo", fodoBits, v);
  fodo_ = static_cast<uint16_t>(v);
}
void InLifEntry::propagationProfIs(uint32_t v) {
  widthCheck("propagationProf", propagationProfBits, v);
  propagationProf_ = static_cast<uint8_t>(v);
}
void InLifEntry::learnEnableIs(uint32_t v) {
  widthCheck("learnEnable", learnEnableBits, v);
  learnEnable_ = static_cast<uint8_t>(v);
}
void InLifEntry::learnInfoIs(uint32_t v) {
  widthCheck("learnInfo", learnInfoBits, v);
  learnInfo_ = v;
}
void InLifEntry::learnPayloadContextIs(uint32_t v) {
  widthCheck("learnPayloadContext", learnPayloadContextBits, v);
  learnPayloadContext_ = static_cast<uint8_t>(v);
}
void InLifEntry::statObjectCmdIs(uint32_t v) {
  widthCheck("statObjectCmd", statObjectCmdBits, v);
  statObjectCmd_ = static_cast<uint8_t>(v);
}
void InLifEntry::statObjectIdIs(uint32_t v) {
  widthCheck("statObjectId", statObjectIdBits, v);
  statObjectId_ = static_cast<uint16_t>(v);
}
void InLifEntry::destinationIs(uint32_t v) {
  widthCheck("destination", destinationBits, v);
  destination_ = v;
}
void InLifEntry::vlanEditVid1Is(uint32_t v) {
  widthCheck("vlanEditVid1", vlanEditVid1Bits, v);
  vlanEditVid1_ = static_cast<uint16_t>(v);
}

uint64_t InLifEntry::hash(uint64_t seed) const noexcept {
  using Corvane::hashMix;
  uint64_t h = hashMix(seed, uint64_t(resultType_));
  for (uint64_t v : {uint64_t{fodoAssignmentMode_}, uint64_t{fodo_}, uint64_t{propagationProf_},
                     uint64_t{learnEnable_}, uint64_t{learnInfo_}, uint64_t{learnPayloadContext_},
                     uint64_t{statObjectCmd_}, uint64_t{statObjectId_}, uint64_t{destination_}, intfId_.value(),
                     uint64_t{systemTcamId_.value()}}) {
    h = hashMix(h, v);
  }
  return hashMix(vlanEditResourceKey_.hash(h), vlanEditVid1_);
}

InLifEntry InLifEntry::parse(std::string_view text) {
  Reader r(text, "VeltInLif::InLifEntry");
  InLifEntry e(r.enumerator<ResultType>("resultType"));
  e.fodoAssignmentMode_ = static_cast<uint8_t>(r.number("fodoAssignmentMode", fodoAssignmentModeBits));
  e.fodo_ = static_cast<uint16_t>(r.number("fodo", fodoBits));
  e.propagationProf_ = static_cast<uint8_t>(r.number("propagationProf", propagationProfBits));
  e.learnEnable_ = static_cast<uint8_t>(r.number("learnEnable", learnEnableBits));
  e.learnInfo_ = static_cast<uint32_t>(r.number("learnInfo", learnInfoBits));
  e.learnPayloadContext_ = static_cast<uint8_t>(r.number("learnPayloadContext", learnPayloadContextBits));
  e.statObjectCmd_ = static_cast<uint8_t>(r.number("statObjectCmd", statObjectCmdBits));
  e.statObjectId_ = static_cast<uint16_t>(r.number("statObjectId", statObjectIdBits));
  e.destination_ = static_cast<uint32_t>(r.number("destination", destinationBits));
  e.intfId_ = r.value<Net::IntfId>("intfId");
  e.systemTcamId_ = r.value<Hardware::Velt::SystemTcamId>("systemTcamId");
  // The VLAN-edit key has no text reader, so this is as far as an entry can be read.
  r.attr("vlanEditResourceKey");
  throw ParseError("vlanEditResourceKey", "No String constructor for VlanEditResourceKey - has collection");
}
InLifEntry::InLifEntry(std::string_view text) : InLifEntry(parse(text)) {}

// ---- Utilities ---------------------------------------------------------------------

InLifTableType InLifResourceUtil::resourceToTableType(InLifResourceType resType) {
  switch (resType) {
    case InLifResourceType::dropLif:
    case InLifResourceType::routedPort:
    case InLifResourceType::decapLfib:
    case InLifResourceType::l3SubIntf:
    case InLifResourceType::switchPort:
    case InLifResourceType::vrfSelection:
    case InLifResourceType::vlanTrans:
    case InLifResourceType::reflectorPort:
      return InLifTableType::inLif1;
    case InLifResourceType::unknown:
    case InLifResourceType::l2SubIntf:
      break;
  }
  throw Corvane::InternalError(fmt::format("Unknown InLifResourceType {}", resType));
}

bool InLifFeatureUtil::isFeatureCohab(InLifFeature feature) {
  switch (feature) {
    case InLifFeature::featureUnknown:
    case InLifFeature::featureVeltRoutedPort:
    case InLifFeature::featureVeltSwitchPort:
    case InLifFeature::featureVeltL3SubIntf:
    case InLifFeature::featureVeltVrfSelection:
    case InLifFeature::featureVeltVlanTrans:
    case InLifFeature::featureA:
    case InLifFeature::featureB:
      return true;
    // These take an in-LIF of their own.
    case InLifFeature::featureVeltMpls:
    case InLifFeature::featureVeltReflectorPort:
      return false;
  }
  throw Corvane::InternalError("feature has to be defined as either cohab or non-cohab");
}

// ---- Text forms --------------------------------------------------------------------

EnumTable const& enumTable(InLifResourceType) noexcept { return resourceTypes; }
EnumTable const& enumTable(InLifTableType) noexcept { return tableTypes; }
EnumTable const& enumTable(InLifFeature) noexcept { return features; }
EnumTable const& enumTable(ResultType) noexcept { return resultTypes; }

std::ostream& operator<<(std::ostream& os, InLifResourceType v) { return resourceTypes.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, InLifTableType v) { return tableTypes.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, InLifFeature v) { return features.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, ResultType v) { return resultTypes.print(os, uint64_t(v)); }

std::ostream& operator<<(std::ostream& os, InLifResourceKey const& v) {
  return os << "VeltInLif::InLifResourceKey(type=" << v.type() << ", dword0=" << v.dword0()
            << ", dword1=" << v.dword1() << ')';
}
std::ostream& operator<<(std::ostream& os, InLifKey const& v) {
  return os << "VeltInLif::InLifKey(table=" << v.table() << ", resKey=" << v.resKey() << ')';
}
std::ostream& operator<<(std::ostream& os, InLifEntry const& v) {
  return os << "VeltInLif::InLifEntry(resultType=" << v.resultType()
            << ", fodoAssignmentMode=" << unsigned(v.fodoAssignmentMode()) << ", fodo=" << v.fodo()
            << ", propagationProf=" << unsigned(v.propagationProf()) << ", learnEnable=" << unsigned(v.learnEnable())
            << ", learnInfo=" << v.learnInfo() << ", learnPayloadContext=" << unsigned(v.learnPayloadContext())
            << ", statObjectCmd=" << unsigned(v.statObjectCmd()) << ", statObjectId=" << v.statObjectId()
            << ", destination=" << v.destination() << ", intfId=" << v.intfId()
            << ", systemTcamId=" << v.systemTcamId() << ", vlanEditResourceKey=" << v.vlanEditResourceKey()
            << ", vlanEditVid1=" << v.vlanEditVid1() << ')';
}

// ---- Type reflection ---------------------------------------------------------------

Corvane::TypeData& InLifResourceKey::typeDataStatic() noexcept {
  static Corvane::TypeData td("VeltInLif::InLifResourceKey", nullptr);
  return td;
}
Corvane::TypeData& InLifKey::typeDataStatic() noexcept {
  static Corvane::TypeData td("VeltInLif::InLifKey", nullptr);
  return td;
}
Corvane::TypeData& InLifEntry::typeDataStatic() noexcept {
  static Corvane::TypeData td("VeltInLif::InLifEntry", nullptr);
  return td;
}
Corvane::TypeData& InLifResourceUtil::typeDataStatic() noexcept {
  static Corvane::TypeData td("VeltInLif::InLifResourceUtil", nullptr);
  return td;
}
Corvane::TypeData& InLifFeatureUtil::typeDataStatic() noexcept {
  static Corvane::TypeData td("VeltInLif::InLifFeatureUtil", nullptr);
  return td;
}

namespace {
[[maybe_unused]] bool const registered = [] {
  using Corvane::Describe;
  using Corvane::TypeKind;
  using Corvane::TypeRegistry;
  for (EnumTable* t : {&resourceTypes, &tableTypes, &features, &resultTypes}) t->typeRegister();
  TypeRegistry::typeRegister(InLifResourceKey::typeDataStatic(),
                             Describe<InLifResourceKey>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(InLifKey::typeDataStatic(), Describe<InLifKey>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(InLifEntry::typeDataStatic(), Describe<InLifEntry>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(InLifResourceUtil::typeDataStatic(),
                             Describe<InLifResourceUtil>(TypeKind::utility)
                                 .operation<&InLifResourceUtil::resourceToTableType>("resourceToTableType")
                                 .done());
  TypeRegistry::typeRegister(InLifFeatureUtil::typeDataStatic(),
                             Describe<InLifFeatureUtil>(TypeKind::utility)
                                 .operation<&InLifFeatureUtil::isFeatureCohab>("isFeatureCohab")
                                 .done());
  return true;
}();
}  // namespace

}  // namespace VeltInLif
