// Hardware::Velt text forms: SystemTcamId (decimal) and PortMap
// ("PortMap(fap=F, port=P, core=C)"). Every input goes to both readers.
#include <cstdint>

#include "RoundTrip.h"
#include "corvane/platform/VeltTypes.h"

using Hardware::Velt::PortMap;
using Hardware::Velt::SystemTcamId;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);

  auto const parseTcam = [](std::string_view s) { return SystemTcamId::parse(s); };
  CorvaneFuzz::checkRoundTrip<SystemTcamId>("SystemTcamId", parseTcam, text);
  // A number, however long, is an id or out of range: never "not a number".
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos) {
    try {
      (void)SystemTcamId::parse(text);
    } catch (Corvane::ParseError const& e) {
      CorvaneFuzz::failure("SystemTcamId", text, e.what());
    } catch (Corvane::RangeError const&) {
    }
  }
  CorvaneFuzz::checkPrefix<SystemTcamId>(
      "SystemTcamId", [](std::string_view s, SystemTcamId& out) { return SystemTcamId::parsePrefix(s, out); },
      parseTcam, text);

  auto const parsePortMap = [](std::string_view s) { return PortMap::parse(s); };
  CorvaneFuzz::checkRoundTrip<PortMap>("PortMap", parsePortMap, text);
  CorvaneFuzz::checkPrefix<PortMap>(
      "PortMap", [](std::string_view s, PortMap& out) { return PortMap::parsePrefix(s, out); }, parsePortMap, text);
  return 0;
}
