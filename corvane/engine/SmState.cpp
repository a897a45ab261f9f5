#include "corvane/engine/SmState.h"

#include <fmt/format.h>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(InputSmScanState, "Corvane::InputSmScanState", Entity)

InputSmScanState::InputSmScanState(std::vector<char const*> scanNames)
    : names_(std::move(scanNames)), flags_(names_.size(), 0) {}
InputSmScanState::~InputSmScanState() = default;

void InputSmScanState::scanIs(uint32_t i, bool value) {
  if (i >= flags_.size()) fatalInternalError(fmt::format("InputSmScanState: scan {} of {} set", i, flags_.size()));
  if ((flags_[i] != 0) == value) return;
  flags_[i] = value;
  done_ += value ? 1 : size_t(-1);
  publishChange(i, nullptr);
}

void InputSmScanState::idleIs(bool value) {
  if (idle_ == value) return;
  idle_ = value;
  publishChange(idleAttr(), nullptr);
}

CORVANE_NODE_TYPE_DEFINE(OutputState, "Corvane::OutputState", Entity)

OutputState::OutputState(uint32_t outputCount) : flags_(outputCount, 0) {}
OutputState::~OutputState() = default;

bool OutputState::computeReady() const noexcept {
  for (uint8_t f : flags_) {
    if (!f) return false;
  }
  return true;
}

void OutputState::outputReadyIs(uint32_t i, bool value) {
  if (i >= flags_.size()) fatalInternalError(fmt::format("OutputState: output {} of {} set", i, flags_.size()));
  if ((flags_[i] != 0) == value) return;
  flags_[i] = value;
  bool r = computeReady();
  if (r != ready_) {
    ready_ = r;
    publishChange(readyAttr(), nullptr);
  }
  publishChange(i, nullptr);
}

void OutputState::handleReady() {
  bool r = computeReady();
  if (r == ready_) return;
  ready_ = r;
  publishChange(readyAttr(), nullptr);
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(InputSmScanState::typeDataStatic(),
                             Describe<InputSmScanState>(TypeKind::entity)
                                 .value<&InputSmScanState::idle>("idle")
                                 .done());
  TypeRegistry::typeRegister(OutputState::typeDataStatic(),
                             Describe<OutputState>(TypeKind::entity).value<&OutputState::ready>("ready").done());
  return true;
}();
}  // namespace

}  // namespace Corvane
