#include "corvane/platform/IntfId.h"

#include <ostream>

#include <fmt/format.h>

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Net {

namespace {

constexpr uint64_t kindBits(uint8_t kind) { return uint64_t(kind) << 56; }

// Reads decimal digits at text[pos...]; false when there is none or the number exceeds max.
bool readNumber(std::string_view text, size_t& pos, uint64_t max, uint64_t& out) {
  size_t start = pos;
  uint64_t v = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    v = v * 10 + uint64_t(text[pos] - '0');
    if (v > max) return false;
    ++pos;
  }
  out = v;
  return pos > start;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

IntfId IntfId::ethernet(uint16_t a) noexcept {
  return IntfId(kindBits(kindEthernet) | (uint64_t(a) << 32));
}
IntfId IntfId::ethernet(uint16_t a, uint16_t b) noexcept {
  return IntfId(kindBits(kindEthernet) | (1ULL << 48) | (uint64_t(a) << 32) | (uint64_t(b) << 16));
}
IntfId IntfId::ethernet(uint16_t a, uint16_t b, uint16_t c) noexcept {
  return IntfId(kindBits(kindEthernet) | (2ULL << 48) | (uint64_t(a) << 32) | (uint64_t(b) << 16) | c);
}
IntfId IntfId::portChannel(uint32_t n) noexcept { return IntfId(kindBits(kindPortChannel) | n); }
IntfId IntfId::cpuTm(uint32_t n) noexcept { return IntfId(kindBits(kindCpuTm) | n); }

size_t IntfId::parsePrefix(std::string_view text, IntfId& out) noexcept {
  size_t pos;
  uint64_t n;
  if (startsWith(text, "Ethernet")) {
    pos = 8;
    uint64_t c[3] = {0, 0, 0};
    if (!readNumber(text, pos, 0xffff, c[0])) return 0;
    int count = 1;
    while (count < 3 && pos + 1 < text.size() && text[pos] == '/' && text[pos + 1] >= '0' &&
           text[pos + 1] <= '9') {
      size_t p = pos + 1;
      if (!readNumber(text, p, 0xffff, c[count])) return 0;
      pos = p;
      ++count;
    }
    out = IntfId(kindBits(kindEthernet) | (uint64_t(count - 1) << 48) | (c[0] << 32) | (c[1] << 16) | c[2]);
    return pos;
  }
  if (startsWith(text, "Port-Channel")) {
    pos = 12;
    if (!readNumber(text, pos, 0xffffffffULL, n)) return 0;
    out = portChannel(uint32_t(n));
    return pos;
  }
  if (startsWith(text, "CpuTm")) {
    pos = 5;
    if (!readNumber(text, pos, 0xffffffffULL, n)) return 0;
    out = cpuTm(uint32_t(n));
    return pos;
  }
  if (startsWith(text, "Intf0x")) {
    pos = 6;
    uint64_t v = 0;
    size_t start = pos;
    while (pos < text.size() && pos - start < 16) {
      char ch = text[pos];
      int d = (ch >= '0' && ch <= '9') ? ch - '0'
              : (ch >= 'a' && ch <= 'f') ? ch - 'a' + 10
              : (ch >= 'A' && ch <= 'F') ? ch - 'A' + 10
                                         : -1;
      if (d < 0) break;
      v = (v << 4) | uint64_t(d);
      ++pos;
    }
    if (pos == start) return 0;
    out = IntfId(v);
    return pos;
  }
  return 0;
}

IntfId::IntfId(std::string_view name) {
  IntfId parsed;
  size_t used = parsePrefix(name, parsed);
  if (used == 0 || used != name.size()) {
    throw Corvane::ParseError("Net::IntfId",
                              fmt::format("Net::IntfId: '{}' is not an interface name", name));
  }
  value_ = parsed.value_;
}

std::string IntfId::stringValue() const {
  uint64_t low = value_ & 0x00ffffffffffffffULL;
  switch (kind()) {
    case kindEthernet: {
      uint64_t count = (low >> 48) + 1;
      uint64_t a = (low >> 32) & 0xffff, b = (low >> 16) & 0xffff, c = low & 0xffff;
      if (count == 1 && b == 0 && c == 0) return fmt::format("Ethernet{}", a);
      if (count == 2 && c == 0) return fmt::format("Ethernet{}/{}", a, b);
      if (count == 3) return fmt::format("Ethernet{}/{}/{}", a, b, c);
      break;
    }
    case kindPortChannel:
      if (low <= 0xffffffffULL) return fmt::format("Port-Channel{}", low);
      break;
    case kindCpuTm:
      if (low <= 0xffffffffULL) return fmt::format("CpuTm{}", low);
      break;
    default:
      break;
  }
  return fmt::format("Intf0x{:x}", value_);
}

std::string IntfId::shortName() const {
  std::string s = stringValue();
  if (isEthernetIntfId() && startsWith(s, "Ethernet")) return "Et" + s.substr(8);
  if (isPortChannelIntfId() && startsWith(s, "Port-Channel")) return "Po" + s.substr(12);
  return s;
}

std::ostream& operator<<(std::ostream& os, IntfId const& i) { return os << i.stringValue(); }

CORVANE_VALUE_TYPE_DEFINE(IntfId, "Net::IntfId")

namespace {
[[maybe_unused]] bool const registered = [] {
  Corvane::TypeRegistry::typeRegister(IntfId::typeDataStatic(),
                                      Corvane::Describe<IntfId>(Corvane::TypeKind::valueType).parsable().done());
  return true;
}();
}  // namespace

}  // namespace Net
