// Host strings to Python texts and back, and host objects in capsules: locked while Python holds them,
// unlocked on the host's thread.

#include "PythonValues/PythonValues.h"

#include <cstring>
#include <limits>

#include "HostGlue.h"
#include "HostHandles.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonValues/PendingErrorAside.h"

namespace {

bool HasExactType(PyObjectRef object, PyTypeObjectHeader* type) { return object && type && object->ob_type == type; }

void Capsule_Destructor(PyObjectRef capsule) noexcept {
  if (EPyCapsule_GetPointer)
    ReleaseHostObjectForPython(static_cast<REALobjectStruct*>(EPyCapsule_GetPointer(capsule, nullptr)));
}

void UnlockKeepingPendingError(REALobjectStruct* object) noexcept {
  PendingErrorAside pending(PendingErrorAside::Raised::IsDropped);
  REALUnlockObject(object);
}

}  // namespace

// Other code makes capsules too (ctypes, extension modules' C APIs); only the
// plugin's own destructor tells that one holds a locked host object.
bool IsHostObjectCapsule(PyObjectRef object) {
  return HasExactType(object, e__PyCapsule_Type) && EPyCapsule_GetDestructor &&
         EPyCapsule_GetDestructor(object) == Capsule_Destructor;
}
PyObjectRef NewPythonText(REALstringStruct* string, bool* hostRefused) {
  if (hostRefused) *hostRefused = false;
  if (!EPyUnicode_FromStringAndSize) return nullptr;
  HostStringBytes utf8(string, HostStringBytes::kUtf8);
  if (!utf8.Available()) {
    if (hostRefused) *hostRefused = true;
    return nullptr;
  }
  return EPyUnicode_FromStringAndSize(utf8.Data(), static_cast<Py_ssize_t>(utf8.Size()));
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

REALstringStruct* HostStringFromStr(PyObjectRef object) {
  if (!object || !HasPythonEntries(EPyObject_Str, EPyUnicode_AsEncodedString, EPyBytes_AsString)) return nullptr;
  const ScopedReference text = ScopedReference::Adopt(EPyObject_Str(object));
  if (!text) return nullptr;
  const ScopedReference utf8 =
      ScopedReference::Adopt(EPyUnicode_AsEncodedString(text.Get(), "utf-8", "backslashreplace"));
  if (!utf8) return nullptr;
  const char* bytes = EPyBytes_AsString(utf8.Get());
  return bytes ? HostStringOfBytes(bytes, static_cast<int64_t>(strlen(bytes)), kREALTextEncodingUTF8) : nullptr;
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
