// ConfigExpSm places every interface's feature configuration under each system TCAM
// the interface occupies: intfTcamFeatureConfig[(i, t)] = intfFeatureConfig[i] for
// every t in intfToTcamSet[i]. Read by the hardware layer that programs TCAMs.
#pragma once

#include "corvane/config/ConfigExpansionSm.h"
#include "corvane/model/IntfTcamTypes.h"

namespace Corvane {

struct ConfigExpTraits {
  using SetEntity = IntfToTcamSet;
  using Inner = TcamSet;
  using Elem = SystemTcamId;
  using Output = IntfTcamFeatureConfig;
  using OutKey = IntfIdSystemTcamId;
  static constexpr char const* sourceName = "ConfigExpSm";
  static constexpr char const* typeName = "Corvane::ConfigExpSm";
  static constexpr Name setArg = "intfToTcamSet()";
  static constexpr Name outputArg = "intfTcamFeatureConfig()";
  static constexpr char const* outputName = "intfTcamFeatureConfigConfigOutput";
  static constexpr Name setSmName = "IntfToTcamSetSm1";
  static constexpr Name setHandler = "handleIntfToTcamSet1";
  static constexpr Name childSmName = "IntfToTcamSetSm2";
  static constexpr Name childHandler = "handleTcamSet1";
  static constexpr Name outerAttrName = "intfToTcamSet";
  static constexpr Name innerAttrName = "tcamSet";
  static constexpr uint32_t outerAttrId = IntfToTcamSet::attrIntfToTcamSet;
  static constexpr uint32_t innerAttrId = TcamSet::attrTcamSet;
  static constexpr char const* pipeline0Line = "Line 16: from( intfFeatureConfig.config[] ): intfId={} config={}";
  static constexpr char const* pipeline1Line =
      "Line 23: from( intfToTcamSet.intfToTcamSet[].tcamSet[] ): intfId={} systemTcamId={} unitOpt={}";
  static constexpr char const* filterText = "tcamSet";
  static constexpr char const* foreachText = " foreach( ( *tcamSet ).tcamSet ) flattening {} elements";
  static constexpr IntoLine into{"into( intfTcamFeatureConfig.config[ intfTcam ] ): inserting k1={}, value={}",
                                 "into( intfTcamFeatureConfig.config[ intfTcam ] ): deleting k1={}"};
  static IntfToTcamSet::IntfToTcamSetColl const& outer(IntfToTcamSet const& s) { return s.intfToTcamSet(); }
  static TcamSet::TcamSetColl const& inner(TcamSet const& s) { return s.tcamSet(); }
};

class CORVANE_API ConfigExpSm : public ConfigExpansionSm<ConfigExpTraits> {
  CORVANE_NODE_TYPE(ConfigExpSm)

 public:
  static Ptr<ConfigExpSm> ConfigExpSmIs(Ptr<IntfToTcamSet const> intfToTcamSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
                                        Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfig, SmControl const& control);
  ~ConfigExpSm() override = default;
  Ptr<IntfToTcamSet const> const& intfToTcamSet() const noexcept { return setInput(); }
  Ptr<IntfTcamFeatureConfig> const& intfTcamFeatureConfig() const noexcept { return output(); }

 protected:
  friend class RootSm;
  ConfigExpSm(Ptr<IntfToTcamSet const> intfToTcamSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
              Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfig, SmControl const& control);
};

CORVANE_API Ptr<ConfigExpSm> configExpSmFactory(Ptr<IntfToTcamSet const> intfToTcamSet,
                                                Ptr<IntfFeatureConfig> intfFeatureConfig,
                                                Ptr<IntfTcamFeatureConfig> intfTcamFeatureConfig,
                                                SmControl const& control);

}  // namespace Corvane
