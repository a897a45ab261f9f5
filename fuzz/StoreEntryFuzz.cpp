// The Redis store's entry reader: any text read from Redis, under any table of the
// wiring, is either refused with the library's errors (ParseError, RangeError,
// ReflectionError) leaving the entity as it was and silent, or applied; what is then
// read back, written again, changes nothing and announces nothing.
//
// Input: a table number byte, then lines: the key text, a kind byte line ("s" string,
// "m" set, "h" hash), then the value (the string; a member per line; field and value
// lines in turn).
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RoundTrip.h"
#include "corvane/store/TableCodec.h"
#include "tools/agent/AgentTables.h"

using namespace Corvane;

namespace {

struct Heard : Subscriber {
  int count = 0;
  void dispatch(uint32_t, void const*) override { ++count; }
};

std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t const end = text.find('\n', start);
    if (end == std::string_view::npos) {
      out.emplace_back(text.substr(start));
      break;
    }
    out.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size < 1) return 0;
  static ExampleWiring::Wiring* w = new ExampleWiring::Wiring();
  static auto* codecs = [] {
    auto* v = new std::vector<std::unique_ptr<TableCodec>>();
    auto interner = std::make_shared<PayloadInterner>();
    for (auto const& t : CorvaneAgent::wiringTables(*w)) {
      v->push_back(std::make_unique<TableCodec>(t.spec.entity, t.spec.attribute, t.spec.payloadType, interner));
    }
    return v;
  }();
  TableCodec& codec = *(*codecs)[data[0] % codecs->size()];
  std::vector<std::string> const in = lines(std::string_view(reinterpret_cast<char const*>(data + 1), size - 1));
  if (in.size() < 2) return 0;
  std::string const& key = in[0];
  RedisValue value;
  std::vector<std::string> rest(in.begin() + 2, in.end());
  if (in[1] == "s") {
    value = RedisValue::ofString(rest.empty() ? std::string() : rest[0]);
  } else if (in[1] == "m") {
    value = RedisValue::ofMembers(rest);
  } else if (in[1] == "h") {
    std::vector<std::pair<std::string, std::string>> fields;
    for (size_t i = 0; i + 1 < rest.size(); i += 2) fields.emplace_back(rest[i], rest[i + 1]);
    value = RedisValue::ofFields(std::move(fields));
  }

  Heard heard;
  codec.entity().subscriberAdd(&heard);
  RedisValue before;
  bool keyOk = true;
  try {
    codec.keyCheck(key);
    before = codec.read(key);
  } catch (std::exception const&) {
    keyOk = false;
  }
  bool refused = false;
  try {
    codec.write(key, value);
  } catch (ParseError const&) {
    refused = true;
  } catch (RangeError const&) {
    refused = true;
  } catch (ReflectionError const&) {
    refused = true;
  }
  if (refused && keyOk && (heard.count != 0 || !(codec.read(key) == before))) {
    CorvaneFuzz::failure("store entry", key, "a refused entry changed the entity");
  }
  if (keyOk) {
    RedisValue const now = codec.read(key);
    int const seen = heard.count;
    codec.write(key, now);
    if (heard.count != seen) CorvaneFuzz::failure("store entry", key, "writing back what was read announced a change");
    if (!(codec.read(key) == now)) CorvaneFuzz::failure("store entry", key, "writing back what was read changed it");
    codec.write(key, RedisValue());
  }
  codec.entity().subscriberRemove(&heard);
  return 0;
}
