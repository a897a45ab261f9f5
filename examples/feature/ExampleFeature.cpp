#include "examples/feature/ExampleFeature.h"

#include <ostream>

namespace ExampleFeature {

namespace {
constexpr char const* kStateNames[] = {"ok", "pending", "failed"};
constinit Corvane::EnumTable states("ExampleFeature::State", kStateNames);
}  // namespace

Corvane::EnumTable const& enumTable(State) noexcept { return states; }
std::ostream& operator<<(std::ostream& os, State s) { return states.print(os, uint64_t(s)); }

CORVANE_NODE_TYPE_DEFINE(Config, "ExampleFeature::Config", Corvane::FeatureConfigBase)
CORVANE_NODE_TYPE_DEFINE(Status, "ExampleFeature::Status", Corvane::FeatureStatusBase)
CORVANE_NODE_TYPE_DEFINE_SLABS(StatusMergeSm, "ExampleFeature::StatusMergeSm", Corvane::FeatureStatusMergeSmBase,
                               Corvane::SlabPool::slabBytes)

std::optional<State> mergedState(Corvane::TcamSet const& tcams, Corvane::PerTcamFeatureStatus const& statuses) {
  if (tcams.tcamSet().empty()) return std::nullopt;
  State worst = State::ok;
  for (Corvane::SystemTcamId t : tcams.tcamSet()) {
    auto s = statuses.status(t);
    State st = s ? static_cast<Status const&>(*s).state() : State::pending;
    if (st > worst) worst = st;
  }
  return worst;
}

// [snippet:mergeSmBody]
StatusMergeSm::StatusMergeSm(Corvane::IntfId intfId, Ptr<Corvane::TcamSet const> tcamSet,
                             Ptr<Corvane::PerTcamFeatureStatus const> perTcamFeatureStatus,
                             Ptr<Corvane::SingleIntfFeatureStatus> singleIntfFeatureStatus)
    : FeatureStatusMergeSmBase(intfId, std::move(tcamSet), std::move(perTcamFeatureStatus),
                               std::move(singleIntfFeatureStatus)) {
  sub_.sm = this;
  try {
    this->tcamSet()->subscriberAdd(&sub_);
    this->perTcamFeatureStatus()->subscriberAdd(&sub_);
    merge();
  } catch (...) {
    // The destructor does not run for a constructor that throws.
    this->tcamSet()->subscriberRemove(&sub_);
    this->perTcamFeatureStatus()->subscriberRemove(&sub_);
    throw;
  }
}

StatusMergeSm::~StatusMergeSm() {
  tcamSet()->subscriberRemove(&sub_);
  perTcamFeatureStatus()->subscriberRemove(&sub_);
}

void StatusMergeSm::merge() {
  std::optional<State> state = mergedState(*tcamSet(), *perTcamFeatureStatus());
  auto const& out = singleIntfFeatureStatus();
  auto current = out->status();
  if (!state) {
    out->statusIs(nullptr);
    return;
  }
  // A new payload object only when the merged state changes: readers see changes by identity.
  if (current && static_cast<Status const&>(*current).state() == *state) return;
  out->statusIs(Ptr<Corvane::FeatureStatusBase>(new Status(*state)));
}
// [snippet-end]

// [snippet:mergeFactory]
Corvane::FeatureStatusMergeSmFactory statusMergeSmFactory(uint64_t* created) {
  return [created](Corvane::IntfId intfId, Ptr<Corvane::TcamSet const> tcams,
                   Ptr<Corvane::PerTcamFeatureStatus const> statuses, Ptr<Corvane::SingleIntfFeatureStatus> single) {
    if (created) ++*created;
    return Ptr<Corvane::FeatureStatusMergeSmBase>(
        new StatusMergeSm(intfId, std::move(tcams), std::move(statuses), std::move(single)));
  };
}
// [snippet-end]

namespace {
using Corvane::Describe;
using Corvane::TypeKind;
using Corvane::TypeRegistry;
// Each payload is built back from the attribute its constructor takes.
[[maybe_unused]] bool const registered = [] {
  states.typeRegister();
  TypeRegistry::typeRegister(
      Config::typeDataStatic(),
      Describe<Config>(TypeKind::entity).value<&Config::vlan>("vlan").constructor<&Config::vlan>().done());
  TypeRegistry::typeRegister(
      Status::typeDataStatic(),
      Describe<Status>(TypeKind::entity).value<&Status::state>("state").constructor<&Status::state>().done());
  return true;
}();
}  // namespace

}  // namespace ExampleFeature
