#include "corvane/model/FeatureConfigStatusBase.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(FeatureConfigBase, "Corvane::FeatureConfigBase", Entity)
FeatureConfigBase::~FeatureConfigBase() = default;

CORVANE_NODE_TYPE_DEFINE(FeatureStatusBase, "Corvane::FeatureStatusBase", Entity)
FeatureStatusBase::~FeatureStatusBase() = default;

void detail::featureConfigStatusBaseTypesRegister() {
  TypeRegistry::typeRegister(FeatureConfigBase::typeDataStatic(), Describe<FeatureConfigBase>(TypeKind::entity).done());
  TypeRegistry::typeRegister(FeatureStatusBase::typeDataStatic(), Describe<FeatureStatusBase>(TypeKind::entity).done());
}

namespace {
[[maybe_unused]] bool const registered = [] {
  detail::featureConfigStatusBaseTypesRegister();
  return true;
}();
}  // namespace

}  // namespace Corvane
