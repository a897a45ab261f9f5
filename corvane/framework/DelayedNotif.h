// Deferred change notification. A table with a holder attached queues each changed
// key here instead of announcing it; trigger() later announces every queued key
// once, through the table's publisher, as an ordinary change notification. A key
// queued several times before the trigger is held once.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "corvane/framework/Errors.h"
#include "corvane/framework/HashMap.h"
#include "corvane/framework/Publisher.h"

namespace Corvane {

// The queue: pending keys per attribute. Keys of one attribute share one type.
class CORVANE_API DelayedNotifDelegate {
 public:
  DelayedNotifDelegate();
  DelayedNotifDelegate(DelayedNotifDelegate const&) = delete;
  DelayedNotifDelegate& operator=(DelayedNotifDelegate const&) = delete;
  ~DelayedNotifDelegate();

  // Queues a key; true when it was not queued already.
  template <class K>
  bool enqueue(uint32_t attrId, K const& key) {
    return pendingFor<K>(attrId).keys.insert(key);
  }
  // Takes back a key that enqueue() has just queued, for a change that then failed.
  template <class K>
  void dequeue(uint32_t attrId, K const& key) noexcept {
    for (auto& [id, p] : pending_) {
      if (id == attrId && p->typeTag() == Pending<K>::tag()) static_cast<Pending<K>&>(*p).keys.erase(key);
    }
  }
  size_t pendingCount() const noexcept;
  // Announces and forgets every queued key. Keys queued while announcing stay for
  // the next trigger; so do the key whose announcement threw and those after it.
  void trigger(Publisher& publisher);

 private:
  struct PendingBase {
    virtual ~PendingBase() = default;
    virtual void const* typeTag() const noexcept = 0;
    virtual size_t size() const noexcept = 0;
    virtual void announce(Publisher& p, uint32_t attrId) = 0;
  };
  template <class K>
  struct Pending final : PendingBase {
    static void const* tag() noexcept {
      static char const t = 0;
      return &t;
    }
    void const* typeTag() const noexcept override { return tag(); }
    size_t size() const noexcept override { return keys.size(); }
    void announce(Publisher& p, uint32_t attrId) override {
      HashSet<K> now;
      now.swap(keys);
      auto cur = now.cursor();
      try {
        for (; !cur.done(); cur.next()) p.publishChange(attrId, &cur.key());
      } catch (...) {
        requeue(now, cur.key());
        throw;
      }
    }
    // A subscriber threw while `failed` was announced: that key and the ones after it
    // stay queued for the next trigger, with any queued meanwhile.
    void requeue(HashSet<K>& now, K const failed) {
      for (auto c = now.cursor(); !c.done() && !(c.key() == failed); c.next()) now.erase(c.key());
      if (keys.empty()) {
        keys.swap(now);
      } else {
        for (K const& k : now) keys.insert(k);
      }
    }
    HashSet<K> keys;
  };

  template <class K>
  Pending<K>& pendingFor(uint32_t attrId) {
    for (auto& [id, p] : pending_) {
      if (id == attrId) {
        if (p->typeTag() != Pending<K>::tag()) {
          throw InternalError("DelayedNotifDelegate: key type differs for one attribute");
        }
        return static_cast<Pending<K>&>(*p);
      }
    }
    pending_.emplace_back(attrId, std::make_unique<Pending<K>>());
    return static_cast<Pending<K>&>(*pending_.back().second);
  }

  std::vector<std::pair<uint32_t, std::unique_ptr<PendingBase>>> pending_;
};

class CORVANE_API DelayedNotifHolder : public Node {
  CORVANE_NODE_TYPE(DelayedNotifHolder)

  static Ptr<DelayedNotifHolder> DelayedNotifHolderIs();
  DelayedNotifHolder();
  ~DelayedNotifHolder() override;

  DelayedNotifDelegate* delayedNotifDelegatePtr() noexcept { return &delegate_; }
  size_t pendingCount() const noexcept { return delegate_.pendingCount(); }
  void trigger(Publisher& publisher) { delegate_.trigger(publisher); }

 private:
  DelayedNotifDelegate delegate_;
};

}  // namespace Corvane
