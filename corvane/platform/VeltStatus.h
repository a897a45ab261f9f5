// The platform's hardware status entities as the library reads them: which system
// TCAM each interface sits on (Hardware::Velt::Status) and which member ports each
// LAG has in hardware (Hardware::VeltLag::Status with one LagHwConfig per LAG).
// The agent writes them; every change notifies the subscribers.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace Corvane {
class TypeData;
}  // namespace Corvane

namespace Hardware::Velt {

using Net::IntfId;
using Corvane::Ptr;

class CORVANE_API Status : public Corvane::NamedEntity {
  CORVANE_NODE_TYPE(Status)

  static constexpr uint32_t attrIntfIdToSystemTcamId = 1;
  using IntfIdToSystemTcamIdColl = Corvane::HashMap<IntfId, SystemTcamId>;

  static Ptr<Status> StatusIs(std::string const& name);
  explicit Status(std::string name);
  ~Status() override;

  IntfIdToSystemTcamIdColl const& intfIdToSystemTcamId() const noexcept { return intfIdToSystemTcamId_; }
  // The interface's TCAM, or the default SystemTcamId when it has none.
  SystemTcamId intfIdToSystemTcamId(IntfId i) const;
  bool intfIdToSystemTcamIdHas(IntfId i) const { return intfIdToSystemTcamId_.contains(i); }
  void intfIdToSystemTcamIdIs(IntfId i, SystemTcamId t);
  bool intfIdToSystemTcamIdDel(IntfId i);
  void intfIdToSystemTcamIdDelAll();

 private:
  IntfIdToSystemTcamIdColl intfIdToSystemTcamId_;
};

// What the hardware reports of one LAG member. Text form (printed and parsed):
// "LagHwMemberInfo(index=3, active=true)".
class CORVANE_API LagHwMemberInfo {
 public:
  // Descriptor under which the type is registered with Corvane::TypeRegistry.
  static Corvane::TypeData& typeDataStatic() noexcept;
  LagHwMemberInfo() = default;
  LagHwMemberInfo(uint32_t memberIndex, bool active) : memberIndex_(memberIndex), active_(active) {}
  uint32_t memberIndex() const noexcept { return memberIndex_; }
  bool active() const noexcept { return active_; }
  friend bool operator==(LagHwMemberInfo const&, LagHwMemberInfo const&) = default;

  // The whole text form; an index past 32 bits raises RangeError, other bad text ParseError.
  static LagHwMemberInfo parse(std::string_view text);

 private:
  uint32_t memberIndex_ = 0;
  bool active_ = false;
};
CORVANE_API std::ostream& operator<<(std::ostream& os, LagHwMemberInfo const& m);

// The hardware's view of one LAG: its member ports.
class CORVANE_API LagHwConfig : public Corvane::Entity {
  CORVANE_NODE_TYPE(LagHwConfig)

  static constexpr uint32_t attrMemberInfo = 1;
  using MemberInfoColl = Corvane::HashMap<IntfId, LagHwMemberInfo>;

  static Ptr<LagHwConfig> LagHwConfigIs(IntfId lagIntfId);
  explicit LagHwConfig(IntfId lagIntfId);
  ~LagHwConfig() override;

  IntfId lagIntfId() const noexcept { return lagIntfId_; }
  MemberInfoColl const& memberInfo() const noexcept { return memberInfo_; }
  LagHwMemberInfo memberInfo(IntfId member) const;
  bool memberInfoHas(IntfId member) const { return memberInfo_.contains(member); }
  void memberInfoIs(IntfId member, LagHwMemberInfo info);
  bool memberInfoDel(IntfId member);
  void memberInfoDelAll();

 private:
  IntfId lagIntfId_;
  MemberInfoColl memberInfo_;
};

}  // namespace Hardware::Velt

namespace Hardware::VeltLag {

using Net::IntfId;
using Corvane::Ptr;

class CORVANE_API Status : public Corvane::NamedEntity {
  CORVANE_NODE_TYPE(Status)

  static constexpr uint32_t attrLagHwConfig = 1;
  using LagHwConfigColl = Corvane::HashMap<IntfId, Ptr<Velt::LagHwConfig>>;

  static Ptr<Status> StatusIs(std::string const& name);
  explicit Status(std::string name);
  ~Status() override;

  LagHwConfigColl const& lagHwConfig() const noexcept { return lagHwConfig_; }
  // The LAG's element, or null.
  Ptr<Velt::LagHwConfig> lagHwConfig(IntfId lag) const;
  bool lagHwConfigHas(IntfId lag) const { return lagHwConfig_.contains(lag); }
  // Returns the LAG's element, creating it when absent.
  Ptr<Velt::LagHwConfig> lagHwConfigIs(IntfId lag);
  // Stores the given element under the LAG (null removes the LAG).
  void lagHwConfigIs(IntfId lag, Ptr<Velt::LagHwConfig> config);
  Ptr<Velt::LagHwConfig> lagHwConfigDel(IntfId lag);
  void lagHwConfigDelAll();

 private:
  LagHwConfigColl lagHwConfig_;
};

}  // namespace Hardware::VeltLag

CORVANE_FORMATTER(Hardware::Velt::LagHwMemberInfo);
