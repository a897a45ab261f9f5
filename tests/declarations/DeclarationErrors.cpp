// Input declarations that must not compile, one per CASE, each failing with a
// message that names what is wrong. CASE 0 is the well-formed control.
#include "corvane/engine/InputSm.h"
#include "corvane/platform/VeltStatus.h"

namespace Corvane {
namespace {

using Hardware::Velt::Status;
using Hardware::Velt::SystemTcamId;

struct Sm {
  uint32_t stream_ = 0;
  int32_t signedStream_ = 0;
  void entry(IntfId, std::optional<SystemTcamId> const&) {}
  void wrongEntry(IntfId, std::optional<int> const&) {}
  SystemTcamId count() const { return SystemTcamId(); }
};

#if CASE == 0
using Decl = ValueInput<"Sm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                        Feed<0, "handleA0", &Sm::stream_, &Sm::entry>>;
#elif CASE == 1  // the stream is not the uint32_t member streamsDeclare fills
using Decl = ValueInput<"Sm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                        Feed<0, "handleA0", &Sm::signedStream_, &Sm::entry>>;
#elif CASE == 2  // the entry does not take the collection's value
using Decl = ValueInput<"Sm0", attribute(&Status::intfIdToSystemTcamId), Status::attrIntfIdToSystemTcamId, "a",
                        Feed<0, "handleA0", &Sm::stream_, &Sm::wrongEntry>>;
#elif CASE == 3  // the accessor does not read a keyed collection
using Decl = ValueInput<"Sm0", attribute(&Sm::count), 1, "a", Feed<0, "handleA0", &Sm::stream_, &Sm::entry>>;
#elif CASE == 4  // a followed attribute that is neither optional nor a reference that can be null
using Decl = FollowAttr<"Sm1", attribute(&Sm::count), 1, "handleB1", &Sm::entry>;
#endif

#if CASE != 4
[[maybe_unused]] void use(Sm& sm) {
  Decl::event(sm, 0, IntfId(), [] { return std::optional<SystemTcamId>(); });
}
#else
[[maybe_unused]] Decl const* declared = nullptr;
#endif

}  // namespace
}  // namespace Corvane
