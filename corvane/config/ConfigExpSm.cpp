#include "corvane/config/ConfigExpSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(ConfigExpSm, "Corvane::ConfigExpSm", RootSm)

namespace {
auto const defaultHandler = smModuleLoad<ConfigExpSm>("ConfigExpSm");
}  // namespace

ConfigExpSm::ConfigExpSm(Ptr<IntfToTcamSet const> intfToTcamSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
                         Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfig, SmControl const& control)
    : ConfigExpansionSm(std::move(intfToTcamSet), std::move(intfFeatureConfig), std::move(intfTcamFeatureConfig),
                        control) {}

Ptr<ConfigExpSm> ConfigExpSm::ConfigExpSmIs(Ptr<IntfToTcamSet const> intfToTcamSet,
                                            Ptr<IntfFeatureConfig> intfFeatureConfig,
                                            Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfig,
                                            SmControl const& control) {
  return create<ConfigExpSm>(std::move(intfToTcamSet), std::move(intfFeatureConfig), std::move(intfTcamFeatureConfig),
                             control);
}

Ptr<ConfigExpSm> configExpSmFactory(Ptr<IntfToTcamSet const> intfToTcamSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
                                    Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfig, SmControl const& control) {
  return ConfigExpSm::ConfigExpSmIs(std::move(intfToTcamSet), std::move(intfFeatureConfig),
                                    std::move(intfTcamFeatureConfig), control);
}

}  // namespace Corvane
