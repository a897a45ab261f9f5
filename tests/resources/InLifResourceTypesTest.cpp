// In-LIF descriptors: the table and cohabitation rules with their error texts, key
// truth values and orders, entry defaults and field widths, and text round trips with
// bad fields reported by attribute name.
#include <gtest/gtest.h>

#include <string>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace VeltInLif;
using CorvaneTest::errorText;
using CorvaneTest::ParseFault;
using CorvaneTest::parseFault;
using Corvane::InternalError;
using Corvane::ParseError;
using Corvane::RangeError;
using Corvane::textForm;

TEST(InLifResourceUtil, TableOfEachKind) {
  EXPECT_EQ(uint8_t(InLifTableType::inLif1), 0);
  EXPECT_EQ(uint8_t(InLifTableType::inLif23), 1);
  EXPECT_EQ(uint8_t(InLifTableType::inLif0), 2);
  for (auto t : {InLifResourceType::dropLif, InLifResourceType::routedPort, InLifResourceType::decapLfib,
                 InLifResourceType::l3SubIntf, InLifResourceType::switchPort, InLifResourceType::vrfSelection,
                 InLifResourceType::vlanTrans, InLifResourceType::reflectorPort}) {
    EXPECT_EQ(InLifResourceUtil::resourceToTableType(t), InLifTableType::inLif1) << textForm(t);
  }
  for (auto [t, message] : {std::pair{InLifResourceType::unknown, "Unknown InLifResourceType unknown"},
                            std::pair{InLifResourceType::l2SubIntf, "Unknown InLifResourceType l2SubIntf"},
                            std::pair{InLifResourceType{10}, "Unknown InLifResourceType 10"}}) {
    EXPECT_EQ(errorText<InternalError>([type = t] { InLifResourceUtil::resourceToTableType(type); }), message);
  }
}

TEST(InLifKeys, TruthOrderAndHash) {
  EXPECT_FALSE(InLifResourceKey());
  EXPECT_TRUE(InLifResourceKey(InLifResourceType::dropLif, 0, 0));
  EXPECT_TRUE(InLifResourceKey(InLifResourceType::unknown, 0, 1));
  InLifResourceKey k(InLifResourceType::unknown, 0, 0);
  k.dword0Is(4);
  EXPECT_TRUE(k);
  EXPECT_EQ(k.dword0(), 4u);

  // type, then dword0, then dword1 as unsigned 64-bit numbers.
  using T = InLifResourceType;
  EXPECT_LT(InLifResourceKey(T::switchPort, 7, 1), InLifResourceKey(T::switchPort, 7, uint64_t{1} << 63));
  EXPECT_LT(InLifResourceKey(T::switchPort, 7, ~uint64_t{0}), InLifResourceKey(T::switchPort, 8, 0));
  EXPECT_LT(InLifResourceKey(T::dropLif, ~uint64_t{0}, 0), InLifResourceKey(T::routedPort, 0, 0));

  InLifResourceKey const rk(T::vlanTrans, 1, 2);
  EXPECT_FALSE(InLifKey());
  EXPECT_FALSE(InLifKey(InLifTableType::inLif1, InLifResourceKey()));
  EXPECT_TRUE(InLifKey(InLifTableType::inLif1, rk));
  EXPECT_TRUE(InLifKey(InLifTableType::inLif0, InLifResourceKey()));
  EXPECT_LT(InLifKey(InLifTableType::inLif23, rk), InLifKey(InLifTableType::inLif0, rk));
  EXPECT_LT(InLifKey(InLifTableType::inLif1, InLifResourceKey(T::reflectorPort, 9, 9)),
            InLifKey(InLifTableType::inLif23, InLifResourceKey()));
  EXPECT_EQ(InLifKey(InLifTableType::inLif0, rk).resKey(), rk);

  // Swapping the words must not collide: the hash follows the attribute order.
  EXPECT_NE(hashValue(InLifResourceKey(T::vlanTrans, 1, 2)), hashValue(InLifResourceKey(T::vlanTrans, 2, 1)));
  EXPECT_NE(hashValue(InLifKey(InLifTableType::inLif0, rk)), hashValue(InLifKey(InLifTableType::inLif23, rk)));
  EXPECT_NE(rk.hash(1), rk.hash(2));
}

TEST(InLifKeys, TextRoundTrips) {
  InLifResourceKey const rk(InLifResourceType::reflectorPort, ~uint64_t{0}, 12);
  std::string const t = textForm(rk);
  EXPECT_EQ(t, "VeltInLif::InLifResourceKey(type=reflectorPort, dword0=18446744073709551615, dword1=12)");
  EXPECT_EQ(InLifResourceKey(t), rk);
  InLifKey const key(InLifTableType::inLif23, rk);
  EXPECT_EQ(InLifKey(textForm(key)), key);
  EXPECT_EQ(fmt::format("{}", key), textForm(key));
}

// Every way the reader can fail, with the exact text: type, attribute, fault.
TEST(InLifKeys, ErrorTextsNameTypeAttributeAndFault) {
  std::string const rk = "VeltInLif::InLifResourceKey(type=dropLif, dword0=1, dword1=0)";
  std::string const entry =
      "VeltInLif::InLifEntry(resultType=acMp, fodoAssignmentMode=0, fodo=0, propagationProf=0, learnEnable=0, "
      "learnInfo=0, learnPayloadContext=0, statObjectCmd=0, statObjectId=0, destination=0, intfId=Ethernet1, ";
  struct Bad {
    std::string text;
    char const* attribute;
    char const* message;
  } const bad[] = {
      {"VeltInLif::InLifKey[table=inLif1]", "VeltInLif::InLifKey",
       "VeltInLif::InLifKey: error deserializing attribute VeltInLif::InLifKey: does not start with the type name"},
      {"VeltInLif::InLifResourceKey(type=dropLif, dword0=, dword1=0)", "dword0",
       "VeltInLif::InLifResourceKey: error deserializing attribute dword0: expected a number"},
      {"VeltInLif::InLifResourceKey(type=dropLif, dword0=18446744073709551616, dword1=0)", "dword0",
       "VeltInLif::InLifResourceKey: error deserializing attribute dword0: value 18446744073709551616 does not fit "
       "64 bits"},
      {"VeltInLif::InLifResourceKey(type=l4SubIntf, dword0=1, dword1=0)", "type",
       "VeltInLif::InLifResourceKey: error deserializing attribute type: 'l4SubIntf' is not an enumerator"},
      {"VeltInLif::InLifResourceKey(type=dropLif; dword0=1, dword1=0)", "dword0",
       "VeltInLif::InLifResourceKey: error deserializing attribute dword0: expected ', ' before the attribute"},
      {"VeltInLif::InLifResourceKey(type=dropLif, dword2=1, dword1=0)", "dword0",
       "VeltInLif::InLifResourceKey: error deserializing attribute dword0: missing attribute"},
      {"VeltInLif::InLifResourceKey(type=dropLif, dword0=1)", "dword1",
       "VeltInLif::InLifResourceKey: error deserializing attribute dword1: expected ', ' before the attribute"},
      {"VeltInLif::InLifKey(table=inLif2, resKey=" + rk + ")", "table",
       "VeltInLif::InLifKey: error deserializing attribute table: 'inLif2' is not an enumerator"},
      {"VeltInLif::InLifKey(table=inLif0)", "resKey",
       "VeltInLif::InLifKey: error deserializing attribute resKey: expected ', ' before the attribute"},
      {"VeltInLif::InLifResourceKey(type=dropLif, dword0=1, dword1=0", "VeltInLif::InLifResourceKey",
       "VeltInLif::InLifResourceKey: error deserializing attribute VeltInLif::InLifResourceKey: expected ')' after "
       "the last attribute"},
      {rk + ")", "VeltInLif::InLifResourceKey",
       "VeltInLif::InLifResourceKey: unexpected text after the value: ')'"},
      // A nested key's own error passes through unchanged.
      {"VeltInLif::InLifKey(table=inLif0, resKey=VeltInLif::InLifResourceKey(type=dropLif, dword0=x, dword1=0))",
       "dword0", "VeltInLif::InLifResourceKey: error deserializing attribute dword0: expected a number"},
      {"VeltInLif::InLifKey(table=inLif0, resKey=" + rk + ")x", "VeltInLif::InLifKey",
       "VeltInLif::InLifKey: unexpected text after the value: 'x'"},
      // Nested values read by their own readers: a range error keeps its text, anything else cannot parse.
      {entry + "systemTcamId=65536, vlanEditResourceKey=", "systemTcamId",
       "VeltInLif::InLifEntry: error deserializing attribute systemTcamId: "
       "Hardware::Velt::SystemTcamId::value > Hardware::Velt::SystemTcamId::max not allowed"},
      {entry + "systemTcamId=x, vlanEditResourceKey=", "systemTcamId",
       "VeltInLif::InLifEntry: error deserializing attribute systemTcamId: cannot parse the value"},
      {"VeltInLif::InLifEntry(resultType=acMp, fodoAssignmentMode=0, fodo=4096", "fodo",
       "VeltInLif::InLifEntry: error deserializing attribute fodo: value 4096 does not fit 12 bits"},
  };
  for (Bad const& b : bad) {
    EXPECT_EQ(parseFault([&] {
                if (b.text.rfind("VeltInLif::InLifKey", 0) == 0) {
                  InLifKey::parse(b.text);
                } else if (b.text.rfind("VeltInLif::InLifEntry", 0) == 0) {
                  InLifEntry::parse(b.text);
                } else {
                  InLifResourceKey::parse(b.text);
                }
              }),
              (ParseFault{b.attribute, b.message}))
        << b.text;
  }
}

TEST(InLifEntry, DefaultsAndTruth) {
  InLifEntry e(ResultType::acMp);
  EXPECT_EQ(e, InLifEntry());
  EXPECT_FALSE(e);
  EXPECT_EQ(e.systemTcamId().value(), 2048);
  EXPECT_EQ(e.intfId(), Net::IntfId());
  EXPECT_FALSE(e.vlanEditResourceKey());
  e.learnEnableIs(1);
  EXPECT_TRUE(e);
  e.learnEnableIs(0);
  EXPECT_FALSE(e);

  // Any single departure from the default makes an entry true and unequal.
  auto changed = [](auto change) {
    InLifEntry x;
    change(x);
    return x;
  };
  InLifEntry const departures[] = {
      changed([](InLifEntry& x) { x.fodoIs(1); }),
      changed([](InLifEntry& x) { x.destinationIs(1); }),
      changed([](InLifEntry& x) { x.vlanEditVid1Is(4095); }),
      changed([](InLifEntry& x) { x.intfIdIs(Net::IntfId("Ethernet1")); }),
      changed([](InLifEntry& x) { x.systemTcamIdIs(Hardware::Velt::SystemTcamId(0)); }),
      changed([](InLifEntry& x) {
        Corvane::VlanEditResourceKey k;
        k.vlanOpSetIs(Corvane::TagFormat(2), Corvane::IngressVlanOp(1));
        x.vlanEditResourceKeyIs(k);
      }),
  };
  for (InLifEntry const& d : departures) {
    EXPECT_TRUE(d) << textForm(d);
    EXPECT_NE(d, InLifEntry());
    EXPECT_NE(hashValue(d), hashValue(InLifEntry())) << textForm(d);
  }
}

TEST(InLifEntry, FieldWidths) {
  struct Width {
    char const* name;
    unsigned bits;
    void (InLifEntry::*set)(uint32_t);
    uint32_t (*get)(InLifEntry const&);
  };
#define WIDTH(n, b) Width{#n, b, &InLifEntry::n##Is, [](InLifEntry const& x) { return uint32_t(x.n()); }}
  Width const widths[] = {WIDTH(fodoAssignmentMode, 1), WIDTH(fodo, 12),          WIDTH(propagationProf, 1),
                          WIDTH(learnEnable, 1),        WIDTH(learnInfo, 21),     WIDTH(learnPayloadContext, 4),
                          WIDTH(statObjectCmd, 5),      WIDTH(statObjectId, 13),  WIDTH(destination, 21),
                          WIDTH(vlanEditVid1, 12)};
#undef WIDTH
  for (Width const& w : widths) {
    InLifEntry e;
    uint32_t const max = (uint32_t{1} << w.bits) - 1;
    (e.*w.set)(max);
    EXPECT_EQ(w.get(e), max) << w.name;
    InLifEntry const before = e;
    EXPECT_EQ(errorText<RangeError>([&] { (e.*w.set)(max + 1); }),
              "VeltInLif::InLifEntry::" + std::string(w.name) + " > " + std::to_string(max) + " not allowed");
    EXPECT_EQ(e, before) << w.name;
  }
}

TEST(InLifEntry, TextStopsAtTheVlanEditKey) {
  InLifEntry e;
  e.fodoIs(100);
  e.learnInfoIs((1u << 21) - 1);
  e.intfIdIs(Net::IntfId("Ethernet3/1"));
  e.systemTcamIdIs(Hardware::Velt::SystemTcamId(7));
  std::string const t = textForm(e);
  EXPECT_EQ(t.rfind("VeltInLif::InLifEntry(resultType=acMp, fodoAssignmentMode=0, fodo=100, ", 0), 0u) << t;
  EXPECT_NE(t.find(", learnInfo=2097151, "), std::string::npos) << t;
  EXPECT_NE(t.find(", intfId=Ethernet3/1, systemTcamId=7, vlanEditResourceKey="), std::string::npos) << t;
  EXPECT_EQ(parseFault([&] { InLifEntry{std::string_view(t)}; }),
            (ParseFault{"vlanEditResourceKey", "No String constructor for VlanEditResourceKey - has collection"}));

  // Fields before the key are still checked, each by its own name.
  auto replaced = [&t](std::string const& from, std::string const& to) {
    std::string s = t;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  struct Bad {
    std::string text;
    char const* attribute;
  } const bad[] = {{replaced("learnInfo=2097151", "learnInfo=2097152"), "learnInfo"},
                   {replaced("statObjectCmd=0", "statObjectCmd=32"), "statObjectCmd"},
                   {replaced("fodoAssignmentMode=0", "fodoAssignmentMode=2"), "fodoAssignmentMode"},
                   {replaced("intfId=Ethernet3/1", "intfId=bogus"), "intfId"},
                   {replaced("resultType=acMp", "resultType=acSp"), "resultType"}};
  for (Bad const& b : bad) {
    EXPECT_EQ(parseFault([&] { InLifEntry{std::string_view(b.text)}; }).first, b.attribute) << b.text;
  }
}

TEST(InLifEnums, PrintTheirNames) {
  EXPECT_EQ(textForm(InLifResourceType::vrfSelection), "vrfSelection");
  EXPECT_EQ(fmt::format("{}", InLifTableType::inLif0), "inLif0");
  EXPECT_EQ(textForm(ResultType::acMp), "acMp");
}
