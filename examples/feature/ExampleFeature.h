// An example forwarding feature, to show a feature author how to plug into
// Corvane: a configuration payload (what to program per interface), a status
// payload (what the hardware reports per TCAM) and a status merge (the interface's
// status is the worst of its TCAMs' statuses, "pending" while a TCAM of its set has
// not reported). Used by the tests and the simulator. The payloads are node types
// of their own, described with their constructors, so a store can write them to text
// and build them back by name.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "corvane/Corvane.h"

namespace ExampleFeature {

using Corvane::Ptr;

// [snippet:payloads]
// The feature's configuration of one interface.
class Config : public Corvane::FeatureConfigBase {
  CORVANE_NODE_TYPE(Config)

  explicit Config(uint32_t vlan) : vlan_(vlan) {}
  uint32_t vlan() const noexcept { return vlan_; }

 private:
  uint32_t vlan_;
};

// Programming state, ordered from best to worst.
enum class State : uint8_t { ok, pending, failed };
std::ostream& operator<<(std::ostream& os, State s);

class Status : public Corvane::FeatureStatusBase {
  CORVANE_NODE_TYPE(Status)

  explicit Status(State s) : state_(s) {}
  State state() const noexcept { return state_; }

 private:
  State state_;
};
// [snippet-end]

// The names State prints and parses with.
Corvane::EnumTable const& enumTable(State) noexcept;

// What the merge computes from a TCAM set and the per-TCAM statuses: no value when
// the set is empty.
std::optional<State> mergedState(Corvane::TcamSet const& tcams, Corvane::PerTcamFeatureStatus const& statuses);

// [snippet:mergeSm]
class StatusMergeSm : public Corvane::FeatureStatusMergeSmBase {
  // One per interface: from a slab pool of its own (see the .cpp).
  CORVANE_NODE_TYPE(StatusMergeSm)

  StatusMergeSm(Corvane::IntfId intfId, Ptr<Corvane::TcamSet const> tcamSet,
                Ptr<Corvane::PerTcamFeatureStatus const> perTcamFeatureStatus,
                Ptr<Corvane::SingleIntfFeatureStatus> singleIntfFeatureStatus);
  ~StatusMergeSm() override;

 private:
  void merge();
  struct Sub : Corvane::Subscriber {
    StatusMergeSm* sm;
    void dispatch(uint32_t, void const*) override {
      Corvane::NodeHold hold(*sm);  // a reader of the output may drop this merge SM meanwhile
      sm->merge();
    }
  } sub_;
};
// [snippet-end]

// The factory handed to IntfFeatureStatusSm; counts the merges it built.
Corvane::FeatureStatusMergeSmFactory statusMergeSmFactory(uint64_t* created = nullptr);

}  // namespace ExampleFeature
