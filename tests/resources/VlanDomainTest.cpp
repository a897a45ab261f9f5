// VLAN-domain feature list: names and numbers convert both ways, and bad ones are
// refused with exact texts. (Cohabitation: ResourceReflectionTest.cpp.)
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace VeltVlanDomain;
using CorvaneTest::errorText;
using CorvaneTest::ParseFault;
using CorvaneTest::parseFault;

namespace {
std::string printed(VlanDomainFeature f) {
  std::ostringstream os;
  os << f;
  return os.str();
}
}  // namespace

TEST(VlanDomainFeature, StoredInOneByteWithFixedNumbers) {
  static_assert(sizeof(VlanDomainFeature) == 1);
  EXPECT_EQ(vlanDomainFeatureValue(VlanDomainFeature::featureUnknown), 0);
  EXPECT_EQ(vlanDomainFeatureValue(VlanDomainFeature::featureVeltRoutedPort), 1);
  EXPECT_EQ(vlanDomainFeatureValue(VlanDomainFeature::featureVeltL3SubIntf), 2);
  EXPECT_EQ(vlanDomainFeatureValue(VlanDomainFeature::featureVeltVlanTrans), 3);
}

TEST(VlanDomainFeature, NamesAndNumbersRoundTrip) {
  EXPECT_EQ(vlanDomainFeatureFromName("featureVeltVlanTrans"), VlanDomainFeature::featureVeltVlanTrans);
  EXPECT_EQ(vlanDomainFeatureValue(vlanDomainFeatureFromName("featureVeltVlanTrans")), 3);
  EXPECT_EQ(printed(vlanDomainFeatureFromValue(3)), "featureVeltVlanTrans");
  EXPECT_EQ(fmt::format("{}", VlanDomainFeature::featureVeltVlanTrans), "featureVeltVlanTrans");
  for (uint32_t v = 0; v <= 3; ++v) {
    VlanDomainFeature const f = vlanDomainFeatureFromValue(v);
    EXPECT_EQ(vlanDomainFeatureFromName(printed(f)), f);
    EXPECT_EQ(vlanDomainFeatureName(f), printed(f));
  }
  EXPECT_EQ(printed(static_cast<VlanDomainFeature>(9)), "9");
  EXPECT_TRUE(vlanDomainFeatureName(static_cast<VlanDomainFeature>(9)).empty());
}

TEST(VlanDomainFeature, BadNumbersAndNamesAreRefused) {
  for (uint32_t bad : {4u, 0x100u}) {
    EXPECT_EQ(errorText<Corvane::RangeError>([&] { vlanDomainFeatureFromValue(bad); }),
              "VeltVlanDomain::VlanDomainFeature: " + std::to_string(bad) + " is not a listed feature");
  }
  for (char const* bad : {"", "featureveltvlantrans", "featureVeltVlanTrans ", "3", "VlanTrans"}) {
    EXPECT_EQ(parseFault([&] { vlanDomainFeatureFromName(bad); }),
              (ParseFault{"VeltVlanDomain::VlanDomainFeature",
                          "VeltVlanDomain::VlanDomainFeature: unknown name '" + std::string(bad) + "'"}));
  }
}
