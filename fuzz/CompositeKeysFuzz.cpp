// The composite keys of the data model: "(intfId, systemTcamId)" and
// "(intfId, PortMap(...))". Every input goes to both readers.
#include <cstdint>

#include "RoundTrip.h"
#include "corvane/model/FeatureConfigStatus.h"

using Corvane::IntfIdPortMap;
using Corvane::IntfIdSystemTcamId;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);

  auto const parseTcamKey = [](std::string_view s) { return IntfIdSystemTcamId::parse(s); };
  if (auto k = CorvaneFuzz::checkRoundTrip<IntfIdSystemTcamId>("IntfIdSystemTcamId", parseTcamKey, text)) {
    // The constructor from text is the same reader.
    if (!(IntfIdSystemTcamId(text) == *k)) CorvaneFuzz::failure("IntfIdSystemTcamId", text, "constructor differs");
  }
  CorvaneFuzz::checkPrefix<IntfIdSystemTcamId>(
      "IntfIdSystemTcamId",
      [](std::string_view s, IntfIdSystemTcamId& out) { return IntfIdSystemTcamId::parsePrefix(s, out); },
      parseTcamKey, text);

  auto const parsePortMapKey = [](std::string_view s) { return IntfIdPortMap::parse(s); };
  if (auto k = CorvaneFuzz::checkRoundTrip<IntfIdPortMap>("IntfIdPortMap", parsePortMapKey, text)) {
    if (!(IntfIdPortMap(text) == *k)) CorvaneFuzz::failure("IntfIdPortMap", text, "constructor differs");
  }
  CorvaneFuzz::checkPrefix<IntfIdPortMap>(
      "IntfIdPortMap", [](std::string_view s, IntfIdPortMap& out) { return IntfIdPortMap::parsePrefix(s, out); },
      parsePortMapKey, text);
  return 0;
}
