// The records of live (and quarantined) handles, found by handle: an open
// addressing table, so that finding a handle costs a hash and a probe or two
// and adding one allocates only when the table grows.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <vector>

namespace xhost::detail {

template <typename Record>
class HandleIndex {
 public:
  HandleIndex() { resize(kFirstCapacity); }

  // Null for a null or unknown handle (a null handle meets an empty slot,
  // whose record is null: the table is never full).
  Record* find(const void* handle) const {
    for (size_t i = home(handle);; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.handle == handle || !slot.handle) return slot.record;
    }
  }

  // `handle` is not in the index yet, and is not null.
  void insert(const void* handle, Record* record) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    size_t i = home(handle);
    while (slots_[i].handle) i = (i + 1) & mask_;
    slots_[i] = {handle, record};
    ++count_;
  }

  void erase(const void* handle) {
    if (!handle) return;
    size_t hole = home(handle);
    while (slots_[hole].handle != handle) {
      if (!slots_[hole].handle) return;
      hole = (hole + 1) & mask_;
    }
    // Moves back the entries of the run after the hole that may sit in it,
    // so that every probe still meets its handle before an empty slot.
    for (size_t next = (hole + 1) & mask_; slots_[next].handle; next = (next + 1) & mask_) {
      size_t wanted = home(slots_[next].handle);
      if (((next - wanted) & mask_) >= ((next - hole) & mask_)) {
        slots_[hole] = slots_[next];
        hole = next;
      }
    }
    slots_[hole] = {};
    --count_;
  }

  template <typename F>
  void forEach(F&& visit) const {
    for (const Slot& slot : slots_)
      if (slot.handle) visit(slot.record);
  }

  // Drops the records for which `drop` (which may free them) returns true.
  template <typename F>
  void eraseIf(F&& drop) {
    std::vector<Slot> kept;
    for (const Slot& slot : slots_)
      if (slot.handle && !drop(slot.record)) kept.push_back(slot);
    std::fill(slots_.begin(), slots_.end(), Slot{});
    count_ = 0;
    for (const Slot& slot : kept) insert(slot.handle, slot.record);
  }

  size_t size() const { return count_; }

 private:
  struct Slot {
    const void* handle = nullptr;
    Record* record = nullptr;
  };

  static constexpr size_t kFirstCapacity = 64;  // a power of two

  size_t home(const void* handle) const {
    // Fibonacci hashing: the high bits of the product mix every bit of the address.
    return static_cast<size_t>((reinterpret_cast<uint64_t>(handle) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void grow() { resize(slots_.size() * 2); }

  void resize(size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    shift_ = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --shift_;
    count_ = 0;
    for (const Slot& slot : old)
      if (slot.handle) insert(slot.handle, slot.record);
  }

  std::vector<Slot> slots_;
  size_t count_ = 0;
  size_t mask_ = 0;
  unsigned shift_ = 64;
};

}  // namespace xhost::detail
