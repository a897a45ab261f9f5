#include "corvane/status/IntfFeatureStatusOutputSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(IntfFeatureStatusOutputSm, "Corvane::IntfFeatureStatusOutputSm", RootSm)

namespace {
constexpr IntoLine intoStatus{"into( intfFeatureStatus.status[ intfId ] ): inserting k1={}, value={}",
                              "into( intfFeatureStatus.status[ intfId ] ): deleting k1={}"};
}  // namespace

// perIntfFeatureStatus.status[], and each interface's status.
struct IntfFeatureStatusOutputSm::PerIntfFeatureStatusSm0
    : EntityInput<"PerIntfFeatureStatusSm0", attribute(&PerIntfFeatureStatus::status),
                  PerIntfFeatureStatus::attrStatus, "status",
                  Feed<0, "handleStatus0", "strm_pipeline0">,
                  FollowAttr<"StatusSm1", attribute(&SingleIntfFeatureStatus::status),
                             SingleIntfFeatureStatus::attrStatus, "handleStatus0",
                             &IntfFeatureStatusOutputSm::eventToStrm_pipeline0>> {};

namespace {
auto const defaultHandler = smModuleLoad<IntfFeatureStatusOutputSm>("IntfFeatureStatusOutputSm");
}  // namespace

IntfFeatureStatusOutputSm::IntfFeatureStatusOutputSm(Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus,
                                                     Ptr<IntfFeatureStatus> intfFeatureStatus,
                                                     SmControl const& control)
    : RootSm("IntfFeatureStatusOutputSm", control),
      input_(std::move(perIntfFeatureStatus)),
      outEntity_(std::move(intfFeatureStatus)),
      output_(*this, "intfFeatureStatusStatusOutput", outEntity_) {
  declare(this);
  handleInitialized();
}

void IntfFeatureStatusOutputSm::eventToStrm_pipeline0(IntfId intfId,
                                                      std::optional<Ptr<FeatureStatusBase>> const& status) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline0">(*this);
  tr(7, "Line 12: from( perIntfFeatureStatus.status[].status ): intfId={} status={}", intfId, optText(status));
  if (status && *status) {
    output_.insert(tr, intoStatus, intfId, *status);
  } else {
    output_.remove(tr, intoStatus, intfId);
  }
}

Ptr<IntfFeatureStatusOutputSm> IntfFeatureStatusOutputSm::IntfFeatureStatusOutputSmIs(
    Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus, Ptr<IntfFeatureStatus> intfFeatureStatus,
    SmControl const& control) {
  return create<IntfFeatureStatusOutputSm>(std::move(perIntfFeatureStatus), std::move(intfFeatureStatus), control);
}

Ptr<IntfFeatureStatusOutputSm> intfFeatureStatusOutputSmFactory(Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus,
                                                                Ptr<IntfFeatureStatus> intfFeatureStatus,
                                                                SmControl const& control) {
  return IntfFeatureStatusOutputSm::IntfFeatureStatusOutputSmIs(std::move(perIntfFeatureStatus),
                                                                std::move(intfFeatureStatus), control);
}

}  // namespace Corvane
