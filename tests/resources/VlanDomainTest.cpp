// VLAN-domain feature list: every listed feature cohabits, anything past the list is
// refused with the exact internal-error text, and names and numbers convert both ways.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "corvane/Corvane.h"

using namespace VeltVlanDomain;

namespace {
std::string printed(VlanDomainFeature f) {
  std::ostringstream os;
  os << f;
  return os.str();
}
}  // namespace

TEST(VlanDomainFeature, EveryListedFeatureCohabits) {
  EXPECT_TRUE(VlanDomainFeatureUtil::isFeatureCohab(VlanDomainFeature::featureUnknown));
  for (uint32_t v = 0; v <= 3; ++v) {
    EXPECT_TRUE(VlanDomainFeatureUtil::isFeatureCohab(vlanDomainFeatureFromValue(v))) << v;
  }
}

TEST(VlanDomainFeature, UnlistedNumbersAreTheCallersError) {
  for (unsigned v : {4u, 5u, 128u, 255u}) {
    try {
      VlanDomainFeatureUtil::isFeatureCohab(static_cast<VlanDomainFeature>(v));
      ADD_FAILURE() << v << " was accepted";
    } catch (Corvane::InternalError const& e) {
      EXPECT_STREQ(e.what(), "feature has to be defined as either cohab or non-cohab");
    }
  }
}

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
    try {
      vlanDomainFeatureFromValue(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (Corvane::RangeError const& e) {
      EXPECT_EQ(e.what(), "VeltVlanDomain::VlanDomainFeature: " + std::to_string(bad) + " is not a listed feature");
    }
  }
  for (char const* bad : {"", "featureveltvlantrans", "featureVeltVlanTrans ", "3", "VlanTrans"}) {
    try {
      vlanDomainFeatureFromName(bad);
      ADD_FAILURE() << "'" << bad << "' was accepted";
    } catch (Corvane::ParseError const& e) {
      EXPECT_EQ(e.attribute(), "VeltVlanDomain::VlanDomainFeature");
      EXPECT_EQ(e.what(), "VeltVlanDomain::VlanDomainFeature: unknown name '" + std::string(bad) + "'");
    }
  }
}

TEST(VlanDomainFeature, UtilityTypeIsRegistered) {
  EXPECT_EQ(Corvane::TypeRegistry::type("VeltVlanDomain::VlanDomainFeatureUtil"),
            &VlanDomainFeatureUtil::typeDataStatic());
}
