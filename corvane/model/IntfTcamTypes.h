// Where every interface sits in the TCAMs: IntfToTcamSet holds, per interface
// (LAGs included), a TcamSet with the system TCAMs the interface occupies. Written
// by IntfTcamSm, read by the per-TCAM configuration expansion and the status merge.
#pragma once

#include <string>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/framework/SmallSet.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace Corvane {

using Hardware::Velt::SystemTcamId;

class CORVANE_API TcamSet : public Entity {
  CORVANE_NODE_TYPE(TcamSet)

  static constexpr uint32_t attrTcamSet = 1;
  // Most interfaces sit on one TCAM, a LAG on a few: up to four are kept inline.
  using TcamSetColl = SmallSet<SystemTcamId, 4>;

  explicit TcamSet(IntfId intfId) : intfId_(intfId) {}
  ~TcamSet() override;

  IntfId intfId() const noexcept { return intfId_; }
  TcamSetColl const& tcamSet() const noexcept { return tcamSet_; }
  bool tcamSetHas(SystemTcamId t) const { return tcamSet_.contains(t); }
  // Adding a present TCAM is silent.
  void tcamSetIs(SystemTcamId t) { collSetAdd(tcamSet_, attrTcamSet, t); }
  bool tcamSetDel(SystemTcamId t) { return collDel(tcamSet_, attrTcamSet, t); }
  void tcamSetDelAll() { collDelAll(tcamSet_, attrTcamSet); }

 private:
  friend class IntfToTcamSet;  // recycles an emptied set for another interface
  IntfId intfId_;
  TcamSetColl tcamSet_;
};

class CORVANE_API IntfToTcamSet : public NamedEntity {
  CORVANE_NODE_TYPE(IntfToTcamSet)

  static constexpr uint32_t attrIntfToTcamSet = 1;
  using IntfToTcamSetColl = HashMap<IntfId, Ptr<TcamSet>>;

  static Ptr<IntfToTcamSet> IntfToTcamSetIs(std::string const& name);
  explicit IntfToTcamSet(std::string name) : NamedEntity(std::move(name)) {}
  ~IntfToTcamSet() override;

  IntfToTcamSetColl const& intfToTcamSet() const noexcept { return intfToTcamSet_; }
  // The interface's set, or null.
  Ptr<TcamSet> intfToTcamSet(IntfId i) const;
  bool intfToTcamSetHas(IntfId i) const { return intfToTcamSet_.contains(i); }
  // The interface's set, created (empty, announced) when absent.
  Ptr<TcamSet> intfToTcamSetIs(IntfId i);
  bool intfToTcamSetDel(IntfId i);
  void intfToTcamSetDelAll() { collDelAll(intfToTcamSet_, attrIntfToTcamSet); }

  // How the state machines write intfToTcamSet[intfId].tcamSet[systemTcamId].
  struct OutputAdapter {
    using Entity = IntfToTcamSet;
    using Inner = TcamSet;
    using Key1 = IntfId;
    using Key2 = SystemTcamId;
    static IntfToTcamSetColl const& outer(Entity const& e) { return e.intfToTcamSet(); }
    static Ptr<Inner> innerFind(Entity const& e, Key1 k) { return e.intfToTcamSet(k); }
    static Ptr<Inner> innerIs(Entity& e, Key1 k) { return e.intfToTcamSetIs(k); }
    static TcamSet::TcamSetColl const& innerColl(Inner const& i) { return i.tcamSet(); }
    static void innerAdd(Inner& i, Key2 k) { i.tcamSetIs(k); }
    static void innerDel(Inner& i, Key2 k) { i.tcamSetDel(k); }
    static void outerDel(Entity& e, Key1 k) { e.intfToTcamSetDel(k); }
    static void outerReserve(Entity& e, size_t n) { e.intfToTcamSet_.reserve(n); }
    static void innerReserve(Inner& i, size_t n) { i.tcamSet_.reserve(n); }
  };

 private:
  IntfToTcamSetColl intfToTcamSet_;
  // The last set deleted while empty and unreferenced, kept for the next interface
  // that needs one: a TCAM move empties a set and creates one in the same change.
  Ptr<TcamSet> spare_;
};

CORVANE_API Ptr<IntfToTcamSet> intfToTcamSetFactory(std::string const& name);

}  // namespace Corvane
