#include "corvane/status/IntfFeatureStatusOutputSm.h"

namespace Corvane {

namespace {
auto const defaultHandler = getDebugHandler("IntfFeatureStatusOutputSm");
constexpr IntoLine intoStatus{"into( intfFeatureStatus.status[ intfId ] ): inserting k1={}, value={}",
                              "into( intfFeatureStatus.status[ intfId ] ): deleting k1={}"};
}  // namespace

// perIntfFeatureStatus.status[].status, one per interface.
struct IntfFeatureStatusOutputSm::StatusSm1 {
  using Root = IntfFeatureStatusOutputSm;
  using Entity = SingleIntfFeatureStatus;
  using ParentKey = IntfId;
  using Value = Ptr<FeatureStatusBase>;
  static constexpr char const* className = "StatusSm1";
  static constexpr uint32_t attrId = SingleIntfFeatureStatus::attrStatus;
  static constexpr uint8_t scanNumber = 0;
  static constexpr char const* handlerName = "handleStatus0";
  static std::optional<Value> value(Entity const& e) {
    Value s = e.status();
    return s ? std::optional<Value>(std::move(s)) : std::nullopt;
  }
  static void event(Root& r, IntfId const& intfId, std::optional<Value> const& status) {
    r.eventToStrm_pipeline0(intfId, status);
  }
};

struct IntfFeatureStatusOutputSm::PerIntfFeatureStatusSm0 {
  using Root = IntfFeatureStatusOutputSm;
  using Entity = PerIntfFeatureStatus;
  using Coll = PerIntfFeatureStatus::StatusColl;
  using Child = AttrFollower<StatusSm1>;
  static constexpr char const* className = "PerIntfFeatureStatusSm0";
  static constexpr char const* attrName = "status";
  static constexpr uint32_t attrId = PerIntfFeatureStatus::attrStatus;
  static constexpr uint8_t scanNumber = 0;
  static constexpr char const* handlerName = "handleStatus0";
  static int32_t flag(Root& r) { return int32_t(r.strm_pipeline0_); }
  static Coll const& coll(Entity const& e) { return e.status(); }
};

IntfFeatureStatusOutputSm::IntfFeatureStatusOutputSm(Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus,
                                                     Ptr<IntfFeatureStatus> intfFeatureStatus,
                                                     SmControl const& control)
    : RootSm("IntfFeatureStatusOutputSm", control),
      input_(std::move(perIntfFeatureStatus)),
      outEntity_(std::move(intfFeatureStatus)),
      output_(*this, "intfFeatureStatusStatusOutput", outEntity_) {
  argDeclare("perIntfFeatureStatus()", bool(input_));
  argDeclare("intfFeatureStatus()", bool(outEntity_));
  strm_pipeline0_ = streamDeclare("strm_pipeline0");
  outputDeclare(output_);
  inputSmSlotsIs(1);
  handleInitialized();
}

IntfFeatureStatusOutputSm::~IntfFeatureStatusOutputSm() = default;

void IntfFeatureStatusOutputSm::createInputSms() {
  inputSmIs(0, Ptr<InputSm>(new EntityCollInput<PerIntfFeatureStatusSm0>(input_, *this)));
}

void IntfFeatureStatusOutputSm::eventToStrm_pipeline0(IntfId intfId,
                                                      std::optional<Ptr<FeatureStatusBase>> const& status) {
  if (!initialScanDone()) return;
  Tr tr{*this, "eventToStrm_pipeline0"};
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
