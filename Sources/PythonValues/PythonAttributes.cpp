// Getting, testing and setting an attribute by a host string name, the object held while Python code runs.

#include "PythonValues/PythonAttributes.h"

#include "HostHandles.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonValues.h"

namespace {

// The name as a new Python text; null for a missing or empty name, which
// names nothing, and when the text cannot be made (Python's error then set).
PyObjectRef AttributeName(REALstringStruct* name) {
  if (HostStringBytes(name, HostStringBytes::kAsStored).Size() == 0) return nullptr;
  return NewPythonName(name);
}

// Runs `use` with the name's text; `otherwise` when there is none.
template <typename Result, typename Use>
Result WithName(PyObjectRef object, REALstringStruct* name, Result otherwise, Use use) {
  ScopedReference held = ScopedReference::Borrow(object);  // attribute access runs Python code
  if (!object) return otherwise;
  const ScopedReference key = ScopedReference::Adopt(AttributeName(name));
  return key ? use(key.Get()) : otherwise;
}

}  // namespace

PyObjectRef GetPythonAttribute(PyObjectRef object, REALstringStruct* name) {
  if (!EPyObject_GetAttr) return nullptr;
  return WithName(object, name, PyObjectRef{nullptr}, [&](PyObjectRef key) { return EPyObject_GetAttr(object, key); });
}

// PyObject_HasAttr reports errors other than AttributeError as "Exception
// ignored" on standard error from 3.13 on; a lookup does not. A name that
// cannot be made names nothing here either.
bool HasPythonAttribute(PyObjectRef object, REALstringStruct* name) {
  if (!HasPythonEntries(EPyObject_GetAttr, EPyErr_Clear)) return false;
  const bool has = WithName(object, name, false, [&](PyObjectRef key) {
    const ScopedReference attribute = ScopedReference::Adopt(EPyObject_GetAttr(object, key));
    return static_cast<bool>(attribute);
  });
  if (!has && object) EPyErr_Clear();
  return has;
}

int SetPythonAttribute(PyObjectRef object, REALstringStruct* name, PyObjectRef value) {
  if (!EPyObject_SetAttr) return -1;
  return WithName(object, name, -1, [&](PyObjectRef key) { return EPyObject_SetAttr(object, key, value); });
}
