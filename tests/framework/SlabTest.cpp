// Slab allocation: cells are reused, pools count what they hold, an empty slab goes
// back to the allocator unless it is the only one with room.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;

namespace {
struct Record {
  uint64_t a;
  uint16_t b;
};
}  // namespace

TEST(Slab, CellsAreAlignedDistinctReusedAndCounted) {
  SlabPool pool("Record", sizeof(Record), alignof(Record));
  EXPECT_EQ(pool.objectSize(), sizeof(Record));  // 16 bytes, 12 on 32-bit
  size_t const perSlab = pool.objectsPerSlab();
  ASSERT_GT(perSlab, 100u);

  // Two and a half slabs' worth, every cell distinct, aligned and writable.
  std::vector<void*> cells;
  for (size_t i = 0; i < perSlab * 5 / 2; ++i) {
    void* p = pool.allocate();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % alignof(Record), 0u);
    std::memset(p, 0xab, sizeof(Record));
    cells.push_back(p);
  }
  EXPECT_EQ(std::set<void*>(cells.begin(), cells.end()).size(), cells.size());
  EXPECT_EQ(pool.objectsLive(), cells.size());
  EXPECT_EQ(pool.slabsHeld(), 3u);
  EXPECT_EQ(pool.bytesHeld(), 3 * SlabPool::slabBytes);

  // A freed cell is the next one handed out.
  void* freed = cells[7];
  pool.deallocate(freed);
  EXPECT_EQ(pool.allocate(), freed);

  // Emptied slabs go back while another one has room; the last one stays.
  for (size_t i = 0; i < 2 * perSlab; ++i) pool.deallocate(cells[i]);
  EXPECT_EQ(pool.objectsLive(), cells.size() - 2 * perSlab);
  EXPECT_EQ(pool.slabsHeld(), 1u);
  for (size_t i = 2 * perSlab; i < cells.size(); ++i) pool.deallocate(cells[i]);
  EXPECT_EQ(pool.objectsLive(), 0u);
  EXPECT_EQ(pool.slabsHeld(), 1u);
  void* again = pool.allocate();
  EXPECT_EQ(pool.slabsHeld(), 1u);
  pool.deallocate(again);

  // Every pool of the process can be listed.
  bool listed = false;
  for (SlabPool const* p = SlabPool::first(); p; p = p->next()) listed |= p == &pool;
  EXPECT_TRUE(listed);
}

// Slabs are cut from shared regions: whatever its size, a slab is aligned to it
// (cells find their slab by address), a slab one pool gives back is the next one a
// pool of that size takes, and a 16 KiB slab given back (its pages returned to the
// system) holds new objects as before.
TEST(Slab, SlabsOfEverySizeShareRegionsAndComeBack) {
  for (size_t bytes : {size_t(1024), size_t(4096), SlabPool::slabBytes}) {
    SlabPool a("Record", sizeof(Record), alignof(Record), bytes);
    SlabPool b("Record", sizeof(Record), alignof(Record), bytes);
    size_t const perSlab = a.objectsPerSlab();
    auto slabOf = [bytes](void* p) { return reinterpret_cast<uintptr_t>(p) & ~uintptr_t(bytes - 1); };
    std::vector<void*> cells;
    for (size_t i = 0; i < perSlab * 3 - 1; ++i) {
      void* p = a.allocate();
      std::memset(p, 0xcd, sizeof(Record));
      cells.push_back(p);
    }
    std::set<uintptr_t> slabs;
    for (void* p : cells) slabs.insert(slabOf(p));
    EXPECT_EQ(slabs.size(), 3u) << bytes;
    EXPECT_EQ(a.slabsHeld(), 3u) << bytes;
    // The first slab emptied goes back (the last has room) and is b's first.
    uintptr_t const first = slabOf(cells[0]);
    for (size_t i = 0; i < perSlab; ++i) a.deallocate(cells[i]);
    EXPECT_EQ(a.slabsHeld(), 2u) << bytes;
    std::vector<void*> fresh;
    for (size_t i = 0; i < perSlab; ++i) {
      void* p = b.allocate();
      EXPECT_EQ(slabOf(p), first) << bytes;
      std::memset(p, 0x5a, sizeof(Record));
      fresh.push_back(p);
    }
    for (size_t i = perSlab; i < cells.size(); ++i) {
      Record r;
      std::memcpy(&r, cells[i], sizeof r);
      EXPECT_EQ(r.b, 0xcdcd) << bytes;
      a.deallocate(cells[i]);
    }
    for (void* p : fresh) {
      Record r;
      std::memcpy(&r, p, sizeof r);
      EXPECT_EQ(r.b, 0x5a5a) << bytes;
      b.deallocate(p);
    }
    EXPECT_EQ(a.objectsLive() + b.objectsLive(), 0u) << bytes;
  }
}

namespace {
// An entity type of an agent that declares no allocation of its own.
struct AgentEntity : Entity {
  uint64_t extra[5] = {};
};
}  // namespace

// Node types come from their own pools: per-port types from 16 KiB slabs, types
// made a few at a time from slabs that hold a few objects; a derived type of
// another size uses the global allocator, and each pool counts what it holds.
TEST(Slab, NodeTypesComeFromTheirOwnPools) {
  EXPECT_EQ(SlabPool::slabBytesFor(40), 1024u);
  EXPECT_EQ(SlabPool::slabBytesFor(760), 4096u);
  EXPECT_EQ(SlabPool::slabBytesFor(1024), 8192u);  // four cells up to 1 KiB, then one
  EXPECT_EQ(SlabPool::slabBytesFor(1025), 2048u);
  EXPECT_EQ(SlabPool::slabBytesFor(5000), 8192u);

  auto const& td = Lag::EthPhyIntfLagConfig::typeDataStatic();
  std::vector<Ptr<Lag::EthPhyIntfLagConfig>> ports;
  for (uint64_t i = 1; i <= 1000; ++i) ports.push_back(Lag::EthPhyIntfLagConfig::EthPhyIntfLagConfigIs(IntfId(i)));
  SlabPool const* pool = td.slabPool();
  ASSERT_NE(pool, nullptr);
  EXPECT_STREQ(pool->typeName(), td.name());
  EXPECT_EQ(pool->bytesPerSlab(), SlabPool::slabBytes);
  EXPECT_EQ(pool->objectsLive(), uint64_t(td.liveCount()));
  uint64_t const slabs = pool->slabsHeld();
  EXPECT_GE(slabs * pool->objectsPerSlab(), 1000u);
  ports.resize(10);
  EXPECT_EQ(pool->objectsLive(), uint64_t(td.liveCount()));
  EXPECT_LT(pool->slabsHeld(), slabs);

  // A state machine: one object, a small slab.
  Ptr<Hardware::Velt::Status> status = Hardware::Velt::Status::StatusIs("status");
  Ptr<Lag::Config> lag = Lag::Config::ConfigIs("lag");
  Ptr<IntfToTcamSet> out = IntfToTcamSet::IntfToTcamSetIs("out");
  SmControl control;
  control.synchronousIs(1);
  Ptr<IntfTcamSm> sm = intfTcamSmFactory(status, lag, out, control);
  SlabPool const* smPool = IntfTcamSm::typeDataStatic().slabPool();
  ASSERT_NE(smPool, nullptr);
  EXPECT_GE(smPool->objectsLive(), 1u);
  EXPECT_LE(smPool->bytesPerSlab(), 4096u);

  // The agent's own type is not counted in its base's pool.
  SlabPool const* entityPool = Entity::typeDataStatic().slabPool();
  uint64_t const before = entityPool ? entityPool->objectsLive() : 0;
  Ptr<AgentEntity> own(new AgentEntity);
  entityPool = Entity::typeDataStatic().slabPool();
  EXPECT_EQ(entityPool ? entityPool->objectsLive() : 0, before);
}

// With thread-safe counting on, the pool takes its lock and counts the same.
// A pool that goes leaves the process-wide list of pools, whatever its place on it.
TEST(Slab, APoolThatGoesLeavesTheListOfPools) {
  auto listed = [] {
    std::vector<SlabPool const*> v;
    for (SlabPool const* p = SlabPool::first(); p; p = p->next()) v.push_back(p);
    return v;
  };
  auto const before = listed();
  auto a = std::make_unique<SlabPool>("A", 16, 8);
  auto b = std::make_unique<SlabPool>("B", 16, 8);
  EXPECT_EQ(listed().size(), before.size() + 2);
  a = nullptr;  // not the head of the list
  EXPECT_EQ(listed().size(), before.size() + 1);
  b = nullptr;
  EXPECT_EQ(listed(), before);
}

TEST(Slab, CountsTheSameUnderItsLock) {
  threadSafeCountingIs(true);
  SlabPool pool("Locked", sizeof(Record), alignof(Record));
  std::vector<void*> cells;
  for (int i = 0; i < 300; ++i) cells.push_back(pool.allocate());
  EXPECT_EQ(pool.objectsLive(), 300u);
  for (void* p : cells) pool.deallocate(p);
  EXPECT_EQ(pool.objectsLive(), 0u);
  EXPECT_EQ(pool.slabsHeld(), 1u);
  threadSafeCountingIs(false);
}

namespace {
// Agent types of every size the public macros allow: a few bytes, just under one
// 16 KiB slab, at it and over it, and alignments stricter than a cell or a slab.
// Each fills its bytes with a pattern of its own, checked before it goes.
#define SLAB_TEST_TYPE(Type, Align, Bytes)                                        \
  struct alignas(Align) Type : Entity {                                           \
    CORVANE_NODE_TYPE(Type)                                                       \
    explicit Type(unsigned char mark) { std::memset(bytes, mark, sizeof(bytes)); } \
    bool intact(unsigned char mark) const {                                       \
      return std::all_of(std::begin(bytes), std::end(bytes), [mark](unsigned char b) { return b == mark; }); \
    }                                                                             \
    unsigned char bytes[Bytes];                                                   \
  };
SLAB_TEST_TYPE(Tiny, alignof(Entity), 3)
SLAB_TEST_TYPE(UnderSlab, alignof(Entity), SlabPool::slabBytes - 256)
SLAB_TEST_TYPE(AtSlab, alignof(Entity), SlabPool::slabBytes)
SLAB_TEST_TYPE(Large, alignof(Entity), 20000)
SLAB_TEST_TYPE(PerPortLarge, alignof(Entity), 20000)
SLAB_TEST_TYPE(CacheAligned, 64, 40)
SLAB_TEST_TYPE(PageAligned, 4096, 100)
SLAB_TEST_TYPE(BeyondSlabAligned, 2 * SlabPool::slabBytes, 8)
#undef SLAB_TEST_TYPE
}  // namespace
CORVANE_NODE_TYPE_DEFINE(Tiny, "test::Tiny", Entity)
CORVANE_NODE_TYPE_DEFINE(UnderSlab, "test::UnderSlab", Entity)
CORVANE_NODE_TYPE_DEFINE(AtSlab, "test::AtSlab", Entity)
CORVANE_NODE_TYPE_DEFINE(Large, "test::Large", Entity)
CORVANE_NODE_TYPE_DEFINE_SLABS(PerPortLarge, "test::PerPortLarge", Entity, SlabPool::slabBytes)
CORVANE_NODE_TYPE_DEFINE(CacheAligned, "test::CacheAligned", Entity)
CORVANE_NODE_TYPE_DEFINE(PageAligned, "test::PageAligned", Entity)
CORVANE_NODE_TYPE_DEFINE(BeyondSlabAligned, "test::BeyondSlabAligned", Entity)

namespace {
// Makes, checks and drops objects of one type; the pool and the type count the same.
struct Kind {
  virtual ~Kind() = default;
  virtual Ptr<Entity> make(unsigned char mark) = 0;
  virtual bool intact(Entity const& e, unsigned char mark) const = 0;
  virtual TypeData const& type() const = 0;
  virtual size_t align() const = 0;
};
template <class T>
struct KindOf : Kind {
  Ptr<Entity> make(unsigned char mark) override { return Ptr<Entity>(new T(mark)); }
  bool intact(Entity const& e, unsigned char mark) const override { return static_cast<T const&>(e).intact(mark); }
  TypeData const& type() const override { return T::typeDataStatic(); }
  size_t align() const override { return alignof(T); }
};
}  // namespace

// Objects of every size and alignment get memory of their own: made and dropped in
// interleaved order, none overwrites another, and each type's pool counts exactly
// its live objects (those too large for a slab alone, on the global allocator).
TEST(Slab, EverySizeAndAlignmentGetsMemoryOfItsOwn) {
  std::vector<std::unique_ptr<Kind>> kinds;
  kinds.push_back(std::make_unique<KindOf<Tiny>>());
  kinds.push_back(std::make_unique<KindOf<UnderSlab>>());
  kinds.push_back(std::make_unique<KindOf<AtSlab>>());
  kinds.push_back(std::make_unique<KindOf<Large>>());
  kinds.push_back(std::make_unique<KindOf<PerPortLarge>>());
  kinds.push_back(std::make_unique<KindOf<CacheAligned>>());
  kinds.push_back(std::make_unique<KindOf<PageAligned>>());
  kinds.push_back(std::make_unique<KindOf<BeyondSlabAligned>>());

  struct Made {
    Kind* kind;
    Ptr<Entity> object;
    unsigned char mark;
  };
  std::vector<Made> made;
  auto checkAll = [&] {
    for (auto const& m : made) ASSERT_TRUE(m.kind->intact(*m.object, m.mark)) << m.kind->type().name();
    for (auto const& k : kinds) {
      auto const live = size_t(std::count_if(made.begin(), made.end(), [&](Made const& m) { return m.kind == k.get(); }));
      EXPECT_EQ(k->type().liveCount(), int32_t(live)) << k->type().name();
      SlabPool const* pool = k->type().slabPool();
      ASSERT_NE(pool, nullptr) << k->type().name();
      EXPECT_EQ(pool->objectsLive(), live) << k->type().name();
      EXPECT_LE(live, pool->slabsHeld() * pool->objectsPerSlab()) << k->type().name();
    }
  };
  // Three rounds: seven of each kind made in turn, then every other object dropped.
  unsigned char mark = 1;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 7; ++i) {
      for (auto const& k : kinds) {
        made.push_back({k.get(), k->make(mark), mark});
        EXPECT_EQ(reinterpret_cast<uintptr_t>(made.back().object.get()) % k->align(), 0u) << k->type().name();
        mark = mark == 255 ? 1 : mark + 1;
      }
    }
    checkAll();
    for (size_t i = made.size(); i-- > 0;) {
      if (i % 2 == 0) made.erase(made.begin() + ptrdiff_t(i));
    }
    checkAll();
  }
  made.clear();
  checkAll();

  // A type too large for its slab is counted as slabs of one object.
  SlabPool const* large = Large::typeDataStatic().slabPool();
  EXPECT_TRUE(large->objectsAlone());
  EXPECT_EQ(large->bytesPerSlab(), sizeof(Large));
  EXPECT_FALSE(UnderSlab::typeDataStatic().slabPool()->objectsAlone());
  EXPECT_TRUE(AtSlab::typeDataStatic().slabPool()->objectsAlone());
  EXPECT_TRUE(BeyondSlabAligned::typeDataStatic().slabPool()->objectsAlone());
  EXPECT_FALSE(PageAligned::typeDataStatic().slabPool()->objectsAlone());
  EXPECT_EQ(large->bytesHeld(), 0u);
}

// A slab size or an alignment that is not a power of two would find cells from
// their addresses with the wrong mask: the pool refuses it at once.
TEST(SlabDeathTest, RefusesASlabSizeItCannotMask) {
  EXPECT_DEATH(SlabPool("Odd", 16, 8, 3000), "SlabPool Odd: 3000 bytes per slab is not a power of two from 1024 to 16384");
  EXPECT_DEATH(SlabPool("Huge", 16, 8, 2 * SlabPool::slabBytes), "SlabPool Huge: 32768 bytes per slab");
  EXPECT_DEATH(SlabPool("Crooked", 16, 12), "SlabPool Crooked: alignment 12 is not a power of two");
}
