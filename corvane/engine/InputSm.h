// Input state machines: the reactors a root SM puts on each input entity. An input
// SM watches one attribute of one entity, forwards every change of a key to the
// root's pipeline entry, and scans the attribute at start-up in scheduler tasks
// that yield and resume at a bookmarked key. An input SM over a collection of
// entities follows each element with a compact record (a follower).
//
// The kinds of input, each made from one declaration (InputDecl.h):
//   ValueCollInput<Decl>   a keyed collection of values (or a set): a ValueInput
//   EntityCollInput<Decl>  a keyed collection of entities (an EntityInput), one
//                          follower per element:
//     ElementFollower      follows one attribute (FollowAttr) or a keyed
//                          collection (FollowColl) of the element
// A follower is a compact record from a slab, not an input SM of its own, but it
// traces, scans and retracts as a nested input SM of its class name would.
// No pipeline acts before its root's initial scan is done, so until then an input
// traces what it handles but reads no values for the pipelines and calls none.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "corvane/engine/InputDecl.h"
#include "corvane/engine/ResumableWalk.h"
#include "corvane/engine/RootSm.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/Prefetch.h"
#include "corvane/framework/Slab.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

class CORVANE_API InputSm : public Node, public Subscriber {
  CORVANE_NODE_TYPE(InputSm)

  // Scan states.
  static constexpr uint8_t scanFresh = 0;
  static constexpr uint8_t scanResuming = 1;
  static constexpr uint8_t scanComplete = 2;
  static constexpr uint8_t scanFirstPassComplete = 3;

  ~InputSm() override;

  char const* className() const noexcept { return className_; }
  RootSm& root() const noexcept { return root_; }
  bool enabled() const noexcept { return enabled_; }
  bool inReactor() const noexcept { return inReactor_; }
  void inReactorIs(bool v) noexcept { inReactor_ = v; }
  bool synchronous() const noexcept { return root_.synchronous(); }
  bool initialScanDone() const noexcept { return root_.initialScanDone(); }

  void doInputScan();
  virtual void doDeleteAll() = 0;
  void hasNotificationActiveIs(bool active);
  // Whether the scan has finished its current pass.
  bool inputScanComplete(uint32_t scan) const noexcept;
  uint8_t inputScanState(uint32_t scan) const noexcept {
    CORVANE_ASSERT(scan < scanCount_, "InputSm: a scan past those declared read");
    return scans_[scan].state;
  }
  Task* task(uint32_t scan) const noexcept {
    CORVANE_ASSERT(scan < scanCount_, "InputSm: a scan past those declared read");
    return scans_[scan].task ? scans_[scan].task->task.get() : nullptr;
  }

  // For the followers of an input SM: the name of scan function N, and the task
  // their scans yield to (the SM's first scan's).
  static char const* scanFnName(uint8_t number) noexcept;
  Task* yieldTask() const noexcept { return scanCount_ ? task(0) : nullptr; }
  // Its handler calls are spans of its class in its root's category.
  bool spanNames(char const*& name, char const*& category) const noexcept override {
    name = className_;
    category = root_.sourceName();
    return true;
  }
  // A watched collection changed without this SM hearing of it: a fatal error.
  void checkVersion(uint64_t recorded, uint64_t current, char const* attrName) const;

  // What the input has done (its followers' notifications included); see SmStats.h.
  using Counters = InputCounts;
  Counters const& counters() const noexcept { return counters_; }
  // Bytes of the input SM with what it owns (followers), and of its scan tasks.
  virtual size_t bytesHeld() const noexcept { return typeData().objectSize(); }
  size_t taskBytes() const noexcept;
  void eventsReset() noexcept { counters_.events = 0; }
  void eventCount() noexcept { ++counters_.events; }

 protected:
  InputSm(RootSm& root, char const* className);

  // Declares scan `number` (the digit of doInputScanN), feeding stream flag `flag`
  // of the root, with the handler's name for traces.
  void scanDeclare(uint8_t number, int32_t flag, char const* handlerName);
  // Subscribes to the watched entity and runs the framework initialization: tasks,
  // then the first scan. Called last in the constructor of the final class; if it
  // throws, the subscription is removed again before the exception leaves.
  void initialize();
  virtual void doInitializeTask();
  virtual void doInputScanN(uint32_t scan) = 0;
  virtual Entity const* watched() const noexcept = 0;
  // Passes hasNotificationActiveIs on to the followers (an input SM over entities).
  virtual void followersNotificationIs(bool) {}

  char const* scanFn(uint32_t scan) const noexcept { return scanFnName(scans_[scan].number); }
  char const* handlerFn(uint32_t scan) const noexcept { return scans_[scan].handlerFn; }

  // Shared scan of a keyed collection from the bookmark, for every collection
  // input. perElement(cursor) handles the element under the cursor and returns
  // false when a nested scan it ran is not complete (the scan then yields at once,
  // on that key).
  // Returns true when the collection was finished.
  template <class Coll, class F>
  bool runCollectionScan(uint32_t scan, Coll const& coll, typename Coll::key_type& bookmark,
                         uint64_t& version, F&& perElement);
  // First lines and early returns shared by every scan; false: nothing to do.
  bool scanBegin(uint32_t scan);
  void scanFinish(uint32_t scan);
  // Their level-9 lines, out of the way of the untraced path.
  [[gnu::cold, gnu::noinline]] void scanBeginTrace(uint32_t scan) const;
  [[gnu::cold, gnu::noinline]] void scanFinishTrace(uint32_t scan, bool initial) const;
  bool shouldYield(uint32_t scan) const;
  void scanYield(uint32_t scan, bool child, uint64_t iterations, uint64_t total);
  void checkEntity() const;
  void disable() noexcept { enabled_ = false; }

  // Sets inReactor for the duration of a reactor call, and keeps the root alive
  // until the call returns (a subscriber of an output may release the machine while
  // the call is under way); the root holds its input SMs.
  struct ReactorScope {
    NodeHold rootHold;
    InputSm& sm;
    bool was;
    explicit ReactorScope(InputSm& s) : rootHold(s.root_), sm(s), was(s.inReactor_) {
      s.inReactor_ = true;
      ++s.counters_.events;
    }
    ~ReactorScope() { sm.inReactor_ = was; }  // the hold goes after this
  };

 private:
  Counters counters_;
  // A scan's task and the subscription that runs the scan from it. Only top-level
  // SMs scanning asynchronously have one; nested SMs scan on their parent's task.
  struct ScanTask : Subscriber {
    InputSm* sm = nullptr;
    Ptr<Task> task;
    uint8_t index = 0;
    bool subscribed = false;
    void dispatch(uint32_t attrId, void const* key) override;
  };
  // Every input SM holds two of these (one per input SM and element adds up), so
  // the fields are packed, the task is held apart and the scan's name is looked up
  // from its number.
  struct Scan {
    ScanTask* task = nullptr;  // owned; see taskDelete()
    char const* handlerFn = "";
    int32_t flag = -1;
    uint8_t number = 0;  // the N of doInputScanN, for traces and task names
    uint8_t state = scanFresh;
  };
  void taskDelete(Scan& s) noexcept;

  RootSm& root_;
  char const* className_;
  Scan scans_[2];
  uint8_t scanCount_ = 0;
  bool enabled_ = true;
  bool inReactor_ = false;
};

// The registry name of an SM class: its node type's, or the one a template SM's
// traits give it.
template <class Sm>
char const* smTypeNameOf() noexcept {
  if constexpr (requires { Sm::smTypeName(); }) {
    return Sm::smTypeName();
  } else {
    return Sm::typeDataStatic().name();
  }
}

// The node type of input SM class Self made from declaration Desc, named
// "<SM type>::<class name>" ("Corvane::IntfTcamSm::VeltStatusSm0").
template <class Self, class Desc>
TypeData& inputSmTypeData() noexcept {
  static std::string const name = std::string(smTypeNameOf<typename Desc::Root>()) + "::" + Desc::className;
  static TypeData td(name.c_str(), &InputSm::typeDataStatic(), sizeof(Self));
  return td;
}

// A keyed collection of values (not a set).
template <class Coll>
concept ValueMapColl = requires(Coll const& c, typename Coll::key_type const& k) {
  typename Coll::mapped_type;
  *c.find(k);
} && !std::is_same_v<typename Coll::mapped_type, Unit>;

// Value of `key` in a map (its value) or a set (Unit), absent when not there.
template <class Coll, class K>
auto collLookup(Coll const& c, K const& k) {
  if constexpr (ValueMapColl<Coll>) {
    using V = typename Coll::mapped_type;
    auto const* v = c.find(k);
    return v ? std::optional<V>(*v) : std::optional<V>();
  } else {
    return c.contains(k) ? std::optional<Unit>(Unit{}) : std::optional<Unit>();
  }
}

template <class Coll, class F>
bool InputSm::runCollectionScan(uint32_t scan, Coll const& c, typename Coll::key_type& bookmark,
                                uint64_t& version, F&& perElement) {
  Scan& s = scans_[scan];
  bool const resuming = s.state == scanResuming;
  if (!resuming) counters_.scanKnown += c.size();
  auto cursor = resuming ? c.cursorAt(bookmark) : c.cursor();
  uint64_t iterations = 0;
  auto yieldAt = [&](auto const& key, bool child) {
    bookmark = key;
    counters_.scanItems += iterations;
    scanYield(scan, child, iterations, c.size());
  };
  bool const done = resumableWalk<AskYield::afterEach>(
      cursor, WalkAll{},
      [&](auto& cur) {
        auto const key = cur.key();
        bool const childDone = perElement(cur);
        ++iterations;
        if (!childDone) yieldAt(key, true);  // the nested scan resumes on this element
        return childDone;
      },
      [&] { return shouldYield(scan); }, [&](auto const& key) { yieldAt(key, false); });
  if (!done) return false;
  counters_.scanItems += iterations;
  if (Task* t = task(scan)) {  // the scan task's work count holds every item the scan visited
    t->taskWorkCountInc(iterations);
    t->taskWorkPendingIs(0);
  }
  version = c.version();
  return true;
}

// The value an input passes for a key of Coll: absent when the key is not there.
template <class Coll>
using LookupOf = decltype(collLookup(std::declval<Coll const&>(), std::declval<typename Coll::key_type const&>()));

// The same for the element under a scan's cursor, without looking the key up again.
template <class Coll, class Cursor>
LookupOf<Coll> cursorLookup(Cursor& cur) {
  if constexpr (ValueMapColl<Coll>) {
    auto* e = cur.entry();
    return e ? LookupOf<Coll>(e->second) : LookupOf<Coll>();
  } else {
    return Unit{};
  }
}

// ---- ValueCollInput -------------------------------------------------------
template <ValueInputDeclaration Desc>
class ValueCollInput final : public InputSm {
 public:
  static TypeData& typeDataStatic() noexcept { return inputSmTypeData<ValueCollInput, Desc>(); }
  TypeData const& typeData() const noexcept override { return typeDataStatic(); }
  static void* operator new(std::size_t n) { return detail::nodeNew<ValueCollInput, 0>(n); }
  static void operator delete(void* p, std::size_t n) noexcept { detail::nodeDelete<ValueCollInput, 0>(p, n); }
  [[no_unique_address]] LiveToken<ValueCollInput> liveToken_;

  using Entity = typename Desc::Entity;
  using Coll = typename Desc::Coll;
  using Key = typename Coll::key_type;
  using Root = typename Desc::Root;

  static_assert(Desc::scanCount >= 1 && Desc::scanCount <= 2, "an input feeds one or two scans");

  ValueCollInput(Ptr<Entity const> en, Root& root)
      : InputSm(root, Desc::className), en_(std::move(en)) {
    for (uint32_t i = 0; i < Desc::scanCount; ++i) {
      scanDeclare(Desc::scanNumber[i], Desc::flag(i), Desc::handlerName[i]);
      bookmarks_[i] = Key{};
    }
    initialize();
  }
  ~ValueCollInput() override {
    if (en_) en_->subscriberRemove(this);
  }

  Ptr<Entity const> const& en() const noexcept { return en_; }
  uint64_t version() const noexcept { return version_; }

  void dispatch(uint32_t attrId, void const* key) override {
    if (attrId != Desc::attrId || nodeFlag(flagZombie)) return;
    CORVANE_ASSERT(key, "InputSm: a collection's change announced without its key");
    ReactorScope scope(*this);
    for (uint32_t i = 0; i < Desc::scanCount; ++i) handle(i, *static_cast<Key const*>(key));
  }

  void handle(uint32_t scan, Key const& k) {
    if (!enabled()) return;
    Coll const& c = Desc::coll(*en_);
    handle(scan, c, k, [&] { return collLookup(c, k); });
  }

  void doDeleteAll() override {
    root().trace(9, "doDeleteAll", className(), "");
    if (initialScanDone() && en_) {
      Coll const& c = Desc::coll(*en_);
      checkVersion(version_, c.version(), Desc::attrName);
      for (auto cur = c.cursor(); !cur.done(); cur.next()) {
        Key const k = cur.key();
        for (uint32_t i = 0; i < Desc::scanCount; ++i) {
          Desc::event(static_cast<Root&>(root()), i, k, [] { return LookupOf<Coll>(); });
        }
      }
    }
    disable();
  }

 protected:
  Entity const* watched() const noexcept override { return en_.get(); }

  void doInputScanN(uint32_t scan) override {
    if (!scanBegin(scan)) return;
    checkEntity();
    Coll const& c = Desc::coll(*en_);
    if (runCollectionScan(scan, c, bookmarks_[scan], version_, [&](auto& cur) {
          if (enabled()) {
            readAhead(scan, cur);
            handle(scan, c, cur.key(), [&] { return cursorLookup<Coll>(cur); });
          }
          return true;
        })) {
      scanFinish(scan);
    }
  }

  // A handler that reads other tables by the element's key (a port's LAG, say) waits
  // on memory far from the scan's. Its input may name what it reads with
  // Desc::readAhead(root, feed, key, near), feed the index of the feed scanning (0
  // or 1), called for the element about eight entries on (near false: fetch the
  // first step) and four on (near true: the step after, whose address the first
  // one holds by then). It only reads.
  template <class Cur>
  void readAhead(uint32_t feed, Cur const& cur) {
    if constexpr (requires(Root& r, Key const& k) { Desc::readAhead(r, feed, k, true); }) {
      auto& r = static_cast<Root&>(root());
      if (auto const* a = cur.ahead(8u)) Desc::readAhead(r, feed, a->first, false);
      if (auto const* a = cur.ahead(4u)) Desc::readAhead(r, feed, a->first, true);
    }
  }

 private:
  // value() gives the key's value; it is read only for an entry that takes it, and
  // only once a pipeline acts (none does before the initial scan is done).
  template <class GetValue>
  void handle(uint32_t scan, Coll const& c, Key const& k, GetValue&& value) {
    root().trace(8, handlerFn(scan), className(), "k: {}", k);
    version_ = c.version();
    if (initialScanDone()) Desc::event(static_cast<Root&>(root()), scan, k, value);
  }

  Ptr<Entity const> en_;
  Key bookmarks_[Desc::scanCount];
  uint64_t version_ = 0;
};

// ---- Followers ------------------------------------------------------------
//
// The record an EntityCollInput keeps per element: the element, its subscription
// and its scan state (its key is in the concrete class). It scans inside its
// parent's scan and on its parent's task, and traces as a nested input SM of its
// class name. A record a reactor or scan is running on stays allocated until that
// call returns, even if its parent drops it meanwhile (Follower::Scope).
class CORVANE_API Follower : public Subscriber {
 public:
  ~Follower() override;

  InputSm& parent() const noexcept { return *parent_; }
  RootSm& root() const noexcept { return parent_->root(); }
  Ptr<Entity const> const& en() const noexcept { return en_; }
  bool enabled() const noexcept { return (flags_ & flagEnabled) != 0; }
  bool initialScanDone() const noexcept { return root().initialScanDone(); }
  uint8_t inputScanState() const noexcept { return state_; }
  bool inputScanComplete() const noexcept {
    return state_ == InputSm::scanComplete || (state_ == InputSm::scanFirstPassComplete && !initialScanDone());
  }

  virtual void doInputScan() = 0;
  virtual void doDeleteAll() = 0;
  void hasNotificationActiveIs(bool active);
  // The parent lets go of the record: no more notifications, and the memory goes
  // back to the slab now or when the last call running on the record returns.
  void drop() noexcept;
  bool dropped() const noexcept { return (flags_ & flagDropped) != 0; }

  // Keeps a record allocated, and its machine alive, while a call runs on it.
  class Scope {
   public:
    explicit Scope(Follower& f) noexcept : rootHold_(f.root()), f_(f) { ++f.busy_; }
    ~Scope() {
      if (--f_.busy_ == 0 && f_.dropped()) f_.release();
    }
    Scope(Scope const&) = delete;
    Scope& operator=(Scope const&) = delete;

   private:
    NodeHold rootHold_;
    Follower& f_;
  };

 protected:
  static constexpr uint8_t flagEnabled = 1;
  static constexpr uint8_t flagActive = 2;
  static constexpr uint8_t flagZombie = 4;
  static constexpr uint8_t flagDropped = 8;
  static constexpr uint8_t flagSubscribed = 16;  // on the element's subscriber list

  Follower(InputSm& parent, Ptr<Entity const> en) noexcept : parent_(&parent), en_(std::move(en)) {}
  // Subscribes and runs the first scan; if that throws, the subscription goes
  // again before the exception leaves (the concrete destructor will not run).
  void initialize();
  // Destroys the record and returns its memory to its slab.
  virtual void release() noexcept = 0;

  bool zombie() const noexcept { return (flags_ & flagZombie) != 0; }
  void disable() noexcept { flags_ = uint8_t(flags_ & ~flagEnabled); }
  bool scanBegin(char const* className, char const* fn);
  bool shouldYield() const;
  void scanYield(char const* className, char const* fn, uint64_t iterations, uint64_t total);
  void scanFinish(char const* className, char const* fn, bool collection, size_t elements);
  void checkEntity() const;

 private:
  // Joining and leaving the element's subscribers; a follower that is already on
  // (or off) the list does not touch the element, which at start-up is far away in
  // memory for each of the followers switched on together.
  void subscribe();
  void unsubscribe() noexcept;
  [[gnu::cold, gnu::noinline]] void scanBeginTrace(char const* className, char const* fn) const;
  [[gnu::cold, gnu::noinline]] void scanFinishTrace(char const* className, char const* fn, bool collection,
                                                    size_t elements, bool initial) const;

  InputSm* parent_;
  Ptr<Entity const> en_;

 protected:
  // Beside the flags, so that the record takes 32 bytes before its key.
  uint8_t state_ = InputSm::scanFresh;

 private:
  uint8_t flags_ = flagEnabled;
  uint8_t busy_ = 0;
};
static_assert(sizeof(void*) != 8 || sizeof(Follower) == 32, "a follower per element: keep it packed");

// Allocates a follower of type F for `parent` from F's slab and builds it; the
// memory goes back if the constructor throws.
template <class F, class... A>
F* followerMake(InputSm& parent, A&&... args) {
  SlabPool& pool = F::pool(parent.root());
  void* mem = pool.allocate();
  try {
    return ::new (mem) F(std::forward<A>(args)...);
  } catch (...) {
    pool.deallocate(mem);
    throw;
  }
}

// The declaration a follower is made of: what it follows (FollowAttr or FollowColl)
// with its parent input's key and scan.
template <class Parent>
struct FollowerOf : Parent::Followed {
  using Root = typename Parent::Root;
  using ParentKey = typename Parent::Coll::key_type;
  static constexpr uint8_t scanNumber = Parent::scanNumber;
};

// Follows one element: one attribute of it (a FollowAttr declaration) or a keyed
// collection of it (a FollowColl declaration, scanned with yields and a bookmark).
template <class Desc>
class ElementFollower final : public Follower {
 public:
  using Element = typename Desc::Entity;
  using Root = typename Desc::Root;
  using ParentKey = typename Desc::ParentKey;
  static constexpr bool collection = requires { typename Desc::Coll; };

  ElementFollower(Ptr<Element const> en, InputSm& parent, ParentKey const& key)
      : Follower(parent, std::move(en)), key_(key) {
    initialize();
  }

  // The pool of this follower type, named "<root SM>.<class name>": one class name
  // can follow elements in several SMs.
  static SlabPool& pool(RootSm const& root) {
    SlabPool* p = pool_.load(std::memory_order_acquire);
    if (CORVANE_UNLIKELY(!p)) {
      static std::string const name = std::string(root.sourceName()) + "." + Desc::className;
      p = &slabPoolOf<ElementFollower>(name.c_str());
      pool_.store(p, std::memory_order_release);
    }
    return *p;
  }
  ParentKey const& smKey() const noexcept { return key_; }
  // The entries it follows: its element's collection's, or one attribute.
  size_t entries() const {
    if constexpr (collection) {
      return coll().size();
    } else {
      return 1;
    }
  }
  bool spanNames(char const*& name, char const*& category) const noexcept override {
    name = Desc::className;
    category = root().sourceName();
    return true;
  }

  void dispatch(uint32_t attrId, void const* key) override {
    if (attrId != Desc::attrId || zombie()) return;
    Scope scope(*this);
    parent().eventCount();
    if constexpr (collection) {
      CORVANE_ASSERT(key, "InputSm: a collection's change announced without its key");
      handle(*static_cast<typename Desc::Coll::key_type const*>(key));
    } else {
      handle();
    }
  }

  void doInputScan() override {
    if (!enabled()) return;
    root().trace(9, "doInputScan", Desc::className, "");
    char const* fn = InputSm::scanFnName(Desc::scanNumber);
    if (!scanBegin(Desc::className, fn)) return;
    checkEntity();
    if constexpr (collection) {
      if (!scanCollection(fn)) return;
    } else {
      handle();
      scanFinish(Desc::className, fn, false, 0);
    }
  }

  void doDeleteAll() override {
    root().trace(9, "doDeleteAll", Desc::className, "");
    if constexpr (collection) {
      if (initialScanDone() && en()) {
        auto const& c = coll();
        parent().checkVersion(scan_.version, c.version(), Desc::attrName);
        for (auto cur = c.cursor(); !cur.done(); cur.next()) {
          auto const k = cur.key();
          Desc::event(static_cast<Root&>(root()), key_, k, LookupOf<typename Desc::Coll>());
        }
      }
    } else if (initialScanDone()) {
      Desc::event(static_cast<Root&>(root()), key_, std::optional<typename Desc::Value>());
    }
    disable();
  }

 protected:
  void release() noexcept override {
    this->~ElementFollower();
    pool_.load(std::memory_order_relaxed)->deallocate(this);
  }

 private:
  Element const& element() const { return static_cast<Element const&>(*en()); }

  void handle() {
    if (!enabled()) return;
    root().trace(8, Desc::handlerName, Desc::className, "k: {}", key_);
    if (initialScanDone()) Desc::event(static_cast<Root&>(root()), key_, Desc::value(element()));
  }

  auto const& coll() const { return Desc::coll(element()); }
  template <class Key>
  void handle(Key const& k) {
    if (!enabled()) return;
    root().trace(8, Desc::handlerName, Desc::className, "k: {}", k);
    auto const& c = coll();
    scan_.version = c.version();
    if (initialScanDone()) Desc::event(static_cast<Root&>(root()), key_, k, collLookup(c, k));
  }

  // Scans the collection from the bookmark; false when it yielded.
  bool scanCollection(char const* fn) {
    auto const& c = coll();
    auto cursor = state_ == InputSm::scanResuming ? c.cursorAt(scan_.bookmark) : c.cursor();
    uint64_t iterations = 0;
    bool const done = resumableWalk<AskYield::afterEach>(
        cursor, WalkAll{},
        [&](auto& cur) {
          handle(cur.key());
          ++iterations;
          return true;
        },
        [&] { return shouldYield(); },
        [&](auto const& key) {
          scan_.bookmark = key;
          scanYield(Desc::className, fn, iterations, c.size());
        });
    if (!done) return false;
    scan_.version = c.version();
    scanFinish(Desc::className, fn, true, c.size());
    return true;
  }

  // What following a collection adds: where a yielded scan resumes, and the
  // version the follower last saw.
  struct CollScan {
    typename Desc::Coll::key_type bookmark{};
    uint64_t version = 0;
  };
  struct NoScan {};

  ParentKey key_;
  [[no_unique_address]] std::conditional_t<collection, CollScan, NoScan> scan_;
  static inline std::atomic<SlabPool*> pool_{nullptr};
};

// A follower comes from its pool, aligned to its words: the table of a parent's
// followers needs no hash in its slots.
template <class Desc>
inline constexpr bool lowBitFree<ElementFollower<Desc>*> = true;

// ---- EntityCollInput ------------------------------------------------------
template <EntityInputDeclaration Desc>
class EntityCollInput final : public InputSm {
 public:
  static TypeData& typeDataStatic() noexcept { return inputSmTypeData<EntityCollInput, Desc>(); }
  TypeData const& typeData() const noexcept override { return typeDataStatic(); }
  static void* operator new(std::size_t n) { return detail::nodeNew<EntityCollInput, 0>(n); }
  static void operator delete(void* p, std::size_t n) noexcept { detail::nodeDelete<EntityCollInput, 0>(p, n); }
  [[no_unique_address]] LiveToken<EntityCollInput> liveToken_;

  using Entity = typename Desc::Entity;
  using Coll = typename Desc::Coll;
  using Key = typename Coll::key_type;
  using Root = typename Desc::Root;
  using Child = ElementFollower<FollowerOf<Desc>>;

  EntityCollInput(Ptr<Entity const> en, Root& root)
      : InputSm(root, Desc::className), en_(std::move(en)) {
    scanDeclare(Desc::scanNumber, Desc::flag(), Desc::handlerName);
    initialize();
  }
  ~EntityCollInput() override {
    if (en_) en_->subscriberRemove(this);
  }

  HashMap<Key, Child*> const& children() const noexcept { return children_; }
  // The entries followed by the followers its scans made: after the first pass of a
  // start-up, how many the elements held.
  uint64_t followedEntries() const noexcept { return followedEntries_; }
  size_t bytesHeld() const noexcept override {
    return sizeof(*this) + children_.bytesHeld() + children_.size() * sizeof(Child);
  }

  void dispatch(uint32_t attrId, void const* key) override {
    if (attrId != Desc::attrId || nodeFlag(flagZombie)) return;
    CORVANE_ASSERT(key, "InputSm: a collection's change announced without its key");
    ReactorScope scope(*this);
    handle(*static_cast<Key const*>(key));
  }

  // Keeps the follower of `k` in step with the element held under it. Returns
  // whether it built a new one (whose first scan has then already run).
  bool handle(Key const& k) {
    if (!enabled()) return false;
    Coll const& c = Desc::coll(*en_);
    return follow(c, k, c.find(k)).fresh;
  }
  void doDeleteAll() override {
    root().trace(9, "doDeleteAll", className(), "");
    if (initialScanDone() && en_) {
      checkVersion(version_, Desc::coll(*en_).version(), Desc::attrName);
      for (auto cur = children_.cursor(); !cur.done(); cur.next()) {
        if (auto* e = cur.entry()) {
          Follower::Scope scope(*e->second);
          e->second->doDeleteAll();
        }
      }
    }
    for (auto const& [k, child] : children_) child->drop();
    children_.clear();
    disable();
  }

 protected:
  Entity const* watched() const noexcept override { return en_.get(); }
  void followersNotificationIs(bool active) override {
    for (auto const& [k, child] : children_) child->hasNotificationActiveIs(active);
  }

  void doInputScanN(uint32_t scan) override {
    if (!scanBegin(scan)) return;
    checkEntity();
    Coll const& c = Desc::coll(*en_);
    // A synchronous start-up makes a follower for each element in one go: the table
    // of followers takes its size at once rather than growing through every size.
    if (synchronous()) children_.reserve(c.size());
    if (runCollectionScan(scan, c, bookmark_, version_, [&](auto& cur) {
          if (!enabled()) return true;
          readAhead(cur);
          auto const* e = cur.entry();
          Followed now = follow(c, cur.key(), e ? &e->second : nullptr);
          if (!now.follower) {
            // A reactor of a retraction may have put a follower under the key.
            Child** put = children_.find(cur.key());
            if (!put) return true;
            now.follower = *put;
          }
          Follower::Scope scope(*now.follower);
          if (now.fresh) {
            followedEntries_ += now.follower->entries();
          } else {
            now.follower->doInputScan();
          }
          return now.follower->inputScanComplete();
        })) {
      scanFinish(scan);
    }
  }

 private:
  // The elements are entities wherever they were made, mostly far from the last one;
  // handling one (its follower, its attributes) takes far longer than fetching the
  // next, so the scan fetches the one a few entries on into the caches meanwhile.
  template <class Cur>
  static void readAhead(Cur const& cur) noexcept {
    if constexpr (requires { cur.ahead(4u); }) {
      if (auto const* a = cur.ahead(4u)) {
        if (auto const* en = a->second.get()) prefetchObject(en);
      }
    }
  }

  // The follower under a key after follow(), and whether follow() built it.
  struct Followed {
    Child* follower;
    bool fresh;
  };
  Followed follow(Coll const& c, Key const& k, typename Coll::mapped_type const* element) {
    root().trace(8, handlerFn(0), className(), "k: {}", k);
    version_ = c.version();
    Child** child = children_.find(k);
    if (child && (!element || (*child)->en().get() != element->get())) {
      Child* old = *child;
      {
        Follower::Scope scope(*old);
        old->doDeleteAll();
        // A reactor of the retraction may have replaced the follower already.
        if (Child** now = children_.find(k); now && *now == old) children_.erase(k);
        if (!old->dropped()) old->drop();
      }
      child = nullptr;
      // A reactor of the retraction may have changed or removed the element under k.
      element = c.find(k);
    }
    if (element && *element && !child) {
      Child* fresh = followerMake<Child>(*this, *element, *this, k);
      Child* previous = nullptr;
      try {
        children_.assign(k, fresh, &previous);
      } catch (...) {
        fresh->drop();
        throw;
      }
      if (previous) previous->drop();
      if (nodeFlag(flagNotificationActive)) fresh->hasNotificationActiveIs(true);
      return {fresh, true};
    }
    return {child ? *child : nullptr, false};
  }

  Ptr<Entity const> en_;
  Key bookmark_{};
  uint64_t version_ = 0;
  uint64_t followedEntries_ = 0;
  // Owns the followers: they go with the table, also when a constructor throws.
  struct Children : HashMap<Key, Child*> {
    Children() = default;
    Children(Children const&) = delete;
    Children& operator=(Children const&) = delete;
    ~Children() {
      for (auto const& [k, child] : *this) child->drop();
    }
  };
  Children children_;
};

// The input SM class a declaration makes.
template <class Decl>
struct InputOfDecl {
  using Type = EntityCollInput<Decl>;
};
template <ValueInputDeclaration Decl>
struct InputOfDecl<Decl> {
  using Type = ValueCollInput<Decl>;
};
template <class Decl>
using InputOf = typename InputOfDecl<Decl>::Type;

// Makes the input SM of a declaration over entity `en` for its root.
template <class Decl, class E>
Ptr<InputSm> inputSmMake(Ptr<E> const& en, typename Decl::Root& root) {
  return Ptr<InputSm>(new InputOf<Decl>(en, root));
}

// Registers an input SM's node type (kind inputSm).
CORVANE_API void inputSmTypeRegister(TypeData const& type);

}  // namespace Corvane
