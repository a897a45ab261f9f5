// The input every SM uses to follow which LAG each port is configured into:
// lagConfig.phyIntf[] with one follower per port watching its `lag`. The SM gives
// its names, the scan's number, its stream and the entry the follower calls with
// (port, optional LAG).
#pragma once

#include "corvane/engine/InputDecl.h"
#include "corvane/platform/LagConfig.h"

namespace Corvane {

template <Name ClassName, Name Handler, Name ChildClassName, Name ChildHandler, uint8_t Number, Name Stream,
          auto Entry>
using LagConfigInput = EntityInput<ClassName, attribute(&Lag::Config::phyIntf), Lag::Config::attrPhyIntf, "phyIntf",
                                   Feed<Number, Handler, Stream>,
                                   FollowAttr<ChildClassName, attribute(&Lag::EthPhyIntfLagConfig::lagIntfId),
                                              Lag::EthPhyIntfLagConfig::attrLag, ChildHandler, Entry>>;

// Mixed into the declaration of a port-keyed value input whose feed `Feed` merges each
// port with its LAG (Lag::Config::lagOf through the SM's lagConfig()): the scan
// fetches the port's configuration and its LAG a few entries ahead.
template <uint32_t Feed>
struct MergesPortsWithLags {
  template <class Sm>
  static void readAhead(Sm& sm, uint32_t feed, Net::IntfId port, bool near) {
    if (feed == Feed) sm.lagConfig()->lagOfAhead(port, near);
  }
};

}  // namespace Corvane
