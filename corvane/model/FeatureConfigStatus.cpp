#include "corvane/model/FeatureConfigStatus.h"

#include <ostream>

#include <fmt/format.h>

#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

namespace {

// Reads "(" intfId ", " <second> ")"; the second field's range errors become a
// parse error naming the field.
template <class Second, class ReadSecond>
size_t parseKey(std::string_view text, char const* typeName, char const* field, IntfId& intfId, Second& second,
                ReadSecond readSecond) {
  if (text.empty() || text[0] != '(') return 0;
  size_t pos = 1;
  size_t used = IntfId::parsePrefix(text.substr(pos), intfId);
  if (used == 0) return 0;
  pos += used;
  if (text.substr(pos, 2) != ", ") return 0;
  pos += 2;
  try {
    used = readSecond(text.substr(pos), second);
  } catch (RangeError const& e) {
    throw ParseError(field, fmt::format("{}: error deserializing attribute {}: {}", typeName, field, e.what()));
  }
  if (used == 0) return 0;
  pos += used;
  if (pos >= text.size() || text[pos] != ')') return 0;
  return pos + 1;
}

template <class Key>
Key parseWhole(std::string_view text, char const* typeName) {
  Key k;
  size_t used = Key::parsePrefix(text, k);
  if (used == 0) throw ParseError(typeName, fmt::format("{}: cannot parse '{}'", typeName, text));
  if (used != text.size()) {
    throw ParseError(typeName, fmt::format("{}: unexpected text after the key: '{}'", typeName, text.substr(used)));
  }
  return k;
}

}  // namespace

size_t IntfIdSystemTcamId::parsePrefix(std::string_view text, IntfIdSystemTcamId& out) {
  IntfId i;
  SystemTcamId t;
  size_t used = parseKey(text, "Corvane::IntfIdSystemTcamId", "systemTcamId", i, t,
                         [](std::string_view s, SystemTcamId& v) { return SystemTcamId::parsePrefix(s, v); });
  if (used) out = IntfIdSystemTcamId(i, t);
  return used;
}
IntfIdSystemTcamId IntfIdSystemTcamId::parse(std::string_view text) {
  return parseWhole<IntfIdSystemTcamId>(text, "Corvane::IntfIdSystemTcamId");
}
IntfIdSystemTcamId::IntfIdSystemTcamId(std::string_view text) : IntfIdSystemTcamId(parse(text)) {}

size_t IntfIdPortMap::parsePrefix(std::string_view text, IntfIdPortMap& out) {
  IntfId i;
  PortMap p;
  size_t used = parseKey(text, "Corvane::IntfIdPortMap", "portMap", i, p,
                         [](std::string_view s, PortMap& v) { return PortMap::parsePrefix(s, v); });
  if (used) out = IntfIdPortMap(i, p);
  return used;
}
IntfIdPortMap IntfIdPortMap::parse(std::string_view text) {
  return parseWhole<IntfIdPortMap>(text, "Corvane::IntfIdPortMap");
}
IntfIdPortMap::IntfIdPortMap(std::string_view text) : IntfIdPortMap(parse(text)) {}

std::ostream& operator<<(std::ostream& os, IntfIdSystemTcamId const& k) {
  return os << '(' << k.intfId() << ", " << k.systemTcamId() << ')';
}
std::ostream& operator<<(std::ostream& os, IntfIdPortMap const& k) {
  return os << '(' << k.intfId() << ", " << k.portMap() << ')';
}

CORVANE_NODE_TYPE_DEFINE(LagMemberSet, "Corvane::LagMemberSet", Entity)
LagMemberSet::~LagMemberSet() = default;

CORVANE_NODE_TYPE_DEFINE(LagToMemberSet, "Corvane::LagToMemberSet", Entity)
LagToMemberSet::~LagToMemberSet() = default;
Ptr<LagToMemberSet> LagToMemberSet::LagToMemberSetIs() { return Ptr<LagToMemberSet>(new LagToMemberSet()); }
Ptr<LagToMemberSet> lagToMemberSetFactory() { return LagToMemberSet::LagToMemberSetIs(); }

Ptr<LagMemberSet> LagToMemberSet::lagMemberSet(IntfId lag) const {
  Ptr<LagMemberSet> const* s = lagMemberSet_.find(lag);
  return s ? *s : nullptr;
}
Ptr<LagMemberSet> LagToMemberSet::lagMemberSetIs(IntfId lag) {
  if (Ptr<LagMemberSet> const* s = lagMemberSet_.find(lag)) return *s;
  Ptr<LagMemberSet> s(new LagMemberSet(lag));
  lagMemberSet_.assign(lag, s);
  return s;
}

}  // namespace Corvane
