// Input descriptors for the platform's LAG configuration, shared by every SM that
// follows which LAG each port is configured into: lagConfig.phyIntf[] with one nested
// input SM per port watching its `lag`. The SM supplies its names and its stream
// through Names (className, handlerName, childClassName, childHandlerName,
// scanNumber, flag(root), event(root, port, lag)).
#pragma once

#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/platform/LagConfig.h"

namespace Corvane {

template <class RootT, class Names>
struct PhyIntfLagInput {
  using Root = RootT;
  using Entity = Lag::EthPhyIntfLagConfig;
  using ParentKey = IntfId;
  using Value = IntfId;
  static constexpr char const* className = Names::childClassName;
  static constexpr uint32_t attrId = Entity::attrLag;
  static constexpr uint8_t scanNumber = Names::scanNumber;
  static constexpr char const* handlerName = Names::childHandlerName;
  static std::optional<IntfId> value(Entity const& e) { return e.lagIntfId(); }
  static void event(Root& r, IntfId const& port, std::optional<IntfId> const& lag) { Names::event(r, port, lag); }
};

template <class RootT, class Names>
struct LagConfigInput {
  using Root = RootT;
  using Entity = Lag::Config;
  using Coll = Entity::PhyIntfColl;
  using Child = AttrFollower<PhyIntfLagInput<RootT, Names>>;
  static constexpr char const* className = Names::className;
  static constexpr char const* attrName = "phyIntf";
  static constexpr uint32_t attrId = Entity::attrPhyIntf;
  static constexpr uint8_t scanNumber = Names::scanNumber;
  static constexpr char const* handlerName = Names::handlerName;
  static int32_t flag(Root& r) { return Names::flag(r); }
  static Coll const& coll(Entity const& e) { return e.phyIntf(); }
};

}  // namespace Corvane
