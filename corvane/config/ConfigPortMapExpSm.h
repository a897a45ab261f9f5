// ConfigPortMapExpSm places every interface's feature configuration under each
// hardware port map the interface occupies: intfPortMapFeatureConfig[(i, m)] =
// intfFeatureConfig[i] for every m in intfToPortMapSet[i]. Read by the hardware
// layer that programs per FAP and core.
#pragma once

#include "corvane/config/ConfigExpansionSm.h"
#include "corvane/model/IntfPortMapTypes.h"

namespace Corvane {

struct ConfigPortMapExpTraits {
  using SetEntity = IntfToPortMapSet;
  using Inner = PortMapSet;
  using Elem = PortMap;
  using Output = IntfPortMapFeatureConfig;
  using OutKey = IntfIdPortMap;
  static constexpr char const* sourceName = "ConfigPortMapExpSm";
  static constexpr char const* typeName = "Corvane::ConfigPortMapExpSm";
  static constexpr Name setArg = "intfToPortMapSet()";
  static constexpr Name outputArg = "intfPortMapFeatureConfig()";
  static constexpr char const* outputName = "intfPortMapFeatureConfigConfigOutput";
  static constexpr Name setSmName = "IntfToPortMapSetSm1";
  static constexpr Name setHandler = "handleIntfToPortMapSet1";
  static constexpr Name childSmName = "IntfToPortMapSetSm2";
  static constexpr Name childHandler = "handlePortMapSet1";
  static constexpr Name outerAttrName = "intfToPortMapSet";
  static constexpr Name innerAttrName = "portMapSet";
  static constexpr uint32_t outerAttrId = IntfToPortMapSet::attrIntfToPortMapSet;
  static constexpr uint32_t innerAttrId = PortMapSet::attrPortMapSet;
  static constexpr char const* pipeline0Line = "Line 17: from( intfFeatureConfig.config[] ): intfId={} config={}";
  static constexpr char const* pipeline1Line =
      "Line 24: from( intfToPortMapSet.intfToPortMapSet[].portMapSet[] ): intfId={} portMap={} unitOpt={}";
  static constexpr char const* filterText = "portMapSet";
  static constexpr char const* foreachText = " foreach( ( *portMapSet ).portMapSet ) flattening {} elements";
  static constexpr IntoLine into{"into( intfPortMapFeatureConfig.config[ intfPortMap ] ): inserting k1={}, value={}",
                                 "into( intfPortMapFeatureConfig.config[ intfPortMap ] ): deleting k1={}"};
  static IntfToPortMapSet::IntfToPortMapSetColl const& outer(IntfToPortMapSet const& s) { return s.intfToPortMapSet(); }
  static PortMapSet::PortMapSetColl const& inner(PortMapSet const& s) { return s.portMapSet(); }
};

class CORVANE_API ConfigPortMapExpSm : public ConfigExpansionSm<ConfigPortMapExpTraits> {
  CORVANE_NODE_TYPE(ConfigPortMapExpSm)

 public:
  static Ptr<ConfigPortMapExpSm> ConfigPortMapExpSmIs(Ptr<IntfToPortMapSet const> intfToPortMapSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
                                        Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfig, SmControl const& control);
  ~ConfigPortMapExpSm() override = default;
  Ptr<IntfToPortMapSet const> const& intfToPortMapSet() const noexcept { return setInput(); }
  Ptr<IntfPortMapFeatureConfig> const& intfPortMapFeatureConfig() const noexcept { return output(); }

 protected:
  friend class RootSm;
  ConfigPortMapExpSm(Ptr<IntfToPortMapSet const> intfToPortMapSet, Ptr<IntfFeatureConfig> intfFeatureConfig,
              Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfig, SmControl const& control);
};

CORVANE_API Ptr<ConfigPortMapExpSm> configPortMapExpSmFactory(Ptr<IntfToPortMapSet const> intfToPortMapSet,
                                                Ptr<IntfFeatureConfig> intfFeatureConfig,
                                                Ptr<IntfPortMapFeatureConfig> intfPortMapFeatureConfig,
                                                SmControl const& control);

}  // namespace Corvane
