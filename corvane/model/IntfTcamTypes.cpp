#include "corvane/model/IntfTcamTypes.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE_SLABS(TcamSet, "Corvane::TcamSet", Entity, SlabPool::slabBytes)
TcamSet::~TcamSet() = default;

CORVANE_NODE_TYPE_DEFINE(IntfToTcamSet, "Corvane::IntfToTcamSet", NamedEntity)
IntfToTcamSet::~IntfToTcamSet() = default;

Ptr<IntfToTcamSet> IntfToTcamSet::IntfToTcamSetIs(std::string const& name) {
  return Ptr<IntfToTcamSet>(new IntfToTcamSet(name));
}
Ptr<IntfToTcamSet> intfToTcamSetFactory(std::string const& name) { return IntfToTcamSet::IntfToTcamSetIs(name); }

Ptr<TcamSet> IntfToTcamSet::intfToTcamSet(IntfId i) const {
  Ptr<TcamSet> const* s = intfToTcamSet_.find(i);
  return s ? *s : nullptr;
}

Ptr<TcamSet> IntfToTcamSet::intfToTcamSetIs(IntfId i) {
  if (Ptr<TcamSet> const* s = intfToTcamSet_.find(i)) return *s;
  Ptr<TcamSet> s;
  if (spare_) {
    s = std::move(spare_);
    s->intfId_ = i;
  } else {
    s = Ptr<TcamSet>(new TcamSet(i));
  }
  collSet(intfToTcamSet_, attrIntfToTcamSet, i, s);
  return s;
}

bool IntfToTcamSet::intfToTcamSetDel(IntfId i) {
  Ptr<TcamSet> removed;
  if (!collDel(intfToTcamSet_, attrIntfToTcamSet, i, &removed)) return false;
  // Nobody else can reach a set that no one references or follows.
  if (removed->refCount() == 1 && removed->tcamSet().empty() && !removed->hasSubscribers()) spare_ = std::move(removed);
  return true;
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(TcamSet::typeDataStatic(),
                             Describe<TcamSet>(TypeKind::entity)
                                 .value<&TcamSet::intfId>("intfId")
                                 .collection<attribute(&TcamSet::tcamSet), &TcamSet::tcamSetIs, &TcamSet::tcamSetDel>(
                                     "tcamSet", TcamSet::attrTcamSet)
                                 .done());
  TypeRegistry::typeRegister(IntfToTcamSet::typeDataStatic(),
                             Describe<IntfToTcamSet>(TypeKind::entity)
                                 .named()
                                 .collection<attribute(&IntfToTcamSet::intfToTcamSet),
                                             &IntfToTcamSet::intfToTcamSetIs, &IntfToTcamSet::intfToTcamSetDel>(
                                     "intfToTcamSet", IntfToTcamSet::attrIntfToTcamSet, true)
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
