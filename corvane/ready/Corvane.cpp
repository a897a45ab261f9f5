#include "corvane/ready/Corvane.h"

#include <string>
#include <utility>

#include "corvane/framework/Reflection.h"
#include "corvane/framework/Trace.h"
#include "corvane/framework/TypeRegistry.h"
#include "corvane/ready/LagInfoReady.h"
#include "corvane/ready/RedundancyStatusContainer.h"
#include "corvane/ready/TcamDbStatusInterfaceReady.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(Foo, "Corvane::Foo", Entity)

Ptr<Foo> Foo::FooIs() { return Ptr<Foo>(new Foo()); }
Foo::Foo() = default;
Foo::~Foo() = default;

void Foo::fooIs(Ptr<Hardware::Velt::LagHwConfig const> foo) {
  if (foo == foo_) return;
  Ptr<Hardware::Velt::LagHwConfig const> const previous = std::exchange(foo_, std::move(foo));
  publishChange(attrFoo, nullptr, previousOf(previous));
}

namespace {
// Each SM module also makes its own handler at load, but initializers of different
// files run in no fixed order; doing it here as well means no SM name is missing one
// whichever runs first (getDebugHandler hands back a handler that already exists).
[[maybe_unused]] bool const loaded = [] {
  TypeRegistry::typeRegister(LagInfoReady::typeDataStatic(),
                             Describe<LagInfoReady>(TypeKind::entity)
                                 .named()
                                 .value<&LagInfoReady::ready, &LagInfoReady::readyIs>("ready", LagInfoReady::attrReady)
                                 .done());
  using TcamReady = TcamDbStatusInterfaceReady;
  TypeRegistry::typeRegister(
      TcamReady::typeDataStatic(),
      Describe<TcamReady>(TypeKind::entity)
          .named()
          .value<&TcamReady::ready, &TcamReady::readyIs>("ready", TcamReady::attrReady)
          .done());
  using Container = RedundancyStatusContainer;
  TypeRegistry::typeRegister(Container::typeDataStatic(),
                             Describe<Container>(TypeKind::entity)
                                 .named()
                                 .value<&Container::redundancyStatus, &Container::redundancyStatusIs>(
                                     "redundancyStatus", Container::attrRedundancyStatus)
                                 .done());
  TypeRegistry::typeRegister(
      Foo::typeDataStatic(),
      Describe<Foo>(TypeKind::entity).creatable().value<&Foo::foo, &Foo::fooIs>("foo", Foo::attrFoo).done());
  for (std::string_view name : smSourceNames) getDebugHandler(std::string(name));
  return true;
}();
}  // namespace

}  // namespace Corvane
