// Replacing and releasing the references of the known reference fields, and forgetting them all once the
// interpreter is gone.

#include "PythonValues/PythonReferences.h"

namespace {

ReferenceFieldTable& ReferenceFields() noexcept { return gReferenceFields; }

}  // namespace

void RefuseUnknownField(ReferenceField& field, PyObjectRef object) {
  field = nullptr;
  ReleasePythonRef(object);
}

bool IsReferenceField(const ReferenceField* field) { return ReferenceFields().Contains(field); }

// The new object is in place before the old one goes: releasing the old one
// can run Python code (a __del__) that calls host code, which may replace
// the field again; the field then keeps what that call stored.
void ReplaceReferenceField(ReferenceField& field, PyObjectRef object) {
  PyObjectRef old = field;
  if (old && gPythonInitialized) HoldInterpreterLock();
  if (object && old) {
    field = object;  // the field stays known to the table
  } else {
    StoreReferenceField(field, object);
  }
  if (old && gPythonInitialized) ReleasePythonRef(old);
}

void ReleaseReferenceFields() {
  // One at a time: a release may destroy wrappers, which leave the table themselves.
  while (ReferenceField* field = ReferenceFields().Any()) {
    ReferenceFields().Erase(field);
    PyObjectRef object = *field;
    *field = nullptr;
    if (object && gPythonInitialized) ReleasePythonRef(object);
  }
}

void ForgetReferenceFields() {
  ReferenceFields().ForEach([](ReferenceField* field) { *field = nullptr; });
  ReferenceFields().Clear();
}
