#include "corvane/model/IntfTcamTypes.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(TcamSet, "Corvane::TcamSet", Entity)
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
  Ptr<TcamSet> s(new TcamSet(i));
  collSet(intfToTcamSet_, attrIntfToTcamSet, i, s);
  return s;
}

bool IntfToTcamSet::intfToTcamSetDel(IntfId i) {
  Ptr<TcamSet> removed;
  return collDel(intfToTcamSet_, attrIntfToTcamSet, i, &removed);
}

}  // namespace Corvane
