#include "corvane/platform/LagConfig.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Interface {

CORVANE_NODE_TYPE_DEFINE_SLABS(EthLagIntfConfig, "Interface::EthLagIntfConfig", Corvane::Entity,
                               Corvane::SlabPool::slabBytes)

Corvane::Ptr<EthLagIntfConfig> EthLagIntfConfig::EthLagIntfConfigIs(Net::IntfId lagIntfId) {
  return Corvane::Ptr<EthLagIntfConfig>(new EthLagIntfConfig(lagIntfId));
}
EthLagIntfConfig::EthLagIntfConfig(Net::IntfId lagIntfId) : intfId_(lagIntfId) {}
EthLagIntfConfig::~EthLagIntfConfig() = default;

}  // namespace Interface

namespace Lag {

CORVANE_NODE_TYPE_DEFINE_SLABS(EthPhyIntfLagConfig, "Lag::EthPhyIntfLagConfig", Corvane::Entity,
                               Corvane::SlabPool::slabBytes)

Ptr<EthPhyIntfLagConfig> EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(IntfId intfId) {
  return Ptr<EthPhyIntfLagConfig>(new EthPhyIntfLagConfig(intfId));
}
EthPhyIntfLagConfig::EthPhyIntfLagConfig(IntfId intfId) : intfId_(intfId) {}
EthPhyIntfLagConfig::~EthPhyIntfLagConfig() = default;

void EthPhyIntfLagConfig::lagIs(Ptr<Interface::EthLagIntfConfig const> lag) {
  if (lag == lag_) return;
  Ptr<Interface::EthLagIntfConfig const> previous = std::exchange(lag_, std::move(lag));
  publishChange(attrLag, nullptr, previousOf(previous));
}

CORVANE_NODE_TYPE_DEFINE(Config, "Lag::Config", Corvane::NamedEntity)

Ptr<Config> Config::ConfigIs(std::string const& name) { return Ptr<Config>(new Config(name)); }
Config::Config(std::string name) : NamedEntity(std::move(name)) {}
Config::~Config() = default;

Ptr<EthPhyIntfLagConfig> Config::phyIntf(IntfId i) const {
  Ptr<EthPhyIntfLagConfig> const* e = phyIntf_.find(i);
  return e ? *e : nullptr;
}

Ptr<EthPhyIntfLagConfig> Config::phyIntfIs(IntfId i) {
  if (Ptr<EthPhyIntfLagConfig> const* e = phyIntf_.find(i)) return *e;
  Ptr<EthPhyIntfLagConfig> e = EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(i);
  collSet(phyIntf_, attrPhyIntf, i, e);
  return e;
}

void Config::phyIntfIs(IntfId i, Ptr<EthPhyIntfLagConfig> element) {
  if (!element) {
    phyIntfDel(i);
    return;
  }
  collSet(phyIntf_, attrPhyIntf, i, std::move(element));
}

Ptr<EthPhyIntfLagConfig> Config::phyIntfDel(IntfId i) {
  Ptr<EthPhyIntfLagConfig> removed;
  collDel(phyIntf_, attrPhyIntf, i, &removed);
  return removed;
}

void Config::phyIntfDelAll() { collDelAll(phyIntf_, attrPhyIntf); }

namespace {
using namespace Corvane;
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(
      Interface::EthLagIntfConfig::typeDataStatic(),
      Describe<Interface::EthLagIntfConfig>(TypeKind::entity)
          .value<&Interface::EthLagIntfConfig::intfId>("intfId")
          .constructor<&Interface::EthLagIntfConfig::intfId>()
          .done());
  TypeRegistry::typeRegister(EthPhyIntfLagConfig::typeDataStatic(),
                             Describe<EthPhyIntfLagConfig>(TypeKind::entity)
                                 .value<&EthPhyIntfLagConfig::intfId>("intfId")
                                 .value<&EthPhyIntfLagConfig::lag, &EthPhyIntfLagConfig::lagIs>(
                                     "lag", EthPhyIntfLagConfig::attrLag)
                                 .done());
  TypeRegistry::typeRegister(
      Config::typeDataStatic(),
      Describe<Config>(TypeKind::entity)
          .collection<attribute(&Config::phyIntf), setter<IntfId>(&Config::phyIntfIs), &Config::phyIntfDel>(
              "phyIntf", Config::attrPhyIntf, true)
          .done());
  return true;
}();
}  // namespace

}  // namespace Lag
