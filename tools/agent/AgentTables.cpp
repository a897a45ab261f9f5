#include "tools/agent/AgentTables.h"

namespace CorvaneAgent {

std::vector<TableBinding> wiringTables(ExampleWiring::Wiring& w) {
  char const* const config = "ExampleFeature::Config";
  char const* const status = "ExampleFeature::Status";
  return {
      {{"VELT_STATUS", w.veltStatus, "intfIdToSystemTcamId", ""}, true},
      {{"VELT_LAG_STATUS", w.veltLagStatus, "lagHwConfig", ""}, true},
      {{"LAG_CONFIG", w.lagConfig, "phyIntf", ""}, true},
      {{"PORT_MAP", w.intfIdToPortMap, "intfIdToPortMap", ""}, true},
      {{"FEATURE_CONFIG", w.featureConfig, "config", config}, true},
      {{"PORT_TO_LAG", w.portToLag, "portToLag", ""}, false},
      {{"PORT_MAP_TO_INTF", w.portMapToIntf, "portMapToIntf", ""}, false},
      {{"INTF_TCAM_SET", w.intfToTcamSet, "intfToTcamSet", ""}, false},
      {{"INTF_PORT_MAP_SET", w.intfToPortMapSet, "intfToPortMapSet", ""}, false},
      {{"MEMBER_CONFIG", w.memberConfig, "config", config}, false},
      {{"TCAM_CONFIG", w.tcamConfig, "config", config}, false},
      {{"PORT_MAP_CONFIG", w.portMapConfig, "config", config}, false},
      {{"TCAM_STATUS", w.tcamStatus, "status", status}, false},
      {{"PER_TCAM_STATUS", w.perTcamStatus, "status", status}, false},
      {{"FEATURE_STATUS", w.featureStatus, "status", status}, false},
  };
}

}  // namespace CorvaneAgent
