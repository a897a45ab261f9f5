// Every table of the wiring written from its Redis form and read back unchanged,
// through the entities' setters only: one notification per real change, none for
// a value the entity already holds, nothing changed by a value that does not parse.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "corvane/Corvane.h"
#include "corvane/store/TableCodec.h"
#include "tests/support/Support.h"
#include "tools/agent/AgentTables.h"

using namespace Corvane;
using CorvaneTest::Heard;

namespace {

RedisValue str(std::string s) { return RedisValue::ofString(std::move(s)); }
RedisValue set(std::vector<std::string> m) { return RedisValue::ofMembers(std::move(m)); }
RedisValue hash(std::vector<std::pair<std::string, std::string>> f) { return RedisValue::ofFields(std::move(f)); }

struct Codecs {
  ExampleWiring::Wiring w;
  std::shared_ptr<PayloadInterner> interner = std::make_shared<PayloadInterner>();
  std::map<std::string, std::unique_ptr<TableCodec>> byName;
  Codecs() {
    for (auto const& t : CorvaneAgent::wiringTables(w)) {
      byName.emplace(t.spec.name, std::make_unique<TableCodec>(t.spec.entity, t.spec.attribute, t.spec.payloadType, interner));
    }
  }
  TableCodec& operator[](std::string const& name) { return *byName.at(name); }
};

}  // namespace

TEST(TableCodec, EveryTableOfTheWiringReadsBackWhatWasWritten) {
  Codecs c;
  std::string const pm = "PortMap(fap=3, port=17, core=1)";
  struct Case {
    char const* table;
    std::string key;
    RedisValue value;
    RedisValue changed;
  };
  std::vector<Case> const cases = {
      {"VELT_STATUS", "Ethernet1", str("3"), str("4")},
      {"VELT_LAG_STATUS", "Port-Channel1",
       hash({{"Ethernet1", "LagHwMemberInfo(index=0, active=true)"}, {"Ethernet2", "LagHwMemberInfo(index=1, active=false)"}}),
       hash({{"Ethernet2", "LagHwMemberInfo(index=1, active=true)"}, {"Ethernet3", "LagHwMemberInfo(index=2, active=true)"}})},
      {"LAG_CONFIG", "Ethernet1", hash({{"lag", "Port-Channel1"}}), hash({{"lag", "Port-Channel2"}})},
      {"PORT_MAP", "Ethernet1", str(pm), str("PortMap(fap=3, port=18, core=1)")},
      {"FEATURE_CONFIG", "Ethernet1", hash({{"vlan", "10"}}), hash({{"vlan", "11"}})},
      {"PORT_TO_LAG", "Ethernet1", str("Port-Channel1"), str("Port-Channel2")},
      {"PORT_MAP_TO_INTF", pm, str("Ethernet1"), str("Ethernet2")},
      {"INTF_TCAM_SET", "Ethernet1", set({"1", "3"}), set({"3", "4"})},
      {"INTF_PORT_MAP_SET", "Port-Channel1", set({pm}), set({pm, "PortMap(fap=2046, port=17, core=4)"})},
      {"MEMBER_CONFIG", "Ethernet1", hash({{"vlan", "10"}}), hash({{"vlan", "12"}})},
      {"TCAM_CONFIG", "(Ethernet1, 3)", hash({{"vlan", "10"}}), hash({{"vlan", "13"}})},
      {"PORT_MAP_CONFIG", "(Ethernet1, " + pm + ")", hash({{"vlan", "10"}}), hash({{"vlan", "14"}})},
      {"TCAM_STATUS", "(Ethernet1, 3)", hash({{"state", "ok"}}), hash({{"state", "failed"}})},
      {"PER_TCAM_STATUS", "Ethernet1", hash({{"3.state", "ok"}, {"4.state", "pending"}}),
       hash({{"4.state", "failed"}, {"5.state", "ok"}})},
      {"FEATURE_STATUS", "Ethernet1", hash({{"state", "pending"}}), hash({{"state", "ok"}})},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(k.table);
    TableCodec& codec = c[k.table];
    EXPECT_EQ(codec.kind(), k.value.kind);
    Heard heard(codec.entity());
    EXPECT_TRUE(codec.read(k.key).absent());
    codec.write(k.key, k.value);
    EXPECT_EQ(codec.read(k.key), k.value);
    std::vector<std::string> keys;
    codec.keys([&](std::string const& key, Node const*) { keys.push_back(key); });
    EXPECT_EQ(keys, std::vector<std::string>{k.key});
    // The same value again changes nothing, so nothing is announced.
    int const before = heard.n;
    std::optional<Heard> inner;  // what the child of the entry announces
    if (Node const* child = codec.child(k.key)) inner.emplace(static_cast<Entity const&>(*child));
    codec.write(k.key, k.value);
    EXPECT_EQ(heard.n, before);
    EXPECT_EQ(inner ? inner->n : 0, 0);
    codec.write(k.key, k.changed);
    EXPECT_EQ(codec.read(k.key), k.changed);
    EXPECT_GT(heard.n + (inner ? inner->n : 0), before);
    inner.reset();
    codec.write(k.key, RedisValue());
    EXPECT_TRUE(codec.read(k.key).absent());
  }
}

// Payloads (and the LAG a port names) read back are shared, one object per text: a
// LAG's payload is one object under every key, and writing what a key holds again,
// even spelt another way, keeps its object.
TEST(TableCodec, PayloadsAndReferentsAreOneObjectPerText) {
  Codecs c;
  c["FEATURE_CONFIG"].write("Ethernet1", hash({{"vlan", "10"}}));
  c["FEATURE_CONFIG"].write("Ethernet2", hash({{"vlan", "010"}}));
  Ptr<FeatureConfigBase const> const first = c.w.featureConfig->config(IntfId("Ethernet1"));
  EXPECT_EQ(first.get(), c.w.featureConfig->config(IntfId("Ethernet2")).get());
  c["LAG_CONFIG"].write("Ethernet1", hash({{"lag", "Port-Channel1"}}));
  c["LAG_CONFIG"].write("Ethernet2", hash({{"lag", "Port-Channel1"}}));
  EXPECT_EQ(c.w.lagConfig->phyIntf(IntfId("Ethernet1"))->lag().get(), c.w.lagConfig->phyIntf(IntfId("Ethernet2"))->lag().get());
}

// A value that does not parse changes nothing and announces nothing, whatever part
// of it is wrong.
TEST(TableCodec, BadValuesChangeNothing) {
  Codecs c;
  c["VELT_STATUS"].write("Ethernet1", str("3"));
  c["INTF_TCAM_SET"].write("Ethernet1", set({"3"}));
  c["PER_TCAM_STATUS"].write("Ethernet1", hash({{"3.state", "ok"}}));
  c["LAG_CONFIG"].write("Ethernet1", hash({{"lag", "Port-Channel1"}}));
  struct Case {
    char const* table;
    char const* key;
    RedisValue value;
  };
  std::vector<Case> const cases = {
      {"VELT_STATUS", "Ethernet01", str("3")},          // a key not written the canonical way
      {"VELT_STATUS", "Bogus1", str("3")},              // a key that does not parse
      {"VELT_STATUS", "Ethernet1", str("three")},       // a value that does not parse
      {"VELT_STATUS", "Ethernet1", str("70000")},       // out of range
      {"VELT_STATUS", "Ethernet1", set({"3"})},         // the wrong Redis type
      {"INTF_TCAM_SET", "Ethernet1", set({"3", "x"})},  // one bad member among good ones
      {"INTF_TCAM_SET", "Ethernet1", set({"03"})},      // a member not written the canonical way
      {"PER_TCAM_STATUS", "Ethernet1", hash({{"3.state", "ok"}, {"4.state", "bogus"}})},
      {"PER_TCAM_STATUS", "Ethernet1", hash({{"3.colour", "ok"}})},
      {"PER_TCAM_STATUS", "Ethernet1", hash({{"state", "ok"}})},
      {"FEATURE_CONFIG", "Ethernet1", hash({{"vlan", "10"}, {"extra", "1"}})},
      {"FEATURE_CONFIG", "Ethernet1", hash({{"colour", "red"}})},
      {"LAG_CONFIG", "Ethernet1", hash({{"lag", "Ethernet7/x"}})},
      {"LAG_CONFIG", "Ethernet1", hash({{"lag", "Port-Channel2"}, {"speed", "fast"}})},
  };
  for (Case const& k : cases) {
    SCOPED_TRACE(std::string(k.table) + " " + k.key + " " + k.value.text());
    TableCodec& codec = c[k.table];
    RedisValue const before = codec.read("Ethernet1");
    Heard heard(codec.entity());
    EXPECT_ANY_THROW(codec.write(k.key, k.value));
    EXPECT_EQ(heard.n, 0);
    EXPECT_EQ(codec.read("Ethernet1"), before);
  }
  EXPECT_THROW(TableCodec(c.w.featureConfig, "config", "", nullptr), ReflectionError);
  EXPECT_THROW(TableCodec(c.w.featureConfig, "nothing", "", nullptr), ReflectionError);
}

// The commands that take a key from one value to another: none for equal values,
// only the members and fields that differ otherwise, and a fresh start for another
// kind.
TEST(RedisValue, WriteCommandsAreTheDifference) {
  auto cmds = [](RedisValue const& from, RedisValue const& to) {
    std::vector<std::vector<std::string>> out;
    redisWriteCommands("k", from, to, out);
    std::vector<std::string> lines;
    for (auto const& c : out) {
      std::string line;
      for (auto const& a : c) line += (line.empty() ? "" : " ") + a;
      lines.push_back(line);
    }
    return lines;
  };
  using L = std::vector<std::string>;
  EXPECT_EQ(cmds(str("a"), str("a")), L{});
  EXPECT_EQ(cmds(RedisValue(), str("a")), L{"SET k a"});
  EXPECT_EQ(cmds(str("a"), RedisValue()), L{"DEL k"});
  EXPECT_EQ(cmds(set({"1", "2"}), set({"2", "3"})), (L{"SADD k 3", "SREM k 1"}));
  EXPECT_EQ(cmds(hash({{"a", "1"}, {"b", "2"}}), hash({{"b", "3"}, {"c", "4"}})), (L{"HSET k b 3 c 4", "HDEL k a"}));
  EXPECT_EQ(cmds(str("x"), set({"1"})), (L{"DEL k", "SADD k 1"}));
  EXPECT_EQ(set({}), RedisValue()) << "Redis holds no empty set";
  EXPECT_EQ(hash({{"a", "1"}, {"a", "2"}}), hash({{"a", "2"}})) << "the last value of a field wins";

  // The packed form the store keeps of what Redis holds: read back whole, and
  // different for different values (texts longer than one length byte, empty ones).
  std::string const longText(300, 'x');
  std::vector<RedisValue> const values{RedisValue(), str(""), str("a"), set({"", "1", longText}), set({"1", longText}),
                                       hash({{"", longText}, {"b", ""}}), hash({{"b", ""}})};
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(RedisValue::unpacked(values[i].packed()), values[i]) << values[i].text();
    for (size_t j = 0; j < i; ++j) EXPECT_NE(values[i].packed(), values[j].packed()) << values[i].text();
  }
}
