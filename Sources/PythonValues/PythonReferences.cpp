#include "PythonValues/PythonReferences.h"

#include <new>

OwnedFieldTable gOwnedFields;

bool OwnedFieldTable::Grow() noexcept {
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

namespace {

OwnedFieldTable& OwnedFields() noexcept { return gOwnedFields; }

}  // namespace

void RefuseUnknownField(PyObjectRef& field, PyObjectRef object) {
  field = nullptr;
  ReleasePythonRef(object);
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
