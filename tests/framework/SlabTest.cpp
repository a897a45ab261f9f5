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
