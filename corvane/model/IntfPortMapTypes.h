// Where every interface sits in the hardware: IntfToPortMapSet holds, per interface
// (LAGs included), a PortMapSet with the expanded port maps the interface occupies.
// Written by IntfPortMapSm, read by the per-port-map configuration expansion.
#pragma once

#include <string>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/framework/SmallSet.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace Corvane {

using Hardware::Velt::PortMap;

class CORVANE_API PortMapSet : public Entity {
  CORVANE_NODE_TYPE(PortMapSet)

  static constexpr uint32_t attrPortMapSet = 1;
  // A port without wildcards has one port map: up to two are kept inline.
  using PortMapSetColl = SmallSet<PortMap, 2>;

  static Ptr<PortMapSet> PortMapSetIs(IntfId intfId);
  explicit PortMapSet(IntfId intfId) : intfId_(intfId) {}
  ~PortMapSet() override;

  IntfId intfId() const noexcept { return intfId_; }
  PortMapSetColl const& portMapSet() const noexcept { return portMapSet_; }
  bool portMapSetHas(PortMap t) const { return portMapSet_.contains(t); }
  // Adding a present port map is silent.
  void portMapSetIs(PortMap t) { collSetAdd(portMapSet_, attrPortMapSet, t); }
  bool portMapSetDel(PortMap t) { return collDel(portMapSet_, attrPortMapSet, t); }
  void portMapSetDelAll() { collDelAll(portMapSet_, attrPortMapSet); }

 private:
  friend class IntfToPortMapSet;  // recycles an emptied set for another interface
  IntfId intfId_;
  PortMapSetColl portMapSet_;
};

class CORVANE_API IntfToPortMapSet : public NamedEntity {
  CORVANE_NODE_TYPE(IntfToPortMapSet)

  static constexpr uint32_t attrIntfToPortMapSet = 1;
  using IntfToPortMapSetColl = HashMap<IntfId, Ptr<PortMapSet>>;

  static Ptr<IntfToPortMapSet> IntfToPortMapSetIs(std::string const& name);
  explicit IntfToPortMapSet(std::string name) : NamedEntity(std::move(name)) {}
  ~IntfToPortMapSet() override;

  IntfToPortMapSetColl const& intfToPortMapSet() const noexcept { return intfToPortMapSet_; }
  // The interface's set, or null.
  Ptr<PortMapSet> intfToPortMapSet(IntfId i) const;
  bool intfToPortMapSetHas(IntfId i) const { return intfToPortMapSet_.contains(i); }
  // The interface's set, created (empty, announced) when absent.
  Ptr<PortMapSet> intfToPortMapSetIs(IntfId i);
  bool intfToPortMapSetDel(IntfId i);
  void intfToPortMapSetDelAll() { collDelAll(intfToPortMapSet_, attrIntfToPortMapSet); }

  // How the state machines write intfToPortMapSet[intfId].portMapSet[portMap].
  struct OutputAdapter {
    using Entity = IntfToPortMapSet;
    using Inner = PortMapSet;
    using Key1 = IntfId;
    using Key2 = PortMap;
    static IntfToPortMapSetColl const& outer(Entity const& e) { return e.intfToPortMapSet(); }
    static Ptr<Inner> innerFind(Entity const& e, Key1 k) { return e.intfToPortMapSet(k); }
    static Ptr<Inner> innerIs(Entity& e, Key1 k) { return e.intfToPortMapSetIs(k); }
    static PortMapSet::PortMapSetColl const& innerColl(Inner const& i) { return i.portMapSet(); }
    static void innerAdd(Inner& i, Key2 k) { i.portMapSetIs(k); }
    static void innerDel(Inner& i, Key2 k) { i.portMapSetDel(k); }
    static void outerDel(Entity& e, Key1 k) { e.intfToPortMapSetDel(k); }
    static void outerReserve(Entity& e, size_t n) { e.intfToPortMapSet_.reserve(n); }
    static void innerReserve(Inner& i, size_t n) { i.portMapSet_.reserve(n); }
  };

 private:
  IntfToPortMapSetColl intfToPortMapSet_;
  // The last small set deleted while empty and unreferenced, kept for the next
  // interface that needs one: a port-map change empties a set and creates one in
  // the same change.
  Ptr<PortMapSet> spare_;
};

CORVANE_API Ptr<PortMapSet> portMapSetFactory(IntfId intfId);
CORVANE_API Ptr<IntfToPortMapSet> intfToPortMapSetFactory(std::string const& name);

}  // namespace Corvane
