// An entity write whose allocation fails changes nothing: the collection keeps its
// entries, its size and its version, and no subscriber hears of it; the same write
// made again succeeds and is announced once. (A table that cannot grow its bucket
// array keeps the entry with longer chains: that write happens whole.) Swept over every allocation of a write
// at every table size up to past several growths, for plain, instantiating, payload
// and inline-first collections, and for a table whose notifications are held back.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "corvane/Corvane.h"
#include "tests/faults/AllocationFaults.h"
#include "tests/support/Support.h"

namespace {

using namespace Corvane;
using namespace CorvaneTest;

// The entries of a collection in its order, with its version.
template <class Coll>
auto snapshot(Coll const& c) {
  std::vector<typename Coll::key_type> keys;
  for (auto cur = c.cursor(); !cur.done(); cur.next()) keys.push_back(cur.key());
  return std::make_pair(c.version(), keys);
}

// Every allocation of write() fails once in turn; returns the points swept. A table
// whose notifications are held back announces the write at announce().
template <class Read, class Write>
uint64_t everyFailureChangesNothing(Entity& e, Read read, Write write, void (*announce)(Entity&) = nullptr) {
  Heard heard(e);
  auto const before = read();
  uint64_t points = 0;
  for (uint64_t k = 1; k < 10000; ++k) {
    AllocationFault fault(k);
    try {
      write();
    } catch (std::bad_alloc const&) {
      ++points;
      EXPECT_EQ(read(), before) << "allocation " << k;
      EXPECT_EQ(heard.n, 0) << "allocation " << k;
      continue;
    }
    break;
  }
  if (announce) announce(e);
  EXPECT_NE(read(), before);
  EXPECT_EQ(heard.n, 1);
  return points;
}

IntfId port(uint32_t n) { return IntfId::ethernet(uint16_t(1 + n % 64), uint16_t(n / 64)); }

}  // namespace

TEST(WriteFault, AFailedAllocationLeavesTheCollectionAsItWas) {
  uint64_t points = 0;
  auto status = Hardware::Velt::Status::StatusIs("status");
  auto lags = Lag::Config::ConfigIs("lags");
  auto configs = IntfFeatureConfig::IntfFeatureConfigIs();
  auto sets = IntfToTcamSet::IntfToTcamSetIs("sets");
  Ptr<TcamSet> set = sets->intfToTcamSetIs(port(0));
  Ptr<FeatureConfigBase> payload(new FeatureConfigBase());
  for (uint32_t n = 0; n < 40; ++n) {
    points += everyFailureChangesNothing(
        *status, [&] { return snapshot(status->intfIdToSystemTcamId()); },
        [&] { status->intfIdToSystemTcamIdIs(port(n), SystemTcamId(uint16_t(n % 7))); });
    points += everyFailureChangesNothing(
        *lags, [&] { return snapshot(lags->phyIntf()); }, [&] { lags->phyIntfIs(port(n)); });
    points += everyFailureChangesNothing(
        *configs, [&] { return snapshot(configs->config()); }, [&] { configs->configIs(port(n), payload); });
    if (n < 12) {
      points += everyFailureChangesNothing(
          *set, [&] { return snapshot(set->tcamSet()); }, [&] { set->tcamSetIs(SystemTcamId(uint16_t(n))); });
    }
  }
  // Held back by a delayed-notification holder, the key queued for announcement.
  auto portMaps = IntfIdToPortMap::IntfIdToPortMapIs("portMaps");
  portMaps->delayedNotifHolderIs(DelayedNotifHolder::DelayedNotifHolderIs());
  for (uint32_t n = 0; n < 40; ++n) {
    PortMap const pm(Hardware::Velt::FapId(1), Hardware::Velt::FapPortId(8 + n), Hardware::Velt::LocalCoreId(0));
    points += everyFailureChangesNothing(
        *portMaps, [&] { return snapshot(portMaps->intfIdToPortMap()); },
        [&] { portMaps->intfIdToPortMapIs(port(n), pm); },
        [](Entity& e) { static_cast<IntfIdToPortMap&>(e).triggerDelayedNotif(); });
  }
  std::printf("allocation failure points swept: %llu\n", static_cast<unsigned long long>(points));
  EXPECT_GT(points, 10u);
}

// A subscriber that throws while a held-back burst is announced: the key it threw
// on and every key after it stay queued, and the next trigger announces them.
TEST(WriteFault, ABurstWhoseSubscriberThrowsKeepsWhatItDidNotAnnounce) {
  auto portMaps = IntfIdToPortMap::IntfIdToPortMapIs("portMaps");
  portMaps->delayedNotifHolderIs(DelayedNotifHolder::DelayedNotifHolderIs());
  PortMap const pm(Hardware::Velt::FapId(1), Hardware::Velt::FapPortId(9), Hardware::Velt::LocalCoreId(0));
  for (uint32_t n = 0; n < 5; ++n) portMaps->intfIdToPortMapIs(port(n), pm);
  struct Throws : Subscriber {
    std::vector<IntfId> heard;
    bool armed = true;
    void dispatch(uint32_t, void const* key) override {
      heard.push_back(*static_cast<IntfId const*>(key));
      if (heard.size() == 3 && std::exchange(armed, false)) throw std::runtime_error("agent");
    }
  } sub;
  portMaps->subscriberAdd(&sub);
  EXPECT_THROW(portMaps->triggerDelayedNotif(), std::runtime_error);
  portMaps->triggerDelayedNotif();
  portMaps->subscriberRemove(&sub);
  // The third key was heard when it threw, and again with the two after it.
  ASSERT_EQ(sub.heard.size(), 6u);
  EXPECT_EQ(sub.heard[3], sub.heard[2]);
  std::set<IntfId> all(sub.heard.begin(), sub.heard.end());
  EXPECT_EQ(all.size(), 5u);
  portMaps->triggerDelayedNotif();  // nothing left
  EXPECT_EQ(sub.heard.size(), 6u);
}
