// Feature configuration and status entities: identity semantics of payload
// collections, release of replaced payloads after the notification, instantiating
// collections and their teardown, and the module's type registration.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;

namespace {

IntfId et(uint16_t n) { return IntfId::ethernet(n); }

// Every test must leave no node behind.
class FeatureEntities : public ::testing::Test {
 protected:
  void SetUp() override { nodes_ = Node::liveNodes(); }
  void TearDown() override { EXPECT_EQ(Node::liveNodes(), nodes_); }

 private:
  int32_t nodes_ = 0;
};

// Declared before the entities it watches, so it outlives their destructors.
template <class K>
struct Recorder : Subscriber {
  std::vector<std::pair<uint32_t, std::optional<K>>> events;
  std::function<void()> onDispatch;
  void dispatch(uint32_t attrId, void const* key) override {
    events.emplace_back(attrId, key ? std::optional<K>(*static_cast<K const*>(key)) : std::nullopt);
    if (onDispatch) onDispatch();
  }
};

// A feature's payload: derives with nothing to override, counts its live objects.
template <class Base>
struct Counted : Base {
  static inline int32_t live = 0;
  int32_t value = 0;
  Counted() { ++live; }
  ~Counted() override { --live; }
};

// One value collection (config or status) of an entity, under common names.
template <class E, class K, class P, Ptr<E> (*Make)(), bool IsConfig>
struct Side {
  using Key = K;
  using Payload = Counted<P>;
  static Ptr<E> make() { return Make(); }
  static void set(E& e, K const& k, Ptr<P> p) {
    if constexpr (IsConfig) e.configIs(k, std::move(p)); else e.statusIs(k, std::move(p));
  }
  static Ptr<P> del(E& e, K const& k) {
    if constexpr (IsConfig) return e.configDel(k); else return e.statusDel(k);
  }
  static Ptr<P> get(E const& e, K const& k) {
    if constexpr (IsConfig) return e.config(k); else return e.status(k);
  }
  static bool has(E const& e, K const& k) {
    if constexpr (IsConfig) return e.configHas(k); else return e.statusHas(k);
  }
  static void delAll(E& e) {
    if constexpr (IsConfig) e.configDelAll(); else e.statusDelAll();
  }
  static auto const& coll(E const& e) {
    if constexpr (IsConfig) return e.config(); else return e.status();
  }
  static constexpr uint32_t attr = [] {
    if constexpr (IsConfig) return E::attrConfig; else return E::attrStatus;
  }();
  static K key(uint16_t n) {
    using namespace Hardware::Velt;
    if constexpr (std::is_same_v<K, IntfId>) return et(n);
    else if constexpr (std::is_same_v<K, SystemTcamId>) return SystemTcamId(n);
    else if constexpr (std::is_same_v<K, IntfIdSystemTcamId>) return IntfIdSystemTcamId(et(1), SystemTcamId(n));
    else return IntfIdPortMap(et(1), PortMap(FapId(1), FapPortId(n), LocalCoreId(0)));
  }
};

Ptr<PerTcamFeatureStatus> makePerTcam() { return PerTcamFeatureStatus::PerTcamFeatureStatusIs(et(9)); }

using ValueSides = ::testing::Types<
    Side<IntfFeatureConfig, IntfId, FeatureConfigBase, &intfFeatureConfigFactory, true>,
    Side<IntfTcamFeatureConfig, IntfIdSystemTcamId, FeatureConfigBase, &intfTcamFeatureConfigFactory, true>,
    Side<IntfPortMapFeatureConfig, IntfIdPortMap, FeatureConfigBase, &intfPortMapFeatureConfigFactory, true>,
    Side<IntfTcamFeatureStatus, IntfIdSystemTcamId, FeatureStatusBase, &IntfTcamFeatureStatus::IntfTcamFeatureStatusIs,
         false>,
    Side<PerTcamFeatureStatus, SystemTcamId, FeatureStatusBase, &makePerTcam, false>,
    Side<IntfFeatureStatus, IntfId, FeatureStatusBase, &intfFeatureStatusFactory, false>>;

template <class S>
class PayloadCollection : public FeatureEntities {};
TYPED_TEST_SUITE(PayloadCollection, ValueSides);

TYPED_TEST(PayloadCollection, IdentityDecidesWhatIsAChange) {
  using S = TypeParam;
  using P = typename S::Payload;
  Recorder<typename S::Key> r;
  auto e = S::make();
  e->subscriberAdd(&r);
  auto const k = S::key(1);
  Ptr<P> p(new P());
  S::set(*e, k, p);
  S::set(*e, k, p);  // the same object: silent
  p->value = 7;
  S::set(*e, k, p);  // changed in place, still the same object: silent
  S::set(*e, S::key(2), nullptr);  // null on an absent key: silent, nothing stored
  EXPECT_TRUE(S::del(*e, S::key(2)) == nullptr);
  EXPECT_FALSE(S::has(*e, S::key(2)));
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0], std::make_pair(S::attr, std::optional(k)));
  EXPECT_TRUE(S::get(*e, k) == p);

  Ptr<P> q(new P());
  q->value = 7;  // equal contents, another object: a change
  S::set(*e, k, q);
  EXPECT_TRUE(S::get(*e, k) == q);
  EXPECT_TRUE(S::del(*e, k) == q);
  S::set(*e, k, p);
  S::set(*e, k, nullptr);  // null on a present key: a delete
  EXPECT_TRUE(S::get(*e, k) == nullptr);
  ASSERT_EQ(r.events.size(), 5u);
  EXPECT_EQ(r.events[4].second, k);
  EXPECT_EQ(p->refCount(), 1u);
  EXPECT_EQ(q->refCount(), 1u);
}

TYPED_TEST(PayloadCollection, ReplacedPayloadOutlivesTheNotification) {
  using S = TypeParam;
  using P = typename S::Payload;
  Recorder<typename S::Key> r;
  auto e = S::make();
  e->subscriberAdd(&r);
  auto const k = S::key(3);
  int32_t const before = P::live;
  S::set(*e, k, Ptr<P>(new P()));  // the collection is the only owner
  Ptr<P> next(new P());
  r.onDispatch = [&] {  // the new payload is visible, the old one still alive
    EXPECT_TRUE(S::get(*e, k) == next);
    EXPECT_EQ(P::live, before + 2);
  };
  S::set(*e, k, next);
  EXPECT_EQ(P::live, before + 1);

  next.reset();
  r.onDispatch = [&] {  // removed by null: the key is gone, the payload not yet
    EXPECT_FALSE(S::has(*e, k));
    EXPECT_EQ(P::live, before + 1);
  };
  S::set(*e, k, nullptr);
  EXPECT_EQ(P::live, before);
  EXPECT_EQ(r.events.size(), 3u);
}

TYPED_TEST(PayloadCollection, DeleteAllAnnouncesEachKeyOnlyToListeners) {
  using S = TypeParam;
  using P = typename S::Payload;
  Recorder<typename S::Key> r;
  auto e = S::make();
  Ptr<P> shared(new P());  // one payload under several keys, as the expansions do
  for (uint16_t n = 1; n <= 5; ++n) S::set(*e, S::key(n), shared);
  EXPECT_EQ(shared->refCount(), 6u);
  size_t visited = 0;
  for (auto const& [key, value] : S::coll(*e)) visited += (value == shared && S::has(*e, key));
  EXPECT_EQ(visited, 5u);

  e->subscriberAdd(&r);
  r.onDispatch = [&] { EXPECT_FALSE(S::has(*e, *r.events.back().second)); };
  S::delAll(*e);
  ASSERT_EQ(r.events.size(), 5u);
  for (uint16_t n = 1; n <= 5; ++n) {
    EXPECT_EQ(std::count_if(r.events.begin(), r.events.end(), [&](auto const& ev) { return ev.second == S::key(n); }),
              1);
  }
  EXPECT_EQ(shared->refCount(), 1u);

  e->subscriberRemove(&r);  // nobody listening: emptied in one step
  for (uint16_t n = 1; n <= 5; ++n) S::set(*e, S::key(n), shared);
  S::delAll(*e);
  EXPECT_TRUE(S::coll(*e).empty());
  EXPECT_EQ(shared->refCount(), 1u);
}

// ---- Instantiating collections ----------------------------------------------------

template <class E>
class ChildCollection : public FeatureEntities {};
using ChildEntities = ::testing::Types<IntfPerTcamFeatureStatus, PerIntfFeatureStatus>;
TYPED_TEST_SUITE(ChildCollection, ChildEntities);

TYPED_TEST(ChildCollection, StatusIsCreatesOnceWithTheKeyAsIntfId) {
  using E = TypeParam;
  Recorder<IntfId> r;
  Ptr<E> e(new E());
  e->subscriberAdd(&r);
  EXPECT_TRUE(e->status(et(4)) == nullptr);
  auto child = e->statusIs(et(4));
  ASSERT_TRUE(child);
  EXPECT_EQ(child->intfId(), et(4));
  EXPECT_TRUE(e->statusIs(et(4)) == child);
  EXPECT_TRUE(e->status(et(4)) == child);
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0], std::make_pair(E::attrStatus, std::optional(et(4))));

  EXPECT_TRUE(e->statusDel(et(5)) == nullptr);
  EXPECT_EQ(r.events.size(), 1u);
  EXPECT_TRUE(e->statusDel(et(4)) == child);
  EXPECT_EQ(r.events.size(), 2u);
  // Removed but still held: the child lives on, and a new statusIs makes another.
  EXPECT_EQ(child->intfId(), et(4));
  EXPECT_FALSE(e->statusIs(et(4)) == child);
}

TYPED_TEST(ChildCollection, DeleteAllAndDestructionAnnounceEveryChild) {
  using E = TypeParam;
  using Child = typename decltype(std::declval<E&>().statusIs(IntfId()))::element_type;
  Recorder<IntfId> r;
  Ptr<E> e(new E());
  int32_t const children = Child::typeDataStatic().liveCount();
  for (uint16_t n = 1; n <= 4; ++n) e->statusIs(et(n));
  EXPECT_EQ(Child::typeDataStatic().liveCount(), children + 4);
  e->statusDelAll();
  EXPECT_TRUE(e->status().empty());
  EXPECT_EQ(Child::typeDataStatic().liveCount(), children);

  for (uint16_t n = 1; n <= 4; ++n) e->statusIs(et(n));
  e->subscriberAdd(&r);
  e->statusDelAll();
  EXPECT_EQ(r.events.size(), 4u);

  for (uint16_t n = 1; n <= 4; ++n) e->statusIs(et(n));
  Ptr<Child> kept = e->status(et(2));
  r.events.clear();
  E* raw = e.get();  // the parent is inside its destructor when it notifies
  r.onDispatch = [&, raw] { EXPECT_FALSE(raw->statusHas(*r.events.back().second)); };
  e.reset();
  EXPECT_EQ(r.events.size(), 4u);
  EXPECT_EQ(kept->intfId(), et(2));  // the held child survives its parent
  EXPECT_EQ(Child::typeDataStatic().liveCount(), children + 1);
}

// ---- Single attribute -----------------------------------------------------------------

TEST_F(FeatureEntities, SingleStatusNotifiesRealChangesWithANullKey) {
  using P = Counted<FeatureStatusBase>;
  Recorder<int> r;
  auto e = singleIntfFeatureStatusFactory(et(6));
  e->subscriberAdd(&r);
  EXPECT_EQ(e->intfId(), et(6));
  e->statusIs(nullptr);  // fresh: already null
  EXPECT_TRUE(r.events.empty());

  int32_t const before = P::live;
  e->statusIs(Ptr<P>(new P()));
  e->statusIs(e->status());
  ASSERT_EQ(r.events.size(), 1u);
  EXPECT_EQ(r.events[0], std::make_pair(SingleIntfFeatureStatus::attrStatus, std::optional<int>()));

  Ptr<P> next(new P());
  r.onDispatch = [&] {
    EXPECT_TRUE(e->status() == next);
    EXPECT_EQ(P::live, before + 2);  // the previous payload goes afterwards
  };
  e->statusIs(next);
  EXPECT_EQ(P::live, before + 1);
  r.onDispatch = nullptr;
  e->statusIs(nullptr);
  EXPECT_EQ(r.events.size(), 3u);
  EXPECT_TRUE(e->status() == nullptr);
}

// ---- Per-interface sets ------------------------------------------------------------------

// A deleted set may come back as another interface's new set only when nobody can
// still see it: a held or followed set keeps its interface and its members.
template <class Outer, class Inner, class Elem>
void checkSetRecycling(Ptr<Outer> out, Ptr<Inner> (Outer::*is)(IntfId), bool (Outer::*del)(IntfId),
                       void (Inner::*add)(Elem), Elem elem, size_t (*members)(Inner const&)) {
  Recorder<IntfId> r;
  out->subscriberAdd(&r);
  // An emptied, unreferenced set: the next interface gets a set that is its own and empty.
  ((*out).*is)(et(1));
  ASSERT_TRUE(((*out).*del)(et(1)));
  Ptr<Inner> second = ((*out).*is)(et(2));
  EXPECT_EQ(second->intfId(), et(2));
  EXPECT_EQ(members(*second), 0u);
  // A set someone still holds is not reused, even when empty.
  ASSERT_TRUE(((*out).*del)(et(2)));
  Ptr<Inner> third = ((*out).*is)(et(3));
  EXPECT_NE(third.get(), second.get());
  EXPECT_EQ(second->intfId(), et(2));
  // Nor one someone follows: the follower hears nothing of the next interface's set.
  Recorder<Elem> follower;
  third->subscriberAdd(&follower);
  third = nullptr;
  ASSERT_TRUE(((*out).*del)(et(3)));
  Ptr<Inner> fourth = ((*out).*is)(et(4));
  ((*fourth).*add)(elem);
  EXPECT_TRUE(follower.events.empty());
  // Nor one with members left (deleted with the interface as a whole).
  fourth = nullptr;
  ASSERT_TRUE(((*out).*del)(et(4)));
  Ptr<Inner> fifth = ((*out).*is)(et(5));
  EXPECT_EQ(fifth->intfId(), et(5));
  EXPECT_EQ(members(*fifth), 0u);
  EXPECT_EQ(r.events.size(), 9u);  // every add and delete of an interface was announced
  out->subscriberRemove(&r);
}

TEST_F(FeatureEntities, EmptiedSetsAreReusedOnlyWhenNobodyCanSeeThem) {
  using namespace Hardware::Velt;
  checkSetRecycling(intfToTcamSetFactory("t"), &IntfToTcamSet::intfToTcamSetIs, &IntfToTcamSet::intfToTcamSetDel,
                    &TcamSet::tcamSetIs, SystemTcamId(3),
                    +[](TcamSet const& s) { return s.tcamSet().size(); });
  checkSetRecycling(intfToPortMapSetFactory("p"), &IntfToPortMapSet::intfToPortMapSetIs,
                    &IntfToPortMapSet::intfToPortMapSetDel, &PortMapSet::portMapSetIs, PortMap(FapId(1), FapPortId(2), LocalCoreId(0)),
                    +[](PortMapSet const& s) { return s.portMapSet().size(); });
}

// ---- Type registration ------------------------------------------------------------------

TEST(FeatureTypes, EachModuleRegistersItsTypesInOrder) {
  // The payload bases first, whichever module's initializer runs first.
  EXPECT_TRUE(CorvaneTest::registeredInOrder(
      {&FeatureConfigBase::typeDataStatic(), &FeatureStatusBase::typeDataStatic(), &LagMemberSet::typeDataStatic(),
       &LagToMemberSet::typeDataStatic(), &IntfIdSystemTcamId::typeDataStatic(),
       &IntfIdPortMap::typeDataStatic(), &IntfFeatureConfig::typeDataStatic(),
       &IntfTcamFeatureConfig::typeDataStatic(), &IntfTcamFeatureStatus::typeDataStatic(),
       &PerTcamFeatureStatus::typeDataStatic(), &IntfPerTcamFeatureStatus::typeDataStatic(),
       &SingleIntfFeatureStatus::typeDataStatic(), &PerIntfFeatureStatus::typeDataStatic(),
       &IntfFeatureStatus::typeDataStatic(), &IntfPortMapFeatureConfig::typeDataStatic()}));
  EXPECT_STREQ(IntfIdPortMap::typeDataStatic().name(), "Corvane::IntfIdPortMap");
  EXPECT_EQ(IntfIdSystemTcamId::typeDataStatic().parent(), nullptr);
}

}  // namespace
