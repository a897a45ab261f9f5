// In-LIF text forms: InLifResourceKey, InLifKey (which nests a resource key) and
// InLifEntry, which never parses whole (its VLAN-edit key has no reader) but must
// fail cleanly wherever the text goes wrong.
#include <cstdint>

#include "RoundTrip.h"
#include "corvane/resources/InLifResourceTypes.h"

using VeltInLif::InLifEntry;
using VeltInLif::InLifKey;
using VeltInLif::InLifResourceKey;

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  std::string_view const text(reinterpret_cast<char const*>(data), size);

  auto const parseResKey = [](std::string_view s) { return InLifResourceKey::parse(s); };
  CorvaneFuzz::checkRoundTrip<InLifResourceKey>("InLifResourceKey", parseResKey, text);
  CorvaneFuzz::checkPrefix<InLifResourceKey>(
      "InLifResourceKey",
      [](std::string_view s, InLifResourceKey& out) { return InLifResourceKey::parsePrefix(s, out); }, parseResKey,
      text);

  auto const parseKey = [](std::string_view s) { return InLifKey::parse(s); };
  CorvaneFuzz::checkRoundTrip<InLifKey>("InLifKey", parseKey, text);
  CorvaneFuzz::checkPrefix<InLifKey>(
      "InLifKey", [](std::string_view s, InLifKey& out) { return InLifKey::parsePrefix(s, out); }, parseKey, text);

  if (CorvaneFuzz::tryParse<InLifEntry>([](std::string_view s) { return InLifEntry::parse(s); }, text)) {
    CorvaneFuzz::failure("InLifEntry", text, "an entry parsed, but the VLAN-edit key has no text reader");
  }
  return 0;
}
