#include "corvane/model/FeatureConfigStatusBase.h"

#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(FeatureConfigBase, "Corvane::FeatureConfigBase", Entity)
FeatureConfigBase::~FeatureConfigBase() = default;

CORVANE_NODE_TYPE_DEFINE(FeatureStatusBase, "Corvane::FeatureStatusBase", Entity)
FeatureStatusBase::~FeatureStatusBase() = default;

void detail::featureConfigStatusBaseTypesRegister() {
  TypeRegistry::typeRegister(FeatureConfigBase::typeDataStatic());
  TypeRegistry::typeRegister(FeatureStatusBase::typeDataStatic());
}

namespace {
[[maybe_unused]] bool const registered = [] {
  detail::featureConfigStatusBaseTypesRegister();
  return true;
}();
}  // namespace

}  // namespace Corvane
