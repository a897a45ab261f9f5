#include "corvane/model/FeatureConfigStatus.h"

#include <ostream>
#include <utility>

#include <fmt/format.h>

#include "corvane/framework/Reflection.h"
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

CORVANE_NODE_TYPE_DEFINE_SLABS(LagMemberSet, "Corvane::LagMemberSet", Entity, SlabPool::slabBytes)
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

TypeData& IntfIdSystemTcamId::typeDataStatic() noexcept {
  static TypeData td("Corvane::IntfIdSystemTcamId", nullptr);
  return td;
}
TypeData& IntfIdPortMap::typeDataStatic() noexcept {
  static TypeData td("Corvane::IntfIdPortMap", nullptr);
  return td;
}

namespace {

template <class C, class K>
auto payloadFind(C const& c, K const& k) {
  auto const* v = c.find(k);
  return v ? *v : typename C::mapped_type();
}

}  // namespace

// Payload tables. Null never reaches collSet: it is a removal. The removed payload
// goes back to the caller, so it outlives the notification.
#define CORVANE_PAYLOAD_COLL_DEFINE(Type, KeyParam, Payload, name, attr)                \
  Ptr<Payload> Type::name(KeyParam k) const { return payloadFind(name##_, k); }         \
  void Type::name##Is(Key k, Ptr<Payload> payload) {                                    \
    if (payload) {                                                                      \
      collSet(name##_, attr, k, std::move(payload));                                    \
    } else {                                                                            \
      name##Del(k);                                                                     \
    }                                                                                   \
  }                                                                                     \
  Ptr<Payload> Type::name##Del(Key k) {                                                 \
    Ptr<Payload> removed;                                                               \
    collDel(name##_, attr, k, &removed);                                                \
    return removed;                                                                     \
  }

// A payload table entity made without arguments: its type, creator and factory.
#define CORVANE_PAYLOAD_ENTITY_DEFINE(Type, factory, KeyParam, Payload, name, attr) \
  CORVANE_NODE_TYPE_DEFINE(Type, "Corvane::" #Type, Entity)                         \
  Type::~Type() = default;                                                          \
  Ptr<Type> Type::Type##Is() { return Ptr<Type>(new Type()); }                      \
  Ptr<Type> factory() { return Type::Type##Is(); }                                  \
  CORVANE_PAYLOAD_COLL_DEFINE(Type, KeyParam, Payload, name, attr)

CORVANE_PAYLOAD_ENTITY_DEFINE(IntfFeatureConfig, intfFeatureConfigFactory, Key, FeatureConfigBase, config,
                              attrConfig)
CORVANE_PAYLOAD_ENTITY_DEFINE(IntfTcamFeatureConfig, intfTcamFeatureConfigFactory, Key const&, FeatureConfigBase,
                              config, attrConfig)
CORVANE_PAYLOAD_ENTITY_DEFINE(IntfPortMapFeatureConfig, intfPortMapFeatureConfigFactory, Key const&,
                              FeatureConfigBase, config, attrConfig)
CORVANE_PAYLOAD_ENTITY_DEFINE(IntfTcamFeatureStatus, intfTcamFeatureStatusFactory, Key const&, FeatureStatusBase,
                              status, attrStatus)
CORVANE_PAYLOAD_ENTITY_DEFINE(IntfFeatureStatus, intfFeatureStatusFactory, Key, FeatureStatusBase, status,
                              attrStatus)

CORVANE_NODE_TYPE_DEFINE_SLABS(PerTcamFeatureStatus, "Corvane::PerTcamFeatureStatus", Entity, SlabPool::slabBytes)
PerTcamFeatureStatus::~PerTcamFeatureStatus() = default;
Ptr<PerTcamFeatureStatus> PerTcamFeatureStatus::PerTcamFeatureStatusIs(IntfId intfId) {
  return Ptr<PerTcamFeatureStatus>(new PerTcamFeatureStatus(intfId));
}
Ptr<PerTcamFeatureStatus> perTcamFeatureStatusFactory(IntfId intfId) {
  return PerTcamFeatureStatus::PerTcamFeatureStatusIs(intfId);
}
CORVANE_PAYLOAD_COLL_DEFINE(PerTcamFeatureStatus, Key, FeatureStatusBase, status, attrStatus)

#undef CORVANE_PAYLOAD_ENTITY_DEFINE
#undef CORVANE_PAYLOAD_COLL_DEFINE

// Instantiating collections: the child is made here, with its key as intfId.
// Delete-all always goes one child at a time through the single delete, announced
// even with nobody subscribed; the destructor uses it so readers see each child go.
#define CORVANE_CHILD_COLL_DEFINE(Type, Child)                                  \
  Ptr<Child> Type::status(IntfId i) const { return payloadFind(status_, i); } \
  Ptr<Child> Type::statusIs(IntfId i) {                                       \
    if (Ptr<Child> const* c = status_.find(i)) return *c;                     \
    Ptr<Child> c(new Child(i));                                               \
    collSet(status_, attrStatus, i, c);                                       \
    return c;                                                                 \
  }                                                                           \
  Ptr<Child> Type::statusDel(IntfId i) {                                      \
    Ptr<Child> removed;                                                       \
    collDel(status_, attrStatus, i, &removed);                                \
    return removed;                                                           \
  }                                                                           \
  void Type::statusDelAll() {                                                 \
    for (auto cur = status_.cursor(); !cur.done(); cur.next()) {              \
      IntfId const i = cur.key();                                             \
      statusDel(i);                                                           \
    }                                                                         \
  }                                                                           \
  Type::~Type() { statusDelAll(); }

CORVANE_NODE_TYPE_DEFINE(IntfPerTcamFeatureStatus, "Corvane::IntfPerTcamFeatureStatus", Entity)
Ptr<IntfPerTcamFeatureStatus> IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs() {
  return Ptr<IntfPerTcamFeatureStatus>(new IntfPerTcamFeatureStatus());
}
Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatusFactory() {
  return IntfPerTcamFeatureStatus::IntfPerTcamFeatureStatusIs();
}
CORVANE_CHILD_COLL_DEFINE(IntfPerTcamFeatureStatus, PerTcamFeatureStatus)

CORVANE_NODE_TYPE_DEFINE(PerIntfFeatureStatus, "Corvane::PerIntfFeatureStatus", Entity)
Ptr<PerIntfFeatureStatus> PerIntfFeatureStatus::PerIntfFeatureStatusIs() {
  return Ptr<PerIntfFeatureStatus>(new PerIntfFeatureStatus());
}
Ptr<PerIntfFeatureStatus> perIntfFeatureStatusFactory() { return PerIntfFeatureStatus::PerIntfFeatureStatusIs(); }
CORVANE_CHILD_COLL_DEFINE(PerIntfFeatureStatus, SingleIntfFeatureStatus)

#undef CORVANE_CHILD_COLL_DEFINE

CORVANE_NODE_TYPE_DEFINE_SLABS(SingleIntfFeatureStatus, "Corvane::SingleIntfFeatureStatus", Entity,
                               SlabPool::slabBytes)
SingleIntfFeatureStatus::~SingleIntfFeatureStatus() = default;
Ptr<SingleIntfFeatureStatus> SingleIntfFeatureStatus::SingleIntfFeatureStatusIs(IntfId intfId) {
  return Ptr<SingleIntfFeatureStatus>(new SingleIntfFeatureStatus(intfId));
}
Ptr<SingleIntfFeatureStatus> singleIntfFeatureStatusFactory(IntfId intfId) {
  return SingleIntfFeatureStatus::SingleIntfFeatureStatusIs(intfId);
}

void SingleIntfFeatureStatus::statusIs(Ptr<FeatureStatusBase> payload) {
  if (payload == status_) return;
  Ptr<FeatureStatusBase> const previous = std::exchange(status_, std::move(payload));
  publishChange(attrStatus, nullptr, previousOf(previous));
}

namespace {
// A table of payloads or of children: one keyed collection, written through Set and Del.
template <class T, auto Get, auto Set, auto Del>
void tableRegister(char const* name, uint32_t attr, bool children = false) {
  TypeRegistry::typeRegister(
      T::typeDataStatic(),
      Describe<T>(TypeKind::entity).template collection<Get, Set, Del>(name, attr, children).done());
}

// The payload bases go first, whichever module's initializer runs first.
[[maybe_unused]] bool const registered = [] {
  detail::featureConfigStatusBaseTypesRegister();
  TypeRegistry::typeRegister(LagMemberSet::typeDataStatic(),
                             Describe<LagMemberSet>(TypeKind::entity)
                                 .value<&LagMemberSet::lagIntfId>("lagIntfId")
                                 .collection<attribute(&LagMemberSet::memberSet), &LagMemberSet::memberSetIs,
                                             &LagMemberSet::memberSetDel>("memberSet", 0)
                                 .done());
  tableRegister<LagToMemberSet, attribute(&LagToMemberSet::lagMemberSet), &LagToMemberSet::lagMemberSetIs,
                &LagToMemberSet::lagMemberSetDel>("lagMemberSet", 0, true);
  TypeRegistry::typeRegister(IntfIdSystemTcamId::typeDataStatic(),
                             Describe<IntfIdSystemTcamId>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(IntfIdPortMap::typeDataStatic(),
                             Describe<IntfIdPortMap>(TypeKind::valueType).parsable().done());
  tableRegister<IntfFeatureConfig, attribute(&IntfFeatureConfig::config), &IntfFeatureConfig::configIs,
                &IntfFeatureConfig::configDel>("config", IntfFeatureConfig::attrConfig);
  tableRegister<IntfTcamFeatureConfig, attribute(&IntfTcamFeatureConfig::config), &IntfTcamFeatureConfig::configIs,
                &IntfTcamFeatureConfig::configDel>("config", IntfTcamFeatureConfig::attrConfig);
  tableRegister<IntfTcamFeatureStatus, attribute(&IntfTcamFeatureStatus::status), &IntfTcamFeatureStatus::statusIs,
                &IntfTcamFeatureStatus::statusDel>("status", IntfTcamFeatureStatus::attrStatus);
  TypeRegistry::typeRegister(PerTcamFeatureStatus::typeDataStatic(),
                             Describe<PerTcamFeatureStatus>(TypeKind::entity)
                                 .value<&PerTcamFeatureStatus::intfId>("intfId")
                                 .collection<attribute(&PerTcamFeatureStatus::status),
                                             &PerTcamFeatureStatus::statusIs, &PerTcamFeatureStatus::statusDel>(
                                     "status", PerTcamFeatureStatus::attrStatus)
                                 .done());
  tableRegister<IntfPerTcamFeatureStatus, attribute(&IntfPerTcamFeatureStatus::status),
                &IntfPerTcamFeatureStatus::statusIs, &IntfPerTcamFeatureStatus::statusDel>(
      "status", IntfPerTcamFeatureStatus::attrStatus, true);
  TypeRegistry::typeRegister(SingleIntfFeatureStatus::typeDataStatic(),
                             Describe<SingleIntfFeatureStatus>(TypeKind::entity)
                                 .value<&SingleIntfFeatureStatus::intfId>("intfId")
                                 .value<&SingleIntfFeatureStatus::status, &SingleIntfFeatureStatus::statusIs>(
                                     "status", SingleIntfFeatureStatus::attrStatus)
                                 .done());
  tableRegister<PerIntfFeatureStatus, attribute(&PerIntfFeatureStatus::status), &PerIntfFeatureStatus::statusIs,
                &PerIntfFeatureStatus::statusDel>("status", PerIntfFeatureStatus::attrStatus, true);
  tableRegister<IntfFeatureStatus, attribute(&IntfFeatureStatus::status), &IntfFeatureStatus::statusIs,
                &IntfFeatureStatus::statusDel>("status", IntfFeatureStatus::attrStatus);
  tableRegister<IntfPortMapFeatureConfig, attribute(&IntfPortMapFeatureConfig::config),
                &IntfPortMapFeatureConfig::configIs, &IntfPortMapFeatureConfig::configDel>(
      "config", IntfPortMapFeatureConfig::attrConfig);
  return true;
}();
}  // namespace

}  // namespace Corvane
