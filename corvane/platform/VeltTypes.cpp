#include "corvane/platform/VeltTypes.h"

#include <ostream>

#include <fmt/format.h>

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Hardware::Velt {

namespace {

constexpr uint64_t kPastU32 = 0x100000000ULL;

// Decimal digits at text[pos...] into out; false when there is none. Reads every
// digit: a number past 32 bits gives kPastU32, so the caller can tell a number out of
// range from text that is not a number.
bool readDecimal(std::string_view text, size_t& pos, uint64_t& out) {
  size_t start = pos;
  uint64_t v = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (v < kPastU32) v = v * 10 + uint64_t(text[pos] - '0');
    ++pos;
  }
  out = v < kPastU32 ? v : kPastU32;
  return pos > start;
}

uint32_t clampU32(uint64_t v) { return v < kPastU32 ? uint32_t(v) : 0xffffffffU; }

bool expect(std::string_view text, size_t& pos, std::string_view what) {
  if (text.substr(pos, what.size()) != what) return false;
  pos += what.size();
  return true;
}

}  // namespace

FapId::FapId(uint32_t v) {
  if (v > null) {
    throw Corvane::RangeError(
        "Hardware::Velt::FapId::value < Hardware::Velt::FapId::min or > Hardware::Velt::FapId::null not allowed");
  }
  value_ = static_cast<uint16_t>(v);
}

LocalCoreId::LocalCoreId(uint32_t v) {
  if (v > null) {
    throw Corvane::RangeError(
        "Hardware::Velt::LocalCoreId::value < Hardware::Velt::LocalCoreId::min or > "
        "Hardware::Velt::LocalCoreId::null not allowed");
  }
  value_ = static_cast<uint16_t>(v);
}

size_t SystemTcamId::parsePrefix(std::string_view text, SystemTcamId& out) {
  size_t pos = 0;
  uint64_t v;
  if (!readDecimal(text, pos, v)) return 0;
  if (v > 0xffff) {
    throw Corvane::RangeError(
        "Hardware::Velt::SystemTcamId::value > Hardware::Velt::SystemTcamId::max not allowed");
  }
  out = SystemTcamId(static_cast<uint16_t>(v));
  return pos;
}

SystemTcamId SystemTcamId::parse(std::string_view text) {
  SystemTcamId v;
  size_t used = parsePrefix(text, v);
  if (used == 0 || used != text.size()) {
    throw Corvane::ParseError("Hardware::Velt::SystemTcamId",
                              fmt::format("Hardware::Velt::SystemTcamId: '{}' is not a number", text));
  }
  return v;
}

size_t PortMap::parsePrefix(std::string_view text, PortMap& out) {
  size_t pos = 0;
  uint64_t fap, port, core;
  if (!expect(text, pos, "PortMap(fap=") || !readDecimal(text, pos, fap) || !expect(text, pos, ", port=") ||
      !readDecimal(text, pos, port) || !expect(text, pos, ", core=") || !readDecimal(text, pos, core) ||
      !expect(text, pos, ")")) {
    return 0;
  }
  // A FAP port has no range of its own beyond 32 bits: a longer number is not a port.
  if (port >= kPastU32) return 0;
  out = PortMap(FapId(clampU32(fap)), FapPortId(uint32_t(port)), LocalCoreId(clampU32(core)));
  return pos;
}

PortMap PortMap::parse(std::string_view text) {
  PortMap v;
  size_t used = parsePrefix(text, v);
  if (used == 0 || used != text.size()) {
    throw Corvane::ParseError(
        "Hardware::Velt::PortMap",
        fmt::format("Hardware::Velt::PortMap: '{}' is not of the form PortMap(fap=F, port=P, core=C)", text));
  }
  return v;
}

std::ostream& operator<<(std::ostream& os, SystemTcamId const& v) { return os << v.value(); }
std::ostream& operator<<(std::ostream& os, FapId const& v) { return os << v.value(); }
std::ostream& operator<<(std::ostream& os, LocalCoreId const& v) { return os << v.value(); }
std::ostream& operator<<(std::ostream& os, FapPortId const& v) { return os << v.value(); }
std::ostream& operator<<(std::ostream& os, PortMap const& v) {
  return os << "PortMap(fap=" << v.fapId().value() << ", port=" << v.fapPortId().value()
            << ", core=" << v.localCoreId().value() << ")";
}

CORVANE_VALUE_TYPE_DEFINE(SystemTcamId, "Hardware::Velt::SystemTcamId")
CORVANE_VALUE_TYPE_DEFINE(FapId, "Hardware::Velt::FapId")
CORVANE_VALUE_TYPE_DEFINE(LocalCoreId, "Hardware::Velt::LocalCoreId")
CORVANE_VALUE_TYPE_DEFINE(FapPortId, "Hardware::Velt::FapPortId")
CORVANE_VALUE_TYPE_DEFINE(PortMap, "Hardware::Velt::PortMap")

namespace {
using Corvane::Describe;
using Corvane::TypeKind;
[[maybe_unused]] bool const registered = [] {
  Corvane::TypeRegistry::typeRegister(SystemTcamId::typeDataStatic(),
                                      Describe<SystemTcamId>(TypeKind::valueType).parsable().done());
  Corvane::TypeRegistry::typeRegister(FapId::typeDataStatic(),
                                      Describe<FapId>(TypeKind::valueType).done());
  Corvane::TypeRegistry::typeRegister(LocalCoreId::typeDataStatic(),
                                      Describe<LocalCoreId>(TypeKind::valueType).done());
  Corvane::TypeRegistry::typeRegister(FapPortId::typeDataStatic(),
                                      Describe<FapPortId>(TypeKind::valueType).done());
  Corvane::TypeRegistry::typeRegister(PortMap::typeDataStatic(),
                                      Describe<PortMap>(TypeKind::valueType).parsable().done());
  return true;
}();
}  // namespace

}  // namespace Hardware::Velt
