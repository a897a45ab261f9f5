// VLAN-edit commands: every bit field against an independent layout table (position,
// width, neighbours, masking), the command formats, tag formats and the per-format key,
// with the exact error texts and the text forms.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::errorText;
using CorvaneTest::ParseFault;
using CorvaneTest::parseFault;
using Dir = VlanOp::VlanOpDir;

namespace {

struct Field {
  char const* name;
  unsigned pos;
  unsigned width;
  uint8_t (*get)(EgressVlanOp const&);
  void (*set)(EgressVlanOp&, uint8_t);
};

// The hardware layout, written out by hand so a slip in the accessors shows up.
#define FIELD(n, p, w) \
  Field { #n, p, w, [](EgressVlanOp const& o) { return o.n(); }, [](EgressVlanOp& o, uint8_t v) { o.n##Is(v); } }
Field const kFields[] = {
    FIELD(tagsToRemove, 0, 2),   FIELD(outerVidSrc, 2, 3),     FIELD(outerTpidIdx, 5, 4),
    FIELD(outerPcpDeiSrc, 9, 3), FIELD(innerVidSrc, 12, 3),    FIELD(innerTpidIdx, 15, 4),
    FIELD(innerPcpDeiSrc, 19, 3), FIELD(vlanMirror, 22, 2),    FIELD(vlanMembership, 24, 2),
    FIELD(removeTxTag, 26, 1),
};
#undef FIELD

uint64_t fieldMask(Field const& f) { return ((uint64_t{1} << f.width) - 1) << f.pos; }

template <class E>
std::string text(E const& v) {
  return textForm(v);
}

}  // namespace

TEST(VlanOpLayout, FieldsTileBitsZeroToTwentySix) {
  uint64_t seen = 0;
  for (Field const& f : kFields) {
    EXPECT_EQ(seen & fieldMask(f), 0u) << f.name << " overlaps";
    seen |= fieldMask(f);
  }
  EXPECT_EQ(seen, (uint64_t{1} << 27) - 1);
}

TEST(VlanOpLayout, EachFieldWritesOnlyItsBitsAndMasks) {
  std::mt19937_64 rng(7);
  for (Field const& f : kFields) {
    for (int round = 0; round < 50; ++round) {
      uint64_t const before = rng();
      EgressVlanOp op(before);
      uint8_t const v = static_cast<uint8_t>(rng());
      f.set(op, v);
      uint64_t const expected = (before & ~fieldMask(f)) | ((uint64_t{v} << f.pos) & fieldMask(f));
      ASSERT_EQ(op.dword0(), expected) << f.name << " value " << unsigned(v);
      EXPECT_EQ(f.get(op), v & ((1u << f.width) - 1)) << f.name;
      EXPECT_EQ(op.direction(), Dir::egress);
    }
    // Reading sees only the field's own bits.
    EgressVlanOp ones(~uint64_t{0});
    EXPECT_EQ(f.get(ones), (1u << f.width) - 1) << f.name;
    EXPECT_EQ(f.get(EgressVlanOp(~fieldMask(f))), 0u) << f.name;
  }
  // A TPID index past its four bits keeps the low ones (17 stores 1), as any field does.
  IngressVlanOp op(0);
  op.outerTpidIdxIs(17);
  EXPECT_EQ(op.dword0(), uint64_t{1} << 5);
  EXPECT_EQ(op.tpidIdxMax(), 3);
  EXPECT_EQ(VlanOp::tpidIdxMax(), 3);
}

TEST(VlanOp, DirectionsTruthAndOrder) {
  EXPECT_EQ(VlanOp().direction(), Dir::invalid);
  EXPECT_EQ(IngressVlanOp().direction(), Dir::ingress);
  EXPECT_EQ(EgressVlanOp().direction(), Dir::egress);
  EXPECT_EQ(IngressVlanOp().dword0(), 0u);

  // Each type is false at its own default, true anywhere else.
  EXPECT_FALSE(VlanOp());
  EXPECT_TRUE(VlanOp(Dir::ingress));
  EXPECT_TRUE(VlanOp(1, Dir::invalid));
  EXPECT_FALSE(IngressVlanOp());
  EXPECT_TRUE(IngressVlanOp(1));
  EXPECT_TRUE(IngressVlanOp(0, Dir::invalid));
  EXPECT_FALSE(EgressVlanOp());
  EXPECT_TRUE(EgressVlanOp(uint64_t{1} << 26));

  // dword0 first, as an unsigned number; direction breaks ties.
  EXPECT_LT(VlanOp(1, Dir::egress), VlanOp(2, Dir::invalid));
  EXPECT_LT(VlanOp(5, Dir::ingress), VlanOp(5, Dir::egress));
  EXPECT_LT(VlanOp(1, Dir::egress), VlanOp(uint64_t{1} << 63, Dir::invalid));
  EXPECT_EQ(IngressVlanOp(9), VlanOp(9, Dir::ingress));
  EXPECT_NE(IngressVlanOp(9), EgressVlanOp(9));
  EXPECT_NE(hashValue(VlanOp(9, Dir::ingress)), hashValue(VlanOp(9, Dir::egress)));
  EXPECT_EQ(VlanOp(9, Dir::ingress).hash(3), IngressVlanOp(9).hash(3));
  EXPECT_NE(VlanOp(9, Dir::ingress).hash(3), VlanOp(9, Dir::ingress).hash(4));
}

TEST(VlanOp, Formats) {
  uint64_t const egressBits = uint64_t{0x1f} << 22;
  EgressVlanOp plain;
  plain.tagsToRemoveIs(1);
  plain.outerVidSrcIs(uint8_t(EveVlanIdSource::eveVidSrcEditInfo3));
  plain.innerPcpDeiSrcIs(uint8_t(EvePcpDeiSource::evePcpDeiSrcMap));
  EgressVlanOp marked = plain;
  marked.removeTxTagIs(1);
  marked.vlanMirrorIs(2);
  ASSERT_NE(plain, marked);
  EXPECT_EQ(plain.vlanEditFormat(), marked.vlanEditFormat());
  EXPECT_EQ(marked.vlanEditFormat(), VlanOp(plain.dword0(), Dir::egress));
  EXPECT_EQ(marked.evecFormat(), marked.vlanEditFormat());

  // Ingress keeps every bit, egress-only ones included.
  IngressVlanOp in(egressBits | 0x3);
  EXPECT_EQ(in.vlanEditFormat(), VlanOp(egressBits | 0x3, Dir::ingress));
  EXPECT_EQ(in.evecFormat(), VlanOp(0x3, Dir::egress));
  EXPECT_EQ(EgressVlanOp(egressBits | 0x3).ivecFormat(), VlanOp(egressBits | 0x3, Dir::ingress));

  VlanOp none(0x44, Dir::invalid);
  EXPECT_EQ(none.ivecFormat(), VlanOp(0x44, Dir::ingress));
  // A command without direction has no format.
  EXPECT_EQ(errorText<InternalError>([&] { (void)none.vlanEditFormat(); }), "Unsupported direction: invalid");
}

TEST(VlanOp, TextFormRoundTrips) {
  EgressVlanOp e;
  e.innerTpidIdxIs(3);
  e.removeTxTagIs(1);
  std::string const t = text(e);
  EXPECT_EQ(t.rfind("Corvane::EgressVlanOp(dword0=", 0), 0u) << t;
  EXPECT_EQ(EgressVlanOp(t), e);
  EXPECT_EQ(fmt::format("{}", e), t);
  EXPECT_EQ(VlanOp(text(VlanOp(~uint64_t{0}, Dir::ingress))), VlanOp(~uint64_t{0}, Dir::ingress));
  EXPECT_EQ(IngressVlanOp(text(IngressVlanOp(12))), IngressVlanOp(12));
  EXPECT_EQ(text(VlanOp()), "Corvane::VlanOp(dword0=0x0, direction=invalid)");

  for (char const* bad : {"", "Corvane::VlanOp(dword0=1)", "Corvane::VlanOp(dword0=1, direction=sideways)",
                          "Corvane::VlanOp(dword0=0x1ffffffffffffffff, direction=ingress)",
                          "Corvane::IngressVlanOp(dword0=1, direction=ingress)",
                          "Corvane::VlanOp(dword0=1, direction=ingress) "}) {
    EXPECT_EQ(parseFault([&] { VlanOp{std::string_view(bad)}; }),
              (ParseFault{"Corvane::VlanOp", "Corvane::VlanOp: '" + std::string(bad) +
                                                 "' is not of the form Corvane::VlanOp(dword0=N, direction=D)"}));
  }
  // Each form reads only its own type name.
  EXPECT_EQ(parseFault([] { EgressVlanOp{std::string_view("Corvane::VlanOp(dword0=0x1, direction=egress)")}; }),
            (ParseFault{"Corvane::EgressVlanOp",
                        "Corvane::EgressVlanOp: 'Corvane::VlanOp(dword0=0x1, direction=egress)' is not of the form "
                        "Corvane::EgressVlanOp(dword0=N, direction=D)"}));
}

TEST(VlanEditEnums, PrintNamesAtTheirValues) {
  EXPECT_EQ(text(Dir::egress), "egress");
  EXPECT_EQ(text(IveVlanIdSource::iveVidSrcAcEditInfo), "iveVidSrcAcEditInfo");
  EXPECT_EQ(uint8_t(IveVlanIdSource::iveVidSrcAcEditInfo), 2);
  EXPECT_EQ(text(IveVlanIdSource{1}), "1");  // 1 has no enumerator
  EXPECT_EQ(text(IveVlanPcpDeiSource::ivePcpDeiSrcInnerTag), "ivePcpDeiSrcInnerTag");
  EXPECT_EQ(uint8_t(IveVlanPcpDeiSource::ivePcpDeiSrcInnerTag), 5);
  EXPECT_EQ(text(EveVlanIdSource::eveVidSrcEditInfo3), "eveVidSrcEditInfo3");
  EXPECT_EQ(uint8_t(EveVlanIdSource::eveVidSrcEditInfo3), 7);
  EXPECT_EQ(fmt::format("{}", EvePcpDeiSource::evePcpDeiSrcMap), "evePcpDeiSrcMap");
  EXPECT_EQ(text(IveProfile::iveProfileDefaultOp), "iveProfileDefaultOp");
  EXPECT_EQ(text(EveProfile{70000}), "70000");
  EXPECT_EQ(sizeof(IveProfile), 4u);
  EXPECT_EQ(text(StatusCode::hwResourceFull), "hwResourceFull");
  EXPECT_EQ(uint8_t(StatusCode::success), 3);
  EXPECT_EQ(text(VeltVlanEdit::VlanEditFeature::featureVeltInLif), "featureVeltInLif");
}

TEST(TagFormat, RangeTextAndOrder) {
  char const* const rangeText =
      "Corvane::TagFormat::value < ::Hardware::Velt::Invalid_ or > ::Hardware::Velt::Tag_Max_ not allowed";
  EXPECT_EQ(TagFormat(33).value(), 33);
  EXPECT_FALSE(TagFormat());
  EXPECT_FALSE(TagFormat(0));
  EXPECT_TRUE(TagFormat(1));
  EXPECT_LT(TagFormat(2), TagFormat(10));
  EXPECT_EQ(text(TagFormat(17)), "17");
  EXPECT_EQ(fmt::format("{}", TagFormat(5)), "5");
  EXPECT_EQ(TagFormat(std::string_view("33")), TagFormat(33));
  for (auto make : {+[] { return TagFormat(34u); }, +[] { return TagFormat(std::string_view("34")); },
                    +[] { return TagFormat(std::string_view("99999999999999999999999")); }}) {
    EXPECT_EQ(errorText<RangeError>(make), rangeText);
  }
  EXPECT_EQ(parseFault([] { TagFormat(std::string_view("x1")); }),
            (ParseFault{"value", "Corvane::TagFormat: 'x1' is not a number"}));
  EXPECT_THROW(TagFormat(std::string_view("3 ")), ParseError);
}

TEST(VlanEditResourceKey, SlotsSetDeleteAndIterate) {
  VlanEditResourceKey k;
  EXPECT_FALSE(k);
  EXPECT_EQ(k.vlanOpSet().size(), 34u);

  // Deleting an empty slot gives an empty command and changes nothing.
  EXPECT_EQ(k.vlanOpSetDel(TagFormat(4)), VlanOp());
  EXPECT_EQ(k, VlanEditResourceKey());

  IngressVlanOp in(0x15);
  EgressVlanOp out(0x2a);
  k.vlanOpSetIs(TagFormat(3), in);
  k.vlanOpSetIs(33u, out);
  EXPECT_TRUE(k);
  EXPECT_EQ(k.vlanOpSet(TagFormat(3)), in);
  EXPECT_EQ(k.vlanOpSet(33u), out);
  int index = 0, filled = 0;
  for (VlanOp const& op : k.vlanOpSet()) {
    if (op) {
      ++filled;
      EXPECT_TRUE(index == 3 || index == 33) << index;
    }
    ++index;
  }
  EXPECT_EQ(index, 34);
  EXPECT_EQ(filled, 2);

  EXPECT_EQ(k.vlanOpSetDel(3u), VlanOp(in));
  EXPECT_EQ(k.vlanOpSet(TagFormat(3)), VlanOp());
  k.vlanOpSetDelAll();
  EXPECT_FALSE(k);
  EXPECT_EQ(k, VlanEditResourceKey());
}

TEST(VlanEditResourceKey, BadIndexesLeaveTheKeyAlone) {
  VlanEditResourceKey k;
  k.vlanOpSetIs(TagFormat(1), IngressVlanOp(1));
  VlanEditResourceKey const before = k;
  for (uint32_t index : {34u, 1000u}) {
    std::string const outside = fmt::format("cannot access index {} of an array with size 34", index);
    EXPECT_EQ(errorText<RangeError>([&] { k.vlanOpSetIs(index, EgressVlanOp(7)); }), outside);
    EXPECT_EQ(errorText<RangeError>([&] { k.vlanOpSetDel(index); }), outside);
    EXPECT_EQ(k, before);
  }
  // Reading converts the index to a TagFormat, so it reports TagFormat's range.
  EXPECT_NE(errorText<RangeError>([&] { (void)k.vlanOpSet(34u); }).find("Tag_Max_"), std::string::npos);
}

TEST(VlanEditResourceKey, OrderHashAndText) {
  VlanEditResourceKey last;
  last.vlanOpSetIs(TagFormat(33), VlanOp(0, Dir::ingress));
  EXPECT_TRUE(last);
  EXPECT_LT(VlanEditResourceKey(), last);

  // Lexicographic over slots: an early slot outweighs any later one.
  VlanEditResourceKey early;
  early.vlanOpSetIs(TagFormat(0), VlanOp(1, Dir::invalid));
  VlanEditResourceKey late;
  late.vlanOpSetIs(TagFormat(0), VlanOp(0, Dir::egress));
  late.vlanOpSetIs(TagFormat(20), VlanOp(~uint64_t{0}, Dir::egress));
  EXPECT_LT(late, early);

  // Moving a command to another slot changes the hash.
  VlanEditResourceKey a, b;
  a.vlanOpSetIs(TagFormat(5), IngressVlanOp(3));
  b.vlanOpSetIs(TagFormat(6), IngressVlanOp(3));
  EXPECT_NE(hashValue(a), hashValue(b));
  EXPECT_EQ(hashValue(a), hashValue(VlanEditResourceKey(a)));

  EXPECT_EQ(text(a), "Corvane::VlanEditResourceKey(vlanOpSet={5: Corvane::VlanOp(dword0=0x3, direction=ingress)})");
  EXPECT_EQ(fmt::format("{}", VlanEditResourceKey()), "Corvane::VlanEditResourceKey(vlanOpSet={})");
  EXPECT_EQ(errorText<ParseError>([&] { VlanEditResourceKey{std::string_view(text(a))}; }),
            "No String constructor for VlanEditResourceKey - has collection");
}
