// Records found by key text, for tables of a million keys and one lookup per
// change: the slots are one array probed linearly, each a record's number and 32
// bits of its key's hash (the home slot comes from them, so growing reads no
// record); the records are kept in blocks that never move, so a record's address
// holds while it lives. Erasing shifts the slots after it back: no tombstones.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Corvane {

template <class State>
class KeyTable {
 public:
  struct Record {
    std::string key;
    State state;
    uint32_t index = 0;  // in records_
    bool live = false;
  };

  Record* find(std::string_view key) {
    if (slots_.empty()) return nullptr;
    uint32_t const tag = tagOf(key);
    for (size_t i = tag & mask(); slots_[i] != 0; i = (i + 1) & mask()) {
      if (uint32_t(slots_[i] >> 32) == tag) {
        Record& r = records_[uint32_t(slots_[i]) - 1];
        if (r.key == key) return &r;
      }
    }
    return nullptr;
  }

  Record& findOrAdd(std::string_view key) {
    if (2 * (live_ + 1) > slots_.size()) grow();
    uint32_t const tag = tagOf(key);
    size_t i = tag & mask();
    for (; slots_[i] != 0; i = (i + 1) & mask()) {
      if (uint32_t(slots_[i] >> 32) == tag) {
        Record& r = records_[uint32_t(slots_[i]) - 1];
        if (r.key == key) return r;
      }
    }
    uint32_t index;
    if (!free_.empty()) {
      index = free_.back();
      free_.pop_back();
    } else {
      index = uint32_t(records_.size());
      records_.emplace_back();
    }
    Record& r = records_[index];
    r.index = index;
    r.key.assign(key);
    r.live = true;
    slots_[i] = (uint64_t(tag) << 32) | (index + 1);
    ++live_;
    return r;
  }

  void erase(Record& r) {
    uint32_t const tag = tagOf(r.key);
    size_t i = tag & mask();
    while (uint32_t(slots_[i]) - 1 != r.index) i = (i + 1) & mask();
    for (size_t j = (i + 1) & mask(); slots_[j] != 0; j = (j + 1) & mask()) {
      size_t const home = uint32_t(slots_[j] >> 32) & mask();
      if (((j - home) & mask()) >= ((j - i) & mask())) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = 0;
    free_.push_back(r.index);
    r = Record();
    --live_;
  }

  // Every live record; `fn` may add records (those are not all visited).
  template <class Fn>
  void forEach(Fn&& fn) {
    for (size_t i = 0; i < records_.size(); ++i) {
      if (records_[i].live) fn(records_[i]);
    }
  }

  size_t size() const noexcept { return live_; }

 private:
  static uint32_t tagOf(std::string_view key) noexcept {
    uint64_t const h = std::hash<std::string_view>()(key);
    return uint32_t(h ^ (h >> 32));
  }
  size_t mask() const noexcept { return slots_.size() - 1; }
  void grow() {
    std::vector<uint64_t> old(std::max<size_t>(64, 2 * slots_.size()), 0);
    old.swap(slots_);
    for (uint64_t s : old) {
      if (s == 0) continue;
      size_t i = uint32_t(s >> 32) & mask();
      while (slots_[i] != 0) i = (i + 1) & mask();
      slots_[i] = s;
    }
  }

  std::vector<uint64_t> slots_;
  std::deque<Record> records_;
  std::vector<uint32_t> free_;
  size_t live_ = 0;
};


}  // namespace Corvane
