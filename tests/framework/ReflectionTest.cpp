// The registry's descriptions and the generic interface over the library's own
// entities: what an agent's configuration or debugging layer reaches by name only.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "corvane/Corvane.h"

using namespace Corvane;

namespace {

struct Recorder : Subscriber {
  std::vector<std::pair<uint32_t, bool>> calls;  // attribute, with a key
  void dispatch(uint32_t attrId, void const* key) override { calls.emplace_back(attrId, key != nullptr); }
};

}  // namespace

TEST(Reflection, EveryLibraryTypeIsDescribedUnderItsName) {
  std::pair<char const*, TypeKind> const expected[] = {
      {"Net::IntfId", TypeKind::valueType},
      {"Hardware::Velt::PortMap", TypeKind::valueType},
      {"Hardware::Velt::Status", TypeKind::entity},
      {"Hardware::VeltLag::Status", TypeKind::entity},
      {"Lag::Config", TypeKind::entity},
      {"RedundancyStatus", TypeKind::entity},
      {"Corvane::IntfIdSystemTcamId", TypeKind::valueType},
      {"Corvane::IntfToTcamSet", TypeKind::entity},
      {"Corvane::TcamSet", TypeKind::entity},
      {"Corvane::IntfToPortMapSet", TypeKind::entity},
      {"Corvane::PortMapToIntf", TypeKind::entity},
      {"Corvane::PortToLag", TypeKind::entity},
      {"Corvane::IntfIdToPortMap", TypeKind::entity},
      {"Corvane::IntfTcamFeatureConfig", TypeKind::entity},
      {"Corvane::Directory", TypeKind::entity},
      {"Corvane::Task", TypeKind::entity},
      {"Corvane::DebugHandler", TypeKind::node},
      {"Corvane::RootSm", TypeKind::rootSm},
      {"Corvane::IntfTcamSm", TypeKind::rootSm},
      {"Corvane::IntfFeatureStatusSm", TypeKind::rootSm},
      {"Corvane::FeatureStatusMergeSmBase", TypeKind::rootSm},
      {"Corvane::IntfTcamSm::VeltStatusSm0", TypeKind::inputSm},
  };
  for (auto const& [name, kind] : expected) {
    TypeData const* t = TypeRegistry::type(name);
    ASSERT_NE(t, nullptr) << name;
    EXPECT_EQ(Reflect::description(*t).kind, kind) << name;
  }
  // Every state machine lists its control attributes through its base.
  for (char const* a : {"taskScheduler", "taskPriority", "defaultSynchronous", "ready", "idle"}) {
    EXPECT_NO_THROW(Reflect::attribute(IntfTcamSm::typeDataStatic(), a)) << a;
  }
  EXPECT_EQ(Reflect::attribute(IntfIdToPortMap::typeDataStatic(), "intfIdToPortMap").kind, AttrKind::collection);
  EXPECT_EQ(Reflect::attribute(IntfToTcamSet::typeDataStatic(), "intfToTcamSet").kind,
            AttrKind::instantiatingCollection);
  EXPECT_EQ(Reflect::attribute(IntfIdToPortMap::typeDataStatic(), "delayedNotifHolder").kind, AttrKind::reference);
  EXPECT_EQ(Reflect::attribute(IntfIdToPortMap::typeDataStatic(), "triggerDelayedNotif").kind, AttrKind::action);
  // A trace handler's mask, set by name as an agent's CLI would.
  Ptr<DebugHandler> h = getDebugHandler("IntfTcamSm");
  uint16_t const mask = h->levelMask();
  Reflect::write(*h, "levelMask", "640");
  EXPECT_EQ(h->levelMask(), 640);
  EXPECT_THROW(Reflect::write(*h, "levelMask", "65536"), RangeError);
  h->levelMaskIs(mask);
  // A number is read whole: trailing text is refused, in range or not.
  EXPECT_EQ(reflectParseSigned("n", "-12", -100, 100), -12);
  EXPECT_THROW(reflectParseSigned("n", "12x", -100, 100), ParseError);
  EXPECT_THROW(reflectParseUnsigned("n", "12x", 100), ParseError);
  EXPECT_THROW(reflectParseSigned("n", "-101", -100, 100), RangeError);
  try {
    Reflect::type("Corvane::Nothing");
    ADD_FAILURE();
  } catch (ReflectionError const& e) {
    EXPECT_STREQ(e.what(), "unknown type 'Corvane::Nothing'");
  }
  // A described type keeps its description when a second one arrives, also when the
  // first has operations only.
  TypeData const& util = VeltInLif::InLifResourceUtil::typeDataStatic();
  TypeRegistry::typeRegister(util, Describe<VeltInLif::InLifResourceUtil>(TypeKind::utility).done());
  ASSERT_EQ(Reflect::description(util).operations.size(), 1u);
  EXPECT_EQ(Reflect::description(util).operations[0].name, "resourceToTableType");
}

TEST(Reflection, DelayedNotificationThroughTheGenericInterface) {
  Ptr<IntfIdToPortMap> table = intfIdToPortMapFactory("portMaps");
  Recorder rec;
  table->subscriberAdd(&rec);
  Reflect::referenceWrite(*table, "delayedNotifHolder", DelayedNotifHolder::DelayedNotifHolderIs());
  ASSERT_TRUE(table->delayedNotifHolder());
  rec.calls.clear();
  table->intfIdToPortMapIs(IntfId("Ethernet1"), Hardware::Velt::PortMap::parse("PortMap(fap=1, port=2, core=0)"));
  EXPECT_TRUE(rec.calls.empty()) << "held back until triggered";
  Reflect::run(*table, "triggerDelayedNotif");
  EXPECT_EQ(rec.calls.size(), 1u);
  EXPECT_EQ(Reflect::read(*table, "intfIdToPortMap", "Ethernet1"),
            textForm(table->intfIdToPortMap(IntfId("Ethernet1"))));
  EXPECT_EQ(Reflect::read(*table, "intfIdToPortMap", "Ethernet2"), std::nullopt);
  EXPECT_THROW(Reflect::read(*table, "intfIdToPortMap", "Nonsense9"), ParseError);
  EXPECT_THROW(Reflect::run(*table, "intfIdToPortMap"), ReflectionError);
  EXPECT_THROW(Reflect::write(*table, "intfIdToPortMap", "x"), ReflectionError);
  Reflect::referenceWrite(*table, "delayedNotifHolder", nullptr);
  EXPECT_FALSE(table->delayedNotifHolder());
  table->subscriberRemove(&rec);
}

TEST(Reflection, RecursivePublishAndDumpFollowChildren) {
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("sets");
  sets->intfToTcamSetIs(IntfId("Ethernet1"))->tcamSetIs(SystemTcamId(3));
  sets->intfToTcamSetIs(IntfId("Ethernet1"))->tcamSetIs(SystemTcamId(4));
  sets->intfToTcamSetIs(IntfId("Ethernet2"));
  Recorder outer;
  Recorder inner;
  sets->subscriberAdd(&outer);
  sets->intfToTcamSet(IntfId("Ethernet1"))->subscriberAdd(&inner);
  sets->publishChangeRecursive();
  EXPECT_EQ(outer.calls.size(), 2u);
  EXPECT_EQ(inner.calls.size(), 2u);
  for (auto const& c : inner.calls) EXPECT_EQ(c, std::make_pair(TcamSet::attrTcamSet, true));
  sets->intfToTcamSet(IntfId("Ethernet1"))->subscriberRemove(&inner);
  sets->subscriberRemove(&outer);

  auto const j = nlohmann::json::parse(Reflect::json(*sets));
  EXPECT_EQ(j["name"], "sets");
  EXPECT_EQ(j["intfToTcamSet"]["Ethernet1"]["tcamSet"].size(), 2u);
  EXPECT_EQ(j["intfToTcamSet"]["Ethernet2"]["intfId"], "Ethernet2");
}
