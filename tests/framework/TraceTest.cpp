// Tracing: levels gate formatting entirely; records reach the sink and the ring.
#include <gtest/gtest.h>

#include <vector>

#include "corvane/Corvane.h"

using namespace Corvane;

namespace {
struct Counted {
  static inline int formatted = 0;
};
}  // namespace

template <>
struct fmt::formatter<Counted> : fmt::formatter<fmt::string_view> {
  auto format(Counted const&, fmt::format_context& ctx) const {
    ++Counted::formatted;
    return fmt::formatter<fmt::string_view>::format("counted", ctx);
  }
};

TEST(Trace, DisabledLevelFormatsNothing) {
  auto h = getDebugHandler("TraceTest.disabled");
  std::vector<TraceRecord> got;
  TraceSink prev = traceSinkIs([&](TraceRecord const& r) { got.push_back(r); });
  h->levelMaskIs(1u << 7);
  Counted::formatted = 0;
  h->trace(8, "Src", "fn", "Cls", nullptr, "k: {}", Counted{});
  CORVANE_TRACE(*h, 9, "Src", "fn", "Cls", nullptr, "k: {}", Counted{});
  EXPECT_EQ(Counted::formatted, 0);
  EXPECT_TRUE(got.empty());
  h->trace(7, "Src", "fn", "Cls", nullptr, "k: {}", Counted{});
  EXPECT_EQ(Counted::formatted, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(traceRecordText(got[0]), "7 Src Cls::fn: k: counted");  // level, source, class, function, message
  traceSinkIs(prev);
}

TEST(Trace, HandlersAreNamedAndRingKeepsTheNewest) {
  EXPECT_EQ(getDebugHandler("TraceTest.absent", false), nullptr);
  auto h = getDebugHandler("TraceTest.ring");
  EXPECT_EQ(getDebugHandler("TraceTest.ring", false), h);
  h->levelMaskIs(0xffff);
  auto ring = RingTrace::RingTraceIs(3);
  for (int i = 0; i < 5; ++i) h->trace(9, "S", "f", "C", ring.get(), "line {}", i);
  auto records = ring->records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].message, "line 2");
  EXPECT_EQ(records[2].message, "line 4");
  EXPECT_EQ(traceRecordText(records[2]), "9 S C::f: line 4");
  // Value types print the same through {fmt} and streams.
  EXPECT_EQ(fmt::format("{}", IntfId("Ethernet3/1")), textForm(IntfId("Ethernet3/1")));
}
