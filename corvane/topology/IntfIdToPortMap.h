// IntfIdToPortMap: the agent's table of where each physical interface sits in the
// hardware (one PortMap per interface), read by IntfPortMapSm and PortMapToIntfSm.
// Changes are announced at once, or, while a delayed-notification holder is
// attached, queued and announced together by triggerDelayedNotif() (one
// announcement per distinct key; readers see the key's latest state).
//
// Also here: the wildcard expansion of a port map that both port-map SMs share.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/framework/DelayedNotif.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace Corvane {

using Hardware::Velt::PortMap;

class CORVANE_API IntfIdToPortMap : public NamedEntity {
  CORVANE_NODE_TYPE(IntfIdToPortMap)

  static constexpr uint32_t attrIntfIdToPortMap = 1;
  static constexpr uint32_t attrDelayedNotifHolder = 2;
  using IntfIdToPortMapColl = HashMap<IntfId, PortMap>;

  static Ptr<IntfIdToPortMap> IntfIdToPortMapIs(std::string const& name);
  explicit IntfIdToPortMap(std::string name) : NamedEntity(std::move(name)) {}
  ~IntfIdToPortMap() override;

  IntfIdToPortMapColl const& intfIdToPortMap() const noexcept { return intfIdToPortMap_; }
  // The interface's port map, or the default PortMap (FAP 2048, port 256, core 6).
  PortMap intfIdToPortMap(IntfId i) const;
  bool intfIdToPortMapHas(IntfId i) const { return intfIdToPortMap_.contains(i); }
  void intfIdToPortMapIs(IntfId i, PortMap const& p);
  // Returns the removed port map, or the default one when the key was absent.
  PortMap intfIdToPortMapDel(IntfId i);
  void intfIdToPortMapDelAll();

  Ptr<DelayedNotifHolder> const& delayedNotifHolder() const noexcept { return holder_; }
  // A holder defers announcements; null returns to immediate announcements.
  void delayedNotifHolderIs(Ptr<DelayedNotifHolder> holder);
  // Announces the queued keys (nothing without a holder).
  void triggerDelayedNotif();

 private:
  DelayedNotifDelegate* queue() const;
  IntfIdToPortMapColl intfIdToPortMap_;
  Ptr<DelayedNotifHolder> holder_;
};

CORVANE_API Ptr<IntfIdToPortMap> intfIdToPortMapFactory(std::string const& name);

// Calls fn(expanded) for every port map a port map stands for: a wildcard FAP id
// (2046, 2047) becomes FAPs 0 .. maxFaps-1, a wildcard core id (4, 5) cores
// 0 .. maxCores-1; FAPs ascending outermost, cores ascending inside, the FAP port
// unchanged. An empty range and ids above their null values raise RangeError;
// whatever fn did for earlier port maps stays done.
template <class F>
void expandPortMap(Tr const& tr, PortMap const& pm, uint16_t maxFaps, uint16_t maxCores, char const* fapForeach,
                   char const* coreForeach, F&& fn) {
  using Hardware::Velt::FapId;
  using Hardware::Velt::LocalCoreId;
  Range faps = pm.fapId().isWildcard() ? Range(0, maxFaps) : Range(pm.fapId().value(), pm.fapId().value() + 1u);
  tr.text(6, fapForeach, faps.size());
  for (uint32_t f = faps.min(); f < faps.max(); ++f) {
    tr(9, "Flattening element: {}", f);
    Range cores = pm.localCoreId().isWildcard() ? Range(0, maxCores)
                                                : Range(pm.localCoreId().value(), pm.localCoreId().value() + 1u);
    tr.text(6, coreForeach, cores.size());
    for (uint32_t c = cores.min(); c < cores.max(); ++c) {
      tr(9, "Flattening element: {}", c);
      fn(PortMap(FapId(f), pm.fapPortId(), LocalCoreId(c)));
    }
  }
}

}  // namespace Corvane
