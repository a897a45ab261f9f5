// Input and machine declarations that must not compile, one per CASE, each failing
// with a message that names what is wrong. CASE 0 is the well-formed control.
#include "corvane/config/ConfigExpSm.h"
#include "corvane/engine/Operators.h"
#include "corvane/engine/SmDeclaration.h"
#include "corvane/model/IntfTcamTypes.h"
#include "corvane/model/LagTypes.h"
#include "corvane/platform/LagConfig.h"
#include "corvane/platform/VeltStatus.h"

namespace Corvane {
namespace {

using Hardware::Velt::Status;
using Hardware::Velt::SystemTcamId;

struct Sm {
  struct Declaration {
    using Streams = SmStreams<"stream">;
  };
  void entry(IntfId, std::optional<SystemTcamId> const&) {}
  void wrongEntry(IntfId, std::optional<int> const&) {}
  SystemTcamId count() const { return SystemTcamId(); }
};

#if CASE == 0
using Decl = ValueInput<"Sm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                        Feed<0, "handleA0", "stream", &Sm::entry>>;
#elif CASE == 1  // the stream is not one the machine declared
using Decl = ValueInput<"Sm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                        Feed<0, "handleA0", "undeclared", &Sm::entry>>;
#elif CASE == 2  // the entry does not take the collection's value
using Decl = ValueInput<"Sm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                        Feed<0, "handleA0", "stream", &Sm::wrongEntry>>;
#elif CASE == 3  // the accessor does not read a keyed collection
using Decl = ValueInput<"Sm0", attribute(&Sm::count), 1, "a", Feed<0, "handleA0", "stream", &Sm::entry>>;
#elif CASE == 4  // a followed attribute that is neither optional nor a reference that can be null
using Decl = FollowAttr<"Sm1", attribute(&Sm::count), 1, "handleB1", &Sm::entry>;
#endif

#if CASE == 4
[[maybe_unused]] Decl const* declared = nullptr;
#elif CASE < 4
[[maybe_unused]] void use(Sm& sm) {
  Decl::event(sm, 0, IntfId(), [] { return std::optional<SystemTcamId>(); });
  [[maybe_unused]] int32_t flag = Decl::flag(0);
}
#endif

}  // namespace

// A whole machine: its declaration names each input's argument, each stream and
// each pipeline entry; cases 5 to 9 get one of them wrong.
class Machine : public RootSm {
 public:
  Machine();
  void entry(IntfId, std::optional<SystemTcamId> const&) {}
  void run() const;
  struct StatusSm0;
  struct Other;

 private:
  Ptr<Status const> status_;
  Ptr<Lag::Config const> lagConfig_;

 public:
#if CASE == 6  // more pipeline entries than the engine counts
  using Pipelines = SmPipelines<"entry", "b", "c", "d", "e">;
#else
  using Pipelines = SmPipelines<"entry">;
#endif
#if CASE == 7  // an input on a member that is not one of the arguments
  using Watched = SmInputs<SmInput<StatusSm0, &Machine::status_>>;
  using Arguments = SmArgs<SmArg<"lagConfig()", &Machine::lagConfig_>>;
#elif CASE == 9  // an input on an argument that holds another entity
  using Watched = SmInputs<SmInput<StatusSm0, &Machine::lagConfig_>>;
  using Arguments = SmArgs<SmArg<"lagConfig()", &Machine::lagConfig_>>;
#else
  using Watched = SmInputs<SmInput<StatusSm0, &Machine::status_>>;
  using Arguments = SmArgs<SmArg<"status()", &Machine::status_>, SmArg<"lagConfig()", &Machine::lagConfig_>>;
#endif
  using Declaration = SmDeclaration<Arguments, SmStreams<"stream">, Pipelines, Watched, SmOutputs<>>;
};

struct Machine::StatusSm0
    : ValueInput<"StatusSm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                 Feed<0, "handleA0", "stream", &Machine::entry>> {};

Machine::Machine() : RootSm("Machine", SmControl()) { declare(this); }

void Machine::run() const {
#if CASE == 5  // a pipeline entry the machine did not declare
  [[maybe_unused]] auto tr = pipeline<"undeclared">(*this);
#else
  [[maybe_unused]] auto tr = pipeline<"entry">(*this);
#endif
#if CASE == 8  // the slot of an input the machine did not declare
  [[maybe_unused]] uint32_t slot = Declaration::slot<Other>;
#else
  [[maybe_unused]] uint32_t slot = Declaration::slot<StatusSm0>;
#endif
}

// The roles a template asks its parameter to play, each with one member missing:
// cases 10 to 13.
struct Traits : ConfigExpTraits {
#if CASE == 10  // expansion traits without the filter's text
  using filterText = void;
#endif
};
struct Flat : PortToLag::OutputAdapter {
#if CASE == 11  // a flat output's adapter that cannot erase
  using erase = void;
#endif
};
struct Nested : IntfToTcamSet::OutputAdapter {
#if CASE == 12  // a nested output's adapter that cannot delete an outer entry
  using outerDel = void;
#endif
};
struct Unhashed {
  friend bool operator==(Unhashed, Unhashed) = default;
};
#if CASE == 13  // a cache keyed by a type without a hash
using CacheKey = Unhashed;
#else
using CacheKey = IntfId;
#endif

[[maybe_unused]] ConfigExpansionSm<Traits>* expansion = nullptr;
[[maybe_unused]] FlatOutput<Flat, false>* flat = nullptr;
[[maybe_unused]] NestedOutput<Nested, false>* nested = nullptr;
[[maybe_unused]] Cache<CacheKey, IntfId>* cache = nullptr;

}  // namespace Corvane
