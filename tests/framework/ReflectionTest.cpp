// The registry's descriptions and the generic interface over the library's own
// entities: what an agent's configuration or debugging layer reaches by name only.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "corvane/Corvane.h"
#include "examples/feature/ExampleFeature.h"
#include "tests/support/Support.h"

using namespace Corvane;
using CorvaneTest::errorText;

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
  EXPECT_EQ(errorText<ReflectionError>([] { Reflect::type("Corvane::Nothing"); }), "unknown type 'Corvane::Nothing'");
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
  // Announced again for a late subscriber: each entry by its key, a single attribute once without one.
  rec.calls.clear();
  table->publishChangeRecursive();
  EXPECT_EQ(rec.calls, (std::vector<std::pair<uint32_t, bool>>{{IntfIdToPortMap::attrIntfIdToPortMap, true},
                                                               {IntfIdToPortMap::attrDelayedNotifHolder, false}}));
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

// ---- Writing collections by key text, as a store binding tables to text keys does ----

namespace {

// Names each change as a store would: the attribute found by the number the entity
// published, the key by its text.
struct ChangeLog : Subscriber {
  explicit ChangeLog(Entity const& e) : entity(e) { e.subscriberAdd(this); }
  ~ChangeLog() override { entity.subscriberRemove(this); }
  void dispatch(uint32_t attrId, void const* key) override {
    AttributeDesc const* a = Reflect::attributeById(entity.typeData(), attrId);
    if (!a) {
      changes.push_back("unknown attribute " + std::to_string(attrId));
    } else {
      changes.push_back(key ? a->name + "[" + a->keyText(key) + "]" : a->name);
    }
  }
  std::vector<std::string> take() { return std::exchange(changes, {}); }

  Entity const& entity;
  std::vector<std::string> changes;
};

using Changes = std::vector<std::string>;

// The texts a store would hold for a payload's attributes.
TypeDescription::AttributeTexts texts(std::map<std::string, std::string, std::less<>> m) {
  return [m = std::move(m)](std::string_view name) -> std::optional<std::string> {
    auto const it = m.find(name);
    return it == m.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
}

// A feature's payloads as a store needs them: node types of their own, described with
// the getters their constructors take.
class VlanConfig : public FeatureConfigBase {
  CORVANE_NODE_TYPE(VlanConfig)

  VlanConfig(uint32_t vlan, IntfId uplink) : vlan_(vlan), uplink_(uplink) {}
  uint32_t vlan() const noexcept { return vlan_; }
  IntfId uplink() const noexcept { return uplink_; }

 private:
  uint32_t vlan_;
  IntfId uplink_;
};
class VlanStatus : public FeatureStatusBase {
  CORVANE_NODE_TYPE(VlanStatus)

  explicit VlanStatus(ExampleFeature::State state) : state_(state) {}
  ExampleFeature::State state() const noexcept { return state_; }

 private:
  ExampleFeature::State state_;
};
CORVANE_NODE_TYPE_DEFINE(VlanConfig, "ReflectionTest::VlanConfig", FeatureConfigBase)
CORVANE_NODE_TYPE_DEFINE(VlanStatus, "ReflectionTest::VlanStatus", FeatureStatusBase)
[[maybe_unused]] bool const payloadsRegistered = [] {
  TypeRegistry::typeRegister(VlanConfig::typeDataStatic(),
                             Describe<VlanConfig>(TypeKind::entity)
                                 .value<&VlanConfig::vlan>("vlan")
                                 .value<&VlanConfig::uplink>("uplink")
                                 .constructor<&VlanConfig::vlan, &VlanConfig::uplink>()
                                 .done());
  TypeRegistry::typeRegister(VlanStatus::typeDataStatic(),
                             Describe<VlanStatus>(TypeKind::entity)
                                 .value<&VlanStatus::state>("state")
                                 .constructor<&VlanStatus::state>()
                                 .done());
  return true;
}();

Ptr<Node> vlanConfig(char const* vlan, char const* uplink = "Ethernet48") {
  return Reflect::createFrom(Reflect::type("ReflectionTest::VlanConfig"), texts({{"vlan", vlan}, {"uplink", uplink}}));
}
Ptr<Node> vlanStatus(char const* state) {
  return Reflect::createFrom(Reflect::type("ReflectionTest::VlanStatus"), texts({{"state", state}}));
}

// A table type deriving its collection from a registered parent.
class DerivedConfig : public IntfFeatureConfig {
  CORVANE_NODE_TYPE(DerivedConfig)
};
CORVANE_NODE_TYPE_DEFINE(DerivedConfig, "ReflectionTest::DerivedConfig", IntfFeatureConfig)

}  // namespace

TEST(ReflectionWrites, ValueMapsAndSetsAnnounceRealChangesOnly) {
  Ptr<Hardware::Velt::Status> velt = Hardware::Velt::Status::StatusIs("velt");
  ChangeLog veltLog(*velt);
  // (A repeated or changed value written from text: TableCodec.EveryTableOfTheWiringReadsBackWhatWasWritten.)
  Reflect::write(*velt, "intfIdToSystemTcamId", "Ethernet1", "3");
  EXPECT_EQ(velt->intfIdToSystemTcamId(IntfId("Ethernet1")), SystemTcamId(3));
  EXPECT_TRUE(Reflect::entryDel(*velt, "intfIdToSystemTcamId", "Ethernet1"));
  EXPECT_FALSE(Reflect::entryDel(*velt, "intfIdToSystemTcamId", "Ethernet1"));
  EXPECT_EQ(veltLog.take(), Changes(2, "intfIdToSystemTcamId[Ethernet1]"));
  EXPECT_FALSE(velt->intfIdToSystemTcamIdHas(IntfId("Ethernet1")));

  // A delete that answers the removed value (a PortMap) still tells whether one went.
  Ptr<IntfIdToPortMap> portMaps = intfIdToPortMapFactory("portMaps");
  ChangeLog portMapLog(*portMaps);
  std::string const pm = "PortMap(fap=1, port=17, core=0)";
  Reflect::write(*portMaps, "intfIdToPortMap", "Ethernet2/1", pm);
  EXPECT_EQ(portMaps->intfIdToPortMap(IntfId("Ethernet2/1")), PortMap::parse(pm));
  EXPECT_TRUE(Reflect::entryDel(*portMaps, "intfIdToPortMap", "Ethernet2/1"));
  EXPECT_FALSE(Reflect::entryDel(*portMaps, "intfIdToPortMap", "Ethernet2/1"));
  EXPECT_EQ(portMapLog.take(), Changes({"intfIdToPortMap[Ethernet2/1]", "intfIdToPortMap[Ethernet2/1]"}));

  // A set: the value text is ignored.
  Ptr<LagToMemberSet> lags = lagToMemberSetFactory();
  Ptr<Node> members = Reflect::childIs(*lags, "lagMemberSet", "Port-Channel3");
  Reflect::write(*members, "memberSet", "Ethernet5", "anything");
  EXPECT_TRUE(lags->lagMemberSet(IntfId("Port-Channel3"))->memberSetHas(IntfId("Ethernet5")));
  EXPECT_TRUE(Reflect::entryDel(*lags, "lagMemberSet", "Port-Channel3"));
  EXPECT_FALSE(lags->lagMemberSetHas(IntfId("Port-Channel3")));
}

TEST(ReflectionWrites, ChildrenAreCreatedByKeyAndFilledByName) {
  // Interface to TCAM set: the child, then its set.
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("sets");
  ChangeLog setsLog(*sets);
  Ptr<Node> child = Reflect::childIs(*sets, "intfToTcamSet", "Ethernet1");
  ASSERT_TRUE(child);
  EXPECT_EQ(child, sets->intfToTcamSet(IntfId("Ethernet1")));
  EXPECT_EQ(Reflect::childIs(*sets, "intfToTcamSet", "Ethernet1"), child) << "an existing child is returned";
  AttributeDesc const& outer = Reflect::attribute(sets->typeData(), "intfToTcamSet");
  EXPECT_EQ(outer.element(*sets, "Ethernet1"), child.get());
  EXPECT_EQ(outer.element(*sets, "Ethernet2"), nullptr);
  EXPECT_EQ(setsLog.take(), Changes{"intfToTcamSet[Ethernet1]"});
  {
    ChangeLog childLog(static_cast<Entity const&>(*child));
    Reflect::write(*child, "tcamSet", "3", "");
    Reflect::write(*child, "tcamSet", "3", "");
    Reflect::write(*child, "tcamSet", "2048", "");
    EXPECT_EQ(childLog.take(), Changes({"tcamSet[3]", "tcamSet[2048]"}));
  }
  EXPECT_TRUE(sets->intfToTcamSet(IntfId("Ethernet1"))->tcamSetHas(SystemTcamId(2048)));

  // The hardware's LAGs: the creating one-argument lagHwConfigIs, then the members.
  Ptr<Hardware::VeltLag::Status> veltLag = Hardware::VeltLag::Status::StatusIs("veltLag");
  ChangeLog lagLog(*veltLag);
  Ptr<Node> lag = Reflect::childIs(*veltLag, "lagHwConfig", "Port-Channel1");
  EXPECT_EQ(Reflect::read(*lag, "lagIntfId"), "Port-Channel1");
  Reflect::write(*lag, "memberInfo", "Ethernet3", "LagHwMemberInfo(index=2, active=true)");
  EXPECT_EQ(veltLag->lagHwConfig(IntfId("Port-Channel1"))->memberInfo(IntfId("Ethernet3")),
            Hardware::Velt::LagHwMemberInfo(2, true));
  EXPECT_EQ(lagLog.take(), Changes{"lagHwConfig[Port-Channel1]"});
  EXPECT_TRUE(Reflect::entryDel(*veltLag, "lagHwConfig", "Port-Channel1"));
  EXPECT_FALSE(Reflect::entryDel(*veltLag, "lagHwConfig", "Port-Channel1"));
  EXPECT_EQ(lagLog.take(), Changes{"lagHwConfig[Port-Channel1]"});
  // (The LAG configuration, a port's element and then its LAG reference: TableCodec's LAG_CONFIG.)
}

TEST(ReflectionWrites, PayloadsAreBuiltFromTextAndStoredByKey) {
  Ptr<Node> vlan10 = vlanConfig("10", "Port-Channel4");
  ASSERT_TRUE(vlan10);
  EXPECT_STREQ(vlan10->typeData().name(), "ReflectionTest::VlanConfig");
  EXPECT_EQ(Reflect::read(*vlan10, "vlan"), "10");
  EXPECT_EQ(Reflect::read(*vlan10, "uplink"), "Port-Channel4");
  EXPECT_EQ(static_cast<VlanConfig const&>(*vlan10).vlan(), 10u);
  EXPECT_EQ(static_cast<VlanConfig const&>(*vlan10).uplink(), IntfId("Port-Channel4"));
  EXPECT_EQ(vlan10->refCount(), 1u);

  Ptr<IntfFeatureConfig> config = intfFeatureConfigFactory();
  ChangeLog configLog(*config);
  Reflect::referenceWrite(*config, "config", "Ethernet1", vlan10);
  Reflect::referenceWrite(*config, "config", "Ethernet1", vlan10);
  EXPECT_EQ(config->config(IntfId("Ethernet1")), vlan10);
  EXPECT_EQ(Reflect::attribute(config->typeData(), "config").element(*config, "Ethernet1"), vlan10.get());
  Reflect::referenceWrite(*config, "config", "Ethernet1", vlanConfig("10", "Port-Channel4"));
  EXPECT_NE(config->config(IntfId("Ethernet1")), vlan10) << "a new object is a change, equal or not";
  Reflect::referenceWrite(*config, "config", "Ethernet1", nullptr);
  EXPECT_FALSE(config->configHas(IntfId("Ethernet1")));
  Reflect::referenceWrite(*config, "config", "Ethernet1", nullptr);
  EXPECT_EQ(configLog.take(), Changes(3, "config[Ethernet1]"));

  // Keys of every shape the wiring's payload tables use.
  Ptr<IntfTcamFeatureConfig> tcamConfig = intfTcamFeatureConfigFactory();
  Reflect::referenceWrite(*tcamConfig, "config", "(Ethernet1, 3)", vlan10);
  EXPECT_EQ(tcamConfig->config(IntfIdSystemTcamId(IntfId("Ethernet1"), SystemTcamId(3))), vlan10);

  // Statuses: per TCAM under an interface's child, and merged per interface.
  Ptr<Node> failed = vlanStatus("failed");
  EXPECT_EQ(static_cast<VlanStatus const&>(*failed).state(), ExampleFeature::State::failed);
  EXPECT_EQ(Reflect::read(*failed, "state"), "failed");
  Ptr<IntfPerTcamFeatureStatus> perTcam = intfPerTcamFeatureStatusFactory();
  Ptr<Node> perIntf = Reflect::childIs(*perTcam, "status", "Ethernet1");
  Reflect::referenceWrite(*perIntf, "status", "3", failed);
  EXPECT_EQ(perTcam->status(IntfId("Ethernet1"))->status(SystemTcamId(3)), failed);
  Ptr<IntfFeatureStatus> merged = intfFeatureStatusFactory();
  Reflect::referenceWrite(*merged, "status", "Ethernet1", vlanStatus("1"));
  EXPECT_EQ(static_cast<VlanStatus const&>(*merged->status(IntfId("Ethernet1"))).state(),
            ExampleFeature::State::pending);

  // A payload of the other kind is refused, and nothing is stored.
  EXPECT_EQ(errorText<ReflectionError>([&] { Reflect::referenceWrite(*config, "config", "Ethernet2", failed); }),
            "attribute config takes a Corvane::FeatureConfigBase, not a ReflectionTest::VlanStatus");
  EXPECT_TRUE(configLog.take().empty());

  // What the texts lack or cannot give.
  auto missing = [](TypeData const& type, TypeDescription::AttributeTexts const& t) {
    return errorText<ReflectionError>([&] { Reflect::createFrom(type, t); });
  };
  TypeData const& vlanType = Reflect::type("ReflectionTest::VlanConfig");
  EXPECT_EQ(missing(vlanType, texts({{"vlan", "10"}, {"upLink", "Ethernet1"}})),
            "building a ReflectionTest::VlanConfig needs attribute 'uplink'");
  EXPECT_EQ(missing(vlanType, texts({})), "building a ReflectionTest::VlanConfig needs attribute 'vlan'")
      << "read in order";
  EXPECT_EQ(missing(TcamSet::typeDataStatic(), texts({})), "type Corvane::TcamSet is not built from attributes");
  EXPECT_THROW(vlanConfig("ten"), ParseError);
  EXPECT_THROW(vlanConfig("4294967296"), RangeError);
  EXPECT_THROW(vlanConfig("10", "Ethernet"), ParseError);
  EXPECT_THROW(vlanStatus("lost"), ParseError);
}

TEST(ReflectionWrites, NotificationKeysReadBackAsTheTextThatWroteThem) {
  // Each key type of the wiring: written by text, announced, named again by keyText.
  struct Case {
    Ptr<Entity> table;
    char const* attr;
    std::string key;
    char const* value;  // null: a reference entry
  };
  Ptr<Node> vlan = vlanConfig("7");
  Case const cases[] = {
      {Hardware::Velt::Status::StatusIs("velt"), "intfIdToSystemTcamId", "Ethernet3/1/2", "5"},
      {Hardware::Velt::Status::StatusIs("velt"), "intfIdToSystemTcamId", "Intf0xff00000000000001", "5"},
      {Ptr<Entity>(new TcamSet(IntfId("Ethernet1"))), "tcamSet", "65535", ""},
      {portToLagFactory(), "portToLag", "Ethernet7", "Port-Channel70000"},
      {portMapToIntfFactory("o"), "portMapToIntf", "PortMap(fap=2047, port=4294967295, core=5)", "Ethernet1"},
      {intfTcamFeatureConfigFactory(), "config", "(Port-Channel2, 0)", nullptr},
      {intfPortMapFeatureConfigFactory(), "config", "(Ethernet1/1, PortMap(fap=0, port=0, core=0))", nullptr},
  };
  for (Case const& c : cases) {
    ChangeLog log(*c.table);
    if (c.value) {
      Reflect::write(*c.table, c.attr, c.key, c.value);
    } else {
      Reflect::referenceWrite(*c.table, c.attr, c.key, vlan);
    }
    EXPECT_EQ(log.take(), Changes{std::string(c.attr) + "[" + c.key + "]"}) << c.key;
    EXPECT_TRUE(Reflect::read(*c.table, c.attr, c.key).has_value()) << c.key;
  }

  // Numbers are per type, found through the types a table derives from; 0 is nobody's.
  EXPECT_EQ(Reflect::attributeById(IntfToTcamSet::typeDataStatic(), 1)->name, "intfToTcamSet");
  EXPECT_EQ(Reflect::attributeById(TcamSet::typeDataStatic(), 1)->name, "tcamSet");
  EXPECT_EQ(Reflect::attributeById(IntfIdToPortMap::typeDataStatic(), IntfIdToPortMap::attrDelayedNotifHolder)->name,
            "delayedNotifHolder");
  EXPECT_EQ(Reflect::attributeById(TcamSet::typeDataStatic(), 2), nullptr);
  EXPECT_EQ(Reflect::attributeById(LagMemberSet::typeDataStatic(), 0), nullptr) << "memberSet publishes nothing";
  TypeRegistry::typeRegister(DerivedConfig::typeDataStatic(), Describe<DerivedConfig>(TypeKind::entity).done());
  Ptr<DerivedConfig> derived(new DerivedConfig());
  ChangeLog derivedLog(*derived);
  Reflect::referenceWrite(*derived, "config", "Ethernet9", vlan);
  EXPECT_EQ(derivedLog.take(), Changes{"config[Ethernet9]"});
}

TEST(ReflectionWrites, BadKeysAndMisusesChangeNothing) {
  Ptr<Hardware::Velt::Status> velt = Hardware::Velt::Status::StatusIs("velt");
  Ptr<IntfTcamFeatureConfig> tcamConfig = intfTcamFeatureConfigFactory();
  Ptr<IntfToTcamSet> sets = intfToTcamSetFactory("sets");
  Ptr<TcamSet> set(new TcamSet(IntfId("Ethernet1")));
  ChangeLog veltLog(*velt);
  ChangeLog setsLog(*sets);
  EXPECT_EQ(CorvaneTest::parseFault([&] { Reflect::write(*velt, "intfIdToSystemTcamId", "Nonsense9", "3"); }).first,
            "Net::IntfId");
  EXPECT_THROW(Reflect::write(*velt, "intfIdToSystemTcamId", "Ethernet1", "3x"), ParseError);
  EXPECT_THROW(Reflect::write(*velt, "intfIdToSystemTcamId", "Ethernet1", "65536"), RangeError);
  EXPECT_THROW(Reflect::entryDel(*velt, "intfIdToSystemTcamId", ""), ParseError);
  EXPECT_THROW(Reflect::write(*set, "tcamSet", "65536", ""), RangeError);
  EXPECT_THROW(Reflect::entryDel(*set, "tcamSet", "-1"), ParseError);
  EXPECT_THROW(Reflect::referenceWrite(*tcamConfig, "config", "(Ethernet1 3)", nullptr), ParseError);
  EXPECT_THROW(Reflect::childIs(*sets, "intfToTcamSet", "Ethernet1/"), ParseError);
  EXPECT_TRUE(velt->intfIdToSystemTcamId().empty());
  EXPECT_TRUE(set->tcamSet().empty());
  EXPECT_TRUE(sets->intfToTcamSet().empty());
  EXPECT_TRUE(veltLog.take().empty());
  EXPECT_TRUE(setsLog.take().empty());

  // Each write where the collection has no setter of that shape, or is no collection.
  auto refused = [](auto const& f) { return errorText<ReflectionError>(f); };
  EXPECT_EQ(refused([&] { Reflect::write(*sets, "intfToTcamSet", "Ethernet1", ""); }),
            "collection Corvane::IntfToTcamSet::intfToTcamSet has no text write by key");
  EXPECT_EQ(refused([&] { Reflect::childIs(*velt, "intfIdToSystemTcamId", "Ethernet1"); }),
            "collection Hardware::Velt::Status::intfIdToSystemTcamId has no child creation by key");
  EXPECT_EQ(refused([&] { Reflect::referenceWrite(*sets, "intfToTcamSet", "Ethernet1", nullptr); }),
            "collection Corvane::IntfToTcamSet::intfToTcamSet has no reference write by key");
  Ptr<Directory> dir = Directory::DirectoryIs("d");
  EXPECT_EQ(refused([&] { Reflect::entryDel(*dir, "entry", "x"); }),
            "collection Corvane::Directory::entry has no delete by key");
  Ptr<IntfIdToPortMap> portMaps = intfIdToPortMapFactory("portMaps");
  EXPECT_EQ(refused([&] { Reflect::entryDel(*portMaps, "delayedNotifHolder", "Ethernet1"); }),
            "Corvane::IntfIdToPortMap::delayedNotifHolder is not a collection");
  EXPECT_TRUE(sets->intfToTcamSet().empty());
}
