#include "corvane/model/IntfPortMapTypes.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

namespace {
// Largest emptied set (table and pool) kept for reuse.
constexpr size_t spareMaxBytes = 512;
}  // namespace

CORVANE_NODE_TYPE_DEFINE_SLABS(PortMapSet, "Corvane::PortMapSet", Entity, SlabPool::slabBytes)
PortMapSet::~PortMapSet() = default;
Ptr<PortMapSet> PortMapSet::PortMapSetIs(IntfId intfId) { return Ptr<PortMapSet>(new PortMapSet(intfId)); }
Ptr<PortMapSet> portMapSetFactory(IntfId intfId) { return PortMapSet::PortMapSetIs(intfId); }

CORVANE_NODE_TYPE_DEFINE(IntfToPortMapSet, "Corvane::IntfToPortMapSet", NamedEntity)
IntfToPortMapSet::~IntfToPortMapSet() = default;

Ptr<IntfToPortMapSet> IntfToPortMapSet::IntfToPortMapSetIs(std::string const& name) {
  return Ptr<IntfToPortMapSet>(new IntfToPortMapSet(name));
}
Ptr<IntfToPortMapSet> intfToPortMapSetFactory(std::string const& name) { return IntfToPortMapSet::IntfToPortMapSetIs(name); }

Ptr<PortMapSet> IntfToPortMapSet::intfToPortMapSet(IntfId i) const {
  Ptr<PortMapSet> const* s = intfToPortMapSet_.find(i);
  return s ? *s : nullptr;
}

Ptr<PortMapSet> IntfToPortMapSet::intfToPortMapSetIs(IntfId i) {
  if (Ptr<PortMapSet> const* s = intfToPortMapSet_.find(i)) return *s;
  Ptr<PortMapSet> s;
  if (spare_) {
    s = std::move(spare_);
    s->intfId_ = i;
  } else {
    s = Ptr<PortMapSet>(new PortMapSet(i));
  }
  collSet(intfToPortMapSet_, attrIntfToPortMapSet, i, s);
  return s;
}

bool IntfToPortMapSet::intfToPortMapSetDel(IntfId i) {
  Ptr<PortMapSet> removed;
  if (!collDel(intfToPortMapSet_, attrIntfToPortMapSet, i, &removed)) return false;
  // Nobody else can reach a set that no one references or follows. A set that held
  // an expanded wildcard keeps a large table: that one goes.
  if (removed->refCount() == 1 && removed->portMapSet().empty() && !removed->hasSubscribers() &&
      removed->portMapSet().bytesHeld() <= spareMaxBytes)
    spare_ = std::move(removed);
  return true;
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(PortMapSet::typeDataStatic(),
                             Describe<PortMapSet>(TypeKind::entity)
                                 .value<&PortMapSet::intfId>("intfId")
                                 .collection<attribute(&PortMapSet::portMapSet), &PortMapSet::portMapSetIs,
                                             &PortMapSet::portMapSetDel>("portMapSet", PortMapSet::attrPortMapSet)
                                 .done());
  TypeRegistry::typeRegister(IntfToPortMapSet::typeDataStatic(),
                             Describe<IntfToPortMapSet>(TypeKind::entity)
                                 .named()
                                 .collection<attribute(&IntfToPortMapSet::intfToPortMapSet),
                                             &IntfToPortMapSet::intfToPortMapSetIs,
                                             &IntfToPortMapSet::intfToPortMapSetDel>(
                                     "intfToPortMapSet", IntfToPortMapSet::attrIntfToPortMapSet, true)
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
