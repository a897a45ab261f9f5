// Base of a feature's status merge: one object per interface that reads the
// interface's TCAM set and per-TCAM statuses and writes its single merged status.
// Features derive from it and hand IntfFeatureStatusSm a factory building theirs.
#pragma once

#include <functional>

#include "corvane/framework/Publisher.h"
#include "corvane/model/FeatureConfigStatus.h"
#include "corvane/model/IntfTcamTypes.h"

namespace Corvane {

class CORVANE_API FeatureStatusMergeSmBase : public Entity {
  CORVANE_NODE_TYPE(FeatureStatusMergeSmBase)

  FeatureStatusMergeSmBase(IntfId intfId, Ptr<TcamSet const> tcamSet, Ptr<PerTcamFeatureStatus const> perTcamFeatureStatus,
                           Ptr<SingleIntfFeatureStatus> singleIntfFeatureStatus);
  ~FeatureStatusMergeSmBase() override;

  IntfId intfId() const noexcept { return intfId_; }
  Ptr<TcamSet const> const& tcamSet() const noexcept { return tcamSet_; }
  Ptr<PerTcamFeatureStatus const> const& perTcamFeatureStatus() const noexcept { return perTcamFeatureStatus_; }
  Ptr<SingleIntfFeatureStatus> const& singleIntfFeatureStatus() const noexcept { return singleIntfFeatureStatus_; }

 private:
  IntfId intfId_;
  Ptr<TcamSet const> tcamSet_;
  Ptr<PerTcamFeatureStatus const> perTcamFeatureStatus_;
  Ptr<SingleIntfFeatureStatus> singleIntfFeatureStatus_;
};

using FeatureStatusMergeSmFactory = std::function<Ptr<FeatureStatusMergeSmBase>(
    IntfId, Ptr<TcamSet const>, Ptr<PerTcamFeatureStatus const>, Ptr<SingleIntfFeatureStatus>)>;

}  // namespace Corvane
