// The per-element configuration expansion shared by ConfigExpSm (per system TCAM)
// and ConfigPortMapExpSm (per port map): for every interface i with payload p and
// every element e of i's set, the output holds the very object p under (i, e), and
// nothing else. Pipeline 0 reacts to payload changes, pipeline 1 to set changes.
// An SM is this template with its set types and texts (the Traits).
#pragma once

#include <concepts>
#include <optional>

#include "corvane/engine/InputSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/FeatureConfigStatus.h"

namespace Corvane {

// What an expansion asks of its Traits (ConfigExpTraits is one):
template <class T>
concept ExpansionTraits = requires(typename T::SetEntity const& set, typename T::Inner const& inner) {
  // the set entity (IntfToTcamSet), its inner entity (TcamSet) and element
  // (SystemTcamId), the output entity and its key (IntfIdSystemTcamId);
  typename T::Elem;
  typename T::Output;
  typename T::OutKey;
  // how to read the set's collection of inner entities, and an inner entity's elements;
  T::outer(set).find(std::declval<IntfId>());
  T::inner(inner).size();
  { T::outerAttrId } -> std::convertible_to<uint32_t>;
  { T::innerAttrId } -> std::convertible_to<uint32_t>;
  // the names of the machine, its type, its arguments' accessors and its output;
  { T::sourceName } -> std::convertible_to<char const*>;
  { T::typeName } -> std::convertible_to<char const*>;
  { T::outputName } -> std::convertible_to<char const*>;
  T::setArg.text;
  T::outputArg.text;
  // the names of the set input, its followers, their handlers and attributes;
  T::setSmName.text;
  T::setHandler.text;
  T::childSmName.text;
  T::childHandler.text;
  T::outerAttrName.text;
  T::innerAttrName.text;
  // and the texts of its trace lines.
  { T::pipeline0Line } -> std::convertible_to<char const*>;
  { T::pipeline1Line } -> std::convertible_to<char const*>;
  { T::filterText } -> std::convertible_to<char const*>;
  { T::foreachText } -> std::convertible_to<char const*>;
  { T::into } -> std::convertible_to<IntoLine>;
};

template <ExpansionTraits Traits>
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
  Ptr<InputSm> intfFeatureConfigSm0() const { return inputSm(Declaration::template slot<IntfFeatureConfigSm0>); }
  Ptr<InputSm> setSm1() const { return inputSm(Declaration::template slot<SetSm1>); }

  // Pipeline 0: the payload of intfId changed. The stream carries the key alone: the
  // payload is read from the collection when a run traces or writes it, so that a
  // run left out below reads no payload object (each far from the scan's last).
  // Retracting everything, the stream announces every payload gone.
  void eventToStrm_pipeline0(IntfId intfId) {
    if (!initialScanDone()) return;
    auto tr = pipeline<"eventToStrm_pipeline0">(*this);
    Ptr<FeatureConfigBase> const* held = deletingAll() ? nullptr : config_->config().find(intfId);
    if (tr.on(7)) {
      tr.text(7, Traits::pipeline0Line, intfId,
              optText(held ? std::optional<Ptr<FeatureConfigBase>>(*held) : std::nullopt));
    }
    // A synchronous start-up scans the sets first, and pipeline 1 writes each
    // (interface, element) entry with the interface's payload as it is now; this run,
    // from the payload scan after it, would write each of them again unchanged. While
    // no output has withdrawn anything, it is left out untraced.
    if (synchronousEventPass() && tr.quiet() && setSm1()->inputScanComplete(0)) return;
    auto const* set = Traits::outer(*set_).find(intfId);
    if (!filterPass(tr, set && *set, Traits::filterText)) return;
    auto const& elems = Traits::inner(**set);
    tr.text(6, Traits::foreachText, elems.size());
    Ptr<FeatureConfigBase> const payload = held ? *held : nullptr;
    for (auto cur = elems.cursor(); !cur.done(); cur.next()) {
      Elem const e = cur.key();
      traceFlattening(tr, e);
      write(tr, OutKey(intfId, e), payload);
    }
  }

  // Pipeline 1: element e joined (unit present) or left intfId's set.
  void eventToStrm_pipeline1(IntfId intfId, Elem const& e, std::optional<Unit> const& unitOpt) {
    if (!initialScanDone()) return;
    auto tr = pipeline<"eventToStrm_pipeline1">(*this);
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
    declare(this);
    handleInitialized();
  }

 public:
  // Its inputs (declared below), each an input SM type of its own.
  struct IntfFeatureConfigSm0;
  struct SetSm1;

 private:
  // The event pass writes an entry per (interface, element) the first pass followed,
  // for the interfaces with a payload: an empty output takes room for about as many
  // at once (the elements scaled by the share of interfaces with a payload).
  void eventPassBegins() override {
    auto const* sets = static_cast<EntityCollInput<SetSm1> const*>(setSm1().get());
    if (!sets) return;
    double const followed = double(sets->followedEntries());
    double const intfs = double(Traits::outer(*set_).size());
    double const payloads = double(config_->config().size());
    output_.reserve(size_t(intfs > payloads ? followed * payloads / intfs : followed));
  }

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
  FlatOutput<typename OutEntity::OutputAdapter, false> output_;

 public:
  // Arguments, streams, pipeline entries, inputs (in the order they are made) and outputs.
  // The input slots follow the arguments, which is also the order of retraction: the
  // set input first.
  using Declaration = SmDeclaration<
      SmArgs<SmArg<Traits::setArg, &ConfigExpansionSm::set_>, SmArg<"intfFeatureConfig()", &ConfigExpansionSm::config_>,
             SmArg<Traits::outputArg, &ConfigExpansionSm::outEntity_>>,
      SmStreams<"strm_pipeline0", "strm_pipeline1">, SmPipelines<"eventToStrm_pipeline0", "eventToStrm_pipeline1">,
      SmInputs<SmInput<SetSm1, &ConfigExpansionSm::set_>, SmInput<IntfFeatureConfigSm0, &ConfigExpansionSm::config_>>,
      SmOutputs<&ConfigExpansionSm::output_>>;
};

// intfFeatureConfig.config[]: feeds pipeline 0.
template <ExpansionTraits Traits>
struct ConfigExpansionSm<Traits>::IntfFeatureConfigSm0
    : ValueInput<"IntfFeatureConfigSm0", attribute(&IntfFeatureConfig::config), IntfFeatureConfig::attrConfig,
                 "config",
                 Feed<0, "handleConfig0", "strm_pipeline0", &ConfigExpansionSm::eventToStrm_pipeline0>> {};

// The set of every interface, and each interface's elements: feed pipeline 1.
template <ExpansionTraits Traits>
struct ConfigExpansionSm<Traits>::SetSm1
    : EntityInput<Traits::setSmName, &Traits::outer, Traits::outerAttrId, Traits::outerAttrName,
                  Feed<1, Traits::setHandler, "strm_pipeline1">,
                  FollowColl<Traits::childSmName, &Traits::inner, Traits::innerAttrId, Traits::innerAttrName,
                             Traits::childHandler, &ConfigExpansionSm::eventToStrm_pipeline1>> {};

}  // namespace Corvane
