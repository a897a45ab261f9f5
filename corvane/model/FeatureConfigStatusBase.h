// The two payload bases a forwarding feature derives its per-interface configuration
// and status from. The feature entities and the expansion and status state machines
// move references to them between keys without looking inside.
#pragma once

#include "corvane/framework/Publisher.h"

namespace Corvane {

// A feature's configuration for one interface. Known by its identity: a feature
// that changes its configuration sets a new object.
class CORVANE_API FeatureConfigBase : public Entity {
  CORVANE_NODE_TYPE(FeatureConfigBase)

  FeatureConfigBase() = default;
  ~FeatureConfigBase() override;
};

// A feature's status for one interface (or one interface and TCAM).
class CORVANE_API FeatureStatusBase : public Entity {
  CORVANE_NODE_TYPE(FeatureStatusBase)

  FeatureStatusBase() = default;
  ~FeatureStatusBase() override;
};

namespace detail {
// Registers FeatureConfigBase then FeatureStatusBase with the TypeRegistry. Runs at
// library load; FeatureConfigStatus calls it first so the bases precede its types
// whatever order the static initializers run in. Later calls change nothing.
CORVANE_API void featureConfigStatusBaseTypesRegister();
}  // namespace detail

}  // namespace Corvane
