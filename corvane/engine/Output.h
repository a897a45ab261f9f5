// Outputs of a state machine and their reconciliation. Every write a pipeline makes
// goes through an output (`insert`/`remove`, the `into` of the program): while the
// output is being reconciled the write is recorded in the output-seen set and may
// be held back, as the reconciliation state says. After the input scans, the
// output is reconciled: a deletion scan removes what the inputs no longer produce
// and, in SMs with a reconciliation state, an insertion scan writes what was held
// back. Both scans yield to the scheduler and resume at a bookmark.
//
// FlatOutput<Adapter, HasState>    output[k] = v (a map) of one entity
// NestedOutput<Adapter, HasState>  output[k1].inner[k2] (a set in a child entity)
// The Adapter (next to the entity type in model/) says how to read and write it.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "corvane/engine/ResumableWalk.h"
#include "corvane/engine/RootSm.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/SmallSet.h"

namespace Corvane {

// The trace context of one pipeline function. The handler's mask is read once, when
// the function starts, so each trace line after that tests a local value.
struct Tr {
  // The context of pipeline entry point number `pipeline` of the SM counts one run of it.
  Tr(RootSm const& root, char const* function, uint32_t pipeline) noexcept
      : sm(root), fn(function), mask(root.traceMask()) {
    root.pipelineRun(pipeline);
  }
  // Any other function's context.
  Tr(RootSm const& root, char const* function) noexcept : sm(root), fn(function), mask(root.traceMask()) {}
  RootSm const& sm;
  char const* fn;
  uint16_t mask;
  bool on(int level) const noexcept { return (mask >> level) & 1u; }
  // No level is on: a pipeline may leave out work that would only have been traced.
  bool quiet() const noexcept { return mask == 0; }
  template <class... A>
  void operator()(int level, fmt::format_string<A...> format, A&&... args) const {
    if (CORVANE_UNLIKELY(on(level))) sm.traceEmit(level, fn, sm.sourceName(), format, args...);
  }
  // The format is read (and its length taken) only when the level is on.
  template <class... A>
  void text(int level, char const* format, A const&... args) const {
    if (CORVANE_UNLIKELY(on(level))) sm.traceEmit(level, fn, sm.sourceName(), fmt::string_view(format), args...);
  }
};

// The program's into-line texts for one write site.
struct IntoLine {
  char const* inserting;  // "... inserting k1={}, value={}" or "... inserting k1={}, k2={}"
  char const* deleting;   // "... deleting k1={}" or "... deleting k1={}, k2={}"
};

// Key of a nested output: outer and inner key.
template <class K1, class K2>
struct OutKey2 {
  K1 k0{};
  K2 k1{};
  friend bool operator==(OutKey2 const&, OutKey2 const&) = default;
  friend auto operator<=>(OutKey2 const&, OutKey2 const&) = default;
};
template <class K1, class K2>
uint64_t hashValue(OutKey2<K1, K2> const& k) noexcept {
  return hashMix(Hasher<K1>{}(k.k0), Hasher<K2>{}(k.k1));
}

}  // namespace Corvane

template <class K1, class K2>
struct fmt::formatter<Corvane::OutKey2<K1, K2>> : fmt::formatter<fmt::string_view> {
  template <class Ctx>
  auto format(Corvane::OutKey2<K1, K2> const& k, Ctx& ctx) const {
    return fmt::format_to(ctx.out(), "Tuple( {}, {} )", k.k0, k.k1);
  }
};

namespace Corvane {

class CORVANE_API OutputBase : public Subscriber {
 public:
  // Values of reconciliationState().
  static constexpr uint8_t skipNothing = 0;
  static constexpr uint8_t skipInsertions = 1;
  static constexpr uint8_t skipDeletions = 2;
  static constexpr uint8_t skipBoth = 3;

  // An output that is not `reconciled` has no reconciliation task and is ready as
  // soon as the input scans are complete.
  OutputBase(RootSm& root, char const* name, bool hasState, bool reconciled = true);
  ~OutputBase() override;

  char const* name() const noexcept { return name_; }
  bool hasReconciliationState() const noexcept { return hasState_; }
  bool reconciling() const noexcept { return reconciling_; }
  uint8_t reconciliationState() const noexcept { return state_; }
  bool useBookmark() const noexcept { return useBookmark_; }
  Task* reconciliationTask() const noexcept { return task_.get(); }
  bool ready() const noexcept;

  // handle<Output>InputReady: reconcile once every input scan is complete.
  void handleInputReady();

  // What the output has seen written and what reconciliation did; see SmStats.h.
  using Counters = OutputCounts;
  Counters const& counters() const noexcept { return counters_; }
  // Bytes of the output-seen set, and of the reconciliation task.
  virtual size_t seenBytes() const noexcept { return 0; }
  size_t taskBytes() const noexcept;
  void writesReset() noexcept { counters_.inserted = counters_.replaced = counters_.deleted = 0; }

 protected:
  bool skipInsert() const noexcept { return reconciling_ && (state_ & skipInsertions); }
  bool skipDelete() const noexcept { return reconciling_ && (state_ & skipDeletions); }
  // The yield test made before each entry of a reconciliation scan.
  bool yieldBefore(uint64_t processed) const;
  void yieldNow(uint64_t visited, uint64_t deleted);
  void deletionDone(uint64_t visited, uint64_t deleted);
  void insertionDone(uint64_t visited, uint64_t seen);
  char const* fn() const noexcept { return readyFn_.c_str(); }
  RootSm& root() const noexcept { return root_; }
  void runCountIs(uint64_t n) noexcept { runCount_ = n; }
  // A reconciliation scan begins: a fresh one over `entries`, or one resuming.
  void reconcileScanBegins(uint64_t entries) noexcept {
    if (useBookmark_) {
      ++counters_.bookmarkResumes;
    } else {
      counters_.reconcileKnown += entries;
    }
  }
  // A write the pipelines made changed the collection: grew it or not.
  void writeCounted(bool grew) noexcept { ++(grew ? counters_.inserted : counters_.replaced); }
  Counters counters_;

  // The insertion pass shared by every output: walks the seen set from the
  // bookmark, write(tr, cursor) per entry; on a yield, mark(key) records where it
  // stopped. Returns false when it yielded.
  template <class Seen, class Mark, class Write>
  bool insertionPass(Seen& seen, typename Seen::key_type const& bookmark, Mark&& mark, Write&& write) {
    reconcileScanBegins(seen.size());
    auto cur = useBookmark() ? seen.cursorAt(bookmark) : seen.cursor();
    uint64_t visited = 0;
    Tr tr{root(), fn()};
    bool const done = resumableWalk<AskYield::beforeEach>(
        cur, [](auto& c) { return !c.entry(); },
        [&](auto& c) {
          ++visited;
          ++counters_.reconcileInserted;
          write(tr, c);
          return true;
        },
        [&] { return yieldBefore(visited); },
        [&](auto const& key) {
          mark(key);
          yieldNow(visited, 0);
        });
    if (!done) return false;
    insertionDone(visited, seen.size());
    return true;
  }

  virtual bool outputHasEntries() const = 0;
  // Both return false when they yielded.
  virtual bool deletionScan() = 0;
  virtual bool insertionScan() = 0;
  virtual void seenClear() = 0;
  virtual void bookmarkReset() = 0;

 private:
  friend class RootSm;
  void dispatch(uint32_t attrId, void const* key) override;
  void taskCreate();
  void taskDelete() noexcept;
  void taskSubscriptionIs(bool active);
  void reconcilingDecide();

  RootSm& root_;
  char const* name_;
  std::string readyFn_;
  Ptr<Task> task_;
  uint64_t runCount_ = 0;
  uint32_t readyIndex_ = 0;
  bool hasState_;
  bool reconciled_;
  bool subscribed_ = false;
  bool reconciling_ = false;
  bool useBookmark_ = false;
  uint8_t state_ = skipNothing;
};

// An output the SM keeps for itself and never reconciles (it starts empty).
class CORVANE_API UnreconciledOutput final : public OutputBase {
 public:
  UnreconciledOutput(RootSm& root, char const* name) : OutputBase(root, name, false, false) {}

 protected:
  bool outputHasEntries() const override { return false; }
  bool deletionScan() override { return true; }
  bool insertionScan() override { return true; }
  void seenClear() override {}
  void bookmarkReset() override {}
};

// ---- Flat outputs: entity.coll[k] = v ---------------------------------------
//
// What a flat output asks of its adapter: the entity, key and value types, the
// collection it writes (read back to count the writes and to reconcile), and how to
// write and erase one entry.
template <class A>
concept FlatOutputAdapter = requires(typename A::Entity& e, typename A::Key const& k, typename A::Value const& v) {
  { A::coll(e).size() } -> std::convertible_to<size_t>;
  { A::coll(e).version() } -> std::convertible_to<uint64_t>;
  A::write(e, k, v);
  A::erase(e, k);
};

template <FlatOutputAdapter Adapter, bool HasState>
class FlatOutput final : public OutputBase {
 public:
  using Entity = typename Adapter::Entity;
  using Key = typename Adapter::Key;
  using Value = typename Adapter::Value;
  // With a state the seen set remembers the value to write in the insertion scan.
  using Seen = std::conditional_t<HasState, HashMap<Key, Value>, HashSet<Key>>;

  FlatOutput(RootSm& root, char const* name, Ptr<Entity> const& entity, IntoLine reconcileLine = {})
      : OutputBase(root, name, HasState), entity_(entity), line_(reconcileLine) {}

  Seen const& seen() const noexcept { return seen_; }
  size_t seenBytes() const noexcept override { return seen_.bytesHeld(); }

  // Room for n entries in the output collection while it holds none: for a
  // synchronous start-up that can tell how many entries it is about to write.
  void reserve(size_t n) {
    if constexpr (requires(Entity& e) { Adapter::reserve(e, n); }) {
      if (root().synchronous() && Adapter::coll(*entity_).empty()) Adapter::reserve(*entity_, n);
    }
  }

  // Room for n keys among the keys seen, while there are none: for a synchronous
  // start-up that can tell about how many it will write.
  void seenReserve(size_t n) {
    if (reconciling() && root().synchronous() && seen_.empty()) seen_.reserve(n);
  }

  void insert(Tr const& tr, IntoLine const& line, Key const& k, Value const& v) {
    if (reconciling()) {
      if constexpr (HasState) {
        seen_.assign(k, v);
      } else {
        seen_.insert(k);
      }
    }
    if (skipInsert()) return;
    tr.text(7, line.inserting, k, v);
    auto const& c = Adapter::coll(*entity_);
    size_t const size = c.size();
    uint64_t const version = c.version();
    Adapter::write(*entity_, k, v);
    if (c.version() != version) writeCounted(c.size() > size);
  }

  void remove(Tr const& tr, IntoLine const& line, Key const& k) {
    if (reconciling()) {
      if constexpr (HasState) {
        if (seen_.erase(k)) root().outputRemoving();
      } else {
        seen_.insert(k);  // without a state every write counts as seen
      }
    }
    if (skipDelete()) return;
    tr.text(7, line.deleting, k);
    auto const& c = Adapter::coll(*entity_);
    size_t const size = c.size();
    Adapter::erase(*entity_, k);
    if (c.size() < size) {
      ++counters_.deleted;
      root().outputRemoving();
    }
  }

 protected:
  bool outputHasEntries() const override { return !Adapter::coll(*entity_).empty(); }
  // Reconciliation is over for good: the seen set's memory goes back too.
  void seenClear() override { Seen().swap(seen_); }
  void bookmarkReset() override { bookmark_ = Key{}; }

  bool deletionScan() override {
    auto const& coll = Adapter::coll(*entity_);
    reconcileScanBegins(coll.size());
    auto cur = useBookmark() ? coll.cursorAt(bookmark_) : coll.cursor();
    uint64_t visited = 0, deleted = 0;
    bool const done = resumableWalk<AskYield::beforeEach>(
        cur, WalkAll{},
        [&](auto& c) {
          ++visited;
          Key const k = c.key();
          if (!seen_.contains(k)) {
            Adapter::erase(*entity_, k);
            ++deleted;
          }
          return true;
        },
        [&] { return yieldBefore(visited); },
        [&](Key const& k) {
          bookmark_ = k;
          yieldNow(visited, deleted);
        });
    if (!done) return false;
    deletionDone(visited, deleted);
    return true;
  }

  bool insertionScan() override {
    if constexpr (HasState) {
      if (!useBookmark()) reserve(seen_.size());
      return insertionPass(
          seen_, bookmark_, [&](Key const& k) { bookmark_ = k; },
          [&](Tr const& tr, auto& cur) {
            Value const v = cur.entry()->second;
            tr.text(7, line_.inserting, cur.key(), v);
            Adapter::write(*entity_, cur.key(), v);
          });
    }
    return true;
  }

 private:
  Ptr<Entity> entity_;
  IntoLine line_;
  Seen seen_;
  Key bookmark_{};
};

// ---- Nested outputs: entity.outer[k1].inner[k2] -----------------------------
//
// The inner collection is a set (insert, with Adapter::innerAdd(Inner&, Key2)) or a
// map to values (insertValue, with Adapter::innerSet(Inner&, Key2, V)). What a
// nested output asks of its adapter besides: the entity, inner entity and key types;
// the outer collection; how to find an inner entity, make it, read its collection,
// delete an element of it, and delete it from the outer collection.
template <class A>
concept NestedOutputAdapter = requires(typename A::Entity& e, typename A::Inner& in, typename A::Key1 const& k1,
                                       typename A::Key2 const& k2) {
  { A::outer(e).empty() } -> std::convertible_to<bool>;
  { A::innerFind(e, k1) } -> std::convertible_to<Ptr<typename A::Inner>>;
  { A::innerIs(e, k1) } -> std::convertible_to<Ptr<typename A::Inner>>;
  { A::innerColl(in).size() } -> std::convertible_to<size_t>;
  A::innerDel(in, k2);
  A::outerDel(e, k1);
};

template <NestedOutputAdapter Adapter, bool HasState>
class NestedOutput final : public OutputBase {
 public:
  using Entity = typename Adapter::Entity;
  using Inner = typename Adapter::Inner;
  using Key1 = typename Adapter::Key1;
  using Key2 = typename Adapter::Key2;
  using Key = OutKey2<Key1, Key2>;

  NestedOutput(RootSm& root, char const* name, Ptr<Entity> const& entity, IntoLine reconcileLine = {})
      : OutputBase(root, name, HasState), entity_(entity), line_(reconcileLine) {}

  // The keys seen, by outer key: walked in the outer collection's own order, so that
  // the insertion scan fills the outer collection in its order and each inner
  // collection at once, and the deletion scan's lookups follow its walk.
  using Seen = HashMap<Key1, SmallSet<Key2, 2>>;
  Seen const& seen() const noexcept { return seen_; }
  size_t seenBytes() const noexcept override {
    size_t n = seen_.bytesHeld();
    for (auto const& [k1, inner] : seen_) n += inner.bytesHeld();
    return n;
  }

  // Room for n outer keys among the keys seen, while there are none: for a
  // synchronous start-up that can tell about how many it will write.
  void seenReserve(size_t n) {
    if (reconciling() && root().synchronous() && seen_.empty()) seen_.reserve(n);
  }

  // Room for n outer entries in the output while it holds none, for an output
  // written in the event pass of a synchronous start-up.
  void reserve(size_t n) {
    if constexpr (requires(Entity& e) { Adapter::outerReserve(e, size_t(0)); }) {
      if (root().synchronous() && Adapter::outer(*entity_).empty()) Adapter::outerReserve(*entity_, n);
    }
  }

  void insert(Tr const& tr, IntoLine const& line, Key1 const& k1, Key2 const& k2) {
    if (reconciling()) seenAdd(k1, k2);
    if (skipInsert()) return;
    write(tr, line, k1, k2);
  }

  // For an inner collection of values: output[k1].inner[k2] = v.
  template <class V>
  void insertValue(Tr const& tr, IntoLine const& line, Key1 const& k1, Key2 const& k2, V const& v) {
    if (reconciling()) seenAdd(k1, k2);
    if (skipInsert()) return;
    Ptr<Inner> inner = Adapter::innerIs(*entity_, k1);
    tr.text(7, line.inserting, k1, k2, v);
    size_t const size = Adapter::innerColl(*inner).size();
    Adapter::innerSet(*inner, k2, v);
    writeCounted(Adapter::innerColl(*inner).size() > size);
  }

  void remove(Tr const& tr, IntoLine const& line, Key1 const& k1, Key2 const& k2) {
    if (reconciling()) {
      if constexpr (HasState) {
        if (seenErase(k1, k2)) root().outputRemoving();
      } else {
        seenAdd(k1, k2);
      }
    }
    if (skipDelete()) return;
    Ptr<Inner> inner = Adapter::innerFind(*entity_, k1);
    if (!inner) return;
    tr.text(7, line.deleting, k1, k2);
    size_t const size = Adapter::innerColl(*inner).size();
    Adapter::innerDel(*inner, k2);
    if (Adapter::innerColl(*inner).size() < size) {
      ++counters_.deleted;
      root().outputRemoving();
    }
    bool const emptied = Adapter::innerColl(*inner).empty();
    inner = nullptr;  // the outer collection alone holds it, so its entity may recycle it
    if (emptied) Adapter::outerDel(*entity_, k1);
  }

 protected:
  bool outputHasEntries() const override { return !Adapter::outer(*entity_).empty(); }
  // Reconciliation is over for good: the seen set's memory goes back too.
  void seenClear() override {
    decltype(seen_)().swap(seen_);
    seenCount_ = 0;
  }
  void bookmarkReset() override {
    bookmark_ = Key{};
    k0Valid_ = k1Valid_ = false;
  }

  bool deletionScan() override {
    auto const& outer = Adapter::outer(*entity_);
    // The scan visits every outer and every inner entry.
    uint64_t entries = 0;
    if (!useBookmark()) {
      for (auto const& e : outer) entries += 1 + Adapter::innerColl(*e.second).size();
    }
    reconcileScanBegins(entries);
    bool resume = useBookmark() && k0Valid_;
    auto cur = resume ? outer.cursorAt(bookmark_.k0) : outer.cursor();
    uint64_t visited = 0, deleted = 0;
    auto ask = [&] { return yieldBefore(visited); };
    bool const done = resumableWalk<AskYield::beforeEach>(
        cur, WalkAll{},
        [&](auto& c) {
          Key1 const k1 = c.key();
          bool innerResume = resume && k1Valid_ && k1 == bookmark_.k0;
          resume = false;
          if (!innerResume) ++visited;  // an outer entry resumed into was counted by the run that left it
          Ptr<Inner> inner = Adapter::innerFind(*entity_, k1);
          if (!inner) return true;
          auto const& ic = Adapter::innerColl(*inner);
          auto icur = innerResume ? ic.cursorAt(bookmark_.k1) : ic.cursor();
          bool const innerDone = resumableWalk<AskYield::beforeEach>(
              icur, WalkAll{},
              [&](auto& ic2) {
                ++visited;
                Key2 const k2 = ic2.key();
                if (!seenHas(k1, k2)) {
                  Adapter::innerDel(*inner, k2);
                  ++deleted;
                }
                return true;
              },
              ask,
              [&](Key2 const& k2) {
                bookmark_ = Key{k1, k2};
                k0Valid_ = k1Valid_ = true;
                yieldNow(visited, deleted);
              });
          if (!innerDone) return false;
          if (ic.empty()) {
            Adapter::outerDel(*entity_, k1);
            ++deleted;
          }
          return true;
        },
        ask,
        [&](Key1 const& k1) {
          bookmark_ = Key{k1, Key2{}};
          k0Valid_ = true;
          k1Valid_ = false;
          yieldNow(visited, deleted);
        });
    if (!done) return false;
    deletionDone(visited, deleted);
    return true;
  }

  // Walks the seen keys from the bookmark, one outer key's inner keys at a time. The
  // inner set is looked up again for every key: writing may change the seen keys
  // (an SM reacting to the output), and with them where the sets are.
  bool insertionScan() override {
    if constexpr (HasState) {
      reconcileScanBegins(seenCount_);
      bool const resume = useBookmark() && k0Valid_;
      // A synchronous start-up writing into an empty output makes its outer entries
      // in one go: the outer collection takes their number at once.
      if constexpr (requires(Entity& e) { Adapter::outerReserve(e, size_t(0)); }) {
        if (!resume && root().synchronous() && Adapter::outer(*entity_).empty()) {
          Adapter::outerReserve(*entity_, seen_.size());
        }
      }
      auto cur = resume ? seen_.cursorAt(bookmark_.k0) : seen_.cursor();
      uint64_t visited = 0;
      Tr tr{root(), fn()};
      bool innerResume = resume && k1Valid_;
      while (!cur.done()) {
        Key1 const k1 = cur.key();
        bool const started = innerResume && k1 == bookmark_.k0;
        innerResume = false;
        Key2 after = started ? bookmark_.k1 : Key2{};
        for (bool first = true;; first = false) {
          auto const* e = seen_.findEntry(k1);
          if (!e) break;
          auto in = (first && !started) ? e->second.cursor() : e->second.cursorAt(after);
          // After the first key, the walk goes on past the key it wrote.
          if (!first && !in.done() && in.key() == after) in.next();
          if (in.done()) break;
          Key2 const k2 = in.key();
          if (yieldBefore(visited)) {
            bookmark_ = Key{k1, k2};
            k0Valid_ = k1Valid_ = true;
            yieldNow(visited, 0);
            return false;
          }
          ++visited;
          ++counters_.reconcileInserted;
          write(tr, line_, k1, k2, first && !started ? e->second.size() : 0);
          after = k2;
        }
        cur.next();
      }
      insertionDone(visited, seenCount_);
    }
    return true;
  }

 private:
  // `expected`: the keys about to be written under k1 in a row, which an empty inner
  // collection takes room for at once.
  void write(Tr const& tr, IntoLine const& line, Key1 const& k1, Key2 const& k2, size_t expected = 0) {
    Ptr<Inner> inner = Adapter::innerIs(*entity_, k1);
    if constexpr (requires(Inner& in) { Adapter::innerReserve(in, size_t(0)); }) {
      if (expected > 1 && Adapter::innerColl(*inner).empty()) Adapter::innerReserve(*inner, expected);
    }
    tr.text(7, line.inserting, k1, k2);
    size_t const size = Adapter::innerColl(*inner).size();
    Adapter::innerAdd(*inner, k2);
    if (Adapter::innerColl(*inner).size() > size) ++counters_.inserted;
  }

  void seenAdd(Key1 const& k1, Key2 const& k2) {
    if (seen_.insert(k1).first->second.insert(k2)) ++seenCount_;
  }
  bool seenErase(Key1 const& k1, Key2 const& k2) {
    auto* e = seen_.findEntry(k1);
    if (!e || !e->second.erase(k2)) return false;
    --seenCount_;
    if (e->second.empty()) seen_.erase(k1);
    return true;
  }
  bool seenHas(Key1 const& k1, Key2 const& k2) const {
    auto const* e = seen_.findEntry(k1);
    return e && e->second.contains(k2);
  }

  Ptr<Entity> entity_;
  IntoLine line_;
  Seen seen_;
  uint64_t seenCount_ = 0;
  Key bookmark_{};
  bool k0Valid_ = false;
  bool k1Valid_ = false;
};

}  // namespace Corvane
