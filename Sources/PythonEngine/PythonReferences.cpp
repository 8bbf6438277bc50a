#include "PythonEngine/PythonReferences.h"

#include <unordered_set>

namespace {

std::unordered_set<PyObjectRef*>& ownedFields() {
  static auto* fields = new std::unordered_set<PyObjectRef*>;  // outlives every wrapper
  return *fields;
}

}  // namespace

void StoreOwnedPythonRef(PyObjectRef& field, PyObjectRef object) {
  field = object;
  if (object)
    ownedFields().insert(&field);
  else
    ownedFields().erase(&field);
}

void ReleaseOwnedPythonRef(PyObjectRef& field) {
  PyObjectRef object = field;
  field = nullptr;
  if (ownedFields().erase(&field) && object && gPythonInitialized) ReleasePythonRef(object);
}

void ReleaseOwnedPythonRefs() {
  // One at a time: a release may destroy wrappers, which leave the set themselves.
  while (!ownedFields().empty()) {
    PyObjectRef* field = *ownedFields().begin();
    ownedFields().erase(field);
    PyObjectRef object = *field;
    *field = nullptr;
    if (object && gPythonInitialized) ReleasePythonRef(object);
  }
}

void ForgetOwnedPythonRefs() {
  for (PyObjectRef* field : ownedFields()) *field = nullptr;
  ownedFields().clear();
}
