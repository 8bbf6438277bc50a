#include "PythonEngine/PythonValues.h"

#include <cstring>
#include <limits>

#include "HostGlue.h"
#include "PythonEngine/HostEntry.h"
#include "PythonEngine/HostHandles.h"
#include "PythonEngine/PendingErrorAside.h"
#include "PythonEngine/PythonLoader.h"

namespace {

constexpr uint64_t Py_TPFLAGS_LONG_SUBCLASS = 1ull << 24;
constexpr uint64_t Py_TPFLAGS_UNICODE_SUBCLASS = 1ull << 28;

// tp_flags follows the slots up to tp_as_buffer in every supported version.
constexpr size_t kTypeFlagsOffset = 168;

uint64_t TypeFlags(PyObjectRef object) {
  auto* type = reinterpret_cast<const unsigned char*>(object->ob_type);
  return *reinterpret_cast<const unsigned long*>(type + kTypeFlagsOffset);
}

bool HasExactType(PyObjectRef object, PyTypeObjectHeader* type) { return object && type && object->ob_type == type; }

void Capsule_Destructor(PyObjectRef capsule) noexcept {
  if (EPyCapsule_GetPointer) ReleaseHostObjectForPython(static_cast<REALobjectStruct*>(EPyCapsule_GetPointer(capsule, nullptr)));
}

void UnlockKeepingPendingError(REALobjectStruct* object) noexcept {
  PendingErrorAside pending(PendingErrorAside::Raised::IsDropped);
  REALUnlockObject(object);
}

}  // namespace

bool IsPythonInt(PyObjectRef object) { return object && (TypeFlags(object) & Py_TPFLAGS_LONG_SUBCLASS); }
bool IsPythonStr(PyObjectRef object) { return object && (TypeFlags(object) & Py_TPFLAGS_UNICODE_SUBCLASS); }
bool IsPythonFloat(PyObjectRef object) {
  if (!object || !e__PyFloat_Type) return false;
  return object->ob_type == e__PyFloat_Type || (EPyType_IsSubtype && EPyType_IsSubtype(object->ob_type, e__PyFloat_Type));
}
bool IsPythonBool(PyObjectRef object) { return HasExactType(object, e__PyBool_Type); }
// Other code makes capsules too (ctypes, extension modules' C APIs); only the
// plugin's own destructor tells that one holds a locked host object.
bool IsHostObjectCapsule(PyObjectRef object) {
  return HasExactType(object, e__PyCapsule_Type) && EPyCapsule_GetDestructor &&
         EPyCapsule_GetDestructor(object) == Capsule_Destructor;
}
bool IsPythonTuple(PyObjectRef object) { return HasExactType(object, e__PyTuple_Type); }
bool IsPythonList(PyObjectRef object) { return HasExactType(object, e__PyList_Type); }
bool IsPythonDict(PyObjectRef object) { return HasExactType(object, e__PyDict_Type); }
bool IsPythonBytes(PyObjectRef object) { return HasExactType(object, e__PyBytes_Type); }

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

PyObjectRef NewPythonText(REALstringStruct* string, bool* hostRefused) {
  if (hostRefused) *hostRefused = false;
  if (!EPyUnicode_FromStringAndSize) return nullptr;
  HostStringBytes utf8(string, HostStringBytes::Utf8);
  if (!utf8.available()) {
    if (hostRefused) *hostRefused = true;
    return nullptr;
  }
  return EPyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
}

void RaisePythonError(PyObjectRef* exceptionType, const char* message) {
  if (exceptionType && *exceptionType && EPyErr_SetString) EPyErr_SetString(*exceptionType, message);
}

REALstringStruct* HostStringOfBytes(const char* bytes, int64_t size, uint32_t encoding) {
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) {
    RaisePythonError(e__PyExc_OverflowError, "too many bytes for a host string (2 GiB and more)");
    return nullptr;
  }
  return REALBuildStringWithEncoding(bytes, static_cast<int>(size), encoding);
}

PyObjectRef NewPythonName(REALstringStruct* name) {
  bool hostRefused = false;
  PyObjectRef text = NewPythonText(name, &hostRefused);
  if (hostRefused) RaisePythonError(e__PyExc_UnicodeError, "the name cannot be converted to UTF-8 text");
  return text;
}

bool PythonTextHoldsNul(PyObjectRef text) {
  Py_ssize_t size = 0;
  const char* bytes = IsPythonStr(text) && EPyUnicode_AsUTF8AndSize ? EPyUnicode_AsUTF8AndSize(text, &size) : nullptr;
  return bytes && strlen(bytes) != static_cast<size_t>(size);
}

PyObjectRef NewPythonPath(const char* bytes, size_t length) {
  if (!bytes || !EPyUnicode_DecodeFSDefaultAndSize) return nullptr;
  return EPyUnicode_DecodeFSDefaultAndSize(bytes, static_cast<Py_ssize_t>(length));
}

REALstringStruct* HostStringFromStr(PyObjectRef object) {
  if (!object || !EPyObject_Str || !EPyUnicode_AsEncodedString || !EPyBytes_AsString) return nullptr;
  PyObjectRef text = EPyObject_Str(object);
  if (!text) return nullptr;
  PyObjectRef utf8 = EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace");
  ReleasePythonRef(text);
  if (!utf8) return nullptr;
  REALstringStruct* result = nullptr;
  if (const char* bytes = EPyBytes_AsString(utf8))
    result = HostStringOfBytes(bytes, static_cast<int64_t>(strlen(bytes)), kREALTextEncodingUTF8);
  ReleasePythonRef(utf8);
  return result;
}

REALstringStruct* HostStringFromPythonText(PyObjectRef text) {
  if (!IsPythonStr(text) || !EPyUnicode_AsUTF8AndSize) return nullptr;
  Py_ssize_t size = 0;
  const char* bytes = EPyUnicode_AsUTF8AndSize(text, &size);
  if (!bytes) return nullptr;
  return HostStringOfBytes(bytes, size, kREALTextEncodingUTF8);
}

PyObjectRef NewHostObjectCapsule(REALobjectStruct* object) {
  if (!EPyCapsule_New) return nullptr;
  PyObjectRef capsule = EPyCapsule_New(object, nullptr, Capsule_Destructor);
  if (capsule) REALLockObject(object);
  return capsule;
}

void ReleaseHostObjectForPython(REALobjectStruct* object) noexcept {
  if (!object) return;
  if (OnHostThread())
    UnlockKeepingPendingError(object);
  else
    DeferToHostThread([object] { UnlockKeepingPendingError(object); });
}

REALobjectStruct* HostObjectFromPython(PyObjectRef object) {
  if (!IsHostObjectCapsule(object) || !EPyCapsule_GetPointer) return nullptr;
  auto* hostObject = static_cast<REALobjectStruct*>(EPyCapsule_GetPointer(object, nullptr));
  if (hostObject) REALLockObject(hostObject);
  return hostObject;
}
