#include "corvane/config/ConfigPortMapExpSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(ConfigPortMapExpSm, "Corvane::ConfigPortMapExpSm", RootSm)

namespace {
auto const defaultHandler = smModuleLoad<ConfigPortMapExpSm>("ConfigPortMapExpSm");
}  // namespace

ConfigPortMapExpSm::ConfigPortMapExpSm(Ptr<IntfToPortMapSet const> intfToPortMapSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
                         Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfig, SmControl const& control)
    : ConfigExpansionSm(std::move(intfToPortMapSet), std::move(intfFeatureConfig), std::move(intfPortMapFeatureConfig),
                        control) {}

Ptr<ConfigPortMapExpSm> ConfigPortMapExpSm::ConfigPortMapExpSmIs(Ptr<IntfToPortMapSet const> intfToPortMapSet,
                                            Ptr<IntfFeatureConfig> intfFeatureConfig,
                                            Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfig,
                                            SmControl const& control) {
  return create<ConfigPortMapExpSm>(std::move(intfToPortMapSet), std::move(intfFeatureConfig), std::move(intfPortMapFeatureConfig),
                             control);
}

Ptr<ConfigPortMapExpSm> configPortMapExpSmFactory(Ptr<IntfToPortMapSet const> intfToPortMapSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
                                    Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfig, SmControl const& control) {
  return ConfigPortMapExpSm::ConfigPortMapExpSmIs(std::move(intfToPortMapSet), std::move(intfFeatureConfig),
                                    std::move(intfPortMapFeatureConfig), control);
}

}  // namespace Corvane
