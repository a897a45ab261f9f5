// Input state machines: the reactors a root SM puts on each input entity. An input
// SM watches one attribute of one entity, forwards every change of a key to the
// root's pipeline entry, and scans the attribute at start-up in scheduler tasks
// that yield and resume at a bookmarked key. An input SM over a collection of
// entities keeps one nested input SM per element.
//
// The three kinds a state machine declares:
//   ValueCollInput<Desc>   a keyed collection of values (or a set)
//   EntityCollInput<Desc>  a keyed collection of entities, one nested SM each
//   SingleAttrInput<Desc>  one attribute of a nested element (nested only)
// Desc is a small struct of the SM: names, how to read the attribute, and the
// stream entry each scan feeds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "corvane/engine/RootSm.h"
#include "corvane/framework/HashMap.h"

namespace Corvane {

class CORVANE_API InputSm : public Node, public Subscriber {
 public:
  // Scan states.
  static constexpr uint8_t scanFresh = 0;
  static constexpr uint8_t scanResuming = 1;
  static constexpr uint8_t scanComplete = 2;
  static constexpr uint8_t scanFirstPassComplete = 3;

  ~InputSm() override;

  char const* className() const noexcept { return className_; }
  RootSm& root() const noexcept { return root_; }
  InputSm* parent() const noexcept { return parent_; }
  bool enabled() const noexcept { return enabled_; }
  bool inReactor() const noexcept { return inReactor_; }
  void inReactorIs(bool v) noexcept { inReactor_ = v; }
  bool synchronous() const noexcept { return root_.synchronous(); }
  bool initialScanDone() const noexcept { return root_.initialScanDone(); }

  void doInputScan();
  virtual void doDeleteAll() = 0;
  virtual void hasNotificationActiveIs(bool active);
  // Whether every scan of this SM has finished its current pass.
  bool inputScanComplete() const noexcept;
  bool inputScanComplete(uint32_t scan) const noexcept;
  uint8_t inputScanState(uint32_t scan) const noexcept { return scans_[scan].state; }
  Task* task(uint32_t scan) const noexcept { return scans_[scan].task ? scans_[scan].task->task.get() : nullptr; }

 protected:
  InputSm(RootSm& root, InputSm* parent, char const* className);

  // Declares scan `number` (the digit of doInputScanN), feeding stream flag `flag`
  // of the root (-1 for a nested SM), with the handler's name for traces.
  void scanDeclare(uint8_t number, int32_t flag, char const* handlerName);
  // Subscribes to the watched entity and runs the framework initialization: tasks,
  // then the first scan. Called last in the constructor of the final class; if it
  // throws, the subscription is removed again before the exception leaves.
  void initialize();
  virtual void doInitializeTask();
  virtual void doInputScanN(uint32_t scan) = 0;
  virtual Entity const* watched() const noexcept = 0;

  char const* scanFn(uint32_t scan) const noexcept { return scanFnName(scans_[scan].number); }
  char const* handlerFn(uint32_t scan) const noexcept { return scans_[scan].handlerFn; }

  // Shared scan of a keyed collection from the bookmark (Part of every collection
  // input). perElement(key) handles one element and returns false when a nested
  // scan it ran is not complete (the scan then yields at once, on that key).
  // Returns true when the collection was finished.
  template <class Coll, class F>
  bool runCollectionScan(uint32_t scan, Coll const& coll, typename Coll::key_type& bookmark,
                         uint64_t& version, F&& perElement);
  // First lines and early returns shared by every scan; false: nothing to do.
  bool scanBegin(uint32_t scan);
  // How a finished scan reports: a top-level scan, a nested one over a collection
  // (with its element count) or over a single attribute.
  enum class ScanKind : uint8_t { topLevel, nestedCollection, nestedSingle };
  void scanFinish(uint32_t scan, ScanKind kind, size_t elements);
  // Their level-9 lines, out of the way of the untraced path.
  [[gnu::cold, gnu::noinline]] void scanBeginTrace(uint32_t scan) const;
  [[gnu::cold, gnu::noinline]] void scanFinishTrace(uint32_t scan, ScanKind kind, size_t elements, bool initial) const;
  bool shouldYield(uint32_t scan) const;
  void scanYield(uint32_t scan, bool child, uint64_t iterations, uint64_t total);
  void checkEntity() const;
  void checkVersion(uint64_t recorded, uint64_t current, char const* attrName) const;
  void disable() noexcept { enabled_ = false; }

  // Sets inReactor for the duration of a reactor call, and keeps the root and this
  // SM alive until the call returns: a subscriber of an output may release the
  // machine, or its parent may drop this nested SM, while the call is under way.
  struct ReactorScope {
    NodeHold rootHold;
    NodeHold selfHold;
    InputSm& sm;
    bool was;
    explicit ReactorScope(InputSm& s) : rootHold(s.root_), selfHold(s), sm(s), was(s.inReactor_) {
      s.inReactor_ = true;
    }
    ~ReactorScope() { sm.inReactor_ = was; }  // the holds go after this
  };

 private:
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
  static char const* scanFnName(uint8_t number) noexcept;
  void taskDelete(Scan& s) noexcept;
  bool inReactorChain() const noexcept;
  Task* yieldTask() const noexcept;

  RootSm& root_;
  InputSm* parent_;
  char const* className_;
  Scan scans_[2];
  uint8_t scanCount_ = 0;
  bool enabled_ = true;
  bool inReactor_ = false;
};

// Value of `key` in a map (its value) or a set (Unit), absent when not there.
template <class Coll, class K>
auto collLookup(Coll const& c, K const& k) {
  if constexpr (requires { *c.find(k); typename Coll::mapped_type; } &&
                !std::is_same_v<typename Coll::mapped_type, Unit>) {
    using V = typename Coll::mapped_type;
    auto const* v = c.find(k);
    return v ? std::optional<V>(*v) : std::optional<V>();
  } else {
    return c.contains(k) ? std::optional<Unit>(Unit{}) : std::optional<Unit>();
  }
}

template <class Coll, class F>
bool InputSm::runCollectionScan(uint32_t scan, Coll const& coll, typename Coll::key_type& bookmark,
                                uint64_t& version, F&& perElement) {
  Scan& s = scans_[scan];
  // Cursors only read; the collection type hands them out non-const.
  Coll& c = const_cast<Coll&>(coll);
  auto cursor = s.state == scanResuming ? c.cursorAt(bookmark) : c.cursor();
  uint64_t iterations = 0;
  while (!cursor.done()) {
    auto const key = cursor.key();
    bool childDone = perElement(key);
    ++iterations;
    if (!childDone) {
      bookmark = key;  // the nested scan resumes on this element
      scanYield(scan, true, iterations, c.size());
      return false;
    }
    cursor.next();
    if (shouldYield(scan) && !cursor.done()) {
      bookmark = cursor.key();
      scanYield(scan, false, iterations, c.size());
      return false;
    }
  }
  version = c.version();
  return true;
}

// ---- ValueCollInput -------------------------------------------------------
//
// Desc provides:
//   using Root, Entity, Coll;       static constexpr char const* className, attrName;
//   static constexpr uint32_t attrId;  static Coll const& coll(Entity const&);
//   static constexpr uint8_t scanCount; static constexpr uint8_t scanNumber[], char const* handlerName[];
//   static constexpr bool nested; using ParentKey (when nested);
//   static void event(Root&, uint32_t scan, [ParentKey const&,] Key const&, std::optional<V> const&);
//   int32_t flag(Root&, uint32_t scan) (top-level: the stream flag index; nested: -1)
template <class Desc>
class ValueCollInput final : public InputSm {
 public:
  using Entity = typename Desc::Entity;
  using Coll = typename Desc::Coll;
  using Key = typename Coll::key_type;
  using Root = typename Desc::Root;
  struct NoParent {
    struct ParentKey {};
  };
  using ParentKey = typename std::conditional_t<Desc::nested, Desc, NoParent>::ParentKey;

  ValueCollInput(Ptr<Entity const> en, Root& root, InputSm* parent, ParentKey smKey = {})
      : InputSm(root, parent, Desc::className), en_(std::move(en)), smKey_(smKey) {
    for (uint32_t i = 0; i < Desc::scanCount; ++i) {
      scanDeclare(Desc::scanNumber[i], Desc::flag(root, i), Desc::handlerName[i]);
      bookmarks_[i] = Key{};
    }
    initialize();
  }
  ~ValueCollInput() override {
    if (en_) en_->subscriberRemove(this);
  }

  Ptr<Entity const> const& en() const noexcept { return en_; }
  ParentKey const& smKey() const noexcept { return smKey_; }
  uint64_t version() const noexcept { return version_; }

  void dispatch(uint32_t attrId, void const* key) override {
    if (attrId != Desc::attrId || nodeFlag(flagZombie)) return;
    ReactorScope scope(*this);
    for (uint32_t i = 0; i < Desc::scanCount; ++i) handle(i, *static_cast<Key const*>(key));
  }

  void handle(uint32_t scan, Key const& k) {
    if (!enabled()) return;
    root().trace(8, handlerFn(scan), className(), "k: {}", k);
    Coll const& c = Desc::coll(*en_);
    version_ = c.version();
    emit(scan, k, collLookup(c, k));
  }

  void hasNotificationActiveIs(bool active) override {
    bool was = nodeFlag(flagNotificationActive);
    InputSm::hasNotificationActiveIs(active);
    if (was != active && en_) {
      if (active) {
        en_->subscriberAdd(this);
      } else {
        en_->subscriberRemove(this);
      }
    }
  }

  void doDeleteAll() override {
    root().trace(9, "doDeleteAll", className(), "");
    if (initialScanDone() && en_) {
      Coll& c = const_cast<Coll&>(Desc::coll(*en_));
      checkVersion(version_, c.version(), Desc::attrName);
      for (auto cur = c.cursor(); !cur.done(); cur.next()) {
        Key const k = cur.key();
        for (uint32_t i = 0; i < Desc::scanCount; ++i) emit(i, k, std::nullopt);
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
    if (runCollectionScan(scan, c, bookmarks_[scan], version_, [&](Key const& k) {
          handle(scan, k);
          return true;
        })) {
      scanFinish(scan, Desc::nested ? ScanKind::nestedCollection : ScanKind::topLevel, c.size());
    }
  }

 private:
  template <class V>
  void emit(uint32_t scan, Key const& k, V const& v) {
    if constexpr (Desc::nested) {
      Desc::event(static_cast<Root&>(root()), scan, smKey_, k, v);
    } else {
      Desc::event(static_cast<Root&>(root()), scan, k, v);
    }
  }

  Ptr<Entity const> en_;
  ParentKey smKey_;
  Key bookmarks_[Desc::scanCount];
  uint64_t version_ = 0;
};

// ---- EntityCollInput ------------------------------------------------------
//
// Desc provides: using Root, Entity, Coll (key -> Ptr<Element>), Child (the nested
// input SM type, constructible from (Ptr<Element const>, Root&, InputSm*, Key));
// className, attrName, attrId, handlerName, scanNumber, coll(), flag(root).
template <class Desc>
class EntityCollInput final : public InputSm {
 public:
  using Entity = typename Desc::Entity;
  using Coll = typename Desc::Coll;
  using Key = typename Coll::key_type;
  using Root = typename Desc::Root;
  using Child = typename Desc::Child;

  EntityCollInput(Ptr<Entity const> en, Root& root, InputSm* parent)
      : InputSm(root, parent, Desc::className), en_(std::move(en)) {
    scanDeclare(Desc::scanNumber, Desc::flag(root), Desc::handlerName);
    initialize();
  }
  ~EntityCollInput() override {
    if (en_) en_->subscriberRemove(this);
  }

  HashMap<Key, Ptr<Child>> const& children() const noexcept { return children_; }

  void dispatch(uint32_t attrId, void const* key) override {
    if (attrId != Desc::attrId || nodeFlag(flagZombie)) return;
    ReactorScope scope(*this);
    handle(*static_cast<Key const*>(key));
  }

  // Keeps the nested SM of `k` in step with the element held under it. Returns
  // whether it built a new one (whose first scan has then already run).
  bool handle(Key const& k) {
    if (!enabled()) return false;
    root().trace(8, handlerFn(0), className(), "k: {}", k);
    Coll const& c = Desc::coll(*en_);
    version_ = c.version();
    auto const* element = c.find(k);
    Ptr<Child>* child = children_.find(k);
    if (child && (!element || (*child)->en().get() != element->get())) {
      Ptr<Child> old = *child;
      old->doDeleteAll();
      old->hasNotificationActiveIs(false);
      children_.erase(k);
      child = nullptr;
    }
    if (element && *element && !child) {
      Ptr<Child> fresh(new Child(*element, static_cast<Root&>(root()), this, k));
      children_.assign(k, fresh);
      if (nodeFlag(flagNotificationActive)) fresh->hasNotificationActiveIs(true);
      return true;
    }
    return false;
  }

  void hasNotificationActiveIs(bool active) override {
    bool was = nodeFlag(flagNotificationActive);
    InputSm::hasNotificationActiveIs(active);
    if (was == active) return;
    if (en_) {
      if (active) {
        en_->subscriberAdd(this);
      } else {
        en_->subscriberRemove(this);
      }
    }
    for (auto const& [k, child] : children_) child->hasNotificationActiveIs(active);
  }

  void doDeleteAll() override {
    root().trace(9, "doDeleteAll", className(), "");
    if (initialScanDone() && en_) {
      checkVersion(version_, Desc::coll(*en_).version(), Desc::attrName);
      for (auto cur = children_.cursor(); !cur.done(); cur.next()) {
        if (auto* e = cur.entry()) {
          Ptr<Child> child = e->second;
          child->doDeleteAll();
        }
      }
    }
    for (auto const& [k, child] : children_) child->hasNotificationActiveIs(false);
    children_.clear();
    disable();
  }

 protected:
  Entity const* watched() const noexcept override { return en_.get(); }

  void doInputScanN(uint32_t scan) override {
    if (!scanBegin(scan)) return;
    checkEntity();
    Coll const& c = Desc::coll(*en_);
    if (runCollectionScan(scan, c, bookmark_, version_, [&](Key const& k) {
          bool fresh = handle(k);
          if (Ptr<Child>* child = children_.find(k)) {
            Ptr<Child> keep = *child;
            if (!fresh) keep->doInputScan();
            return keep->inputScanComplete();
          }
          return true;
        })) {
      scanFinish(scan, ScanKind::topLevel, c.size());
    }
  }

 private:
  Ptr<Entity const> en_;
  Key bookmark_{};
  uint64_t version_ = 0;
  HashMap<Key, Ptr<Child>> children_;
};

// ---- SingleAttrInput ------------------------------------------------------
//
// Nested SM over one attribute of an element. Desc provides: using Root, Entity
// (the element), ParentKey, Value; className, attrId, handlerName, scanNumber;
// static std::optional<Value> value(Entity const&);
// static void event(Root&, ParentKey const&, std::optional<Value> const&).
template <class Desc>
class SingleAttrInput final : public InputSm {
 public:
  using Entity = typename Desc::Entity;
  using Root = typename Desc::Root;
  using ParentKey = typename Desc::ParentKey;

  SingleAttrInput(Ptr<Entity const> en, Root& root, InputSm* parent, ParentKey smKey)
      : InputSm(root, parent, Desc::className), en_(std::move(en)), smKey_(smKey) {
    scanDeclare(Desc::scanNumber, -1, Desc::handlerName);
    initialize();
  }
  ~SingleAttrInput() override {
    if (en_) en_->subscriberRemove(this);
  }

  Ptr<Entity const> const& en() const noexcept { return en_; }
  ParentKey const& smKey() const noexcept { return smKey_; }

  void dispatch(uint32_t attrId, void const*) override {
    if (attrId != Desc::attrId || nodeFlag(flagZombie)) return;
    ReactorScope scope(*this);
    handle();
  }
  void handle() {
    if (!enabled()) return;
    root().trace(8, handlerFn(0), className(), "k: {}", smKey_);
    Desc::event(static_cast<Root&>(root()), smKey_, Desc::value(*en_));
  }

  void hasNotificationActiveIs(bool active) override {
    bool was = nodeFlag(flagNotificationActive);
    InputSm::hasNotificationActiveIs(active);
    if (was != active && en_) {
      if (active) {
        en_->subscriberAdd(this);
      } else {
        en_->subscriberRemove(this);
      }
    }
  }

  void doDeleteAll() override {
    root().trace(9, "doDeleteAll", className(), "");
    if (initialScanDone()) {
      Desc::event(static_cast<Root&>(root()), smKey_, std::optional<typename Desc::Value>());
    }
    disable();
  }

 protected:
  Entity const* watched() const noexcept override { return en_.get(); }
  void doInputScanN(uint32_t scan) override {
    if (!scanBegin(scan)) return;
    checkEntity();
    handle();
    scanFinish(scan, ScanKind::nestedSingle, 0);
  }

 private:
  Ptr<Entity const> en_;
  ParentKey smKey_;
};

}  // namespace Corvane
