#include "bench/baseline/IntfTcamBaseline.h"

#include <algorithm>

namespace CorvaneBench {

IntfTcamBaseline::IntfTcamBaseline(Ptr<Hardware::Velt::Status const> veltStatus, Ptr<Lag::Config const> lagConfig,
                                   Ptr<Corvane::IntfFeatureConfig const> config)
    : veltStatus_(std::move(veltStatus)), lagConfig_(std::move(lagConfig)), config_(std::move(config)) {
  size_t const n = veltStatus_->intfIdToSystemTcamId().size();
  portTcam_.reserve(n);
  intfTcams_.reserve(n + n / 4);
  tcamConfig_.reserve(n + n / 4);
  for (auto const& [port, tcam] : veltStatus_->intfIdToSystemTcamId()) portTcamIs(port, &tcam);
  veltStatus_->subscriberAdd(this);
}

IntfTcamBaseline::~IntfTcamBaseline() { veltStatus_->subscriberRemove(this); }

std::vector<SystemTcamId> const* IntfTcamBaseline::tcams(IntfId i) const {
  auto it = intfTcams_.find(i);
  return it == intfTcams_.end() ? nullptr : &it->second;
}

Corvane::FeatureConfigBase const* IntfTcamBaseline::config(IntfIdSystemTcamId const& k) const {
  auto it = tcamConfig_.find(k);
  return it == tcamConfig_.end() ? nullptr : it->second.get();
}

void IntfTcamBaseline::dispatch(uint32_t attrId, void const* key) {
  if (attrId != Hardware::Velt::Status::attrIntfIdToSystemTcamId) return;
  IntfId const port = *static_cast<IntfId const*>(key);
  portTcamIs(port, veltStatus_->intfIdToSystemTcamId().find(port));
}

void IntfTcamBaseline::portTcamIs(IntfId port, SystemTcamId const* tcam) {
  auto it = portTcam_.find(port);
  if (it != portTcam_.end() && tcam && it->second == *tcam) return;
  std::optional<IntfId> const lag = lagConfig_->lagOf(port);
  if (it != portTcam_.end()) {
    SystemTcamId const old = it->second;
    tcamDel(port, old);
    if (lag) {
      auto c = lagTcamMembers_.find(IntfIdSystemTcamId(*lag, old));
      if (c != lagTcamMembers_.end() && --c->second == 0) {
        lagTcamMembers_.erase(c);
        tcamDel(*lag, old);
      }
    }
    if (!tcam) {
      portTcam_.erase(it);
      return;
    }
    it->second = *tcam;
  } else {
    if (!tcam) return;
    portTcam_.emplace(port, *tcam);
  }
  tcamAdd(port, *tcam);
  if (lag && ++lagTcamMembers_[IntfIdSystemTcamId(*lag, *tcam)] == 1) tcamAdd(*lag, *tcam);
}

void IntfTcamBaseline::tcamAdd(IntfId intf, SystemTcamId t) {
  intfTcams_[intf].push_back(t);
  ++tcamEntries_;
  if (Ptr<Corvane::FeatureConfigBase> payload = config_->config(intf)) {
    tcamConfig_.insert_or_assign(IntfIdSystemTcamId(intf, t), std::move(payload));
  }
}

void IntfTcamBaseline::tcamDel(IntfId intf, SystemTcamId t) {
  auto it = intfTcams_.find(intf);
  if (it == intfTcams_.end()) return;
  auto& v = it->second;
  auto pos = std::find(v.begin(), v.end(), t);
  if (pos == v.end()) return;
  *pos = v.back();
  v.pop_back();
  --tcamEntries_;
  if (v.empty()) intfTcams_.erase(it);
  tcamConfig_.erase(IntfIdSystemTcamId(intf, t));
}

}  // namespace CorvaneBench
