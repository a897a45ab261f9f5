// ConfigLagMemberExpSm turns per-interface feature configuration into per-port
// configuration: a port configured into a LAG carries the LAG's payload (nothing if
// the LAG has none), any other non-LAG interface its own payload, and LAG
// interfaces get no entry. Payload objects are shared, never copied.
#pragma once

#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/LagConfigInput.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/framework/HashMap.h"
#include "corvane/model/FeatureConfigStatus.h"
#include "corvane/platform/LagConfig.h"

namespace Corvane {

class CORVANE_API ConfigLagMemberExpSm : public RootSm {
  CORVANE_NODE_TYPE(ConfigLagMemberExpSm)

 public:
  static Ptr<ConfigLagMemberExpSm> ConfigLagMemberExpSmIs(Ptr<IntfFeatureConfig> intfFeatureConfig,
                                                          Ptr<IntfFeatureConfig> intfExpFeatureConfig,
                                                          Ptr<Lag::Config const> lagConfig, SmControl const& control);
  ~ConfigLagMemberExpSm() override = default;

  Ptr<IntfFeatureConfig> const& intfFeatureConfig() const noexcept { return intfFeatureConfig_; }
  Ptr<IntfFeatureConfig> const& intfExpFeatureConfig() const noexcept { return intfExpFeatureConfig_; }
  Ptr<Lag::Config const> const& lagConfig() const noexcept { return lagConfig_; }
  // The SM's own reverse map of LAG membership (LAG -> member ports).
  Ptr<LagToMemberSet const> lagToMemberSet() const noexcept { return lagToMemberSet_; }
  OutputBase const& intfExpFeatureConfigConfigOutput() const noexcept { return output_; }

  // The stream carries the key alone: the merge reads the payload it writes itself.
  void eventToFeatureConfigStream(IntfId intfId);
  void eventToLagConfigStream(IntfId phyIntfId, std::optional<IntfId> const& lag);
  void eventToStrm_pipeline0(IntfId phyIntfId);

 protected:
  friend class RootSm;
  ConfigLagMemberExpSm(Ptr<IntfFeatureConfig> intfFeatureConfig, Ptr<IntfFeatureConfig> intfExpFeatureConfig,
                       Ptr<Lag::Config const> lagConfig, SmControl const& control);
  void stateMemory(EngineMemory& m) const override {
    m.caches += cacheAttr0_.bytesHeld() + aheadOfLagStream_.bytesHeld();
  }

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct IntfFeatureConfigSm2;
  struct LagConfigSm0;

 private:

  Ptr<IntfFeatureConfig> intfFeatureConfig_;
  Ptr<IntfFeatureConfig> intfExpFeatureConfig_;
  Ptr<Lag::Config const> lagConfig_;
  Ptr<LagToMemberSet> lagToMemberSet_;
  Cache<IntfId, IntfId> cacheAttr0_;  // LAG last seen per port
  HashSet<IntfId> aheadOfLagStream_;   // ports written as members of a LAG cacheAttr0_ lacks
  FlatOutput<IntfFeatureConfig::OutputAdapter, false> output_;
  UnreconciledOutput memberSetOutput_;

 public:
  // Arguments, streams, pipeline entries, inputs (in the order they are made) and outputs.
  using Declaration = SmDeclaration<
      SmArgs<SmArg<"intfFeatureConfig()", &ConfigLagMemberExpSm::intfFeatureConfig_>,
             SmArg<"intfExpFeatureConfig()", &ConfigLagMemberExpSm::intfExpFeatureConfig_>,
             SmArg<"lagConfig()", &ConfigLagMemberExpSm::lagConfig_>>,
      SmStreams<"lagConfigStream", "featureConfigStream">,
      SmPipelines<"eventToStrm_pipeline0", "eventToFeatureConfigStream", "eventToLagConfigStream">,
      SmInputs<SmInput<IntfFeatureConfigSm2, &ConfigLagMemberExpSm::intfFeatureConfig_>,
             SmInput<LagConfigSm0, &ConfigLagMemberExpSm::lagConfig_>>,
      SmOutputs<&ConfigLagMemberExpSm::output_, &ConfigLagMemberExpSm::memberSetOutput_>>;
};

CORVANE_API Ptr<ConfigLagMemberExpSm> configLagMemberExpSmFactory(Ptr<IntfFeatureConfig> intfFeatureConfig,
                                                                  Ptr<IntfFeatureConfig> intfExpFeatureConfig,
                                                                  Ptr<Lag::Config const> lagConfig,
                                                                  SmControl const& control);

}  // namespace Corvane
