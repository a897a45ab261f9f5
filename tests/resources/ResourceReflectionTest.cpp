// The resource modules through the generic interface: every enumerator of the feature
// and resource-kind lists answers the utility operations as the static functions do
// (errors included), enumerations parse by name and number, and the misuses refuse
// with the interface's own errors.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using Corvane::ParseError;
using Corvane::Reflect;
using Corvane::ReflectionError;
using Corvane::reflectText;

namespace {

// The static function's text answer, or the type and text of what it raised.
template <class E, class R>
std::string direct(R (*fn)(E), uint64_t value) {
  try {
    return reflectText(fn(static_cast<E>(value)));
  } catch (Corvane::InternalError const& e) {
    return std::string("InternalError: ") + e.what();
  }
}

std::string reflected(char const* type, char const* op, std::string const& arg) {
  try {
    return Reflect::call(type, op, {arg});
  } catch (Corvane::InternalError const& e) {
    return std::string("InternalError: ") + e.what();
  }
}

// Every enumeration of the modules finds its table, the nested direction included.
static_assert(Corvane::ReflectEnum<Corvane::VlanOp::VlanOpDir> && Corvane::ReflectEnum<Corvane::EveProfile> &&
              Corvane::ReflectEnum<VeltInLif::ResultType> && Corvane::ReflectEnum<VeltVlanDomain::VlanDomainFeature>);

struct Walk {
  char const* enumeration;
  size_t enumerators;
  char const* utility;
  char const* op;
  std::function<std::string(uint64_t)> direct;
};

}  // namespace

TEST(ResourceReflection, UtilityOperationsAnswerAsTheStaticFunctionsForEveryEnumerator) {
  Walk const walks[] = {
      {"VeltInLif::InLifFeature", 10, "VeltInLif::InLifFeatureUtil", "isFeatureCohab",
       [](uint64_t v) { return direct(&VeltInLif::InLifFeatureUtil::isFeatureCohab, v); }},
      {"VeltInLif::InLifResourceType", 10, "VeltInLif::InLifResourceUtil", "resourceToTableType",
       [](uint64_t v) { return direct(&VeltInLif::InLifResourceUtil::resourceToTableType, v); }},
      {"VeltVlanEdit::VlanEditFeature", 7, "VeltVlanEdit::VlanEditFeatureUtil", "isFeatureCohab",
       [](uint64_t v) { return direct(&VeltVlanEdit::VlanEditFeatureUtil::isFeatureCohab, v); }},
      {"VeltVlanDomain::VlanDomainFeature", 4, "VeltVlanDomain::VlanDomainFeatureUtil", "isFeatureCohab",
       [](uint64_t v) { return direct(&VeltVlanDomain::VlanDomainFeatureUtil::isFeatureCohab, v); }},
  };
  size_t refused = 0;
  for (Walk const& w : walks) {
    Corvane::TypeDescription const& d = Reflect::description(Reflect::type(w.enumeration));
    EXPECT_EQ(d.kind, Corvane::TypeKind::enumeration) << w.enumeration;
    ASSERT_EQ(d.enumerators.size(), w.enumerators) << w.enumeration;
    for (Corvane::EnumeratorDesc const& e : d.enumerators) {
      std::string const expected = w.direct(e.value);
      EXPECT_EQ(reflected(w.utility, w.op, e.name), expected) << w.enumeration << "::" << e.name;
      // The number reads as the same enumerator.
      EXPECT_EQ(reflected(w.utility, w.op, std::to_string(e.value)), expected) << w.enumeration << "::" << e.name;
      refused += expected.starts_with("InternalError");
    }
  }
  // unknown and l2SubIntf have no table.
  EXPECT_EQ(refused, 2u);
  EXPECT_EQ(Reflect::call("VeltInLif::InLifFeatureUtil", "isFeatureCohab", {"featureVeltMpls"}), "false");
  EXPECT_EQ(Reflect::call("VeltInLif::InLifResourceUtil", "resourceToTableType", {"switchPort"}), "inLif1");
}

// Each feature list: cohabitation by number, as listed, and any number past the list
// is the caller's error.
TEST(ResourceReflection, FeatureListsCohabitAsListedAndRefuseNumbersPastThem) {
  struct List {
    std::function<std::string(uint64_t)> cohab;
    char const* listed;  // 1: cohabits, 0: does not, per number from 0
    std::vector<uint64_t> unlisted;
  } const lists[] = {
      {[](uint64_t v) { return direct(&VeltInLif::InLifFeatureUtil::isFeatureCohab, v); }, "1111011011", {10, 255}},
      {[](uint64_t v) { return direct(&VeltVlanEdit::VlanEditFeatureUtil::isFeatureCohab, v); }, "1111111", {7, 200}},
      {[](uint64_t v) { return direct(&VeltVlanDomain::VlanDomainFeatureUtil::isFeatureCohab, v); }, "1111",
       {4, 5, 128, 255}},
  };
  for (List const& l : lists) {
    SCOPED_TRACE(l.listed);
    for (uint64_t v = 0; l.listed[v]; ++v) EXPECT_EQ(l.cohab(v), l.listed[v] == '1' ? "true" : "false") << v;
    for (uint64_t v : l.unlisted) {
      EXPECT_EQ(l.cohab(v), "InternalError: feature has to be defined as either cohab or non-cohab") << v;
    }
  }
}

TEST(ResourceReflection, EveryTypeIsRegistered) {
  for (char const* name : {"Corvane::TagFormat", "Corvane::VlanOp", "Corvane::IngressVlanOp", "Corvane::EgressVlanOp",
                           "Corvane::VlanEditResourceKey", "VeltVlanEdit::VlanEditFeatureUtil",
                           "VeltInLif::InLifResourceKey", "VeltInLif::InLifKey", "VeltInLif::InLifEntry",
                           "VeltInLif::InLifResourceUtil", "VeltInLif::InLifFeatureUtil"}) {
    EXPECT_NE(Corvane::TypeRegistry::type(name), nullptr) << name;
  }
  EXPECT_EQ(Corvane::TypeRegistry::type("Corvane::EgressVlanOp")->parent(), &Reflect::type("Corvane::VlanOp"));
  EXPECT_EQ(Corvane::TypeRegistry::type("VeltVlanDomain::VlanDomainFeatureUtil"),
            &VeltVlanDomain::VlanDomainFeatureUtil::typeDataStatic());
}

TEST(ResourceReflection, ParsingOrderAndMisuse) {
  EXPECT_EQ(Reflect::parse("VeltInLif::InLifFeature", "featureVeltMpls"), "featureVeltMpls");
  EXPECT_EQ(Reflect::parse("VeltInLif::InLifFeature", "4"), "featureVeltMpls");
  EXPECT_EQ(Reflect::parse("Corvane::VlanOp::VlanOpDir", "2"), "egress");
  // Values without an enumerator are neither names nor listed numbers.
  EXPECT_EQ(Reflect::parse("Corvane::IveVlanIdSource", "iveVidSrcOuterTag"), "iveVidSrcOuterTag");
  for (char const* bad : {"1", "featureVeltMpls", "", "6"}) {
    EXPECT_THROW(Reflect::parse("Corvane::IveVlanIdSource", bad), ParseError) << bad;
  }
  EXPECT_THROW(Reflect::parse("VeltVlanDomain::VlanDomainFeature", "featureVeltMpls"), ParseError);
  EXPECT_THROW(Reflect::call("VeltInLif::InLifFeatureUtil", "isFeatureCohab", {"featureB "}), ParseError);

  // Value types read and print their own text; the VLAN-edit key cannot be read.
  EXPECT_EQ(Reflect::parse("Corvane::TagFormat", "7"), "7");
  EXPECT_EQ(Reflect::parse("Corvane::EgressVlanOp", "Corvane::EgressVlanOp(dword0=0x10, direction=egress)"),
            "Corvane::EgressVlanOp(dword0=0x10, direction=egress)");
  EXPECT_EQ(Reflect::description(Reflect::type("Corvane::VlanEditResourceKey")).kind, Corvane::TypeKind::valueType);
  EXPECT_THROW(Reflect::parse("Corvane::VlanEditResourceKey", "x"), ReflectionError);

  // Each module registers its enumerations before its other types.
  for (auto [enumeration, other] : {std::pair{"VeltInLif::ResultType", "VeltInLif::InLifResourceKey"},
                                    std::pair{"VeltVlanEdit::VlanEditFeature", "Corvane::TagFormat"},
                                    std::pair{"VeltVlanDomain::VlanDomainFeature", "VeltVlanDomain::VlanDomainFeatureUtil"}}) {
    EXPECT_TRUE(CorvaneTest::registeredInOrder({&Reflect::type(enumeration), &Reflect::type(other)}));
  }

  EXPECT_THROW(Reflect::call("VeltInLif::InLifFeatureUtil", "isFeatureCohab", {}), ReflectionError);
  EXPECT_THROW(Reflect::call("VeltVlanDomain::VlanDomainFeatureUtil", "isFeatureCohab", {"featureUnknown", "x"}),
               ReflectionError);
  EXPECT_THROW(Reflect::call("VeltVlanEdit::VlanEditFeatureUtil", "isFeatureCohabit", {"featureA"}), ReflectionError);

  for (char const* type : {"Corvane::TagFormat", "Corvane::IveProfile"}) {
    EXPECT_EQ(CorvaneTest::errorText<ReflectionError>([&] { Reflect::constructFromPbMessage(type, ""); }),
              "Only value types support constructFromPbMessage")
        << type;
    EXPECT_EQ(CorvaneTest::errorText<ReflectionError>([&] { Reflect::writePbMessage(type, "7"); }),
              "Only value types support witePbMessage")
        << type;
  }
}
