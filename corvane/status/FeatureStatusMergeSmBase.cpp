#include "corvane/status/FeatureStatusMergeSmBase.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(FeatureStatusMergeSmBase, "Corvane::FeatureStatusMergeSmBase", Entity)

FeatureStatusMergeSmBase::FeatureStatusMergeSmBase(IntfId intfId, Ptr<TcamSet const> tcamSet,
                                                   Ptr<PerTcamFeatureStatus const> perTcamFeatureStatus,
                                                   Ptr<SingleIntfFeatureStatus> singleIntfFeatureStatus)
    : intfId_(intfId),
      tcamSet_(std::move(tcamSet)),
      perTcamFeatureStatus_(std::move(perTcamFeatureStatus)),
      singleIntfFeatureStatus_(std::move(singleIntfFeatureStatus)) {}

FeatureStatusMergeSmBase::~FeatureStatusMergeSmBase() = default;

}  // namespace Corvane
