// IntfFeatureStatusOutputSm publishes the merged status of every interface: it
// flattens PerIntfFeatureStatus (one SingleIntfFeatureStatus per interface) into
// the caller's IntfFeatureStatus. An interface has an entry while its single
// status exists and holds a non-null payload.
#pragma once

#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/FeatureConfigStatus.h"

namespace Corvane {

class CORVANE_API IntfFeatureStatusOutputSm : public RootSm {
  CORVANE_NODE_TYPE(IntfFeatureStatusOutputSm)

 public:
  static Ptr<IntfFeatureStatusOutputSm> IntfFeatureStatusOutputSmIs(Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus,
                                                                    Ptr<IntfFeatureStatus> intfFeatureStatus,
                                                                    SmControl const& control);
  ~IntfFeatureStatusOutputSm() override = default;

  Ptr<PerIntfFeatureStatus const> const& perIntfFeatureStatus() const noexcept { return input_; }
  Ptr<IntfFeatureStatus> const& intfFeatureStatus() const noexcept { return outEntity_; }
  OutputBase const& intfFeatureStatusStatusOutput() const noexcept { return output_; }

  void eventToStrm_pipeline0(IntfId intfId, std::optional<Ptr<FeatureStatusBase>> const& status);

 protected:
  friend class RootSm;
  IntfFeatureStatusOutputSm(Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus,
                            Ptr<IntfFeatureStatus> intfFeatureStatus, SmControl const& control);

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct PerIntfFeatureStatusSm0;

 private:

  Ptr<PerIntfFeatureStatus const> input_;
  Ptr<IntfFeatureStatus> outEntity_;
  FlatOutput<IntfFeatureStatus::OutputAdapter, false> output_;

 public:
  // One input, one output: the arguments in factory order, the input SM on its
  // argument, then the output.
  using Declaration = OneInputSmDeclaration<
      PerIntfFeatureStatusSm0, "perIntfFeatureStatus()", &IntfFeatureStatusOutputSm::input_,
      "intfFeatureStatus()", &IntfFeatureStatusOutputSm::outEntity_, &IntfFeatureStatusOutputSm::output_>;
};

CORVANE_API Ptr<IntfFeatureStatusOutputSm> intfFeatureStatusOutputSmFactory(
    Ptr<PerIntfFeatureStatus const> perIntfFeatureStatus, Ptr<IntfFeatureStatus> intfFeatureStatus,
    SmControl const& control);

}  // namespace Corvane
