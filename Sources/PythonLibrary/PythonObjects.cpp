// The type tests, read from the object's type and its flags, the shared None, True and False, a few
// conversions, raising an error with a message, attributes read without an error left, and the qualified
// name of a type.

#include "PythonLibrary/PythonObjects.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "PythonLibrary/PythonLoader.h"

namespace {

unsigned long TypeFlags(PyObjectRef object) { return TypeOf(object)->tp_flags; }

bool HasExactType(PyObjectRef object, PyTypeObjectHeader* type) { return object && type && object->ob_type == type; }

}  // namespace

bool IsPythonStr(PyObjectRef object) { return object && (TypeFlags(object) & Py_TPFLAGS_UNICODE_SUBCLASS); }
bool IsPythonFloat(PyObjectRef object) {
  if (!object || !e__PyFloat_Type) return false;
  return object->ob_type == e__PyFloat_Type ||
         (EPyType_IsSubtype && EPyType_IsSubtype(object->ob_type, e__PyFloat_Type));
}
bool IsPythonBool(PyObjectRef object) { return HasExactType(object, e__PyBool_Type); }
bool IsPythonTuple(PyObjectRef object) { return HasExactType(object, e__PyTuple_Type); }
bool IsPythonList(PyObjectRef object) { return HasExactType(object, e__PyList_Type); }
bool IsPythonDict(PyObjectRef object) { return HasExactType(object, e__PyDict_Type); }
bool IsPythonBytes(PyObjectRef object) { return HasExactType(object, e__PyBytes_Type); }

bool IsPythonNone(PyObjectRef object) { return object && object == e__Py_NoneStruct; }

bool IsPythonCallable(PyObjectRef object) { return object && EPyCallable_Check && EPyCallable_Check(object) == 1; }

bool PythonIntFitsInInt32(PyObjectRef object) {
  if (!IsPythonInt(object) || !EPyLong_AsLongLongAndOverflow) return false;
  int overflow = 0;
  const long long value = EPyLong_AsLongLongAndOverflow(object, &overflow);
  return overflow == 0 && value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}

PyObjectRef NewPythonBool(bool value) {
  PyObjectRef shared = value ? e__Py_TrueStruct : e__Py_FalseStruct;
  if (shared) TakePythonRef(shared);
  return shared;
}

PyObjectRef NewPythonNone() {
  if (e__Py_NoneStruct) {
    TakePythonRef(e__Py_NoneStruct);
    return e__Py_NoneStruct;
  }
  return EPy_BuildValue ? EPy_BuildValue("") : nullptr;
}

bool PythonTextHoldsNul(PyObjectRef text) {
  Py_ssize_t size = 0;
  const char* bytes = IsPythonStr(text) && EPyUnicode_AsUTF8AndSize ? EPyUnicode_AsUTF8AndSize(text, &size) : nullptr;
  return bytes && std::strlen(bytes) != static_cast<size_t>(size);
}

PyObjectRef NewPythonPath(const char* bytes, size_t length) {
  if (!bytes || !EPyUnicode_DecodeFSDefaultAndSize) return nullptr;
  return EPyUnicode_DecodeFSDefaultAndSize(bytes, static_cast<Py_ssize_t>(length));
}

// The loaded library's own type object size is not published, but the heap
// type object, whose size the type `type` gives, begins with one.
size_t PythonTypeObjectSize() {
  constexpr size_t kTypeObjectMinimumSize = 512;  // more than every known version's (400 to 416 bytes)
  const int64_t heapTypeSize = e__PyType_Type ? e__PyType_Type->tp_basicsize : 0;
  return std::max(kTypeObjectMinimumSize, static_cast<size_t>(std::max<int64_t>(heapTypeSize, 0)));
}

void RaisePythonError(PyObjectRef* exceptionEntry, const char* message) noexcept {
  if (exceptionEntry && *exceptionEntry && EPyErr_SetString) EPyErr_SetString(*exceptionEntry, message);
}

PyObjectRef NewPythonAttributeOrNull(PyObjectRef object, const char* name) {
  if (!object || !EPyObject_GetAttrString) return nullptr;
  PyObjectRef value = EPyObject_GetAttrString(object, name);
  if (!value && EPyErr_Clear) EPyErr_Clear();
  return value;
}

PyObjectRef NewPythonStrAttributeOrNull(PyObjectRef object, const char* name) {
  ScopedReference value = ScopedReference::Adopt(NewPythonAttributeOrNull(object, name));
  return IsPythonStr(value.Get()) ? value.HandOver() : nullptr;
}

PyObjectRef NewTypeName(PyObjectRef type) {
  ScopedReference name = ScopedReference::Adopt(NewPythonStrAttributeOrNull(type, "__qualname__"));
  if (!name) name = ScopedReference::Adopt(NewPythonStrAttributeOrNull(type, "__name__"));
  if (!name) {
    const char* made = reinterpret_cast<PyTypeObjectHeader*>(type)->tp_name;
    PyObjectRef madeName = made && EPyUnicode_DecodeUTF8
                               ? EPyUnicode_DecodeUTF8(made, static_cast<Py_ssize_t>(std::strlen(made)), "replace")
                               : nullptr;
    if (!madeName && EPyErr_Clear) EPyErr_Clear();
    return madeName;
  }
  const ScopedReference module = ScopedReference::Adopt(NewPythonStrAttributeOrNull(type, "__module__"));
  if (!module || !HasPythonEntries(EPyUnicode_FromFormat, EPyUnicode_CompareWithASCIIString) ||
      EPyUnicode_CompareWithASCIIString(module.Get(), "builtins") == 0)
    return name.HandOver();
  PyObjectRef full = EPyUnicode_FromFormat("%U.%U", module.Get(), name.Get());
  if (!full) {
    EPyErr_Clear();
    return name.HandOver();
  }
  return full;
}
