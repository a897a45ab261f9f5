// Text forms of the composite keys: round trips through both constructors, and bad
// text refused with the exact message, naming the key or the field that failed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;

TEST(CompositeKeys, TextRoundTrips) {
  IntfIdSystemTcamId const t(IntfId("Ethernet3/1"), SystemTcamId(65535));
  EXPECT_EQ(textForm(t), "(Ethernet3/1, 65535)");
  EXPECT_EQ(IntfIdSystemTcamId::parse(textForm(t)), t);
  EXPECT_EQ(IntfIdSystemTcamId(std::string_view("(Intf0x0, 0)")), IntfIdSystemTcamId(IntfId(), SystemTcamId(0)));

  IntfIdPortMap const p(IntfId("Port-Channel7"), PortMap(Hardware::Velt::FapId(2046), Hardware::Velt::FapPortId(0),
                                                         Hardware::Velt::LocalCoreId(4)));
  EXPECT_EQ(textForm(p), "(Port-Channel7, PortMap(fap=2046, port=0, core=4))");
  EXPECT_EQ(fmt::format("{}", p), textForm(p));
  EXPECT_EQ(IntfIdPortMap(std::string_view(textForm(p))), p);
  EXPECT_EQ(IntfIdPortMap::parse(textForm(IntfIdPortMap())), IntfIdPortMap());
}

TEST(CompositeKeys, BadTextNamesTheKeyOrTheFieldExactly) {
  struct Bad {
    std::function<void()> parse;
    char const* attribute;
    char const* message;
  } const bad[] = {
      // A second field out of range is reported against that field.
      {[] { IntfIdSystemTcamId::parse("(Ethernet1, 65536)"); }, "systemTcamId",
       "Corvane::IntfIdSystemTcamId: error deserializing attribute systemTcamId: "
       "Hardware::Velt::SystemTcamId::value > Hardware::Velt::SystemTcamId::max not allowed"},
      {[] { IntfIdPortMap::parse("(Ethernet1, PortMap(fap=2049, port=1, core=1))"); }, "portMap",
       "Corvane::IntfIdPortMap: error deserializing attribute portMap: "
       "Hardware::Velt::FapId::value < Hardware::Velt::FapId::min or > Hardware::Velt::FapId::null not allowed"},
      {[] { IntfIdPortMap::parse("(Ethernet1, PortMap(fap=1, port=1, core=7))"); }, "portMap",
       "Corvane::IntfIdPortMap: error deserializing attribute portMap: "
       "Hardware::Velt::LocalCoreId::value < Hardware::Velt::LocalCoreId::min or > "
       "Hardware::Velt::LocalCoreId::null not allowed"},
      // Anything else that does not read as a key is the key's own error.
      {[] { IntfIdSystemTcamId::parse("(Ethernet1 5)"); }, "Corvane::IntfIdSystemTcamId",
       "Corvane::IntfIdSystemTcamId: cannot parse '(Ethernet1 5)'"},
      {[] { IntfIdSystemTcamId::parse(""); }, "Corvane::IntfIdSystemTcamId",
       "Corvane::IntfIdSystemTcamId: cannot parse ''"},
      {[] { IntfIdSystemTcamId::parse("[Ethernet1, 5)"); }, "Corvane::IntfIdSystemTcamId",
       "Corvane::IntfIdSystemTcamId: cannot parse '[Ethernet1, 5)'"},
      {[] { IntfIdPortMap::parse("(Eth1, PortMap(fap=1, port=1, core=1))"); }, "Corvane::IntfIdPortMap",
       "Corvane::IntfIdPortMap: cannot parse '(Eth1, PortMap(fap=1, port=1, core=1))'"},
      // A view that ends just before a closing parenthesis: nothing past it is read.
      {[] { IntfIdSystemTcamId::parse(std::string_view("(Ethernet1, 5)").substr(0, 13)); },
       "Corvane::IntfIdSystemTcamId", "Corvane::IntfIdSystemTcamId: cannot parse '(Ethernet1, 5'"},
      {[] { IntfIdSystemTcamId(std::string_view("(Ethernet1, 5))")); }, "Corvane::IntfIdSystemTcamId",
       "Corvane::IntfIdSystemTcamId: unexpected text after the key: ')'"},
      {[] { IntfIdPortMap::parse("(Ethernet1, PortMap(fap=1, port=1, core=1)) "); }, "Corvane::IntfIdPortMap",
       "Corvane::IntfIdPortMap: unexpected text after the key: ' '"},
  };
  for (Bad const& b : bad) {
    EXPECT_EQ(CorvaneTest::parseFault(b.parse), (CorvaneTest::ParseFault{b.attribute, b.message}));
  }
}
