// Platform value types: names and their round trips, orders, the range errors with
// their exact texts, and port-map text forms.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;
using namespace Hardware::Velt;
using CorvaneTest::errorText;
using CorvaneTest::ParseFault;
using CorvaneTest::parseFault;

namespace {
std::string const fapRange =
    "Hardware::Velt::FapId::value < Hardware::Velt::FapId::min or > Hardware::Velt::FapId::null not allowed";
std::string const coreRange =
    "Hardware::Velt::LocalCoreId::value < Hardware::Velt::LocalCoreId::min or > Hardware::Velt::LocalCoreId::null not "
    "allowed";
}  // namespace

TEST(IntfId, NamesParsePrintAndClassify) {
  struct Case {
    char const* name;
    char const* shortName;
    bool lag;
  } cases[] = {{"Ethernet1", "Et1", false},        {"Ethernet3/1", "Et3/1", false},
               {"Ethernet3/1/4", "Et3/1/4", false}, {"Port-Channel10", "Po10", true},
               {"CpuTm0", "CpuTm0", false},          {"Intf0x99", "Intf0x99", false}};
  for (auto const& c : cases) {
    IntfId i(c.name);
    EXPECT_EQ(i.stringValue(), c.name);
    EXPECT_EQ(i.shortName(), c.shortName);
    EXPECT_EQ(i.isPortChannelIntfId(), c.lag) << c.name;
    EXPECT_EQ(fmt::format("{}", i), c.name);
  }
  EXPECT_NE(IntfId("Ethernet3"), IntfId("Ethernet3/0"));
  EXPECT_EQ(IntfId("CpuTm2"), IntfId::cpuTm(2));
  EXPECT_EQ(IntfId().value(), 0u);
  for (char const* bad : {"", "Ethernet", "Ethernet1/", "Ethernet1x", "Port-Channel", "Eth1", "Ethernet70000",
                          "CpuTm-1", "Intf0x", "Ethernet1/2/3/4"}) {
    EXPECT_EQ(parseFault([&] { IntfId{std::string_view(bad)}; }).first, "Net::IntfId") << bad;
  }
}

TEST(IntfId, AnyValuePrintsToTextThatParsesBack) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 5000; ++i) {
    uint64_t v = rng();
    if (i % 3 == 0) v = (v & 0x0003ffffffffffffULL) | (uint64_t(1 + i % 4) << 56);  // near-canonical kinds
    IntfId id(v);
    EXPECT_EQ(IntfId(id.stringValue()), id) << id.stringValue();
  }
}

TEST(IntfId, OrdersAsUnsigned) {
  IntfId high(0x8000000000000000ULL), low(0x7fffffffffffffffULL);
  EXPECT_LT(low, high);
  EXPECT_LT(IntfId("Ethernet9"), IntfId("Port-Channel1"));
  EXPECT_LT(IntfId("Ethernet2"), IntfId("Ethernet10"));
}

TEST(VeltIds, RangesAndExactMessages) {
  EXPECT_EQ(FapId(2048).value(), 2048);
  EXPECT_TRUE(FapId().isNull());
  EXPECT_TRUE(FapId(2046).isWildcard() && FapId(2047).isWildcard() && !FapId(2045).isWildcard());
  EXPECT_EQ(errorText<RangeError>([] { FapId(2049); }), fapRange);
  EXPECT_EQ(LocalCoreId(6).value(), 6);
  EXPECT_TRUE(LocalCoreId(4).isWildcard() && LocalCoreId(5).isWildcard() && !LocalCoreId(3).isWildcard());
  EXPECT_EQ(errorText<RangeError>([] { LocalCoreId(7); }), coreRange);
  EXPECT_EQ(SystemTcamId().value(), 2048);
  EXPECT_EQ(FapPortId().value(), 256u);
  EXPECT_TRUE(FapPortId(0).isCpuTmPort() && FapPortId(7).isCpuTmPort());
  EXPECT_FALSE(FapPortId(8).isCpuTmPort() || FapPortId().isCpuTmPort());
  EXPECT_EQ(SystemTcamId::parse("17"), SystemTcamId(17));
  EXPECT_THROW(SystemTcamId::parse("17 "), ParseError);
}

// A number too large for its field is a range error however many digits it has (past
// 32 bits it once read as "not a number"); what is not a number is a parse error. The
// texts are exact.
TEST(VeltIds, TextErrorsAndExactMessages) {
  auto range = [](auto parse, std::string_view text) { return errorText<RangeError>([&] { parse(text); }); };
  auto parseTcam = [](std::string_view t) { return SystemTcamId::parse(t); };
  auto parsePortMap = [](std::string_view t) { return PortMap::parse(t); };
  std::string const tcamRange = "Hardware::Velt::SystemTcamId::value > Hardware::Velt::SystemTcamId::max not allowed";
  for (char const* big : {"65536", "4294967295", "4294967296", "6553565535", "99999999999999999999999"}) {
    EXPECT_EQ(range(parseTcam, big), tcamRange) << big;
  }
  EXPECT_EQ(SystemTcamId::parse("0065535"), SystemTcamId(65535));
  EXPECT_EQ(range(parsePortMap, "PortMap(fap=99999999999, port=1, core=1)"), fapRange);
  EXPECT_EQ(range(parsePortMap, "PortMap(fap=1, port=1, core=18446744073709551616)"), coreRange);
  EXPECT_EQ(PortMap::parse("PortMap(fap=1, port=4294967295, core=1)").fapPortId().value(), 4294967295u);

  struct Bad {
    std::function<void()> parse;
    char const* attribute;
    char const* message;
  } const bad[] = {
      {[] { SystemTcamId::parse(""); }, "Hardware::Velt::SystemTcamId",
       "Hardware::Velt::SystemTcamId: '' is not a number"},
      {[] { SystemTcamId::parse("12a"); }, "Hardware::Velt::SystemTcamId",
       "Hardware::Velt::SystemTcamId: '12a' is not a number"},
      // A port has no range beyond its 32 bits: a longer number is not a port.
      {[] { PortMap::parse("PortMap(fap=1, port=4294967296, core=1)"); }, "Hardware::Velt::PortMap",
       "Hardware::Velt::PortMap: 'PortMap(fap=1, port=4294967296, core=1)' is not of the form "
       "PortMap(fap=F, port=P, core=C)"},
      {[] { PortMap::parse("PortMap(fap=1, port=1)"); }, "Hardware::Velt::PortMap",
       "Hardware::Velt::PortMap: 'PortMap(fap=1, port=1)' is not of the form PortMap(fap=F, port=P, core=C)"},
      {[] { IntfId("Ethernet1/"); }, "Net::IntfId", "Net::IntfId: 'Ethernet1/' is not an interface name"},
  };
  for (Bad const& b : bad) EXPECT_EQ(parseFault(b.parse), (ParseFault{b.attribute, b.message}));
}

TEST(PortMap, DefaultOrderHashAndText) {
  PortMap d;
  EXPECT_EQ(d.fapId().value(), 2048);
  EXPECT_EQ(d.fapPortId().value(), 256u);
  EXPECT_EQ(d.localCoreId().value(), 6);
  PortMap a(FapId(3), FapPortId(17), LocalCoreId(1));
  EXPECT_EQ(textForm(a), "PortMap(fap=3, port=17, core=1)");
  EXPECT_EQ(PortMap::parse(textForm(a)), a);
  EXPECT_EQ(PortMap::parse(textForm(d)), d);
  // Field order decides: FAP, then port, then core.
  EXPECT_LT(a, PortMap(FapId(4), FapPortId(0), LocalCoreId(0)));
  EXPECT_LT(a, PortMap(FapId(3), FapPortId(18), LocalCoreId(0)));
  EXPECT_LT(a, PortMap(FapId(3), FapPortId(17), LocalCoreId(2)));
  EXPECT_EQ(a <=> a, std::strong_ordering::equal);
  EXPECT_EQ(a.hash(5), PortMap(FapId(3), FapPortId(17), LocalCoreId(1)).hash(5));
  EXPECT_NE(a.hash(0), a.hash(1));
  EXPECT_THROW(PortMap::parse("PortMap(fap=2049, port=1, core=1)"), RangeError);
  EXPECT_THROW(PortMap::parse("PortMap(fap=1, port=1, core=7)"), RangeError);
  EXPECT_THROW(PortMap::parse("PortMap(fap=1, port=1, core=1)x"), ParseError);
  EXPECT_THROW(PortMap::parse("PortMap(fap=1,port=1,core=1)"), ParseError);
}

TEST(LagHwMemberInfo, PrintsTextThatParsesBackAndRefusesOtherText) {
  for (LagHwMemberInfo const m : {LagHwMemberInfo(), LagHwMemberInfo(7, true), LagHwMemberInfo(4294967295u, false)}) {
    EXPECT_EQ(LagHwMemberInfo::parse(textForm(m)), m) << textForm(m);
    EXPECT_EQ(Reflect::parse("Hardware::Velt::LagHwMemberInfo", textForm(m)), textForm(m));
  }
  EXPECT_EQ(textForm(LagHwMemberInfo(7, true)), "LagHwMemberInfo(index=7, active=true)");
  EXPECT_EQ(errorText<RangeError>([] { LagHwMemberInfo::parse("LagHwMemberInfo(index=4294967296, active=true)"); }),
            "Hardware::Velt::LagHwMemberInfo: index 4294967296 is above 4294967295");
  for (char const* bad : {"", "LagHwMemberInfo(index=1, active=yes)", "LagHwMemberInfo(index=, active=true)",
                          "LagHwMemberInfo(index=-1, active=true)", "LagHwMemberInfo(index=1,active=true)",
                          "LagHwMemberInfo(index=1, active=true)x", "LagHwMemberInfo(index=1, active=true",
                          "LagHwMemberInfo(active=true, index=1)"}) {
    EXPECT_EQ(parseFault([&] { LagHwMemberInfo::parse(bad); }),
              (ParseFault{"Hardware::Velt::LagHwMemberInfo",
                          "Hardware::Velt::LagHwMemberInfo: '" + std::string(bad) +
                              "' is not of the form LagHwMemberInfo(index=N, active=true|false)"}));
  }
}
