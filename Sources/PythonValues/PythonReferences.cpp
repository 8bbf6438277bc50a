// Replacing and releasing the references in the table of owned fields, and forgetting them all once the
// interpreter is gone.

#include "PythonValues/PythonReferences.h"

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
