#include "corvane/status/IntfPerTcamFeatureStatusSm.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(IntfPerTcamFeatureStatusSm, "Corvane::IntfPerTcamFeatureStatusSm", RootSm)

namespace {
constexpr IntoLine intoPerTcam{
    "into( intfPerTcamFeatureStatus.status[ intfId ].status[ systemTcamId ] ): inserting k1={}, k2={}, value={}",
    "into( intfPerTcamFeatureStatus.status[ intfId ].status[ systemTcamId ] ): deleting k1={}, k2={}"};
}  // namespace

struct IntfPerTcamFeatureStatusSm::IntfTcamFeatureStatusSm0
    : ValueInput<"IntfTcamFeatureStatusSm0", attribute(&IntfTcamFeatureStatus::status),
                 IntfTcamFeatureStatus::attrStatus, "status",
                 Feed<0, "handleStatus0", "strm_pipeline0",
                      &IntfPerTcamFeatureStatusSm::eventToStrm_pipeline0>> {};

namespace {
auto const defaultHandler = smModuleLoad<IntfPerTcamFeatureStatusSm>("IntfPerTcamFeatureStatusSm");
}  // namespace

IntfPerTcamFeatureStatusSm::IntfPerTcamFeatureStatusSm(Ptr<IntfTcamFeatureStatus const> intfTcamFeatureStatus,
                                                       Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatus,
                                                       SmControl const& control)
    : RootSm("IntfPerTcamFeatureStatusSm", control),
      input_(std::move(intfTcamFeatureStatus)),
      outEntity_(std::move(intfPerTcamFeatureStatus)),
      output_(*this, "intfPerTcamFeatureStatusStatusStatusOutput", outEntity_) {
  declare(this);
  handleInitialized();
}

void IntfPerTcamFeatureStatusSm::eventToStrm_pipeline0(IntfIdSystemTcamId const& key,
                                                       std::optional<Ptr<FeatureStatusBase>> const& value) {
  if (!initialScanDone()) return;
  auto tr = pipeline<"eventToStrm_pipeline0">(*this);
  tr(7, "Line 12: from( intfTcamFeatureStatus.status[] ): intfTcam={} status={}", key, optText(value));
  if (value && *value) {
    output_.insertValue(tr, intoPerTcam, key.intfId(), key.systemTcamId(), *value);
  } else {
    output_.remove(tr, intoPerTcam, key.intfId(), key.systemTcamId());
  }
}

Ptr<IntfPerTcamFeatureStatusSm> IntfPerTcamFeatureStatusSm::IntfPerTcamFeatureStatusSmIs(
    Ptr<IntfTcamFeatureStatus const> intfTcamFeatureStatus, Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatus,
    SmControl const& control) {
  return create<IntfPerTcamFeatureStatusSm>(std::move(intfTcamFeatureStatus), std::move(intfPerTcamFeatureStatus),
                                            control);
}

Ptr<IntfPerTcamFeatureStatusSm> intfPerTcamFeatureStatusSmFactory(
    Ptr<IntfTcamFeatureStatus const> intfTcamFeatureStatus, Ptr<IntfPerTcamFeatureStatus> intfPerTcamFeatureStatus,
    SmControl const& control) {
  return IntfPerTcamFeatureStatusSm::IntfPerTcamFeatureStatusSmIs(std::move(intfTcamFeatureStatus),
                                                                  std::move(intfPerTcamFeatureStatus), control);
}

}  // namespace Corvane
