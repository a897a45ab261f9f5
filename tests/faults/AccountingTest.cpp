// What a table reports holding is what it asked the allocator for and still holds,
// at every size through growth (its pauses included) and shrinking, so that the
// memory reports add up to the heap.
#include <gtest/gtest.h>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/SmallSet.h"
#include "tests/faults/AllocationFaults.h"

using namespace Corvane;

TEST(Accounting, TablesReportExactlyTheBytesTheyHold) {
  CorvaneTest::AllocationCount count;
  {
    HashMap<uint32_t, uint64_t> m;
    EXPECT_EQ(m.bytesHeld(), count.liveBytes());
    for (uint32_t i = 0; i < 1500; ++i) {
      m.insert(i * 7919u, i);
      ASSERT_EQ(m.bytesHeld(), count.liveBytes()) << i + 1 << " entries";
    }
    for (uint32_t i = 0; i < 1500; i += 2) {
      m.erase(i * 7919u);
      ASSERT_EQ(m.bytesHeld(), count.liveBytes()) << "erasing " << i;
    }
    m.clear();
    EXPECT_EQ(m.bytesHeld(), count.liveBytes());
  }
  EXPECT_EQ(count.liveBytes(), 0u);
  {
    SmallSet<uint32_t, 4> s;
    for (uint32_t i = 0; i < 300; ++i) {
      s.insert(i);
      ASSERT_EQ(s.bytesHeld(), count.liveBytes()) << i + 1 << " keys";
    }
    for (uint32_t i = 0; i < 300; ++i) {
      s.erase(i);
      ASSERT_EQ(s.bytesHeld(), count.liveBytes()) << "erasing " << i;
    }
  }
  EXPECT_EQ(count.liveBytes(), 0u);
}
