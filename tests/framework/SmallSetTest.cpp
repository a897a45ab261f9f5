// SmallSet against HashSet: the same keys in the same order in both forms, cursors
// that keep their place across deletions and changes of form, a version that
// advances on every change.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;
using Hardware::Velt::SystemTcamId;

namespace {
template <class C>
std::vector<uint16_t> keys(C const& c) {
  std::vector<uint16_t> out;
  for (SystemTcamId t : c) out.push_back(t.value());
  return out;
}
}  // namespace

TEST(SmallSet, MatchesHashSetThroughRandomChangesAndFormChanges) {
  std::mt19937 rng(7);
  SmallSet<SystemTcamId, 3> small;
  HashSet<SystemTcamId> ref;
  // A full inline set loses a key (the shift stays inside the inline keys).
  for (uint16_t t : {1, 2, 3}) small.insert(SystemTcamId(t)), ref.insert(SystemTcamId(t));
  small.erase(SystemTcamId(1));
  ref.erase(SystemTcamId(1));
  EXPECT_EQ(keys(small), keys(ref));
  uint64_t version = small.version();
  for (int step = 0; step < 4000; ++step) {
    SystemTcamId k(uint16_t(rng() % 12));
    bool const adding = rng() % 2 != 0;
    bool const changed = adding ? small.insert(k) : small.erase(k);
    EXPECT_EQ(changed, adding ? ref.insert(k) : ref.erase(k));
    EXPECT_EQ(small.version() != version, changed);
    version = small.version();
    ASSERT_EQ(keys(small), keys(ref)) << "step " << step;
    ASSERT_EQ(small.size(), ref.size());
    if (step % 97 == 0) {
      small.clear();
      ref.clear();
      version = small.version();
    }
    // Room taken for a few keys past the inline ones: an empty set changes form
    // early, anything else stays as it is, and neither counts as a change.
    if (step % 13 == 0) {
      small.reserve(rng() % 8);
      EXPECT_EQ(small.version(), version);
      ASSERT_EQ(keys(small), keys(ref)) << "step " << step;
    }
  }
}

TEST(SmallSet, CursorKeepsItsPlaceWhileTheSetChangesForm) {
  SmallSet<SystemTcamId, 2> s;
  HashSet<SystemTcamId> ref;
  for (uint16_t t : {4, 9, 1}) {  // three keys: already in table form
    s.insert(SystemTcamId(t));
    ref.insert(SystemTcamId(t));
  }
  std::vector<uint16_t> const order = keys(ref);
  auto cur = s.cursor();
  ASSERT_FALSE(cur.done());
  EXPECT_EQ(cur.key().value(), order[0]);
  // Deleting the key under the cursor takes the set back inline; the cursor goes on
  // with the key after it.
  s.erase(cur.key());
  EXPECT_EQ(s.bytesHeld(), 0u);  // two keys fit inline: the table is gone
  cur.next();
  ASSERT_FALSE(cur.done());
  EXPECT_EQ(cur.key().value(), order[1]);
  // A bookmark on a key that is not there starts at the next one in order.
  auto at = s.cursorAt(SystemTcamId(order[0]));
  ASSERT_FALSE(at.done());
  EXPECT_EQ(at.key().value(), order[1]);
  // Growing back to table form under a cursor.
  s.insert(SystemTcamId(order[0]));
  cur.next();
  ASSERT_FALSE(cur.done());
  EXPECT_EQ(cur.key().value(), order[2]);
  cur.next();
  EXPECT_TRUE(cur.done());
  EXPECT_EQ(s.bytesHeld() > 0, s.size() > 2);
  // Inline, a key added under the cursor leaves it to go on after its own key.
  SmallSet<SystemTcamId, 4> in;
  for (uint16_t t : {4, 9, 1}) in.insert(SystemTcamId(t));
  auto c = in.cursor();
  uint16_t const first = c.key().value();
  in.insert(SystemTcamId(30));
  std::vector<uint16_t> rest, all = keys(in);
  for (c.next(); !c.done(); c.next()) rest.push_back(c.key().value());
  EXPECT_EQ(rest, std::vector<uint16_t>(std::find(all.begin(), all.end(), first) + 1, all.end()));
}
