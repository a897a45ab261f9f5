// Change notification. An Entity publishes one notification per insert, replace or
// delete of its attributes, to every subscriber, inside the call that made the
// change and after the change is visible. Subscribing and unsubscribing while a
// notification is being delivered is safe: a subscriber removed during delivery is
// not called again, one added during delivery first hears the next change.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "corvane/framework/HashMap.h"
#include "corvane/framework/Node.h"

namespace Corvane {

class CORVANE_API Subscriber {
 public:
  virtual ~Subscriber();
  // attrId: the changed attribute's number in its entity; key: the changed key
  // (of the attribute's key type), or null for a single-valued attribute.
  virtual void dispatch(uint32_t attrId, void const* key) = 0;
  // The call an entity makes. For a collection of counted references (payloads,
  // children) and a single reference attribute, `previous` points at the reference
  // (a Ptr of the attribute's type) held before the change, and the object it
  // refers to stays alive until every subscriber has returned; it is null when
  // there was none (an insert, or a reference set from null) and for every other
  // kind of attribute. The default forwards to the two-argument dispatch.
  virtual void dispatch(uint32_t attrId, void const* key, void const* previous);
  // While a span sink is installed (Spans.h), each dispatch to a subscriber that
  // names itself here is reported as a span. By default a subscriber does not.
  virtual bool spanNames(char const*& name, char const*& category) const noexcept;
};

class CORVANE_API Publisher {
 public:
  Publisher() noexcept { slots_.one = nullptr; }
  Publisher(Publisher const&) = delete;
  Publisher& operator=(Publisher const&) = delete;
  ~Publisher();

  // Adding a subscriber that is already there does nothing.
  void subscriberAdd(Subscriber* s);
  void subscriberRemove(Subscriber* s);
  bool hasSubscribers() const noexcept { return live_ != 0; }
  uint32_t subscriberCount() const noexcept { return live_; }

  void publishChange(uint32_t attrId, void const* key, void const* previous = nullptr) {
    if (live_ != 0) deliver(attrId, key, previous);
  }

 private:
  // Most entities have one subscriber or none: the first sits in the publisher
  // itself, more go to an array of a power of two slots. Arrays of two, the usual
  // case past one (a port's configuration that two SMs follow), come from a pool.
  // An array's count of slots in use sits in a word just before its slots, which
  // keeps the publisher, in every entity, at a pointer and 8 bytes.
  Subscriber* const* data() const noexcept { return capLog_ ? slots_.many : &slots_.one; }
  Subscriber** data() noexcept { return capLog_ ? slots_.many : &slots_.one; }
  // Slots in use; null ones are subscribers removed during delivery. Inline, the one
  // slot is in use while it holds a subscriber or the hole one left.
  size_t size() const noexcept { return capLog_ ? arraySize(slots_.many) : size_t(slots_.one || holes_); }
  static size_t& arraySize(Subscriber** a) noexcept { return reinterpret_cast<size_t*>(a)[-1]; }
  void sizeIs(size_t n) noexcept {
    if (capLog_) arraySize(slots_.many) = n;
  }
  static Subscriber** arrayNew(uint8_t capLog);
  static void arrayDelete(Subscriber** a, uint8_t capLog) noexcept;
  void deliver(uint32_t attrId, void const* key, void const* previous);
  void compact() noexcept;

  union {
    Subscriber* one;
    Subscriber** many;
  } slots_;
  uint32_t live_ = 0;
  // Deliveries under way, nested: a subscriber's change to the same entity. Every
  // level is a few stack frames deep, so the stack runs out long before this does.
  uint16_t depth_ = 0;
  uint8_t capLog_ = 0;  // 0: the subscriber sits inline; else the array has 1 << capLog_ slots
  bool holes_ = false;
};
static_assert(sizeof(Publisher) == sizeof(void*) + 8, "a publisher is a pointer and its counts");

class CORVANE_API Entity : public Node {
  CORVANE_NODE_TYPE(Entity)

  Entity() = default;
  ~Entity() override;

  // Subscribing does not change the entity: readers holding a const entity may do it.
  void subscriberAdd(Subscriber* s) const { publisher_.subscriberAdd(s); }
  void subscriberRemove(Subscriber* s) const { publisher_.subscriberRemove(s); }
  bool hasSubscribers() const noexcept { return publisher_.hasSubscribers(); }
  virtual Publisher* publisher() noexcept { return &publisher_; }
  // Announces the entity's whole state again: one notification per single attribute
  // and per present collection entry (previous null), then the same for each child
  // of its instantiating collections. Works from the type's registered description.
  void publishChangeRecursive();

 protected:
  // The entity stays alive until every subscriber has returned, even when one of
  // them drops the last other reference to it. `previous`: see Subscriber.
  void publishChange(uint32_t attrId, void const* key, void const* previous = nullptr) {
    if (publisher_.hasSubscribers()) publishHeld(attrId, key, previous);
  }
  // What a change of a value v announces as its previous value: the reference when
  // v is a non-null counted reference, else nothing.
  template <class V>
  static void const* previousOf(V const& v) noexcept {
    if constexpr (requires { v.get(); }) {
      return v ? static_cast<void const*>(&v) : nullptr;
    } else {
      return nullptr;
    }
  }

  // Collection operations with the notification rules every entity shares:
  // a write that changes nothing is silent; a replaced or removed value is released
  // only after the notification has run.
  template <class C, class K, class V>
  bool collSet(C& c, uint32_t attrId, K const& k, V&& v) {
    std::remove_cvref_t<V> previous{};
    AssignResult const r = c.assign(k, std::forward<V>(v), &previous);
    if (r == AssignResult::unchanged) return false;
    publishChange(attrId, &k, r == AssignResult::replaced ? previousOf(previous) : nullptr);
    return true;
  }
  template <class C, class K>
  bool collSetAdd(C& c, uint32_t attrId, K const& k) {
    if (!c.insert(k)) return false;
    publishChange(attrId, &k);
    return true;
  }
  template <class C, class K, class V>
  bool collDel(C& c, uint32_t attrId, K const& k, V* removed) {
    if (!c.erase(k, removed)) return false;
    publishChange(attrId, &k, removed ? previousOf(*removed) : nullptr);
    return true;
  }
  template <class C, class K>
  bool collDel(C& c, uint32_t attrId, K const& k) {
    if (!c.erase(k)) return false;
    publishChange(attrId, &k);
    return true;
  }
  // Empties the collection; with subscribers each key is deleted and announced in turn.
  template <class C>
  void collDelAll(C& c, uint32_t attrId) {
    if (!hasSubscribers()) {
      c.clear();
      return;
    }
    for (auto cur = c.cursor(); !cur.done(); cur.next()) {
      auto const k = cur.key();
      if constexpr (requires { typename C::mapped_type; }) {
        typename C::mapped_type removed{};
        collDel(c, attrId, k, &removed);
      } else {
        collDel(c, attrId, k);
      }
    }
  }

 private:
  void publishHeld(uint32_t attrId, void const* key, void const* previous);

  mutable Publisher publisher_;
};
static_assert(sizeof(void*) != 8 || sizeof(Entity) == 32, "an entity is 32 bytes before its attributes");

// An entity that carries a name for its whole life.
class CORVANE_API NamedEntity : public Entity {
  CORVANE_NODE_TYPE(NamedEntity)

  explicit NamedEntity(std::string name) : name_(std::move(name)) {}
  ~NamedEntity() override;
  std::string const& name() const noexcept { return name_; }
  std::string const& nameString() const noexcept { return name_; }

 private:
  std::string name_;
};

}  // namespace Corvane
