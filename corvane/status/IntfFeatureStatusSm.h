// IntfFeatureStatusSm keeps one feature merge SM per interface that has both
// per-TCAM statuses and a TCAM set, and publishes the merged per-interface statuses
// through a child IntfFeatureStatusOutputSm into the caller's IntfFeatureStatus.
#pragma once

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Trace.h"
#include "corvane/model/FeatureConfigStatus.h"
#include "corvane/model/IntfTcamTypes.h"
#include "corvane/status/FeatureStatusMergeSmBase.h"
#include "corvane/status/IntfFeatureStatusOutputSm.h"

namespace Corvane {

class CORVANE_API IntfFeatureStatusSm : public Entity {
  CORVANE_NODE_TYPE(IntfFeatureStatusSm)

  using FeatureStatusMergeSmColl = HashMap<IntfId, Ptr<FeatureStatusMergeSmBase>>;

  static Ptr<IntfFeatureStatusSm> IntfFeatureStatusSmIs(Ptr<IntfToTcamSet const> intfToTcamSet,
                                                        Ptr<IntfPerTcamFeatureStatus const> intfPerTcamFeatureStatus,
                                                        Ptr<IntfFeatureStatus> intfFeatureStatus,
                                                        FeatureStatusMergeSmFactory featureStatusMergeSmFactory);
  ~IntfFeatureStatusSm() override;

  Ptr<IntfToTcamSet const> const& intfToTcamSet() const noexcept { return intfToTcamSet_; }
  Ptr<IntfPerTcamFeatureStatus const> const& intfPerTcamFeatureStatus() const noexcept { return perTcam_; }
  Ptr<IntfFeatureStatus> const& intfFeatureStatus() const noexcept { return intfFeatureStatus_; }
  Ptr<PerIntfFeatureStatus> const& perIntfFeatureStatus() const noexcept { return perIntf_; }
  Ptr<IntfFeatureStatusOutputSm> const& intfFeatureStatusOutputSm() const noexcept { return outputSm_; }
  FeatureStatusMergeSmColl const& featureStatusMergeSm() const noexcept { return mergeSms_; }
  Ptr<FeatureStatusMergeSmBase> featureStatusMergeSm(IntfId intfId) const;
  bool ready() const noexcept { return outputSm_ && outputSm_->ready(); }

  // Brings one interface in line with the two inputs.
  void handleIntfId(IntfId intfId);
  void hasNotificationActiveIs(bool active);
  // Each handleIntfId is also recorded here, whatever the trace levels.
  void ringTraceHandleIs(Ptr<RingTrace> ring) { ring_ = std::move(ring); }

 private:
  IntfFeatureStatusSm(Ptr<IntfToTcamSet const> intfToTcamSet, Ptr<IntfPerTcamFeatureStatus const> perTcam,
                      Ptr<IntfFeatureStatus> intfFeatureStatus, FeatureStatusMergeSmFactory factory);
  void handleInitialized();
  void unsubscribe() noexcept;

  struct InputSub : Subscriber {
    IntfFeatureStatusSm* sm = nullptr;
    uint32_t attr = 0;
    void dispatch(uint32_t attrId, void const* key) override;
  };

  Ptr<IntfToTcamSet const> intfToTcamSet_;
  Ptr<IntfPerTcamFeatureStatus const> perTcam_;
  Ptr<IntfFeatureStatus> intfFeatureStatus_;
  FeatureStatusMergeSmFactory factory_;
  Ptr<PerIntfFeatureStatus> perIntf_;
  FeatureStatusMergeSmColl mergeSms_;
  Ptr<IntfFeatureStatusOutputSm> outputSm_;
  Ptr<DebugHandler> traceHandle_;
  Ptr<RingTrace> ring_;
  InputSub tcamSetSub_, statusSub_;
};

CORVANE_API Ptr<IntfFeatureStatusSm> IntfFeatureStatusSmIs(Ptr<IntfToTcamSet const> intfToTcamSet,
                                                          Ptr<IntfPerTcamFeatureStatus const> intfPerTcamFeatureStatus,
                                                          Ptr<IntfFeatureStatus> intfFeatureStatus,
                                                          FeatureStatusMergeSmFactory featureStatusMergeSmFactory);

}  // namespace Corvane
