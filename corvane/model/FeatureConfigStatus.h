// Keys and LAG member sets of the library's data model: the composite keys
// IntfIdSystemTcamId and IntfIdPortMap (which key the per-TCAM and per-port-map
// configuration and status), and LagMemberSet / LagToMemberSet (a LAG's member
// ports, written by the LAG-member configuration expansion).
//
// Also the feature entities through which forwarding features hand their
// configuration to the expansion state machines and get their status back from the
// status state machines. They hold payload references and never look inside.
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
#include "corvane/model/FeatureConfigStatusBase.h"
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

  // The interface's hash above, the TCAM below: a table of these keys holds an
  // interface's TCAMs side by side, in the order of the interfaces' own tables, so
  // that a walk of those (a start-up's scan) fills it and reads it in order.
  uint64_t hash(uint64_t seed = 0) const noexcept {
    uint64_t const h = seed ? hashMix(seed, hashValue(intfId_)) : hashValue(intfId_);
    return (h & ~uint64_t(0x1ffff)) | uint64_t(systemTcamId_.value()) << 1;
  }
  static IntfIdSystemTcamId parse(std::string_view text);
  // Reads a key at the start of text; returns the characters used (0: none).
  static size_t parsePrefix(std::string_view text, IntfIdSystemTcamId& out);

  friend bool operator==(IntfIdSystemTcamId const&, IntfIdSystemTcamId const&) = default;
  friend std::strong_ordering operator<=>(IntfIdSystemTcamId const&, IntfIdSystemTcamId const&) = default;

  // Descriptor for the type registry; a key is a value, so nothing is counted live.
  static TypeData& typeDataStatic() noexcept;

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

  // As an IntfIdSystemTcamId: the interface's hash above, the port map's below.
  uint64_t hash(uint64_t seed = 0) const noexcept {
    uint64_t const h = seed ? hashMix(seed, hashValue(intfId_)) : hashValue(intfId_);
    return (h & ~uint64_t(0xffffffff)) | (portMap_.hash(h) & 0xffffffff);
  }
  static IntfIdPortMap parse(std::string_view text);
  static size_t parsePrefix(std::string_view text, IntfIdPortMap& out);

  friend bool operator==(IntfIdPortMap const&, IntfIdPortMap const&) = default;
  friend std::strong_ordering operator<=>(IntfIdPortMap const&, IntfIdPortMap const&) = default;

  static TypeData& typeDataStatic() noexcept;

 private:
  IntfId intfId_;
  PortMap portMap_;
};

CORVANE_API std::ostream& operator<<(std::ostream& os, IntfIdSystemTcamId const& k);
CORVANE_API std::ostream& operator<<(std::ostream& os, IntfIdPortMap const& k);
inline uint64_t hashValue(IntfIdSystemTcamId const& k) noexcept { return k.hash(0); }
inline uint64_t hashValue(IntfIdPortMap const& k) noexcept { return k.hash(0); }
template <>
inline constexpr bool hashSharesTopHalf<IntfIdSystemTcamId> = true;
template <>
inline constexpr bool hashSharesTopHalf<IntfIdPortMap> = true;

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

// ---- Feature entities ------------------------------------------------------------
//
// Value collections (config / status) keep the rules every writer relies on: a
// payload is known by its identity, so setting the object already held is silent
// and a feature that changes its payload must set a new object; setting null
// removes the key; a replaced or removed payload is released only after the
// notification has run, so subscribers can still read it.

// Declares the payload table of a feature entity Type: attribute `name` (number
// `attr`, type `Coll`) mapping the entity's Key to Ptr<Payload>. name() is the
// collection; name(k) the key's payload or null; name##Has; name##Is(k, payload)
// sets it (null removes the key); name##Del returns the removed payload (null when
// the key was absent); name##DelAll; and the OutputAdapter through which the SMs
// write the table. Lookups take the key as KeyParam; writes take it by value, so a
// key read from this collection stays valid while its entry is removed and
// announced. The bodies come from CORVANE_PAYLOAD_TABLE_DEFINE.
#define CORVANE_PAYLOAD_TABLE(Type, name, Coll, attr, Payload, KeyParam) \
 public:                                                                \
  static constexpr uint32_t attr = 1;                                   \
  using Coll = HashMap<Key, Ptr<Payload>>;                              \
  Coll const& name() const noexcept { return name##_; }                 \
  Ptr<Payload> name(KeyParam k) const;                                  \
  bool name##Has(KeyParam k) const { return name##_.contains(k); }      \
  void name##Is(Key k, Ptr<Payload> payload);                           \
  Ptr<Payload> name##Del(Key k);                                        \
  void name##DelAll() { collDelAll(name##_, attr); }                    \
  struct OutputAdapter {                                                \
    using Entity = Type;                                                \
    using Key = Type::Key;                                              \
    using Value = Ptr<Payload>;                                         \
    static Coll const& coll(Entity const& e) { return e.name(); }       \
    static void write(Entity& e, Key const& k, Value const& v) {        \
      e.name##Is(k, v);                                                 \
    }                                                                   \
    static void erase(Entity& e, Key const& k) { e.name##Del(k); }      \
    static void reserve(Entity& e, size_t n) { e.name##_.reserve(n); }  \
  };                                                                    \
                                                                        \
 private:                                                               \
  Coll name##_;                                                         \
                                                                        \
 public:

// A feature's configuration per interface. Filled by the feature; a second instance
// holds the same payloads spread onto LAG member ports (written through its
// OutputAdapter by the LAG-member expansion).
class CORVANE_API IntfFeatureConfig : public Entity {
  CORVANE_NODE_TYPE(IntfFeatureConfig)
  using Key = IntfId;
  CORVANE_PAYLOAD_TABLE(IntfFeatureConfig, config, ConfigColl, attrConfig, FeatureConfigBase, Key)

  static Ptr<IntfFeatureConfig> IntfFeatureConfigIs();
  IntfFeatureConfig() = default;
  ~IntfFeatureConfig() override;
};

// A feature's configuration per (interface, system TCAM), written by the per-TCAM
// expansion. The payload of one interface is shared by all its TCAM keys.
class CORVANE_API IntfTcamFeatureConfig : public Entity {
  CORVANE_NODE_TYPE(IntfTcamFeatureConfig)
  using Key = IntfIdSystemTcamId;
  CORVANE_PAYLOAD_TABLE(IntfTcamFeatureConfig, config, ConfigColl, attrConfig, FeatureConfigBase, Key const&)

  static Ptr<IntfTcamFeatureConfig> IntfTcamFeatureConfigIs();
  IntfTcamFeatureConfig() = default;
  ~IntfTcamFeatureConfig() override;
};

// Status per (interface, system TCAM) as the hardware layer reports it.
class CORVANE_API IntfTcamFeatureStatus : public Entity {
  CORVANE_NODE_TYPE(IntfTcamFeatureStatus)
  using Key = IntfIdSystemTcamId;
  CORVANE_PAYLOAD_TABLE(IntfTcamFeatureStatus, status, StatusColl, attrStatus, FeatureStatusBase, Key const&)

  static Ptr<IntfTcamFeatureStatus> IntfTcamFeatureStatusIs();
  IntfTcamFeatureStatus() = default;
  ~IntfTcamFeatureStatus() override;
};

// One interface's status per system TCAM; a child of IntfPerTcamFeatureStatus.
class CORVANE_API PerTcamFeatureStatus : public Entity {
  CORVANE_NODE_TYPE(PerTcamFeatureStatus)

  using Key = SystemTcamId;
  CORVANE_PAYLOAD_TABLE(PerTcamFeatureStatus, status, StatusColl, attrStatus, FeatureStatusBase, Key)

  static Ptr<PerTcamFeatureStatus> PerTcamFeatureStatusIs(IntfId intfId);
  explicit PerTcamFeatureStatus(IntfId intfId) : intfId_(intfId) {}
  ~PerTcamFeatureStatus() override;
  IntfId intfId() const noexcept { return intfId_; }

 private:
  IntfId intfId_;
};

// The per-TCAM status regrouped per interface. Owns its children: statusIs creates
// them; a removed child lives on while someone else still holds it.
class CORVANE_API IntfPerTcamFeatureStatus : public Entity {
  CORVANE_NODE_TYPE(IntfPerTcamFeatureStatus)

  static constexpr uint32_t attrStatus = 1;
  using StatusColl = HashMap<IntfId, Ptr<PerTcamFeatureStatus>>;

  static Ptr<IntfPerTcamFeatureStatus> IntfPerTcamFeatureStatusIs();
  IntfPerTcamFeatureStatus() = default;
  // Removes (and announces) every child first, so readers see each one go.
  ~IntfPerTcamFeatureStatus() override;

  StatusColl const& status() const noexcept { return status_; }
  Ptr<PerTcamFeatureStatus> status(IntfId i) const;
  bool statusHas(IntfId i) const { return status_.contains(i); }
  // The interface's child, created (empty, announced) when absent.
  Ptr<PerTcamFeatureStatus> statusIs(IntfId i);
  Ptr<PerTcamFeatureStatus> statusDel(IntfId i);
  // Announces every removal, subscribers or not.
  void statusDelAll();
  // Room for n interfaces (HashMap::reserve); announces nothing.
  void statusReserve(size_t n) { status_.reserve(n); }

 private:
  StatusColl status_;
};

// One interface's merged status: a single payload reference, null until set.
class CORVANE_API SingleIntfFeatureStatus : public Entity {
  CORVANE_NODE_TYPE(SingleIntfFeatureStatus)

  static constexpr uint32_t attrStatus = 1;

  static Ptr<SingleIntfFeatureStatus> SingleIntfFeatureStatusIs(IntfId intfId);
  explicit SingleIntfFeatureStatus(IntfId intfId) : intfId_(intfId) {}
  ~SingleIntfFeatureStatus() override;

  IntfId intfId() const noexcept { return intfId_; }
  Ptr<FeatureStatusBase> status() const { return status_; }
  // Null is allowed (no status). Notifies with a null key.
  void statusIs(Ptr<FeatureStatusBase> payload);

 private:
  IntfId intfId_;
  Ptr<FeatureStatusBase> status_;
};

// The merged status of every interface, one child per interface.
class CORVANE_API PerIntfFeatureStatus : public Entity {
  CORVANE_NODE_TYPE(PerIntfFeatureStatus)

  static constexpr uint32_t attrStatus = 1;
  using StatusColl = HashMap<IntfId, Ptr<SingleIntfFeatureStatus>>;

  static Ptr<PerIntfFeatureStatus> PerIntfFeatureStatusIs();
  PerIntfFeatureStatus() = default;
  ~PerIntfFeatureStatus() override;

  StatusColl const& status() const noexcept { return status_; }
  Ptr<SingleIntfFeatureStatus> status(IntfId i) const;
  bool statusHas(IntfId i) const { return status_.contains(i); }
  Ptr<SingleIntfFeatureStatus> statusIs(IntfId i);
  Ptr<SingleIntfFeatureStatus> statusDel(IntfId i);
  void statusDelAll();

 private:
  StatusColl status_;
};

// The merged status payload per interface, as features read it.
class CORVANE_API IntfFeatureStatus : public Entity {
  CORVANE_NODE_TYPE(IntfFeatureStatus)
  using Key = IntfId;
  CORVANE_PAYLOAD_TABLE(IntfFeatureStatus, status, StatusColl, attrStatus, FeatureStatusBase, Key)

  static Ptr<IntfFeatureStatus> IntfFeatureStatusIs();
  IntfFeatureStatus() = default;
  ~IntfFeatureStatus() override;
};

// A feature's configuration per (interface, port map), written by the per-port-map
// expansion.
class CORVANE_API IntfPortMapFeatureConfig : public Entity {
  CORVANE_NODE_TYPE(IntfPortMapFeatureConfig)
  using Key = IntfIdPortMap;
  CORVANE_PAYLOAD_TABLE(IntfPortMapFeatureConfig, config, ConfigColl, attrConfig, FeatureConfigBase, Key const&)

  static Ptr<IntfPortMapFeatureConfig> IntfPortMapFeatureConfigIs();
  IntfPortMapFeatureConfig() = default;
  ~IntfPortMapFeatureConfig() override;
};

CORVANE_API Ptr<IntfFeatureConfig> intfFeatureConfigFactory();
CORVANE_API Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfigFactory();
CORVANE_API Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfigFactory();
CORVANE_API Ptr<IntfTcamFeatureStatus> intfTcamFeatureStatusFactory();
CORVANE_API Ptr<PerTcamFeatureStatus> perTcamFeatureStatusFactory(IntfId intfId);
CORVANE_API Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatusFactory();
CORVANE_API Ptr<SingleIntfFeatureStatus> singleIntfFeatureStatusFactory(IntfId intfId);
CORVANE_API Ptr<PerIntfFeatureStatus> perIntfFeatureStatusFactory();
CORVANE_API Ptr<IntfFeatureStatus> intfFeatureStatusFactory();

}  // namespace Corvane

CORVANE_FORMATTER(Corvane::IntfIdSystemTcamId);
CORVANE_FORMATTER(Corvane::IntfIdPortMap);
