// The platform's LAG configuration model as the library reads it: Lag::Config holds
// one Lag::EthPhyIntfLagConfig per physical port, whose `lag` refers to the
// Interface::EthLagIntfConfig of the LAG the port is configured into (or is null).
#pragma once

#include <optional>
#include <string>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Prefetch.h"
#include "corvane/framework/Publisher.h"
#include "corvane/platform/IntfId.h"

namespace Interface {

class CORVANE_API EthLagIntfConfig : public Corvane::Entity {
  CORVANE_NODE_TYPE(EthLagIntfConfig)

  static Corvane::Ptr<EthLagIntfConfig> EthLagIntfConfigIs(Net::IntfId lagIntfId);
  explicit EthLagIntfConfig(Net::IntfId lagIntfId);
  ~EthLagIntfConfig() override;

  Net::IntfId intfId() const noexcept { return intfId_; }

 private:
  Net::IntfId intfId_;
};

}  // namespace Interface

namespace Lag {

using Corvane::Ptr;
using Net::IntfId;

class CORVANE_API EthPhyIntfLagConfig : public Corvane::Entity {
  CORVANE_NODE_TYPE(EthPhyIntfLagConfig)

  static constexpr uint32_t attrLag = 1;

  static Ptr<EthPhyIntfLagConfig> EthPhyIntfLagConfigIs(IntfId intfId);
  explicit EthPhyIntfLagConfig(IntfId intfId);
  ~EthPhyIntfLagConfig() override;

  IntfId intfId() const noexcept { return intfId_; }
  Ptr<Interface::EthLagIntfConfig const> const& lag() const noexcept { return lag_; }
  // Setting the object already held does nothing; null clears.
  void lagIs(Ptr<Interface::EthLagIntfConfig const> lag);
  // The LAG's interface id, when the port is configured into one.
  std::optional<IntfId> lagIntfId() const {
    return lag_ ? std::optional<IntfId>(lag_->intfId()) : std::nullopt;
  }

 private:
  IntfId intfId_;
  Ptr<Interface::EthLagIntfConfig const> lag_;
};

class CORVANE_API Config : public Corvane::NamedEntity {
  CORVANE_NODE_TYPE(Config)

  static constexpr uint32_t attrPhyIntf = 1;
  using PhyIntfColl = Corvane::HashMap<IntfId, Ptr<EthPhyIntfLagConfig>>;

  static Ptr<Config> ConfigIs(std::string const& name);
  explicit Config(std::string name);
  ~Config() override;

  PhyIntfColl const& phyIntf() const noexcept { return phyIntf_; }
  Ptr<EthPhyIntfLagConfig> phyIntf(IntfId i) const;
  bool phyIntfHas(IntfId i) const { return phyIntf_.contains(i); }
  // Returns the port's element, creating it when absent.
  Ptr<EthPhyIntfLagConfig> phyIntfIs(IntfId i);
  // Stores the given element under the port, replacing another (null removes).
  void phyIntfIs(IntfId i, Ptr<EthPhyIntfLagConfig> element);
  Ptr<EthPhyIntfLagConfig> phyIntfDel(IntfId i);
  // The LAG the port is configured into, if any.
  std::optional<IntfId> lagOf(IntfId port) const {
    auto const* e = phyIntf_.find(port);
    return e && *e ? (*e)->lagIntfId() : std::nullopt;
  }
  // Fetches into the caches what lagOf(port) reads: the port's configuration, or
  // when `near` the LAG it names (by then the configuration is in the caches).
  void lagOfAhead(IntfId port, bool near) const noexcept {
    auto const* e = phyIntf_.find(port);
    if (!e || !*e) return;
    if (!near) {
      Corvane::prefetchObject(e->get());
    } else if (auto const& lag = (*e)->lag()) {
      Corvane::prefetchObject(lag.get());
    }
  }
  void phyIntfDelAll();

 private:
  PhyIntfColl phyIntf_;
};

}  // namespace Lag
