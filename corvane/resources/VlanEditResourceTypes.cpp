#include "corvane/resources/VlanEditResourceTypes.h"

#include <optional>
#include <ostream>

#include <fmt/format.h>

#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

namespace {

constexpr char const* kTagFormatRange =
    "Corvane::TagFormat::value < ::Hardware::Velt::Invalid_ or > ::Hardware::Velt::Tag_Max_ not allowed";

// Enumerator names by stored value; null where a value has no enumerator.
constexpr char const* kDirNames[] = {"invalid", "ingress", "egress"};
constexpr char const* kIveVidNames[] = {"iveVidSrcEmpty",       nullptr,           "iveVidSrcAcEditInfo",
                                        "iveVidSrcAcEditInfo2", "iveVidSrcOuterTag", "iveVidSrcInnerTag"};
constexpr char const* kIvePcpNames[] = {"ivePcpDeiSrcEmpty",       nullptr,
                                        "ivePcpDeiSrcAcEditInfo",  "ivePcpDeiSrcAcEditInfo2",
                                        "ivePcpDeiSrcOuterTag",    "ivePcpDeiSrcInnerTag"};
constexpr char const* kEveVidNames[] = {"eveVidSrcEmpty",     "eveVidSrcOuterTag",  "eveVidSrcInnerTag",
                                        "eveVidSrcEditInfo0", "eveVidSrcEditInfo1", "eveVidSrcEncapInfo",
                                        "eveVidSrcEditInfo2", "eveVidSrcEditInfo3"};
constexpr char const* kEvePcpNames[] = {"evePcpDeiSrcEmpty", "evePcpDeiSrcOuterTag", "evePcpDeiSrcInnerTag",
                                        "evePcpDeiSrcMap"};
constexpr char const* kIveProfileNames[] = {"iveProfileDefaultOp"};
constexpr char const* kEveProfileNames[] = {"eveProfileDefaultOp"};
constexpr char const* kStatusNames[] = {"error", "profileAllocError", "hwResourceFull", "success"};

constinit EnumTable directions("Corvane::VlanOp::VlanOpDir", kDirNames);
constinit EnumTable iveVidSources("Corvane::IveVlanIdSource", kIveVidNames);
constinit EnumTable ivePcpDeiSources("Corvane::IveVlanPcpDeiSource", kIvePcpNames);
constinit EnumTable eveVidSources("Corvane::EveVlanIdSource", kEveVidNames);
constinit EnumTable evePcpDeiSources("Corvane::EvePcpDeiSource", kEvePcpNames);
constinit EnumTable iveProfiles("Corvane::IveProfile", kIveProfileNames);
constinit EnumTable eveProfiles("Corvane::EveProfile", kEveProfileNames);
constinit EnumTable statusCodes("Corvane::StatusCode", kStatusNames);

bool expect(std::string_view text, size_t& pos, std::string_view what) {
  if (text.substr(pos, what.size()) != what) return false;
  pos += what.size();
  return true;
}

// Decimal, or hexadecimal after "0x"; false when no digit or the value passes 64 bits.
bool readU64(std::string_view text, size_t& pos, uint64_t& out) {
  size_t p = pos;
  unsigned base = 10;
  if (text.substr(p, 2) == "0x") {
    base = 16;
    p += 2;
  }
  size_t const start = p;
  uint64_t v = 0;
  for (; p < text.size(); ++p) {
    char const c = text[p];
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = unsigned(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = unsigned(c - 'a' + 10);
    } else {
      break;
    }
    if (v > (UINT64_MAX - d) / base) return false;
    v = v * base + d;
  }
  if (p == start) return false;
  out = v;
  pos = p;
  return true;
}

// Reads "<TypeName>(dword0=N, direction=D)".
size_t parseVlanOp(std::string_view text, char const* typeName, VlanOp& out) {
  size_t pos = 0;
  uint64_t dword0;
  if (!expect(text, pos, typeName) || !expect(text, pos, "(dword0=") || !readU64(text, pos, dword0) ||
      !expect(text, pos, ", direction=")) {
    return 0;
  }
  size_t const close = text.find(')', pos);
  if (close == std::string_view::npos) return 0;
  std::optional<uint64_t> const direction = directions.find(text.substr(pos, close - pos));
  if (!direction) return 0;
  out = VlanOp(dword0, static_cast<VlanOp::VlanOpDir>(*direction));
  return close + 1;
}

template <class T>
T parseWholeVlanOp(std::string_view text, char const* typeName) {
  VlanOp op;
  size_t const used = parseVlanOp(text, typeName, op);
  if (used == 0 || used != text.size()) {
    throw ParseError(typeName, fmt::format("{}: '{}' is not of the form {}(dword0=N, direction=D)", typeName,
                                           text, typeName));
  }
  return T(op.dword0(), op.direction());
}

}  // namespace

// ---- TagFormat ---------------------------------------------------------------------

TagFormat::TagFormat(uint32_t v) {
  if (v > Tag_Max_) throw RangeError(kTagFormatRange);
  value_ = static_cast<uint8_t>(v);
}

TagFormat::TagFormat(std::string_view text) : TagFormat(parse(text)) {}

size_t TagFormat::parsePrefix(std::string_view text, TagFormat& out) {
  size_t pos = 0;
  uint32_t v = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    // Stop accumulating once out of range: any longer number is just as wrong.
    if (v <= Tag_Max_) v = v * 10 + uint32_t(text[pos] - '0');
  }
  if (pos == 0) return 0;
  out = TagFormat(v);
  return pos;
}

TagFormat TagFormat::parse(std::string_view text) {
  TagFormat t;
  size_t const used = parsePrefix(text, t);
  if (used == 0 || used != text.size()) {
    throw ParseError("value", fmt::format("Corvane::TagFormat: '{}' is not a number", text));
  }
  return t;
}

// ---- VlanOp ------------------------------------------------------------------------

VlanOp::VlanOp(std::string_view text) : VlanOp(parse(text)) {}

VlanOp VlanOp::vlanEditFormat() const {
  switch (direction_) {
    case VlanOpDir::ingress:
      return ivecFormat();
    case VlanOpDir::egress:
      return evecFormat();
    default:
      throw InternalError(fmt::format("Unsupported direction: {}", direction_));
  }
}

size_t VlanOp::parsePrefix(std::string_view text, VlanOp& out) { return parseVlanOp(text, "Corvane::VlanOp", out); }
VlanOp VlanOp::parse(std::string_view text) { return parseWholeVlanOp<VlanOp>(text, "Corvane::VlanOp"); }

IngressVlanOp::IngressVlanOp(std::string_view text) : IngressVlanOp(parse(text)) {}
IngressVlanOp IngressVlanOp::parse(std::string_view text) {
  return parseWholeVlanOp<IngressVlanOp>(text, "Corvane::IngressVlanOp");
}

EgressVlanOp::EgressVlanOp(std::string_view text) : EgressVlanOp(parse(text)) {}
EgressVlanOp EgressVlanOp::parse(std::string_view text) {
  return parseWholeVlanOp<EgressVlanOp>(text, "Corvane::EgressVlanOp");
}

// ---- VlanEditResourceKey -----------------------------------------------------------

VlanEditResourceKey::VlanEditResourceKey(std::string_view) {
  throw ParseError("vlanOpSet", "No String constructor for VlanEditResourceKey - has collection");
}

void VlanEditResourceKey::indexCheck(uint32_t index) {
  if (index >= TagFormat::count) {
    throw RangeError(fmt::format("cannot access index {} of an array with size {}", index, TagFormat::count));
  }
}

void VlanEditResourceKey::vlanOpSetIs(uint32_t index, VlanOp const& op) {
  indexCheck(index);
  vlanOpSet_[index] = op;
}

VlanOp VlanEditResourceKey::vlanOpSetDel(TagFormat t) noexcept {
  VlanOp const previous = vlanOpSet_[t.value()];
  vlanOpSet_[t.value()] = VlanOp();
  return previous;
}

VlanOp VlanEditResourceKey::vlanOpSetDel(uint32_t index) {
  indexCheck(index);
  return vlanOpSetDel(TagFormat(index));
}

VlanEditResourceKey::operator bool() const noexcept {
  for (VlanOp const& op : vlanOpSet_) {
    if (op) return true;
  }
  return false;
}

uint64_t VlanEditResourceKey::hash(uint64_t seed) const noexcept {
  uint64_t h = seed;
  for (VlanOp const& op : vlanOpSet_) h = op.hash(h);
  return h;
}

// ---- Text forms --------------------------------------------------------------------

EnumTable const& enumTable(VlanOp::VlanOpDir) noexcept { return directions; }
EnumTable const& enumTable(IveVlanIdSource) noexcept { return iveVidSources; }
EnumTable const& enumTable(IveVlanPcpDeiSource) noexcept { return ivePcpDeiSources; }
EnumTable const& enumTable(EveVlanIdSource) noexcept { return eveVidSources; }
EnumTable const& enumTable(EvePcpDeiSource) noexcept { return evePcpDeiSources; }
EnumTable const& enumTable(IveProfile) noexcept { return iveProfiles; }
EnumTable const& enumTable(EveProfile) noexcept { return eveProfiles; }
EnumTable const& enumTable(StatusCode) noexcept { return statusCodes; }

std::ostream& operator<<(std::ostream& os, VlanOp::VlanOpDir v) { return directions.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, IveVlanIdSource v) { return iveVidSources.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, IveVlanPcpDeiSource v) {
  return ivePcpDeiSources.print(os, uint64_t(v));
}
std::ostream& operator<<(std::ostream& os, EveVlanIdSource v) { return eveVidSources.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, EvePcpDeiSource v) { return evePcpDeiSources.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, IveProfile v) { return iveProfiles.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, EveProfile v) { return eveProfiles.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, StatusCode v) { return statusCodes.print(os, uint64_t(v)); }
std::ostream& operator<<(std::ostream& os, TagFormat const& v) { return os << unsigned(v.value()); }

namespace {
std::ostream& printVlanOp(std::ostream& os, char const* typeName, VlanOp const& v) {
  return os << fmt::format("{}(dword0={:#x}, direction={})", typeName, v.dword0(), v.direction());
}
}  // namespace

std::ostream& operator<<(std::ostream& os, VlanOp const& v) { return printVlanOp(os, "Corvane::VlanOp", v); }
std::ostream& operator<<(std::ostream& os, IngressVlanOp const& v) {
  return printVlanOp(os, "Corvane::IngressVlanOp", v);
}
std::ostream& operator<<(std::ostream& os, EgressVlanOp const& v) {
  return printVlanOp(os, "Corvane::EgressVlanOp", v);
}

std::ostream& operator<<(std::ostream& os, VlanEditResourceKey const& v) {
  os << "Corvane::VlanEditResourceKey(vlanOpSet={";
  char const* sep = "";
  for (size_t i = 0; i < TagFormat::count; ++i) {
    VlanOp const& op = v.vlanOpSet()[i];
    if (!op) continue;
    os << sep << i << ": " << op;
    sep = ", ";
  }
  return os << "})";
}

// ---- Type reflection ---------------------------------------------------------------

TypeData& TagFormat::typeDataStatic() noexcept {
  static TypeData td("Corvane::TagFormat", nullptr);
  return td;
}
TypeData& VlanOp::typeDataStatic() noexcept {
  static TypeData td("Corvane::VlanOp", nullptr);
  return td;
}
TypeData& IngressVlanOp::typeDataStatic() noexcept {
  static TypeData td("Corvane::IngressVlanOp", &VlanOp::typeDataStatic());
  return td;
}
TypeData& EgressVlanOp::typeDataStatic() noexcept {
  static TypeData td("Corvane::EgressVlanOp", &VlanOp::typeDataStatic());
  return td;
}
TypeData& VlanEditResourceKey::typeDataStatic() noexcept {
  static TypeData td("Corvane::VlanEditResourceKey", nullptr);
  return td;
}

}  // namespace Corvane

namespace VeltVlanEdit {

namespace {
constexpr char const* kFeatureNames[] = {"featureVeltRoutedPort", "featureVeltL3SubIntf", "featureVeltDefault",
                                         "featureVeltVlanTrans",  "featureVeltInLif",     "featureA",
                                         "featureB"};
constinit Corvane::EnumTable features("VeltVlanEdit::VlanEditFeature", kFeatureNames);
}  // namespace

Corvane::EnumTable const& enumTable(VlanEditFeature) noexcept { return features; }

bool VlanEditFeatureUtil::isFeatureCohab(VlanEditFeature feature) {
  // Every VLAN-edit feature shares today; the switch makes a new enumerator a
  // conscious choice rather than a silent yes.
  switch (feature) {
    case VlanEditFeature::featureVeltRoutedPort:
    case VlanEditFeature::featureVeltL3SubIntf:
    case VlanEditFeature::featureVeltDefault:
    case VlanEditFeature::featureVeltVlanTrans:
    case VlanEditFeature::featureVeltInLif:
    case VlanEditFeature::featureA:
    case VlanEditFeature::featureB:
      return true;
  }
  throw Corvane::InternalError("feature has to be defined as either cohab or non-cohab");
}

Corvane::TypeData& VlanEditFeatureUtil::typeDataStatic() noexcept {
  static Corvane::TypeData td("VeltVlanEdit::VlanEditFeatureUtil", nullptr);
  return td;
}

std::ostream& operator<<(std::ostream& os, VlanEditFeature v) { return features.print(os, uint64_t(v)); }

}  // namespace VeltVlanEdit

namespace {
[[maybe_unused]] bool const registered = [] {
  using namespace Corvane;
  for (EnumTable* t : {&directions, &iveVidSources, &ivePcpDeiSources, &eveVidSources, &evePcpDeiSources,
                       &iveProfiles, &eveProfiles, &statusCodes, &VeltVlanEdit::features}) {
    t->typeRegister();
  }
  TypeRegistry::typeRegister(TagFormat::typeDataStatic(), Describe<TagFormat>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(VlanOp::typeDataStatic(), Describe<VlanOp>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(IngressVlanOp::typeDataStatic(),
                             Describe<IngressVlanOp>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(EgressVlanOp::typeDataStatic(),
                             Describe<EgressVlanOp>(TypeKind::valueType).parsable().done());
  // Its text constructor always refuses: nothing to parse with.
  TypeRegistry::typeRegister(VlanEditResourceKey::typeDataStatic(),
                             Describe<VlanEditResourceKey>(TypeKind::valueType).done());
  using VeltVlanEdit::VlanEditFeatureUtil;
  TypeRegistry::typeRegister(VlanEditFeatureUtil::typeDataStatic(),
                             Describe<VlanEditFeatureUtil>(TypeKind::utility)
                                 .operation<&VlanEditFeatureUtil::isFeatureCohab>("isFeatureCohab")
                                 .done());
  return true;
}();
}  // namespace
