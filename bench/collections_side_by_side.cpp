// Corvane's hash collections beside the fastest open-addressing tables:
// Corvane::HashMap and HashSet against boost::unordered_flat_map / unordered_flat_set
// and std::unordered_map / unordered_set. Every table hashes with the library's own
// Hasher<K>, so only the table design differs. Two keys: Net::IntfId (8 bytes, mapped
// to a SystemTcamId) and TripleKey, a 24-byte composite key of three 64-bit fields.
// Sizes: 10k, 100k and 1M entries.
//
// Per operation (the per_op counter, CPU time per operation; BM_InsertWarm's is wall
// time, kept by hand):
//   BM_Hit            lookups of present keys, in random order
//   BM_Miss           lookups of absent keys, in random order
//   BM_InsertWarm     new keys into a table already holding N entries
//   BM_EraseReinsert  a quarter of the entries erased, then inserted again
//   BM_Walk           a full walk, per entry
//   BM_Seek16         lowerBound then 16 steps; Corvane's tables only, the others
//                     have no order to resume a walk in
// Once per size and repetition:
//   BM_Bytes          bytes per entry: asked of the allocator (bytes_per_entry) and
//                     taken from the heap, malloc's overhead included (heap_bytes_per_entry)
//   BM_WorstInsert    the slowest single insert while filling from empty to N
//                     (worst_ns; 3 fills, so that preemptions can be told apart),
//                     each insert timed with a steady clock: a table that rehashes
//                     all its entries at once shows it here
//
// Benchmark names read BM_<measure><Library_KeyKind>/<entries>. Needs Boost 1.81 or
// later (headers only; bench/CMakeLists.txt skips the program without them). Build
// and run, a few minutes at all sizes:
//   cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_BENCH=ON
//   cmake --build build/bench --target collections_side_by_side
//   build/bench/bench/collections_side_by_side --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// or, for a short look, --benchmark_filter='IntfMap>/10000/'. scripts/bench runs it
// with the other collection benchmarks.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <boost/unordered/unordered_flat_map.hpp>
#include <boost/unordered/unordered_flat_set.hpp>
#include <chrono>
#include <climits>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "corvane/framework/Hash.h"
#include "corvane/framework/HashMap.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace {

using Net::IntfId;
using Val = Hardware::Velt::SystemTcamId;

// A 24-byte composite key, declared as the library's own composite keys are
// (IntfIdSystemTcamId): equality and order field by field, a hash that mixes the
// fields in turn, and hashValue() beside the type for Corvane::Hasher to find.
struct TripleKey {
  uint64_t intf = 0;   // an IntfId's value
  uint64_t table = 0;  // which of the interface's tables
  uint64_t index = 0;  // entry in that table

  uint64_t hash(uint64_t seed = 0) const noexcept {
    using Corvane::hashMix;
    return hashMix(hashMix(hashMix(seed, intf), table), index);
  }
  friend bool operator==(TripleKey const&, TripleKey const&) = default;
  friend std::strong_ordering operator<=>(TripleKey const&, TripleKey const&) = default;
};
static_assert(sizeof(TripleKey) == 24);
inline uint64_t hashValue(TripleKey const& k) noexcept { return k.hash(0); }

// Key i of a size's universe: keys 0..N-1 fill the table, keys N..2N-1 are its misses.
template <class K>
K makeKey(size_t i) {
  if constexpr (std::is_same_v<K, IntfId>) {
    return IntfId::ethernet(static_cast<uint16_t>(i / 64 + 1), static_cast<uint16_t>(i % 64 + 1));
  } else {
    // 16 tables of 16 entries on each interface.
    auto intf = IntfId::ethernet(static_cast<uint16_t>(i / 16384 + 1), static_cast<uint16_t>(i / 256 % 64 + 1));
    return TripleKey{intf.value(), i / 16 % 16, i % 16};
  }
}
uint64_t bits(IntfId k) { return k.value(); }
uint64_t bits(TripleKey const& k) { return k.index; }
template <class K>
Val valueOf(K const& k) {
  return Val(static_cast<uint16_t>(bits(k)));
}

template <class K>
struct Keys {
  std::vector<K> fill;    // the table's keys, in insertion order
  std::vector<K> probes;  // the same keys in another random order, for lookups
  std::vector<K> misses;  // as many keys the table lacks, in random order
};
// Built once per size: shuffling a million keys costs more than many benchmark runs.
template <class K>
Keys<K> const& keysFor(size_t n) {
  static std::map<size_t, Keys<K>> cache;
  Keys<K>& ks = cache[n];
  if (ks.fill.empty()) {
    for (size_t i = 0; i < n; ++i) {
      ks.fill.push_back(makeKey<K>(i));
      ks.misses.push_back(makeKey<K>(n + i));
    }
    ks.probes = ks.fill;
    std::shuffle(ks.fill.begin(), ks.fill.end(), std::mt19937_64(0xC0A7A9E));
    std::shuffle(ks.probes.begin(), ks.probes.end(), std::mt19937_64(0x5EEDF00D));
    std::shuffle(ks.misses.begin(), ks.misses.end(), std::mt19937_64(0xAB5E17));
  }
  return ks;
}

// The library's hash for the boost and std tables. It ends in a 64-bit finalizer
// that spreads every input bit over the result, which is what boost's is_avalanching
// asks: boost then uses it as it is instead of mixing it once more.
template <class K>
struct SameHash {
  using is_avalanching = void;
  size_t operator()(K const& k) const noexcept { return static_cast<size_t>(Corvane::Hasher<K>{}(k)); }
};

template <class K>
using BoostMap = boost::unordered_flat_map<K, Val, SameHash<K>>;
template <class K>
using BoostSet = boost::unordered_flat_set<K, SameHash<K>>;
template <class K>
using StdMap = std::unordered_map<K, Val, SameHash<K>>;
template <class K>
using StdSet = std::unordered_set<K, SameHash<K>>;

using Corvane_IntfMap = Corvane::HashMap<IntfId, Val>;
using Boost_IntfMap = BoostMap<IntfId>;
using Std_IntfMap = StdMap<IntfId>;
using Corvane_IntfSet = Corvane::HashSet<IntfId>;
using Boost_IntfSet = BoostSet<IntfId>;
using Std_IntfSet = StdSet<IntfId>;
using Corvane_TripleMap = Corvane::HashMap<TripleKey, Val>;
using Boost_TripleMap = BoostMap<TripleKey>;
using Std_TripleMap = StdMap<TripleKey>;
using Corvane_TripleSet = Corvane::HashSet<TripleKey>;
using Boost_TripleSet = BoostSet<TripleKey>;
using Std_TripleSet = StdSet<TripleKey>;

// Bytes the boost and std tables ask of the allocator, net of frees (a rehash gives
// the old array back). Corvane's tables report theirs with bytesHeld().
size_t gCountedBytes = 0;

template <class T>
struct CountingAlloc {
  using value_type = T;
  CountingAlloc() = default;
  template <class U>
  CountingAlloc(CountingAlloc<U> const&) noexcept {}
  T* allocate(size_t n) {
    gCountedBytes += n * sizeof(T);
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) noexcept {
    gCountedBytes -= n * sizeof(T);
    std::allocator<T>().deallocate(p, n);
  }
  friend bool operator==(CountingAlloc, CountingAlloc) noexcept { return true; }
};

// The same table with its allocations counted, for the memory figures only.
template <class M>
struct Counted {
  using type = M;
};
template <class K, class V, class H, class E, class A>
struct Counted<boost::unordered_flat_map<K, V, H, E, A>> {
  using type = boost::unordered_flat_map<K, V, H, E, CountingAlloc<typename A::value_type>>;
};
template <class K, class H, class E, class A>
struct Counted<boost::unordered_flat_set<K, H, E, A>> {
  using type = boost::unordered_flat_set<K, H, E, CountingAlloc<K>>;
};
template <class K, class V, class H, class E, class A>
struct Counted<std::unordered_map<K, V, H, E, A>> {
  using type = std::unordered_map<K, V, H, E, CountingAlloc<typename A::value_type>>;
};
template <class K, class H, class E, class A>
struct Counted<std::unordered_set<K, H, E, A>> {
  using type = std::unordered_set<K, H, E, CountingAlloc<K>>;
};

// Everything the heap has handed out, malloc's own per-block overhead included, and
// the slot arrays large enough for the tables to map themselves.
size_t heapInUse() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd + Corvane::detail::slotArrayMappedBytes();
}

// One spelling per operation, so that every benchmark body serves all twelve tables.
template <class M>
using Key = typename M::key_type;
template <class M>
constexpr bool isSet = std::is_same_v<std::remove_cvref_t<decltype(*std::declval<M&>().begin())>, Key<M>>;

template <class M>
void put(M& m, Key<M> const& k) {
  if constexpr (isSet<M>) {
    m.insert(k);
  } else if constexpr (requires { m.try_emplace(k, valueOf(k)); }) {
    m.try_emplace(k, valueOf(k));
  } else {
    m.insert(k, valueOf(k));
  }
}
// A set answers whether it holds the key; a map also reads the value.
template <class M>
uint64_t probe(M& m, Key<M> const& k) {
  if constexpr (isSet<M>) {
    return m.contains(k);
  } else if constexpr (std::is_pointer_v<decltype(m.find(k))>) {
    auto const* v = m.find(k);
    return v ? v->value() + 1u : 0;
  } else {
    auto it = m.find(k);
    return it != m.end() ? it->second.value() + 1u : 0;
  }
}
template <class E>
uint64_t readOf(E const& e) {
  if constexpr (requires { e.second.value(); }) {
    return e.second.value();
  } else {
    return bits(e);
  }
}

// One full table per structure and size, shared by all per-operation benchmarks;
// those that change it restore the same keys.
template <class M>
M& filled(size_t n) {
  static std::map<size_t, std::unique_ptr<M>> cache;
  auto& m = cache[n];
  if (!m) {
    m = std::make_unique<M>();
    for (auto const& k : keysFor<Key<M>>(n).fill) put(*m, k);
  }
  return *m;
}

// per_op: the time of an iteration divided by the operations it does.
void perOp(benchmark::State& state, double opsPerIteration) {
  state.counters["per_op"] =
      benchmark::Counter(opsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class M>
void lookups(benchmark::State& state, std::vector<Key<M>> const& keys) {
  size_t const n = keys.size();
  M& m = filled<M>(n);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(probe(m, keys[i]));
    if (++i == n) i = 0;
  }
  perOp(state, 1);
}
template <class M>
void BM_Hit(benchmark::State& state) {
  lookups<M>(state, keysFor<Key<M>>(static_cast<size_t>(state.range(0))).probes);
}
template <class M>
void BM_Miss(benchmark::State& state) {
  lookups<M>(state, keysFor<Key<M>>(static_cast<size_t>(state.range(0))).misses);
}

// A full table gets a batch of new keys (1% of its size), timed on their own; the
// batch is then taken out again, so every batch meets N entries. No table here reaches
// a growth with one batch at these sizes; boost may still rebuild its array once
// erasures have used up its load allowance, which is part of what it pays under
// churn. The time is kept by hand (wall time): pausing the benchmark's clocks reads
// the thread's CPU clock, a system call that would cost as much as a small batch.
template <class M>
void BM_InsertWarm(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  size_t const n = static_cast<size_t>(state.range(0));
  size_t const batch = n / 100;
  M& m = filled<M>(n);
  auto const& fresh = keysFor<Key<M>>(n).misses;
  size_t from = 0;
  for (auto _ : state) {
    auto const t0 = Clock::now();
    for (size_t j = from; j < from + batch; ++j) put(m, fresh[j]);
    benchmark::ClobberMemory();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - t0).count());
    for (size_t j = from; j < from + batch; ++j) m.erase(fresh[j]);
    from = from + 2 * batch <= n ? from + batch : 0;
  }
  perOp(state, double(batch));
}

// A quarter of the entries, in random order, erased and then inserted again.
template <class M>
void BM_EraseReinsert(benchmark::State& state) {
  size_t const n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  auto const& probes = keysFor<Key<M>>(n).probes;
  size_t const quarter = n / 4;
  for (auto _ : state) {
    for (size_t j = 0; j < quarter; ++j) m.erase(probes[j]);
    for (size_t j = 0; j < quarter; ++j) put(m, probes[j]);
    benchmark::ClobberMemory();
  }
  perOp(state, 2.0 * double(quarter));
}

template <class M>
void BM_Walk(benchmark::State& state) {
  size_t const n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (auto const& e : m) sum += readOf(e);
    benchmark::DoNotOptimize(sum);
  }
  perOp(state, double(n));
}

// Resuming a walk from a bookmark: the first entry at or after a key, then 16 more steps.
template <class M>
void BM_Seek16(benchmark::State& state) {
  size_t const n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  auto const& probes = keysFor<Key<M>>(n).probes;
  size_t i = 0;
  for (auto _ : state) {
    uint64_t sum = 0;
    auto it = m.lowerBound(probes[i]);
    for (int s = 0; s < 16 && it != m.end(); ++s, ++it) sum += readOf(*it);
    benchmark::DoNotOptimize(sum);
    if (++i == n) i = 0;
  }
  perOp(state, 1);
}

template <class M>
void BM_Bytes(benchmark::State& state) {
  using C = typename Counted<M>::type;
  size_t const n = static_cast<size_t>(state.range(0));
  auto const& keys = keysFor<Key<M>>(n).fill;
  size_t requested = 0;
  size_t heap = 0;
  for (auto _ : state) {
    gCountedBytes = 0;
    size_t const heapBefore = heapInUse();
    auto m = std::make_unique<C>();
    for (auto const& k : keys) put(*m, k);
    heap = heapInUse() - heapBefore;
    if constexpr (requires { m->bytesHeld(); }) {
      requested = m->bytesHeld();
    } else {
      requested = gCountedBytes;
    }
    benchmark::DoNotOptimize(m.get());
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["bytes_per_entry"] = double(requested) / double(n);
  state.counters["heap_bytes_per_entry"] = double(heap) / double(n);
}

// The slowest insert of a fill from empty: boost and std rehash every entry when they
// grow, Corvane moves its old buckets a few at each later change. Each iteration is
// one fill, in the same key order. On a shared machine any insert may also lose the
// processor for a scheduler tick (4 ms here), which would hide the table's own
// stalls; those land on different inserts in each fill, the table's own on the same
// ones. So each insert's time is the least over the fills, and worst_ns the largest
// of those; worst_raw_ns is the slowest insert seen at all.
template <class M>
void BM_WorstInsert(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  auto const& keys = keysFor<Key<M>>(static_cast<size_t>(state.range(0))).fill;
  std::vector<int64_t> least(keys.size(), INT64_MAX);
  int64_t raw = 0;
  for (auto _ : state) {
    auto m = std::make_unique<M>();
    benchmark::DoNotOptimize(m.get());
    for (size_t i = 0; i < keys.size(); ++i) {
      auto const t0 = Clock::now();
      put(*m, keys[i]);
      benchmark::ClobberMemory();
      int64_t const ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count();
      least[i] = std::min(least[i], ns);
      raw = std::max(raw, ns);
    }
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["worst_ns"] = double(*std::max_element(least.begin(), least.end()));
  state.counters["worst_raw_ns"] = double(raw);
}

// Short runs: the whole program takes a few minutes on a small, busy machine.
void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(10000)->Arg(100000)->Arg(1000000)->MinTime(0.1)->Unit(benchmark::kNanosecond);
}
void sizesTimedByHand(benchmark::internal::Benchmark* b) { sizes(b->UseManualTime()); }
void fills(benchmark::internal::Benchmark* b, int count) {
  b->Arg(10000)->Arg(100000)->Arg(1000000)->Iterations(count)->Unit(benchmark::kMillisecond);
}
void once(benchmark::internal::Benchmark* b) { fills(b, 1); }
void thrice(benchmark::internal::Benchmark* b) { fills(b, 3); }

#define SIDE_BY_SIDE_KEY(fn, how, Kind)                    \
  BENCHMARK_TEMPLATE(fn, Corvane_##Kind##Map)->Apply(how); \
  BENCHMARK_TEMPLATE(fn, Boost_##Kind##Map)->Apply(how);   \
  BENCHMARK_TEMPLATE(fn, Std_##Kind##Map)->Apply(how);     \
  BENCHMARK_TEMPLATE(fn, Corvane_##Kind##Set)->Apply(how); \
  BENCHMARK_TEMPLATE(fn, Boost_##Kind##Set)->Apply(how);   \
  BENCHMARK_TEMPLATE(fn, Std_##Kind##Set)->Apply(how)
#define SIDE_BY_SIDE(fn, how)      \
  SIDE_BY_SIDE_KEY(fn, how, Intf); \
  SIDE_BY_SIDE_KEY(fn, how, Triple)

// Reads first, on tables as their fill left them; then the changes.
SIDE_BY_SIDE(BM_Hit, sizes);
SIDE_BY_SIDE(BM_Miss, sizes);
SIDE_BY_SIDE(BM_Walk, sizes);
BENCHMARK_TEMPLATE(BM_Seek16, Corvane_IntfMap)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Seek16, Corvane_IntfSet)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Seek16, Corvane_TripleMap)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Seek16, Corvane_TripleSet)->Apply(sizes);
SIDE_BY_SIDE(BM_InsertWarm, sizesTimedByHand);
SIDE_BY_SIDE(BM_EraseReinsert, sizes);
SIDE_BY_SIDE(BM_Bytes, once);
SIDE_BY_SIDE(BM_WorstInsert, thrice);

// glibc hands large free blocks back to the kernel, and would do so for some tables'
// arrays and not for the small nodes std caches, so that page faults in a refill would
// be charged to some tables only. Keeping freed memory in the process puts them on
// the same footing. Arrays above the largest mmap threshold (32 MiB: boost's at 1M
// entries) still come fresh from the kernel, as they do in any process. Set before
// main so that it holds from the first benchmark on.
[[maybe_unused]] int const heapSetup = [] {
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  return 0;
}();

}  // namespace

BENCHMARK_MAIN();
