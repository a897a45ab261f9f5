// Publisher/subscriber behaviour that the state machines depend on: exactly one
// notification per real change, delivered after the change is visible, and safe
// (un)subscription while a notification is being delivered.
#include <gtest/gtest.h>
#include <malloc.h>

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;
using Hardware::Velt::SystemTcamId;

namespace {

struct Recorder : Subscriber {
  std::vector<std::pair<uint32_t, IntfId>> seen;
  std::function<void(uint32_t, void const*)> onDispatch;
  void dispatch(uint32_t attrId, void const* key) override {
    seen.emplace_back(attrId, key ? *static_cast<IntfId const*>(key) : IntfId());
    if (onDispatch) onDispatch(attrId, key);
  }
};

IntfId et(uint16_t n) { return IntfId::ethernet(n); }

}  // namespace

TEST(Notification, OncePerChangeNeverForNoOpWrites) {
  auto status = Hardware::Velt::Status::StatusIs("hw");
  Recorder r;
  status->subscriberAdd(&r);
  status->subscriberAdd(&r);  // a second add is ignored
  // The new value is visible inside the notification.
  SystemTcamId written;
  r.onDispatch = [&](uint32_t, void const* key) {
    IntfId i = *static_cast<IntfId const*>(key);
    EXPECT_EQ(status->intfIdToSystemTcamId(i), written);
  };
  written = SystemTcamId(5);
  status->intfIdToSystemTcamIdIs(et(1), written);
  status->intfIdToSystemTcamIdIs(et(1), written);  // same value: silent
  written = SystemTcamId(7);
  status->intfIdToSystemTcamIdIs(et(1), written);  // replace
  written = SystemTcamId();                        // deleted: the default again
  EXPECT_FALSE(status->intfIdToSystemTcamIdDel(et(2)));   // absent: silent
  EXPECT_TRUE(status->intfIdToSystemTcamIdDel(et(1)));
  ASSERT_EQ(r.seen.size(), 3u);
  for (auto& [attr, key] : r.seen) {
    EXPECT_EQ(attr, Hardware::Velt::Status::attrIntfIdToSystemTcamId);
    EXPECT_EQ(key, et(1));
  }

  // Delete-all announces each key when someone listens, and nothing when nobody does.
  r.onDispatch = nullptr;
  r.seen.clear();
  for (uint16_t n = 1; n <= 5; ++n) status->intfIdToSystemTcamIdIs(et(n), SystemTcamId(n));
  r.seen.clear();
  status->intfIdToSystemTcamIdDelAll();
  EXPECT_EQ(r.seen.size(), 5u);
  EXPECT_TRUE(status->intfIdToSystemTcamId().empty());
  status->subscriberRemove(&r);
  for (uint16_t n = 1; n <= 5; ++n) status->intfIdToSystemTcamIdIs(et(n), SystemTcamId(n));
  status->intfIdToSystemTcamIdDelAll();
  EXPECT_EQ(r.seen.size(), 5u);
}

TEST(Notification, SubscribersChangingDuringDispatch) {
  auto status = Hardware::Velt::Status::StatusIs("hw");
  Recorder a, b, c, late;
  for (Recorder* r : {&a, &b, &c}) status->subscriberAdd(r);
  // a removes b (not yet called) and itself, and adds `late`.
  a.onDispatch = [&](uint32_t, void const*) {
    status->subscriberRemove(&b);
    status->subscriberRemove(&a);
    status->subscriberAdd(&late);
  };
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(1));
  EXPECT_EQ(a.seen.size(), 1u);
  EXPECT_EQ(b.seen.size(), 0u);     // removed before its turn
  EXPECT_EQ(c.seen.size(), 1u);
  EXPECT_EQ(late.seen.size(), 0u);  // added during delivery: hears the next change
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(2));
  EXPECT_EQ(a.seen.size(), 1u);
  EXPECT_EQ(c.seen.size(), 2u);
  EXPECT_EQ(late.seen.size(), 1u);

  // A change made from inside a delivery, after removing a subscriber already
  // called: the outer delivery still reaches each one after it, once.
  auto hw = Hardware::Velt::Status::StatusIs("hw2");
  Recorder x, y, z, w;
  for (Recorder* r : {&x, &y, &z, &w}) hw->subscriberAdd(r);
  y.onDispatch = [&](uint32_t, void const* key) {
    if (*static_cast<IntfId const*>(key) != et(1)) return;
    hw->subscriberRemove(&x);
    hw->intfIdToSystemTcamIdIs(et(2), SystemTcamId(2));
  };
  hw->intfIdToSystemTcamIdIs(et(1), SystemTcamId(1));
  EXPECT_EQ(x.seen.size(), 1u);
  EXPECT_EQ(y.seen.size(), 2u);
  for (Recorder* r : {&z, &w}) {
    ASSERT_EQ(r->seen.size(), 2u);
    EXPECT_EQ(r->seen[0].second, et(2));  // the nested change first
    EXPECT_EQ(r->seen[1].second, et(1));
  }
}

// The one subscriber most entities have sits in the publisher itself; a second one
// moves both to an array, possibly while the first is being called.
TEST(Notification, SubscriberListGrowsAndShrinksDuringDispatch) {
  auto status = Hardware::Velt::Status::StatusIs("hw");
  Recorder only, extra[5];
  status->subscriberAdd(&only);
  only.onDispatch = [&](uint32_t, void const*) {
    for (auto& e : extra) status->subscriberAdd(&e);
  };
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(1));
  for (auto& e : extra) EXPECT_TRUE(e.seen.empty());
  EXPECT_EQ(status->publisher()->subscriberCount(), 6u);
  // Every one but the last leaves, each while being called.
  only.onDispatch = [&](uint32_t, void const*) { status->subscriberRemove(&only); };
  for (int i = 0; i < 4; ++i) extra[i].onDispatch = [&, i](uint32_t, void const*) { status->subscriberRemove(&extra[i]); };
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(2));
  for (auto& e : extra) EXPECT_EQ(e.seen.size(), 1u);
  EXPECT_EQ(status->publisher()->subscriberCount(), 1u);
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(3));
  EXPECT_EQ(only.seen.size(), 2u);
  EXPECT_EQ(extra[3].seen.size(), 1u);
  EXPECT_EQ(extra[4].seen.size(), 2u);
  status->subscriberRemove(&extra[4]);
  EXPECT_FALSE(status->hasSubscribers());

  // A lone subscriber leaves while called and another joins: the hole it leaves
  // inline is kept (the newcomer goes after it) until the delivery ends.
  Recorder next;
  status->subscriberAdd(&only);
  only.onDispatch = [&](uint32_t, void const*) {
    status->subscriberRemove(&only);
    status->subscriberAdd(&next);
  };
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(4));
  EXPECT_EQ(status->publisher()->subscriberCount(), 1u);
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(5));
  EXPECT_EQ(only.seen.size(), 3u);
  EXPECT_EQ(next.seen.size(), 1u);
}

// A subscriber that joins and leaves between changes leaves no hole behind: an
// entity followed and left many times while nothing changes holds no more memory.
// Lists of two subscribers come from a pool, which keeps its first slab.
TEST(Notification, SubscribersLeavingBetweenChangesLeaveNoHoles) {
  auto status = Hardware::Velt::Status::StatusIs("hw");
  Recorder stays, passing;
  status->subscriberAdd(&stays);
  status->subscriberAdd(&passing);
  SlabPool const* pairs = SlabPool::first();
  while (pairs && std::string_view(pairs->typeName()) != "Corvane::Publisher (two subscribers)") pairs = pairs->next();
  ASSERT_NE(pairs, nullptr);
  uint64_t const pairsLive = pairs->objectsLive();
  status->subscriberRemove(&passing);
  EXPECT_EQ(pairs->objectsLive(), pairsLive - 1);
  size_t const before = mallinfo2().uordblks;
  for (int i = 0; i < 4096; ++i) {
    status->subscriberAdd(&passing);
    status->subscriberRemove(&passing);
  }
  EXPECT_LT(mallinfo2().uordblks, before + 1024);
  EXPECT_EQ(pairs->objectsLive(), pairsLive - 1);
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(1));
  EXPECT_EQ(stays.seen.size(), 1u);
  EXPECT_TRUE(passing.seen.empty());
}

TEST(Notification, ThrowingSubscriberLeavesListsIntact) {
  auto status = Hardware::Velt::Status::StatusIs("hw");
  Recorder thrower, other;
  status->subscriberAdd(&thrower);
  status->subscriberAdd(&other);
  thrower.onDispatch = [&](uint32_t, void const*) {
    status->subscriberRemove(&other);
    throw RangeError("boom");
  };
  EXPECT_THROW(status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(1)), RangeError);
  EXPECT_TRUE(status->intfIdToSystemTcamIdHas(et(1)));  // the change stays
  thrower.onDispatch = nullptr;
  status->intfIdToSystemTcamIdIs(et(1), SystemTcamId(2));
  EXPECT_EQ(thrower.seen.size(), 2u);
  EXPECT_EQ(other.seen.size(), 0u);
}

TEST(Notification, ReplacedElementReleasedAfterNotification) {
  auto lag = Hardware::VeltLag::Status::StatusIs("lag");
  IntfId po = IntfId::portChannel(1);
  auto first = lag->lagHwConfigIs(po);
  EXPECT_EQ(lag->lagHwConfigIs(po), first);  // existing element returned
  Hardware::Velt::LagHwConfig* raw = first.get();
  first.reset();
  Recorder r;
  r.onDispatch = [&](uint32_t, void const*) {
    // The old element is still alive while subscribers run.
    EXPECT_EQ(raw->lagIntfId(), po);
  };
  lag->subscriberAdd(&r);
  auto second = Hardware::Velt::LagHwConfig::LagHwConfigIs(po);
  lag->lagHwConfigIs(po, second);
  r.onDispatch = nullptr;            // the old element is gone now
  lag->lagHwConfigIs(po, second);  // same object: silent
  EXPECT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(lag->lagHwConfig(po), second);
  EXPECT_EQ(lag->lagHwConfigDel(po), second);
  EXPECT_EQ(lag->lagHwConfig(po), nullptr);
  lag->subscriberRemove(&r);
}

// The previous payload: what a replace or delete took out comes with the
// notification and is alive while subscribers run; an insert has none, and a
// subscriber that only knows the two-argument call still hears every change.
TEST(Notification, PreviousPayloadComesWithReplaceAndDelete) {
  auto config = intfFeatureConfigFactory();
  struct Previous : Subscriber {
    std::vector<FeatureConfigBase const*> previous;
    void dispatch(uint32_t, void const*) override { ADD_FAILURE() << "entities make the three-argument call"; }
    void dispatch(uint32_t, void const*, void const* p) override {
      auto const* ref = static_cast<Ptr<FeatureConfigBase> const*>(p);
      if (ref) {
        EXPECT_GT((*ref)->refCount(), 0u);
      }
      previous.push_back(ref ? ref->get() : nullptr);
    }
  } withPrevious;
  Recorder plain;
  config->subscriberAdd(&withPrevious);
  config->subscriberAdd(&plain);
  IntfId const i = et(1);
  Ptr<FeatureConfigBase> a(new FeatureConfigBase), b(new FeatureConfigBase);
  FeatureConfigBase const* const aRaw = a.get();
  FeatureConfigBase const* const bRaw = b.get();
  config->configIs(i, std::move(a));  // insert
  config->configIs(i, std::move(b));  // replace: a is released only after the dispatch
  config->configDel(i);               // delete: b likewise
  EXPECT_EQ(withPrevious.previous, (std::vector<FeatureConfigBase const*>{nullptr, aRaw, bRaw}));
  EXPECT_EQ(plain.seen.size(), 3u);
  config->subscriberRemove(&plain);
  config->subscriberRemove(&withPrevious);

  // A single reference attribute, the LAG reference of a port (an element of the LAG
  // configuration): announced without a key, and only on real changes.
  auto lagConfig = Lag::Config::ConfigIs("lag");
  auto port = lagConfig->phyIntfIs(i);
  EXPECT_EQ(lagConfig->phyIntfIs(i), port);
  struct LagPrevious : Subscriber {
    std::vector<IntfId> previous;
    void dispatch(uint32_t, void const*) override {}
    void dispatch(uint32_t attr, void const* key, void const* p) override {
      EXPECT_EQ(attr, Lag::EthPhyIntfLagConfig::attrLag);
      EXPECT_EQ(key, nullptr);
      auto const* ref = static_cast<Ptr<Interface::EthLagIntfConfig const> const*>(p);
      previous.push_back(ref ? (*ref)->intfId() : IntfId());
    }
  } lagPrevious;
  port->subscriberAdd(&lagPrevious);
  auto po1 = Interface::EthLagIntfConfig::EthLagIntfConfigIs(IntfId::portChannel(1));
  port->lagIs(po1);
  port->lagIs(po1);  // the same object: silent
  port->lagIs(Interface::EthLagIntfConfig::EthLagIntfConfigIs(IntfId::portChannel(2)));
  port->lagIs(nullptr);
  port->lagIs(nullptr);  // null again: silent
  EXPECT_EQ(lagPrevious.previous, (std::vector<IntfId>{IntfId(), IntfId::portChannel(1), IntfId::portChannel(2)}));
  EXPECT_EQ(po1->refCount(), 1u);
  port->subscriberRemove(&lagPrevious);
}

// Misuse that would read freed memory or write past an array stops the process with
// a message: a bare publisher destroyed by its own subscriber while it delivers; an
// iterator at end() dereferenced, or a cell freed into another pool, where
// assertions are on. Settings outside their range are refused or never match.
TEST(FrameworkDeathTest, MisuseStopsWithAMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Destroyer : Subscriber {
    std::unique_ptr<Publisher> pub;
    void dispatch(uint32_t, void const*) override { pub.reset(); }
  };
  EXPECT_DEATH(
      {
        Destroyer d;
        d.pub = std::make_unique<Publisher>();
        d.pub->subscriberAdd(&d);
        d.pub->publishChange(0, nullptr);
      },
      "^Publisher: destroyed while it delivers a change\n$");
  if (CORVANE_ASSERTIONS_ON) {
    HashMap<uint32_t, uint32_t> m;
    m.insert(1, 2);
    EXPECT_DEATH(*m.end(), "HashMap: an iterator at end\\(\\) dereferenced");
    SlabPool a("A", 16, 8), b("B", 16, 8);
    void* cell = a.allocate();
    EXPECT_DEATH(b.deallocate(cell), "SlabPool: a cell freed into a pool it does not come from");
    a.deallocate(cell);
  }

  SmControl c;
  EXPECT_THROW(c.synchronousIs(3), RangeError);
  EXPECT_EQ(c.synchronous(), SmControl::synchronousDefault);
  Ptr<DebugHandler> h = getDebugHandler("FrameworkDeathTest", true);
  h->levelMaskIs(0xffff);
  EXPECT_TRUE(h->enabled(15));
  EXPECT_FALSE(h->enabled(16));
  EXPECT_FALSE(h->enabled(-1));
}
