#include "corvane/platform/VeltStatus.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

#include <charconv>
#include <limits>
#include <ostream>

#include <fmt/format.h>

namespace Hardware::Velt {

CORVANE_NODE_TYPE_DEFINE(Status, "Hardware::Velt::Status", Corvane::NamedEntity)

Ptr<Status> Status::StatusIs(std::string const& name) { return Ptr<Status>(new Status(name)); }
Status::Status(std::string name) : NamedEntity(std::move(name)) {}
Status::~Status() = default;

SystemTcamId Status::intfIdToSystemTcamId(IntfId i) const {
  SystemTcamId const* t = intfIdToSystemTcamId_.find(i);
  return t ? *t : SystemTcamId();
}
void Status::intfIdToSystemTcamIdIs(IntfId i, SystemTcamId t) {
  collSet(intfIdToSystemTcamId_, attrIntfIdToSystemTcamId, i, t);
}
bool Status::intfIdToSystemTcamIdDel(IntfId i) {
  return collDel(intfIdToSystemTcamId_, attrIntfIdToSystemTcamId, i);
}
void Status::intfIdToSystemTcamIdDelAll() { collDelAll(intfIdToSystemTcamId_, attrIntfIdToSystemTcamId); }

std::ostream& operator<<(std::ostream& os, LagHwMemberInfo const& m) {
  return os << "LagHwMemberInfo(index=" << m.memberIndex() << ", active=" << (m.active() ? "true" : "false")
            << ")";
}

LagHwMemberInfo LagHwMemberInfo::parse(std::string_view text) {
  constexpr std::string_view head = "LagHwMemberInfo(index=";
  constexpr std::string_view middle = ", active=";
  auto bad = [&] {
    return Corvane::ParseError(
        "Hardware::Velt::LagHwMemberInfo",
        fmt::format("Hardware::Velt::LagHwMemberInfo: '{}' is not of the form "
                    "LagHwMemberInfo(index=N, active=true|false)",
                    text));
  };
  if (!text.starts_with(head) || !text.ends_with(')')) throw bad();
  std::string_view const body = text.substr(head.size(), text.size() - head.size() - 1);
  size_t const m = body.find(middle);
  if (m == std::string_view::npos) throw bad();
  std::string_view const index = body.substr(0, m);
  std::string_view const active = body.substr(m + middle.size());
  uint64_t v = 0;
  auto const [end, ec] = std::from_chars(index.data(), index.data() + index.size(), v);
  if (ec == std::errc::result_out_of_range || (ec == std::errc() && v > std::numeric_limits<uint32_t>::max())) {
    throw Corvane::RangeError(fmt::format("Hardware::Velt::LagHwMemberInfo: index {} is above {}", index,
                                          std::numeric_limits<uint32_t>::max()));
  }
  if (ec != std::errc() || end != index.data() + index.size()) throw bad();
  if (active != "true" && active != "false") throw bad();
  return LagHwMemberInfo(uint32_t(v), active == "true");
}

CORVANE_NODE_TYPE_DEFINE_SLABS(LagHwConfig, "Hardware::Velt::LagHwConfig", Corvane::Entity,
                               Corvane::SlabPool::slabBytes)

Ptr<LagHwConfig> LagHwConfig::LagHwConfigIs(IntfId lagIntfId) { return Ptr<LagHwConfig>(new LagHwConfig(lagIntfId)); }
LagHwConfig::LagHwConfig(IntfId lagIntfId) : lagIntfId_(lagIntfId) {}
LagHwConfig::~LagHwConfig() = default;

LagHwMemberInfo LagHwConfig::memberInfo(IntfId member) const {
  LagHwMemberInfo const* m = memberInfo_.find(member);
  return m ? *m : LagHwMemberInfo();
}
void LagHwConfig::memberInfoIs(IntfId member, LagHwMemberInfo info) {
  collSet(memberInfo_, attrMemberInfo, member, info);
}
bool LagHwConfig::memberInfoDel(IntfId member) { return collDel(memberInfo_, attrMemberInfo, member); }
void LagHwConfig::memberInfoDelAll() { collDelAll(memberInfo_, attrMemberInfo); }

CORVANE_VALUE_TYPE_DEFINE(LagHwMemberInfo, "Hardware::Velt::LagHwMemberInfo")

}  // namespace Hardware::Velt

namespace Hardware::VeltLag {

CORVANE_NODE_TYPE_DEFINE(Status, "Hardware::VeltLag::Status", Corvane::NamedEntity)

Ptr<Status> Status::StatusIs(std::string const& name) { return Ptr<Status>(new Status(name)); }
Status::Status(std::string name) : NamedEntity(std::move(name)) {}
Status::~Status() = default;

Ptr<Velt::LagHwConfig> Status::lagHwConfig(IntfId lag) const {
  Ptr<Velt::LagHwConfig> const* c = lagHwConfig_.find(lag);
  return c ? *c : nullptr;
}

Ptr<Velt::LagHwConfig> Status::lagHwConfigIs(IntfId lag) {
  if (Ptr<Velt::LagHwConfig> const* c = lagHwConfig_.find(lag)) return *c;
  Ptr<Velt::LagHwConfig> c = Velt::LagHwConfig::LagHwConfigIs(lag);
  collSet(lagHwConfig_, attrLagHwConfig, lag, c);
  return c;
}

void Status::lagHwConfigIs(IntfId lag, Ptr<Velt::LagHwConfig> config) {
  if (!config) {
    lagHwConfigDel(lag);
    return;
  }
  collSet(lagHwConfig_, attrLagHwConfig, lag, std::move(config));
}

Ptr<Velt::LagHwConfig> Status::lagHwConfigDel(IntfId lag) {
  Ptr<Velt::LagHwConfig> removed;
  collDel(lagHwConfig_, attrLagHwConfig, lag, &removed);
  return removed;
}

void Status::lagHwConfigDelAll() { collDelAll(lagHwConfig_, attrLagHwConfig); }

namespace {
using namespace Corvane;
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(Velt::Status::typeDataStatic(),
                             Describe<Velt::Status>(TypeKind::entity)
                                 .collection<attribute(&Velt::Status::intfIdToSystemTcamId),
                                             &Velt::Status::intfIdToSystemTcamIdIs,
                                             &Velt::Status::intfIdToSystemTcamIdDel>(
                                     "intfIdToSystemTcamId", Velt::Status::attrIntfIdToSystemTcamId)
                                 .done());
  TypeRegistry::typeRegister(Velt::LagHwMemberInfo::typeDataStatic(),
                             Describe<Velt::LagHwMemberInfo>(TypeKind::valueType).parsable().done());
  TypeRegistry::typeRegister(Velt::LagHwConfig::typeDataStatic(),
                             Describe<Velt::LagHwConfig>(TypeKind::entity)
                                 .value<&Velt::LagHwConfig::lagIntfId>("lagIntfId")
                                 .collection<attribute(&Velt::LagHwConfig::memberInfo),
                                             &Velt::LagHwConfig::memberInfoIs, &Velt::LagHwConfig::memberInfoDel>(
                                     "memberInfo", Velt::LagHwConfig::attrMemberInfo)
                                 .done());
  TypeRegistry::typeRegister(Status::typeDataStatic(),
                             Describe<Status>(TypeKind::entity)
                                 .collection<attribute(&Status::lagHwConfig), setter<IntfId>(&Status::lagHwConfigIs),
                                             &Status::lagHwConfigDel>("lagHwConfig", Status::attrLagHwConfig, true)
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Hardware::VeltLag
