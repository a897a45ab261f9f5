#include "corvane/topology/IntfIdToPortMap.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(IntfIdToPortMap, "Corvane::IntfIdToPortMap", NamedEntity)

Ptr<IntfIdToPortMap> IntfIdToPortMap::IntfIdToPortMapIs(std::string const& name) {
  return Ptr<IntfIdToPortMap>(new IntfIdToPortMap(name));
}
Ptr<IntfIdToPortMap> intfIdToPortMapFactory(std::string const& name) { return IntfIdToPortMap::IntfIdToPortMapIs(name); }

IntfIdToPortMap::~IntfIdToPortMap() = default;

PortMap IntfIdToPortMap::intfIdToPortMap(IntfId i) const {
  PortMap const* p = intfIdToPortMap_.find(i);
  return p ? *p : PortMap();
}

// While a holder is attached the key is queued before the table changes, so that
// a write whose queueing fails changes nothing, and one that fails after it takes
// its key back out: no change goes unannounced.
DelayedNotifDelegate* IntfIdToPortMap::queue() const { return holder_ ? holder_->delayedNotifDelegatePtr() : nullptr; }

void IntfIdToPortMap::intfIdToPortMapIs(IntfId i, PortMap const& p) {
  DelayedNotifDelegate* const q = queue();
  if (!q) {
    if (intfIdToPortMap_.assign(i, p) != AssignResult::unchanged) publishChange(attrIntfIdToPortMap, &i);
    return;
  }
  PortMap const* now = intfIdToPortMap_.find(i);
  if (now && *now == p) return;
  bool const queued = q->enqueue(attrIntfIdToPortMap, i);
  try {
    intfIdToPortMap_.assign(i, p);
  } catch (...) {
    if (queued) q->dequeue(attrIntfIdToPortMap, i);
    throw;
  }
}

PortMap IntfIdToPortMap::intfIdToPortMapDel(IntfId i) {
  PortMap removed;
  if (!intfIdToPortMap_.contains(i)) return removed;
  DelayedNotifDelegate* const q = queue();
  if (q) q->enqueue(attrIntfIdToPortMap, i);
  intfIdToPortMap_.erase(i, &removed);
  if (!q) publishChange(attrIntfIdToPortMap, &i);
  return removed;
}

void IntfIdToPortMap::intfIdToPortMapDelAll() {
  if (!hasSubscribers()) {
    intfIdToPortMap_.clear();
    return;
  }
  for (auto cur = intfIdToPortMap_.cursor(); !cur.done(); cur.next()) {
    IntfId const k = cur.key();
    intfIdToPortMapDel(k);
  }
}

void IntfIdToPortMap::delayedNotifHolderIs(Ptr<DelayedNotifHolder> holder) {
  if (holder == holder_) return;
  Ptr<DelayedNotifHolder> previous = std::exchange(holder_, std::move(holder));
  publishChange(attrDelayedNotifHolder, nullptr, previousOf(previous));
}

void IntfIdToPortMap::triggerDelayedNotif() {
  if (!holder_) return;
  Ptr<DelayedNotifHolder> keep = holder_;
  NodeHold self(*this);  // a reactor may drop the last other reference to the table
  keep->trigger(*publisher());
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(IntfIdToPortMap::typeDataStatic(),
                             Describe<IntfIdToPortMap>(TypeKind::entity)
                                 .named()
                                 .collection<attribute(&IntfIdToPortMap::intfIdToPortMap),
                                             &IntfIdToPortMap::intfIdToPortMapIs, &IntfIdToPortMap::intfIdToPortMapDel>(
                                     "intfIdToPortMap", IntfIdToPortMap::attrIntfIdToPortMap)
                                 .value<&IntfIdToPortMap::delayedNotifHolder, &IntfIdToPortMap::delayedNotifHolderIs>(
                                     "delayedNotifHolder", IntfIdToPortMap::attrDelayedNotifHolder)
                                 .action<&IntfIdToPortMap::triggerDelayedNotif>("triggerDelayedNotif")
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
