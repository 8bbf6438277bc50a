// The table of every field that holds a wrapper's owned reference, in a
// header of its own so that storing and releasing inline their usual path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "PythonLibrary/PythonObjects.h"

// A field of a data block that keeps an owned reference (null for none), known
// to gReferenceFields while it holds one; stored and released through
// PythonReferences.h.
using ReferenceField = PyObjectRef;

// The addresses of the fields that hold an owned reference, in an
// open-addressing table with linear probing: storing and releasing cost a
// multiplication and a probe or two, and allocate nothing once the table has
// grown to the most wrappers alive at a time (it doubles, and never shrinks).
// Both always inlined, as StoreReferenceField and ReleaseOwnedPythonRef are.
class ReferenceFieldTable {
 public:
  // False when the table cannot grow to take one more field.
  __attribute__((always_inline)) bool Insert(ReferenceField* field) noexcept {
    if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
    size_t at = Home(field);
    while (slots_[at] && slots_[at] != field) at = (at + 1) & Mask();
    if (!slots_[at]) ++count_;
    slots_[at] = field;
    return true;
  }

  // False when the field is not in the table.
  __attribute__((always_inline)) bool Erase(ReferenceField* field) noexcept {
    if (count_ == 0) return false;
    size_t at = Home(field);
    while (slots_[at] != field) {
      if (!slots_[at]) return false;
      at = (at + 1) & Mask();
    }
    // Moves back every later entry of the run that may no longer be found
    // past the hole, so that no probe ever stops short of its field.
    for (size_t next = (at + 1) & Mask(); slots_[next]; next = (next + 1) & Mask()) {
      const size_t home = Home(slots_[next]);
      if (((next - home) & Mask()) >= ((next - at) & Mask())) {
        slots_[at] = slots_[next];
        at = next;
      }
    }
    slots_[at] = nullptr;
    --count_;
    return true;
  }

  bool Contains(const ReferenceField* field) const noexcept {
    if (count_ == 0) return false;
    for (size_t at = Home(field); slots_[at]; at = (at + 1) & Mask())
      if (slots_[at] == field) return true;
    return false;
  }

  ReferenceField* Any() const noexcept {
    for (size_t i = 0; count_ && i < capacity_; ++i)
      if (slots_[i]) return slots_[i];
    return nullptr;
  }

  template <typename Visit>
  void ForEach(Visit visit) noexcept {
    for (size_t i = 0; i < capacity_; ++i)
      if (slots_[i]) visit(slots_[i]);
  }

  void Clear() noexcept {
    if (slots_) std::memset(slots_, 0, capacity_ * sizeof *slots_);
    count_ = 0;
  }

 private:
  static constexpr size_t kFirstCapacity = 256;

  size_t Mask() const noexcept { return capacity_ - 1; }

  // Fibonacci hashing of the address: fields are 8-byte aligned.
  size_t Home(const ReferenceField* field) const noexcept {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(field) >> 3) * 0x9E3779B97F4A7C15ull >> shift_);
  }

  bool Grow() noexcept;  // out of line: once per doubling

  ReferenceField** slots_ = nullptr;  // capacity_ entries, null where free; owned, never freed
  size_t capacity_ = 0;               // a power of two, or 0 before the first field
  size_t count_ = 0;
  unsigned shift_ = 64;
};

// Constant-initialized and never destroyed: wrappers may be destroyed during
// static destruction.
extern ReferenceFieldTable gReferenceFields;
