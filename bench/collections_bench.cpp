// Keyed collections at the sizes the library meets (1k, 100k, 1M interfaces):
// Corvane::HashMap and Corvane::OrderedMap against std::map and std::unordered_map,
// with IntfId keys and SystemTcamId values. The figures feed docs/performance.md.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/OrderedMap.h"
#include "corvane/platform/IntfId.h"
#include "corvane/platform/VeltTypes.h"

namespace {

using Key = Net::IntfId;
using Val = Hardware::Velt::SystemTcamId;

// Same hash as the Corvane containers, so only the table design differs. noexcept
// lets libstdc++ leave the hash out of each node, its leanest layout.
struct NetHash {
  size_t operator()(Key k) const noexcept { return static_cast<size_t>(hashValue(k)); }
};

using CorvaneHash = Corvane::HashMap<Key, Val>;
using CorvaneOrdered = Corvane::OrderedMap<Key, Val>;
using StdMap = std::map<Key, Val>;
using StdUnordered = std::unordered_map<Key, Val, NetHash>;

// Bytes requested from the allocator by the std containers (net of frees, since a
// rehash releases the old bucket array).
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

using CountedStdMap = std::map<Key, Val, std::less<Key>, CountingAlloc<std::pair<Key const, Val>>>;
using CountedStdUnordered =
    std::unordered_map<Key, Val, NetHash, std::equal_to<Key>, CountingAlloc<std::pair<Key const, Val>>>;

// OrderedMap takes no allocator, so its requests are tallied by the global operator
// new while a fill runs; filling a tree frees nothing, so the tally is what it holds.
bool gTallyNew = false;
size_t gTalliedBytes = 0;

// Everything the heap has handed out, malloc's own per-block overhead included, and
// the slot arrays large enough for the tables to map themselves.
size_t heapInUse() {
  struct mallinfo2 mi = mallinfo2();
  return mi.uordblks + mi.hblkhd + Corvane::detail::slotArrayMappedBytes();
}

// Interface ids as the library sees them: up to 64 ports per card, in random order.
std::vector<Key> makeKeys(size_t n, uint64_t seed) {
  std::vector<Key> keys;
  keys.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    keys.push_back(Key::ethernet(static_cast<uint16_t>(i / 64 + 1), static_cast<uint16_t>(i % 64 + 1)));
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937_64(seed));
  return keys;
}
constexpr uint64_t fillSeed = 0xC0A7A9E;
constexpr uint64_t probeSeed = 0x5EEDF00D;

// Built once per size: shuffling a million keys costs more than many benchmark runs.
std::vector<Key> const& keysFor(size_t n, uint64_t seed) {
  static std::map<std::pair<size_t, uint64_t>, std::vector<Key>> cache;
  auto& v = cache[{n, seed}];
  if (v.empty()) v = makeKeys(n, seed);
  return v;
}
// The lookup order differs from the fill order, so probes do not follow allocation order.
std::vector<Key> const& probesFor(size_t n) { return keysFor(n, probeSeed); }

Val valueFor(size_t i) { return Val(static_cast<uint16_t>(i)); }

// One spelling per operation, so every benchmark body is shared by all structures.
template <class M>
void put(M& m, Key k, Val v) {
  if constexpr (requires { m.try_emplace(k, v); }) {
    m.try_emplace(k, v);
  } else {
    m.insert(k, v);
  }
}
template <class M>
bool has(M& m, Key k) {
  if constexpr (std::is_pointer_v<decltype(m.find(k))>) {
    return m.find(k) != nullptr;
  } else {
    return m.find(k) != m.end();
  }
}
template <class M>
auto lowerBound(M& m, Key k) {
  if constexpr (requires { m.lowerBound(k); }) {
    return m.lowerBound(k);
  } else {
    return m.lower_bound(k);
  }
}

template <class M>
void fill(M& m, std::vector<Key> const& keys) {
  for (size_t i = 0; i < keys.size(); ++i) put(m, keys[i], valueFor(i));
}

// One full table per structure and size, shared by the read and change benchmarks:
// the benchmark library calls each body several times, and refilling a 1M-entry tree
// each time would dominate the run. Changes made on it restore the same contents.
template <class M>
M& filled(size_t n) {
  static std::map<size_t, std::unique_ptr<M>> cache;
  auto& m = cache[n];
  if (!m) {
    m = std::make_unique<M>();
    fill(*m, keysFor(n, fillSeed));
  }
  return *m;
}

// Filling a fresh table. Warm: memory freed by the previous round stays in the
// process (see heapSetup), so the figure is the structure's own cost. Cold: every round
// starts from memory the kernel has to supply, as the first fill of a process does.
template <class M, bool Cold>
void BM_Insert(benchmark::State& state) {
  auto const& keys = keysFor(static_cast<size_t>(state.range(0)), fillSeed);
  if (Cold) {
    malloc_trim(0);
  } else {
    // A single timed round (1M-entry trees) must not be the first, cold one.
    auto warmup = std::make_unique<M>();
    fill(*warmup, keys);
  }
  for (auto _ : state) {
    auto m = std::make_unique<M>();
    fill(*m, keys);
    benchmark::DoNotOptimize(m.get());
    // Tearing down is not part of inserting.
    state.PauseTiming();
    m.reset();
    if (Cold) malloc_trim(0);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
template <class M>
void BM_InsertWarm(benchmark::State& state) {
  BM_Insert<M, false>(state);
}
template <class M>
void BM_InsertCold(benchmark::State& state) {
  BM_Insert<M, true>(state);
}

template <class M>
void BM_Lookup(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  auto const& probes = probesFor(n);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(has(m, probes[i]));
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// The steady-state cost of one change: a full table loses a key and gets it back.
template <class M>
void BM_EraseReinsert(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  auto const& probes = probesFor(n);
  size_t i = 0;
  for (auto _ : state) {
    m.erase(probes[i]);
    put(m, probes[i], valueFor(i));
    benchmark::ClobberMemory();
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

template <class M>
void BM_Walk(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (auto const& [k, v] : m) sum += v.value();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

constexpr int seekSteps = 16;

// Resuming a walk from a bookmark: find the first entry at or after a key, read 16.
template <class M>
void BM_Seek(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  auto const& probes = probesFor(n);
  size_t i = 0;
  for (auto _ : state) {
    uint64_t sum = 0;
    auto it = lowerBound(m, probes[i]);
    for (int s = 0; s < seekSteps && it != m.end(); ++s, ++it) sum += it->second.value();
    benchmark::DoNotOptimize(sum);
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// The same through the library's Cursor, which pays for surviving deletions.
template <class M>
void BM_SeekCursor(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  M& m = filled<M>(n);
  auto const& probes = probesFor(n);
  size_t i = 0;
  for (auto _ : state) {
    uint64_t sum = 0;
    auto c = m.cursorAt(probes[i]);
    for (int s = 0; s < seekSteps && !c.done(); ++s, c.next()) sum += c.entry()->second.value();
    benchmark::DoNotOptimize(sum);
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// Requested bytes: what the structure asks of the allocator.
template <class M>
size_t requestedBytes(M const& m, size_t tallied) {
  if constexpr (requires { m.bytesHeld(); }) {
    return m.bytesHeld();
  } else if constexpr (std::is_same_v<M, CorvaneOrdered>) {
    return tallied;
  } else {
    return gCountedBytes;
  }
}

// Bytes per entry of a full table; a single pass, the figures do not vary.
template <class M>
void BM_Memory(benchmark::State& state) {
  size_t n = static_cast<size_t>(state.range(0));
  auto const& keys = keysFor(n, fillSeed);
  size_t requested = 0;
  size_t heap = 0;
  for (auto _ : state) {
    gCountedBytes = 0;
    gTalliedBytes = 0;
    size_t heapBefore = heapInUse();
    auto m = std::make_unique<M>();
    gTallyNew = true;
    fill(*m, keys);
    gTallyNew = false;
    heap = heapInUse() - heapBefore;
    requested = requestedBytes(*m, gTalliedBytes);
    benchmark::DoNotOptimize(m.get());
    state.PauseTiming();
    m.reset();
    state.ResumeTiming();
  }
  state.counters["bytes_per_entry"] = double(requested) / double(n);
  state.counters["heap_bytes_per_entry"] = double(heap) / double(n);
}

// Short runs keep the whole program under two minutes on a small, busy machine.
void sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(100000)->Arg(1000000)->MinTime(0.2)->Unit(benchmark::kNanosecond);
}

#define CORVANE_BENCH_ALL(fn)                         \
  BENCHMARK_TEMPLATE(fn, CorvaneHash)->Apply(sizes);  \
  BENCHMARK_TEMPLATE(fn, StdUnordered)->Apply(sizes); \
  BENCHMARK_TEMPLATE(fn, StdMap)->Apply(sizes);       \
  BENCHMARK_TEMPLATE(fn, CorvaneOrdered)->Apply(sizes)

CORVANE_BENCH_ALL(BM_InsertWarm);
CORVANE_BENCH_ALL(BM_InsertCold);
CORVANE_BENCH_ALL(BM_Lookup);
CORVANE_BENCH_ALL(BM_EraseReinsert);
CORVANE_BENCH_ALL(BM_Walk);

// std::unordered_map has no order to resume in, hence no bookmark.
BENCHMARK_TEMPLATE(BM_Seek, CorvaneHash)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Seek, StdMap)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_Seek, CorvaneOrdered)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_SeekCursor, CorvaneHash)->Apply(sizes);
BENCHMARK_TEMPLATE(BM_SeekCursor, CorvaneOrdered)->Apply(sizes);

BENCHMARK_TEMPLATE(BM_Memory, CorvaneHash)->Arg(1000000)->Iterations(1);
BENCHMARK_TEMPLATE(BM_Memory, CountedStdUnordered)->Arg(1000000)->Iterations(1);
BENCHMARK_TEMPLATE(BM_Memory, CountedStdMap)->Arg(1000000)->Iterations(1);
BENCHMARK_TEMPLATE(BM_Memory, CorvaneOrdered)->Arg(1000000)->Iterations(1);

// glibc hands large free blocks back to the kernel, and does so for HashMap's pool
// chunks but not for the small nodes std containers cache; page faults in a refill
// would then be charged to one structure only. Keeping freed memory in the process
// puts all four on the same footing (BM_InsertCold measures the other case). Set
// before main so that it holds from the first benchmark on.
[[maybe_unused]] int const heapSetup = [] {
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  return 0;
}();

}  // namespace

// Tallies only while a fill is being measured; otherwise plain malloc and free, as
// the defaults. Both sides are replaced so that sanitizers see matching calls;
// noinline keeps GCC from pairing the malloc it would see inside with a delete.
[[gnu::noinline]] void* operator new(size_t n) {
  if (gTallyNew) gTalliedBytes += n;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept { std::free(p); }

BENCHMARK_MAIN();
