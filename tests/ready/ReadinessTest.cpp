// The agent-published entities: readiness flags notify once per real change, and the
// redundancy-status container (and Foo) hold their referent with the identity rule,
// releasing a replaced object only after subscribers have seen the change.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;

namespace {

// Records each notification, and lets a test look at the entity while it is delivered.
struct Recorder : Subscriber {
  std::vector<uint32_t> attrs;
  std::function<void()> onDispatch;
  void dispatch(uint32_t attrId, void const* key) override {
    EXPECT_EQ(key, nullptr);
    attrs.push_back(attrId);
    if (onDispatch) onDispatch();
  }
};

template <class T>
Ptr<T> makeReady(std::string const& name);
template <>
Ptr<LagInfoReady> makeReady(std::string const& name) {
  return LagInfoReady::LagInfoReadyIs(name);
}
template <>
Ptr<TcamDbStatusInterfaceReady> makeReady(std::string const& name) {
  return TcamDbStatusInterfaceReady::TcamDbStatusInterfaceReadyIs(name);
}

template <class T>
class ReadinessFlag : public ::testing::Test {};
using ReadinessTypes = ::testing::Types<LagInfoReady, TcamDbStatusInterfaceReady>;
TYPED_TEST_SUITE(ReadinessFlag, ReadinessTypes);

}  // namespace

TYPED_TEST(ReadinessFlag, StartsNotReadyAndKeepsItsName) {
  Ptr<TypeParam> r = makeReady<TypeParam>("agent-ready");
  EXPECT_FALSE(r->ready());
  EXPECT_EQ(r->nameString(), "agent-ready");
  EXPECT_EQ(r->name(), "agent-ready");
  EXPECT_EQ(r->refCount(), 1u);
}

TYPED_TEST(ReadinessFlag, NotifiesOnlyWhenTheFlagChanges) {
  Ptr<TypeParam> r = makeReady<TypeParam>("r");
  Recorder rec;
  bool seen = false;
  rec.onDispatch = [&] { seen = r->ready(); };
  r->subscriberAdd(&rec);

  r->readyIs(false);
  EXPECT_TRUE(rec.attrs.empty());

  r->readyIs(true);
  ASSERT_EQ(rec.attrs.size(), 1u);
  EXPECT_EQ(rec.attrs[0], TypeParam::attrReady);
  EXPECT_TRUE(seen) << "the new value must be visible inside the notification";
  EXPECT_TRUE(r->ready());

  r->readyIs(true);
  EXPECT_EQ(rec.attrs.size(), 1u);

  r->readyIs(false);
  EXPECT_EQ(rec.attrs.size(), 2u);
  EXPECT_FALSE(seen);
  r->subscriberRemove(&rec);
}

TEST(RedundancyStatusContainer, SameObjectIsSilentAndReplacementReleasesAfterNotifying) {
  Ptr<RedundancyStatusContainer> c = redundancyStatusContainerFactory("redundancy");
  EXPECT_EQ(c->nameString(), "redundancy");
  EXPECT_EQ(c->redundancyStatus(), nullptr);
  Ptr<RedundancyStatus> first = RedundancyStatus::RedundancyStatusIs("first");
  Ptr<RedundancyStatus> second = RedundancyStatus::RedundancyStatusIs("second");
  Recorder rec;
  c->subscriberAdd(&rec);

  c->redundancyStatusIs(first);
  ASSERT_EQ(rec.attrs.size(), 1u);
  EXPECT_EQ(rec.attrs[0], RedundancyStatusContainer::attrRedundancyStatus);
  EXPECT_EQ(first->refCount(), 2u);

  c->redundancyStatusIs(first);
  EXPECT_EQ(rec.attrs.size(), 1u);
  EXPECT_EQ(first->refCount(), 2u);

  // While subscribers hear of the replacement the new status is in place and the old
  // one is still held, so a subscriber comparing the two finds both alive.
  uint32_t firstRefsDuring = 0;
  bool newVisible = false;
  rec.onDispatch = [&] {
    firstRefsDuring = first->refCount();
    newVisible = c->redundancyStatus() == second;
  };
  c->redundancyStatusIs(second);
  EXPECT_EQ(rec.attrs.size(), 2u);
  EXPECT_TRUE(newVisible);
  EXPECT_EQ(firstRefsDuring, 2u);
  EXPECT_EQ(first->refCount(), 1u);
  EXPECT_EQ(second->refCount(), 2u);

  rec.onDispatch = nullptr;
  c->redundancyStatusIs(nullptr);
  EXPECT_EQ(rec.attrs.size(), 3u);
  EXPECT_EQ(c->redundancyStatus(), nullptr);
  EXPECT_EQ(second->refCount(), 1u);
  c->redundancyStatusIs(nullptr);
  EXPECT_EQ(rec.attrs.size(), 3u);
  c->subscriberRemove(&rec);
}

TEST(RedundancyStatusContainer, DestroyingTheContainerReleasesItsStatus) {
  int32_t const liveBefore = RedundancyStatus::typeDataStatic().liveCount();
  {
    Ptr<RedundancyStatusContainer> c = redundancyStatusContainerFactory("redundancy");
    c->redundancyStatusIs(RedundancyStatus::RedundancyStatusIs("only-held-here"));
    EXPECT_EQ(RedundancyStatus::typeDataStatic().liveCount(), liveBefore + 1);
    EXPECT_EQ(c->redundancyStatus()->nameString(), "only-held-here");
  }
  EXPECT_EQ(RedundancyStatus::typeDataStatic().liveCount(), liveBefore);
}

TEST(Foo, HoldsAHardwareEntityWithTheSameRules) {
  Ptr<Foo> foo = Foo::FooIs();
  EXPECT_EQ(foo->foo(), nullptr);
  Ptr<Hardware::Velt::LagHwConfig> a = Hardware::Velt::LagHwConfig::LagHwConfigIs(IntfId("Port-Channel1"));
  Ptr<Hardware::Velt::LagHwConfig> b = Hardware::Velt::LagHwConfig::LagHwConfigIs(IntfId("Port-Channel2"));
  Recorder rec;
  foo->subscriberAdd(&rec);
  foo->fooIs(a);
  foo->fooIs(a);
  EXPECT_EQ(rec.attrs, std::vector<uint32_t>{Foo::attrFoo});
  uint32_t aRefsDuring = 0;
  rec.onDispatch = [&] { aRefsDuring = a->refCount(); };
  foo->fooIs(b);
  EXPECT_EQ(aRefsDuring, 2u);
  EXPECT_EQ(a->refCount(), 1u);
  EXPECT_EQ(foo->foo(), b);
  rec.onDispatch = nullptr;
  foo.reset();
  EXPECT_EQ(b->refCount(), 1u);
}
