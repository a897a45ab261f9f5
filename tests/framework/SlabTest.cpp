// Slab allocation: cells are reused, pools count what they hold, an empty slab goes
// back to the allocator unless it is the only one with room.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
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
