// Net::IntfId names: "EthernetA[/B[/C]]", "Port-ChannelN", "CpuTmN", "Intf0x<hex>".
// Besides the text round trip, the input's first eight bytes taken as a raw value must
// print to a name that parses back to that value: every IntfId has a text form.
#include <cstdint>
#include <cstring>

#include "RoundTrip.h"
#include "corvane/platform/IntfId.h"

using Net::IntfId;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);
  auto const parse = [](std::string_view s) { return IntfId(s); };

  if (auto v = CorvaneFuzz::checkRoundTrip<IntfId>("Net::IntfId", parse, text)) {
    (void)v->shortName();
  }
  CorvaneFuzz::checkPrefix<IntfId>(
      "Net::IntfId", [](std::string_view s, IntfId& out) { return IntfId::parsePrefix(s, out); }, parse, text);

  uint64_t raw = 0;
  std::memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
  IntfId const id(raw);
  std::string const name = id.stringValue();
  auto back = CorvaneFuzz::tryParse<IntfId>(parse, name);
  if (!back || *back != id) CorvaneFuzz::failure("Net::IntfId value", name, "the name does not parse back");
  (void)id.shortName();
  return 0;
}
