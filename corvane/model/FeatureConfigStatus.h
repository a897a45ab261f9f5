// Keys and LAG member sets of the library's data model: the composite keys
// IntfIdSystemTcamId and IntfIdPortMap (which key the per-TCAM and per-port-map
// configuration and status), and LagMemberSet / LagToMemberSet (a LAG's member
// ports, written by the LAG-member configuration expansion).
//
// Text form of a composite key: "(" intfId ", " second field ")", for example
// "(Ethernet1, 5)" or "(Ethernet1, PortMap(fap=3, port=17, core=1))".
#pragma once

#include <compare>
#include <cstdint>
#include <iosfwd>
#include <string_view>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace Corvane {

using Hardware::Velt::PortMap;
using Hardware::Velt::SystemTcamId;

class CORVANE_API IntfIdSystemTcamId {
 public:
  IntfIdSystemTcamId() = default;
  IntfIdSystemTcamId(IntfId intfId, SystemTcamId systemTcamId) : intfId_(intfId), systemTcamId_(systemTcamId) {}
  // Parses the whole text form.
  explicit IntfIdSystemTcamId(std::string_view text);

  IntfId intfId() const noexcept { return intfId_; }
  SystemTcamId systemTcamId() const noexcept { return systemTcamId_; }
  void intfIdIs(IntfId i) noexcept { intfId_ = i; }
  void systemTcamIdIs(SystemTcamId t) noexcept { systemTcamId_ = t; }

  uint64_t hash(uint64_t seed = 0) const noexcept {
    return hashMix(hashMix(seed, hashValue(intfId_)), systemTcamId_.value());
  }
  static IntfIdSystemTcamId parse(std::string_view text);
  // Reads a key at the start of text; returns the characters used (0: none).
  static size_t parsePrefix(std::string_view text, IntfIdSystemTcamId& out);

  friend bool operator==(IntfIdSystemTcamId const&, IntfIdSystemTcamId const&) = default;
  friend std::strong_ordering operator<=>(IntfIdSystemTcamId const&, IntfIdSystemTcamId const&) = default;

 private:
  IntfId intfId_;
  SystemTcamId systemTcamId_;
};

class CORVANE_API IntfIdPortMap {
 public:
  IntfIdPortMap() = default;
  IntfIdPortMap(IntfId intfId, PortMap portMap) : intfId_(intfId), portMap_(portMap) {}
  explicit IntfIdPortMap(std::string_view text);

  IntfId intfId() const noexcept { return intfId_; }
  PortMap portMap() const noexcept { return portMap_; }
  void intfIdIs(IntfId i) noexcept { intfId_ = i; }
  void portMapIs(PortMap p) noexcept { portMap_ = p; }

  uint64_t hash(uint64_t seed = 0) const noexcept { return hashMix(hashMix(seed, hashValue(intfId_)), portMap_.hash(0)); }
  static IntfIdPortMap parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, IntfIdPortMap& out);

  friend bool operator==(IntfIdPortMap const&, IntfIdPortMap const&) = default;
  friend std::strong_ordering operator<=>(IntfIdPortMap const&, IntfIdPortMap const&) = default;

 private:
  IntfId intfId_;
  PortMap portMap_;
};

CORVANE_API std::ostream& operator<<(std::ostream& os, IntfIdSystemTcamId const& k);
CORVANE_API std::ostream& operator<<(std::ostream& os, IntfIdPortMap const& k);
inline uint64_t hashValue(IntfIdSystemTcamId const& k) noexcept { return k.hash(0); }
inline uint64_t hashValue(IntfIdPortMap const& k) noexcept { return k.hash(0); }

// A LAG's member ports. Never notifies.
class CORVANE_API LagMemberSet : public Entity {
  CORVANE_NODE_TYPE(LagMemberSet)

  using MemberSetColl = HashSet<IntfId>;

  explicit LagMemberSet(IntfId lagIntfId) : lagIntfId_(lagIntfId) {}
  ~LagMemberSet() override;

  IntfId lagIntfId() const noexcept { return lagIntfId_; }
  MemberSetColl const& memberSet() const noexcept { return memberSet_; }
  bool memberSetHas(IntfId i) const { return memberSet_.contains(i); }
  void memberSetIs(IntfId i) { memberSet_.insert(i); }
  bool memberSetDel(IntfId i) { return memberSet_.erase(i); }
  void memberSetDelAll() { memberSet_.clear(); }

 private:
  IntfId lagIntfId_;
  MemberSetColl memberSet_;
};

// LAG to its member set. Never notifies.
class CORVANE_API LagToMemberSet : public Entity {
  CORVANE_NODE_TYPE(LagToMemberSet)

  using LagMemberSetColl = HashMap<IntfId, Ptr<LagMemberSet>>;

  static Ptr<LagToMemberSet> LagToMemberSetIs();
  LagToMemberSet() = default;
  ~LagToMemberSet() override;

  LagMemberSetColl const& lagMemberSet() const noexcept { return lagMemberSet_; }
  Ptr<LagMemberSet> lagMemberSet(IntfId lag) const;
  bool lagMemberSetHas(IntfId lag) const { return lagMemberSet_.contains(lag); }
  Ptr<LagMemberSet> lagMemberSetIs(IntfId lag);
  bool lagMemberSetDel(IntfId lag) { return lagMemberSet_.erase(lag); }
  void lagMemberSetDelAll() { lagMemberSet_.clear(); }

 private:
  LagMemberSetColl lagMemberSet_;
};

CORVANE_API Ptr<LagToMemberSet> lagToMemberSetFactory();

}  // namespace Corvane

CORVANE_FORMATTER(Corvane::IntfIdSystemTcamId);
CORVANE_FORMATTER(Corvane::IntfIdPortMap);
