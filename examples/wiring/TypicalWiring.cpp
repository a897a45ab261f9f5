#include "examples/wiring/TypicalWiring.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <fmt/format.h>

namespace ExampleWiring {

using namespace Corvane;

namespace {
constexpr std::array<char const*, smKindCount> smKindNames = {
    "LagHwConfigPortToLagSm", "IntfTcamSm",         "IntfPortMapSm",
    "PortMapToIntfSm",        "ConfigLagMemberExpSm", "ConfigExpSm",
    "ConfigPortMapExpSm",     "IntfPerTcamFeatureStatusSm", "IntfFeatureStatusSm"};
}  // namespace

char const* smKindName(SmKind k) noexcept { return smKindNames[std::size_t(k)]; }

std::optional<SmKind> smKindFromName(std::string_view name) noexcept {
  for (SmKind k : allSmKinds) {
    if (name == smKindName(k)) return k;
  }
  return std::nullopt;
}

// ---- hardware layer ------------------------------------------------------------

HardwareLayer::HardwareLayer(Ptr<IntfTcamFeatureConfig const> config, Ptr<IntfTcamFeatureStatus> status)
    : config_(std::move(config)), status_(std::move(status)) {
  config_->subscriberAdd(this);
  try {
    sync();
  } catch (...) {
    config_->subscriberRemove(this);  // the destructor does not run for a constructor that throws
    throw;
  }
}

HardwareLayer::~HardwareLayer() { config_->subscriberRemove(this); }

void HardwareLayer::failingIs(IntfIdSystemTcamId const& key, bool failing) {
  bool changed = failing ? failing_.insert(key) : failing_.erase(key);
  if (changed) handle(key);
}

void HardwareLayer::sync() {
  std::vector<IntfIdSystemTcamId> stale;
  for (auto const& [key, status] : status_->status()) {
    if (!config_->configHas(key)) stale.push_back(key);
  }
  for (auto const& key : stale) handle(key);
  profiles_.clear();
  for (auto const& [key, payload] : config_->config()) {
    profileUse(payload.get());
    handle(key);
  }
}

// [snippet:previousPayload]
void HardwareLayer::dispatch(uint32_t attrId, void const* key, void const* previous) {
  if (attrId != IntfTcamFeatureConfig::attrConfig) return;
  auto const& k = *static_cast<IntfIdSystemTcamId const*>(key);
  // The payload the key held before (replaced or deleted), still alive here.
  if (previous) profileRelease(static_cast<Ptr<FeatureConfigBase> const*>(previous)->get());
  if (auto const* now = config_->config().find(k)) profileUse(now->get());
  handle(k);
}
// [snippet-end]

// Entities always make the three-argument call; this one serves a caller that has
// no previous payload to give, and leaves the profiles alone.
void HardwareLayer::dispatch(uint32_t attrId, void const* key) {
  if (attrId == IntfTcamFeatureConfig::attrConfig) handle(*static_cast<IntfIdSystemTcamId const*>(key));
}

uint32_t HardwareLayer::profileUsers(FeatureConfigBase const* payload) const {
  uint32_t const* users = profiles_.find(reinterpret_cast<std::uintptr_t>(payload));
  return users ? *users : 0;
}

void HardwareLayer::profileUse(FeatureConfigBase const* payload) {
  ++profiles_.insert(reinterpret_cast<std::uintptr_t>(payload), 0u).first->second;
}

void HardwareLayer::profileRelease(FeatureConfigBase const* payload) {
  auto const key = reinterpret_cast<std::uintptr_t>(payload);
  uint32_t* users = profiles_.find(key);
  if (users && --*users == 0) profiles_.erase(key);
}

void HardwareLayer::handle(IntfIdSystemTcamId const& key) {
  using ExampleFeature::State;
  if (throwAt_ != 0 && ++handled_ == throwAt_) {
    throwAt_ = 0;
    thrown_ = true;
    throw std::runtime_error("hardware layer: programming " + textForm(key) + " failed");
  }
  if (!config_->configHas(key)) {
    if (status_->statusHas(key)) {
      status_->statusDel(key);
      ++writes_;
    }
    return;
  }
  State want = failing_.contains(key) ? State::failed : State::ok;
  auto current = status_->status(key);
  if (current && static_cast<ExampleFeature::Status const&>(*current).state() == want) return;
  status_->statusIs(key, Ptr<FeatureStatusBase>(new ExampleFeature::Status(want)));
  ++writes_;
}

// ---- wiring --------------------------------------------------------------------

Wiring::Wiring(Options options)
    : options_(std::move(options)),
      // [snippet:entities]
      veltStatus(Hardware::Velt::Status::StatusIs("velt")),
      veltLagStatus(Hardware::VeltLag::Status::StatusIs("veltLag")),
      lagConfig(Lag::Config::ConfigIs("lag")),
      intfIdToPortMap(intfIdToPortMapFactory("portMaps")),
      featureConfig(intfFeatureConfigFactory()),
      portToLag(portToLagFactory()),
      portMapToIntf(portMapToIntfFactory("portMapToIntf")),
      intfToTcamSet(intfToTcamSetFactory("intfToTcamSet")),
      intfToPortMapSet(intfToPortMapSetFactory("intfToPortMapSet")),
      memberConfig(intfFeatureConfigFactory()),
      tcamConfig(intfTcamFeatureConfigFactory()),
      portMapConfig(intfPortMapFeatureConfigFactory()),
      tcamStatus(intfTcamFeatureStatusFactory()),
      perTcamStatus(intfPerTcamFeatureStatusFactory()),
      featureStatus(intfFeatureStatusFactory()),
      // [snippet-end]
      scheduler_(options_.scheduler ? options_.scheduler : TaskSchedulerRoot::findOrCreateScheduler()),
      hardware_(tcamConfig, tcamStatus) {}

Wiring::~Wiring() { stopAll(); }

Ptr<IntfFeatureConfig> const& Wiring::expansionInput() const noexcept {
  return options_.lagMemberExpansion ? memberConfig : featureConfig;
}

// [snippet:control]
SmControl Wiring::control() const {
  SmControl c;
  c.schedulerIs(scheduler_);
  c.synchronousIs(options_.synchronous ? SmControl::synchronousOn : SmControl::synchronousOff);
  if (options_.ringTrace) c.ringTraceHandleIs(options_.ringTrace);
  return c;
}
// [snippet-end]

void Wiring::start(SmKind k) {
  if (running(k)) return;
  SmControl const c = control();
  uint16_t const faps = options_.maxFaps, cores = options_.maxCores;
  // [snippet:smFactories]
  switch (k) {
    case SmKind::portToLag:
      portToLagSm_ = lagHwConfigPortToLagSmFactory(veltLagStatus, portToLag, c);
      break;
    case SmKind::intfTcam:
      intfTcamSm_ = intfTcamSmFactory(veltStatus, lagConfig, intfToTcamSet, c);
      break;
    case SmKind::intfPortMap:
      intfPortMapSm_ = intfPortMapSmFactory(intfIdToPortMap, lagConfig, faps, cores, intfToPortMapSet, c);
      break;
    case SmKind::portMapToIntf:
      portMapToIntfSm_ = portMapToIntfSmFactory(intfIdToPortMap, portToLag, faps, cores, portMapToIntf, c);
      break;
    case SmKind::configLagMemberExp:
      configLagMemberExpSm_ = configLagMemberExpSmFactory(featureConfig, memberConfig, lagConfig, c);
      break;
    case SmKind::configExp:
      configExpSm_ = configExpSmFactory(intfToTcamSet, expansionInput(), tcamConfig, c);
      break;
    case SmKind::configPortMapExp:
      configPortMapExpSm_ = configPortMapExpSmFactory(intfToPortMapSet, expansionInput(), portMapConfig, c);
      break;
    case SmKind::perTcamStatus:
      perTcamStatusSm_ = intfPerTcamFeatureStatusSmFactory(tcamStatus, perTcamStatus, c);
      break;
    case SmKind::featureStatus:
      featureStatusSm_ = IntfFeatureStatusSmIs(intfToTcamSet, perTcamStatus, featureStatus,
                                               ExampleFeature::statusMergeSmFactory(&mergeSmsCreated_));
      break;
  }
  // [snippet-end]
}

void Wiring::stop(SmKind k) {
  visit(k, [](auto& sm) { sm = nullptr; });
}

void Wiring::restart(SmKind k) {
  stop(k);
  start(k);
}

void Wiring::startAll() {
  for (SmKind k : allSmKinds) start(k);
}

void Wiring::stopAll() {
  for (std::size_t i = smKindCount; i-- > 0;) stop(allSmKinds[i]);
}

bool Wiring::running(SmKind k) const noexcept {
  return const_cast<Wiring*>(this)->visit(k, [](auto const& sm) { return bool(sm); });
}

bool Wiring::ready() const noexcept {
  for (SmKind k : allSmKinds) {
    if (!const_cast<Wiring*>(this)->visit(k, [](auto const& sm) { return !sm || sm->ready(); })) return false;
  }
  return true;
}

std::vector<Corvane::RootSm const*> Wiring::rootSms() const {
  std::vector<Corvane::RootSm const*> out;
  for (Corvane::RootSm const* sm : std::initializer_list<Corvane::RootSm const*>{
           portToLagSm_.get(), intfTcamSm_.get(), intfPortMapSm_.get(), portMapToIntfSm_.get(),
           configLagMemberExpSm_.get(), configExpSm_.get(), configPortMapExpSm_.get(), perTcamStatusSm_.get()}) {
    if (sm) out.push_back(sm);
  }
  return out;
}

std::vector<Corvane::RootSm const*> Wiring::reportedSms() const {
  std::vector<Corvane::RootSm const*> out = rootSms();
  if (featureStatusSm_ && featureStatusSm_->intfFeatureStatusOutputSm()) {
    out.push_back(featureStatusSm_->intfFeatureStatusOutputSm().get());
  }
  return out;
}

std::string Wiring::featureStatusSmSummary() const {
  if (!featureStatusSm_) return {};
  return fmt::format("IntfFeatureStatusSm: {} merge SMs running ({} made since start), {} interfaces with a status\n",
                     featureStatusSm_->featureStatusMergeSm().size(), mergeSmsCreated_,
                     featureStatusSm_->perIntfFeatureStatus()->status().size());
}

// [snippet:runUntilIdle]
void Wiring::runUntilIdle() {
  auto process = TaskSchedulerRoot::findOrCreateScheduler();
  do {
    scheduler_->runUntilIdle();
    process->runUntilIdle();
  } while (!scheduler_->idle() || !process->idle());
}
// [snippet-end]

}  // namespace ExampleWiring
