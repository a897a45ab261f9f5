// The per-element configuration expansion shared by ConfigExpSm (per system TCAM)
// and ConfigPortMapExpSm (per port map): for every interface i with payload p and
// every element e of i's set, the output holds the very object p under (i, e), and
// nothing else. Pipeline 0 reacts to payload changes, pipeline 1 to set changes.
// An SM is this template with its set types and texts (the Traits).
#pragma once

#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/model/FeatureConfigStatus.h"

namespace Corvane {

// Traits: using SetEntity (IntfToTcamSet), Inner (TcamSet), Elem (SystemTcamId),
// Output (IntfTcamFeatureConfig), OutKey (IntfIdSystemTcamId); static members:
// sourceName, setArg, outputArg, outputName, setSmName ("IntfToTcamSetSm1"),
// setHandler, childSmName, childHandler, innerAttrName ("tcamSet"), pipeline0Line,
// pipeline1Line, filterText, foreachText, into; and outer(SetEntity const&),
// inner(Inner const&), innerAttrId, outerAttrId.
template <class Traits>
class ConfigExpansionSm : public RootSm {
 public:
  using SetEntity = typename Traits::SetEntity;
  using Inner = typename Traits::Inner;
  using Elem = typename Traits::Elem;
  using OutEntity = typename Traits::Output;
  using OutKey = typename Traits::OutKey;

  static char const* smTypeName() noexcept { return Traits::typeName; }
  Ptr<SetEntity const> const& setInput() const noexcept { return set_; }
  Ptr<IntfFeatureConfig> const& intfFeatureConfig() const noexcept { return config_; }
  Ptr<OutEntity> const& output() const noexcept { return outEntity_; }
  OutputBase const& configOutput() const noexcept { return output_; }
  Ptr<InputSm> intfFeatureConfigSm0() const { return inputSm(1); }
  Ptr<InputSm> setSm1() const { return inputSm(0); }

  // Pipeline 0: the payload of intfId changed.
  void eventToStrm_pipeline0(IntfId intfId, std::optional<Ptr<FeatureConfigBase>> const& config) {
    if (!initialScanDone()) return;
    Tr tr{*this, "eventToStrm_pipeline0", 0};
    tr.text(7, Traits::pipeline0Line, intfId, optText(config));
    auto const* set = Traits::outer(*set_).find(intfId);
    if (!filterPass(tr, set && *set, Traits::filterText)) return;
    auto const& elems = Traits::inner(**set);
    tr.text(6, Traits::foreachText, elems.size());
    for (auto cur = const_cast<std::remove_cvref_t<decltype(elems)>&>(elems).cursor(); !cur.done(); cur.next()) {
      Elem const e = cur.key();
      traceFlattening(tr, e);
      write(tr, OutKey(intfId, e), config ? *config : nullptr);
    }
  }

  // Pipeline 1: element e joined (unit present) or left intfId's set.
  void eventToStrm_pipeline1(IntfId intfId, Elem const& e, std::optional<Unit> const& unitOpt) {
    if (!initialScanDone()) return;
    Tr tr{*this, "eventToStrm_pipeline1", 1};
    tr.text(7, Traits::pipeline1Line, intfId, e, optText(unitOpt));
    Ptr<FeatureConfigBase> payload = unitOpt ? config_->config(intfId) : nullptr;
    write(tr, OutKey(intfId, e), payload);
  }

 protected:
  ConfigExpansionSm(Ptr<SetEntity const> set, Ptr<IntfFeatureConfig> config, Ptr<OutEntity> out,
                    SmControl const& control)
      : RootSm(Traits::sourceName, control),
        set_(std::move(set)),
        config_(std::move(config)),
        outEntity_(std::move(out)),
        output_(*this, Traits::outputName, outEntity_) {
    // Two input slots in attribute order, which is also the order of retraction: the
    // set input first.
    declare({{Traits::setArg, set_}, {"intfFeatureConfig()", config_}, {Traits::outputArg, outEntity_}},
            {{strm_pipeline0_, "strm_pipeline0"}, {strm_pipeline1_, "strm_pipeline1"}}, {&output_}, 2,
          {"eventToStrm_pipeline0", "eventToStrm_pipeline1"});
    handleInitialized();
  }

  void createInputSms() override {
    inputSmIs(0, inputSmMake<SetSm1>(set_, *this));
    inputSmIs(1, inputSmMake<IntfFeatureConfigSm0>(config_, *this));
  }

 public:
  // Its inputs (declared in the source file), each an input SM type of its own.
  struct IntfFeatureConfigSm0;
  struct SetSm1;
  using Inputs = InputList<IntfFeatureConfigSm0, SetSm1>;

 private:

  void write(Tr const& tr, OutKey const& key, Ptr<FeatureConfigBase> const& payload) {
    if (payload) {
      output_.insert(tr, Traits::into, key, payload);
    } else {
      output_.remove(tr, Traits::into, key);
    }
  }

  Ptr<SetEntity const> set_;
  Ptr<IntfFeatureConfig> config_;
  Ptr<OutEntity> outEntity_;
  uint32_t strm_pipeline0_, strm_pipeline1_;
  FlatOutput<typename OutEntity::OutputAdapter, false> output_;
};

// intfFeatureConfig.config[]: feeds pipeline 0.
template <class Traits>
struct ConfigExpansionSm<Traits>::IntfFeatureConfigSm0
    : ValueInput<"IntfFeatureConfigSm0", attribute(&IntfFeatureConfig::config), IntfFeatureConfig::attrConfig,
                 "config",
                 Feed<0, "handleConfig0", &ConfigExpansionSm::strm_pipeline0_,
                      &ConfigExpansionSm::eventToStrm_pipeline0>> {};

// The set of every interface, and each interface's elements: feed pipeline 1.
template <class Traits>
struct ConfigExpansionSm<Traits>::SetSm1
    : EntityInput<Traits::setSmName, &Traits::outer, Traits::outerAttrId, Traits::outerAttrName,
                  Feed<1, Traits::setHandler, &ConfigExpansionSm::strm_pipeline1_>,
                  FollowColl<Traits::childSmName, &Traits::inner, Traits::innerAttrId, Traits::innerAttrName,
                             Traits::childHandler, &ConfigExpansionSm::eventToStrm_pipeline1>> {};

}  // namespace Corvane
