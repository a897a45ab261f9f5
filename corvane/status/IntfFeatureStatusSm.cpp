#include "corvane/status/IntfFeatureStatusSm.h"

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

namespace {
auto const defaultHandler = [] {
  smTypeRegister(FeatureStatusMergeSmBase::typeDataStatic());
  // The merge SMs it makes, one per interface, are its children.
  TypeRegistry::typeRegister(IntfFeatureStatusSm::typeDataStatic(),
                             Describe<IntfFeatureStatusSm>(TypeKind::rootSm)
                                 .collection<attribute(&IntfFeatureStatusSm::featureStatusMergeSm)>(
                                     "featureStatusMergeSm", 0, true)
                                 .done());
  return getDebugHandler("IntfFeatureStatusSm");
}();
char const* const source = "IntfFeatureStatusSm";
}  // namespace

CORVANE_NODE_TYPE_DEFINE(IntfFeatureStatusSm, "Corvane::IntfFeatureStatusSm", Entity)

void IntfFeatureStatusSm::InputSub::dispatch(uint32_t attrId, void const* key) {
  if (attrId != attr || sm->nodeFlag(flagZombie)) return;
  NodeHold hold(*sm);  // a subscriber of the output may release the machine meanwhile
  sm->handleIntfId(*static_cast<IntfId const*>(key));
}

IntfFeatureStatusSm::IntfFeatureStatusSm(Ptr<IntfToTcamSet const> intfToTcamSet,
                                         Ptr<IntfPerTcamFeatureStatus const> perTcam,
                                         Ptr<IntfFeatureStatus> intfFeatureStatus, FeatureStatusMergeSmFactory factory)
    : intfToTcamSet_(std::move(intfToTcamSet)),
      perTcam_(std::move(perTcam)),
      intfFeatureStatus_(std::move(intfFeatureStatus)),
      factory_(std::move(factory)),
      traceHandle_(getDebugHandler(source)) {
  if (!intfToTcamSet_ || !perTcam_ || !intfFeatureStatus_ || !factory_) {
    fatalInternalError("IntfFeatureStatusSm: every argument is required");
  }
  tcamSetSub_.sm = statusSub_.sm = this;
  tcamSetSub_.attr = IntfToTcamSet::attrIntfToTcamSet;
  statusSub_.attr = IntfPerTcamFeatureStatus::attrStatus;
  nodeFlagSet(flagNotificationActive, true);
  try {
    intfToTcamSet_->subscriberAdd(&tcamSetSub_);
    perTcam_->subscriberAdd(&statusSub_);
    handleInitialized();
  } catch (...) {
    unsubscribe();
    throw;
  }
}

void IntfFeatureStatusSm::unsubscribe() noexcept {
  intfToTcamSet_->subscriberRemove(&tcamSetSub_);
  perTcam_->subscriberRemove(&statusSub_);
}

IntfFeatureStatusSm::~IntfFeatureStatusSm() {
  // Merge SMs go before the single statuses they write.
  hasNotificationActiveIs(false);
  nodeFlagSet(flagZombie, true);
  perIntf_ = nullptr;
  if (outputSm_) outputSm_->hasNotificationActiveIs(false);
  outputSm_ = nullptr;
  mergeSms_.clear();
}

void IntfFeatureStatusSm::handleInitialized() {
  traceHandle_->trace(8, source, "handleInitialized", source, nullptr, "");
  perIntf_ = PerIntfFeatureStatus::PerIntfFeatureStatusIs();
  // Interfaces present only in intfToTcamSet cannot qualify yet. Each merge reads
  // the interface's per-TCAM statuses and its TCAM set, objects far from the last
  // ones: they are fetched a few interfaces ahead.
  for (auto cur = perTcam_->status().cursor(); !cur.done(); cur.next()) {
    if (auto const* a = cur.ahead(8u); a && a->second) {
      prefetchObject(a->second.get());
      if (Ptr<TcamSet> const* set = intfToTcamSet_->intfToTcamSet().find(a->first)) prefetchObject(set->get());
    }
    if (auto const* a = cur.ahead(4u); a && a->second) a->second->status().readAhead();
    handleIntfId(cur.key());
  }
  // Created after the walk: its scans see every merge the walk made.
  SmControl control;
  control.taskPriorityIs(3);
  outputSm_ = intfFeatureStatusOutputSmFactory(perIntf_, intfFeatureStatus_, control);
}

void IntfFeatureStatusSm::hasNotificationActiveIs(bool active) {
  if (nodeFlag(flagNotificationActive) == active) return;
  nodeFlagSet(flagNotificationActive, active);
  if (active) {
    intfToTcamSet_->subscriberAdd(&tcamSetSub_);
    perTcam_->subscriberAdd(&statusSub_);
  } else {
    unsubscribe();
  }
  if (outputSm_) outputSm_->hasNotificationActiveIs(active);
}

Ptr<FeatureStatusMergeSmBase> IntfFeatureStatusSm::featureStatusMergeSm(IntfId intfId) const {
  Ptr<FeatureStatusMergeSmBase> const* m = mergeSms_.find(intfId);
  return m ? *m : nullptr;
}

void IntfFeatureStatusSm::handleIntfId(IntfId intfId) {
  bool hasStatus = perTcam_->statusHas(intfId);
  bool hasTcamSet = intfToTcamSet_->intfToTcamSetHas(intfId);
  bool add = hasStatus && hasTcamSet;
  if (traceHandle_->enabled(8) || ring_) {
    std::string msg = fmt::format("intfId {}, intfIdInHasStatus={}, intfIdInHasTcamSet={}, add={}",
                                  intfId.shortName(), hasStatus, hasTcamSet, add);
    if (traceHandle_->enabled(8)) traceHandle_->emit(8, source, "handleIntfId", source, nullptr, msg);
    if (ring_) ring_->recordAdd(TraceRecord{8, source, "handleIntfId", source, std::move(msg)});
  }
  if (!add) {
    // The merge SM goes before the single status it writes.
    Ptr<FeatureStatusMergeSmBase> gone;
    mergeSms_.erase(intfId, &gone);
    gone = nullptr;
    perIntf_->statusDel(intfId);
    return;
  }
  if (mergeSms_.contains(intfId)) {
    if (!perIntf_->statusHas(intfId)) {
      fatalInternalError(
          "perIntfFeatureStatus()->statusHas( intfId ) && \"intfId should be in perIntfFeatureStatus()->status() for "
          "the update case.\"");
    }
    return;
  }
  Ptr<SingleIntfFeatureStatus> single = perIntf_->statusIs(intfId);
  try {
    Ptr<FeatureStatusMergeSmBase> merge =
        factory_(intfId, intfToTcamSet_->intfToTcamSet(intfId), perTcam_->status(intfId), single);
    if (!merge) throw InternalError("featureStatusMergeSm: a null merge SM cannot be inserted");
    mergeSms_.assign(merge->intfId(), merge);
  } catch (...) {
    // Nothing will write the single status: take it back so a refused or failed
    // merge leaves no trace, and the next change of the interface tries again.
    single = nullptr;
    perIntf_->statusDel(intfId);
    throw;
  }
}

Ptr<IntfFeatureStatusSm> IntfFeatureStatusSm::IntfFeatureStatusSmIs(
    Ptr<IntfToTcamSet const> intfToTcamSet, Ptr<IntfPerTcamFeatureStatus const> intfPerTcamFeatureStatus,
    Ptr<IntfFeatureStatus> intfFeatureStatus, FeatureStatusMergeSmFactory featureStatusMergeSmFactory) {
  return Ptr<IntfFeatureStatusSm>(new IntfFeatureStatusSm(std::move(intfToTcamSet), std::move(intfPerTcamFeatureStatus),
                                                          std::move(intfFeatureStatus),
                                                          std::move(featureStatusMergeSmFactory)));
}

Ptr<IntfFeatureStatusSm> IntfFeatureStatusSmIs(Ptr<IntfToTcamSet const> intfToTcamSet,
                                               Ptr<IntfPerTcamFeatureStatus const> intfPerTcamFeatureStatus,
                                               Ptr<IntfFeatureStatus> intfFeatureStatus,
                                               FeatureStatusMergeSmFactory featureStatusMergeSmFactory) {
  return IntfFeatureStatusSm::IntfFeatureStatusSmIs(std::move(intfToTcamSet), std::move(intfPerTcamFeatureStatus),
                                                    std::move(intfFeatureStatus),
                                                    std::move(featureStatusMergeSmFactory));
}

}  // namespace Corvane
