#include "PythonValues/PythonReferences.h"

#include <cstring>
#include <new>

#include "PythonRuntime/HostEntry.h"

namespace {

// The addresses of the fields that hold an owned reference, in an
// open-addressing table with linear probing: storing and releasing cost a
// multiplication and a probe or two, and allocate nothing once the table has
// grown to the most wrappers alive at a time (it doubles, and never shrinks).
class OwnedFieldTable {
 public:
  // False when the table cannot grow to take one more field.
  bool Insert(PyObjectRef* field) noexcept {
    if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
    size_t at = Home(field);
    while (slots_[at] && slots_[at] != field) at = (at + 1) & mask();
    if (!slots_[at]) ++count_;
    slots_[at] = field;
    return true;
  }

  // False when the field is not in the table.
  bool Erase(PyObjectRef* field) noexcept {
    if (count_ == 0) return false;
    size_t at = Home(field);
    while (slots_[at] != field) {
      if (!slots_[at]) return false;
      at = (at + 1) & mask();
    }
    // Moves back every later entry of the run that may no longer be found
    // past the hole, so that no probe ever stops short of its field.
    for (size_t next = (at + 1) & mask(); slots_[next]; next = (next + 1) & mask()) {
      const size_t home = Home(slots_[next]);
      if (((next - home) & mask()) >= ((next - at) & mask())) {
        slots_[at] = slots_[next];
        at = next;
      }
    }
    slots_[at] = nullptr;
    --count_;
    return true;
  }

  bool Contains(const PyObjectRef* field) const noexcept {
    if (count_ == 0) return false;
    for (size_t at = Home(field); slots_[at]; at = (at + 1) & mask())
      if (slots_[at] == field) return true;
    return false;
  }

  PyObjectRef* Any() const noexcept {
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

  size_t mask() const noexcept { return capacity_ - 1; }

  // Fibonacci hashing of the address: fields are 8-byte aligned.
  size_t Home(const PyObjectRef* field) const noexcept {
    return static_cast<size_t>((reinterpret_cast<uintptr_t>(field) >> 3) * 0x9E3779B97F4A7C15ull >> shift_);
  }

  bool Grow() noexcept {
    const size_t capacity = capacity_ ? capacity_ * 2 : kFirstCapacity;
    auto* slots = new (std::nothrow) PyObjectRef*[capacity]();
    if (!slots) return false;
    PyObjectRef** old = slots_;
    const size_t oldCapacity = capacity_;
    slots_ = slots;
    capacity_ = capacity;
    shift_ = 64 - __builtin_ctzll(capacity);
    count_ = 0;
    for (size_t i = 0; i < oldCapacity; ++i)
      if (old[i]) Insert(old[i]);
    delete[] old;
    return true;
  }

  PyObjectRef** slots_ = nullptr;  // capacity_ entries, null where free; owned, never freed
  size_t capacity_ = 0;            // a power of two, or 0 before the first field
  size_t count_ = 0;
  unsigned shift_ = 64;
};

// Constant-initialized and never destroyed: wrappers may be destroyed during
// static destruction.
OwnedFieldTable gOwnedFields;
OwnedFieldTable& OwnedFields() noexcept { return gOwnedFields; }

}  // namespace

void StoreOwnedPythonRef(PyObjectRef& field, PyObjectRef object) {
  field = object;
  if (!object) {
    OwnedFields().Erase(&field);
  } else if (!OwnedFields().Insert(&field)) {
    // Out of memory: a field that Finalize could not forget must stay empty.
    field = nullptr;
    ReleasePythonRef(object);
  }
}

void ReleaseOwnedPythonRef(PyObjectRef& field) {
  PyObjectRef object = field;
  field = nullptr;
  if (!object) return;  // a field in the table is never null
  // Taken first: the lock also keeps the table to one host thread at a time.
  if (gPythonInitialized) HoldInterpreterLock();
  if (OwnedFields().Erase(&field) && gPythonInitialized) ReleasePythonRef(object);
}

bool IsOwnedPythonRefField(const PyObjectRef* field) { return OwnedFields().Contains(field); }

// The new object is in place before the old one goes: releasing the old one
// can run Python code (a __del__) that calls host code, which may replace
// the field again; the field then keeps what that call stored.
void ReplaceOwnedPythonRef(PyObjectRef& field, PyObjectRef object) {
  PyObjectRef old = field;
  if (old && gPythonInitialized) HoldInterpreterLock();
  if (object && old) {
    field = object;  // the field stays known to the table
  } else {
    StoreOwnedPythonRef(field, object);
  }
  if (old && gPythonInitialized) ReleasePythonRef(old);
}

void ReleaseOwnedPythonRefs() {
  // One at a time: a release may destroy wrappers, which leave the table themselves.
  while (PyObjectRef* field = OwnedFields().Any()) {
    OwnedFields().Erase(field);
    PyObjectRef object = *field;
    *field = nullptr;
    if (object && gPythonInitialized) ReleasePythonRef(object);
  }
}

void ForgetOwnedPythonRefs() {
  OwnedFields().ForEach([](PyObjectRef* field) { *field = nullptr; });
  OwnedFields().Clear();
}
