// A state machine's declaration: the one list its constructor, its input SMs, its
// streams and its pipeline entries are numbered from.
//
//   using Declaration = SmDeclaration<
//       SmArgs<SmArg<"veltStatus()", &IntfTcamSm::veltStatus_>, SmArg<"lagConfig()", &IntfTcamSm::lagConfig_>,
//            SmArg<"intfToTcamSet()", &IntfTcamSm::intfToTcamSet_>>,
//       SmStreams<"strm_pipeline1", "strm_stream1", "strm_stream0">,
//       SmPipelines<"eventToStrm_pipeline0", "eventToStrm_pipeline1">,
//       SmInputs<SmInput<LagConfigSm1, &IntfTcamSm::lagConfig_>, SmInput<VeltStatusSm0, &IntfTcamSm::veltStatus_>>,
//       SmOutputs<&IntfTcamSm::output_>>;
//
// - SmArgs: the factory's arguments in its order (inputs, then outputs), each with
//   the accessor its null check names and the member holding it.
// - SmStreams and SmPipelines (InputDecl.h): a feed names its stream, a pipeline
//   entry its name (auto tr = pipeline<"eventToStrm_pipeline1">(*this)); each
//   number is the place in its list.
// - SmInputs: the input SMs in the order they are made, each on the argument it
//   watches. An input's slot (inputSm(i), and the order of retraction) is its
//   argument's place among the watched ones: Declaration::slot<VeltStatusSm0>.
// - SmOutputs: the members that write, in the order of OutputState's flags.
//
// A machine with one input and one output may write OneInputSmDeclaration<...>.
//
// The constructor calls declare(this), then handleInitialized(). A name or member
// that is not declared fails to compile, with a message that names it.
#pragma once

#include <cstdint>
#include <type_traits>

#include "corvane/engine/InputDecl.h"
#include "corvane/engine/InputSm.h"
#include "corvane/engine/Output.h"
#include "corvane/engine/RootSm.h"

namespace Corvane {

// One factory argument: the accessor its null check names and the member holding it.
template <Name Accessor, auto Member>
  requires std::is_member_object_pointer_v<decltype(Member)>
struct SmArg {
  static constexpr char const* accessor = Accessor.text;
  static constexpr auto member = Member;
};

// One input SM: its declaration (InputDecl.h) and the argument member it watches.
template <class Decl, auto Watched>
  requires std::is_member_object_pointer_v<decltype(Watched)>
struct SmInput {
  using Declaration = Decl;
  static constexpr auto watched = Watched;
};

template <class... A>
struct SmArgs {};
template <class... I>
struct SmInputs {};
template <auto... Members>
struct SmOutputs {};

namespace detail {

template <auto X, auto Y>
constexpr bool sameMember() noexcept {
  if constexpr (std::is_same_v<decltype(X), decltype(Y)>) {
    return X == Y;
  } else {
    return false;
  }
}

template <class ArgsT>
struct ArgsOf;
template <class... A>
struct ArgsOf<SmArgs<A...>> {
  static constexpr uint32_t count = sizeof...(A);
  // The place of member M among the arguments, or count.
  template <auto M>
  static constexpr uint32_t find() noexcept {
    uint32_t i = 0, at = count;
    ((sameMember<A::member, M>() && at == count ? void(at = i) : void(), ++i), ...);
    return at;
  }
};

template <class InputsT, class ArgsT>
struct InputsOf;
template <class... I, class ArgsT>
struct InputsOf<SmInputs<I...>, ArgsT> {
  static constexpr uint32_t count = sizeof...(I);
  static constexpr uint32_t argOf[count + 1] = {ArgsOf<ArgsT>::template find<I::watched>()..., 0};
  // The slot of the input watching argument `arg`: how many watched arguments come before it.
  static constexpr uint32_t slotOfArg(uint32_t arg) noexcept {
    uint32_t slot = 0;
    for (uint32_t i = 0; i < count; ++i) slot += argOf[i] < arg;
    return slot;
  }
  static constexpr bool eachWatchesAnArgument() noexcept {
    for (uint32_t i = 0; i < count; ++i) {
      if (argOf[i] >= ArgsOf<ArgsT>::count) return false;
    }
    return true;
  }
  static constexpr bool argumentsWatchedOnce() noexcept {
    for (uint32_t i = 0; i < count; ++i) {
      for (uint32_t j = i + 1; j < count; ++j) {
        if (argOf[i] == argOf[j]) return false;
      }
    }
    return true;
  }
  template <class D>
  static constexpr uint32_t find() noexcept {
    uint32_t i = 0, at = count;
    ((std::is_same_v<typename I::Declaration, D> && at == count ? void(at = i) : void(), ++i), ...);
    return at;
  }
};

}  // namespace detail

// An input declared with a member that is not one of the machine's arguments.
template <class InputsT, class ArgsT>
concept InputsWatchArguments = detail::InputsOf<InputsT, ArgsT>::eachWatchesAnArgument();

template <class ArgsT, class StreamsT, class PipelinesT, class InputsT, class OutputsT>
  requires InputsWatchArguments<InputsT, ArgsT>
struct SmDeclaration {
  using Args = ArgsT;
  using Inputs = InputsT;
  static_assert(detail::InputsOf<InputsT, ArgsT>::argumentsWatchedOnce(),
                "SmDeclaration: two inputs watch the same argument");
  static constexpr uint32_t inputCount = detail::InputsOf<InputsT, ArgsT>::count;
  using Streams = StreamsT;
  using Pipelines = PipelinesT;
  using Outputs = OutputsT;

  // The slot of the input SM declared by D.
  template <class D>
  static constexpr uint32_t slotOf() noexcept {
    using In = detail::InputsOf<InputsT, ArgsT>;
    constexpr uint32_t i = In::template find<D>();
    static_assert(i < In::count, "SmDeclaration: slotOf<D>: D is not one of the machine's SmInputs");
    return In::slotOfArg(In::argOf[i]);
  }
  template <class D>
  static constexpr uint32_t slot = slotOf<D>();
};

// The declaration of the commonest shape: one input entity read by one input SM, one
// output entity written by one output, and the one stream and pipeline entry such a
// machine has ("strm_pipeline0", "eventToStrm_pipeline0").
template <class InputDecl, Name InAccessor, auto In, Name OutAccessor, auto Out, auto Output>
using OneInputSmDeclaration =
    SmDeclaration<SmArgs<SmArg<InAccessor, In>, SmArg<OutAccessor, Out>>, SmStreams<"strm_pipeline0">,
                  SmPipelines<"eventToStrm_pipeline0">, SmInputs<SmInput<InputDecl, In>>, SmOutputs<Output>>;

template <Name N, class Sm>
Tr RootSm::pipeline(Sm const& sm) noexcept {
  using P = typename Sm::Declaration::Pipelines;
  static_assert(P::template has<N>, "pipeline<N>: N is not one of the machine's SmPipelines");
  return Tr{sm, N.text, P::find(N.text)};
}

template <class Sm>
void RootSm::declare(Sm* self) {
  using D = typename Sm::Declaration;
  declareMembers(typename D::Args{}, typename D::Outputs{}, self);
  declareNames(D::Streams::names, D::Streams::count, D::Pipelines::names, D::Pipelines::count, D::inputCount);
  createInputs_ = [](RootSm& root) { createDeclared(static_cast<Sm&>(root), typename D::Inputs{}); };
}

template <class Sm, class... A, auto... O>
void RootSm::declareMembers(SmArgs<A...>, SmOutputs<O...>, Sm* self) {
  argsDeclare({ArgState(A::accessor, self->*A::member)...});
  (outputDeclare(self->*O), ...);
}

// The member an input watches holds the entity its declaration reads.
template <class In, class Sm>
concept WatchesItsEntity =
    std::is_convertible_v<std::remove_cvref_t<decltype(std::declval<Sm&>().*In::watched)>,
                          Ptr<typename In::Declaration::Entity const>>;

template <class Sm, class... I>
void RootSm::createDeclared(Sm& sm, SmInputs<I...>) {
  using D = typename Sm::Declaration;
  static_assert((WatchesItsEntity<I, Sm> && ...), "SmInput: a watched member does not hold the entity its input reads");
  (sm.inputSmIs(D::template slot<typename I::Declaration>, inputSmMake<typename I::Declaration>(sm.*I::watched, sm)),
   ...);
}

template <class Sm, class... I>
void inputTypesRegister(SmInputs<I...>) {
  using D = typename Sm::Declaration;
  inputSmTypeRegister(InputSm::typeDataStatic());
  for (uint32_t slot = 0; slot < sizeof...(I); ++slot) {
    ((D::template slot<typename I::Declaration> == slot
          ? inputSmTypeRegister(InputOf<typename I::Declaration>::typeDataStatic())
          : void()),
     ...);
  }
}

// Run by every SM module at library load, after its input declarations: registers
// the SM's node type and its input SM types (in slot order), and makes its default
// trace handler.
template <class Sm>
Ptr<DebugHandler> smModuleLoad(char const* sourceName) {
  Ptr<DebugHandler> h = smModuleLoad(Sm::typeDataStatic(), sourceName);
  inputTypesRegister<Sm>(typename Sm::Declaration::Inputs{});
  return h;
}

}  // namespace Corvane
