// The version differences one function at a time, each saying which libraries have the entry and what
// serves instead where they do not.

#include "PythonLibrary/PythonFallbacks.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <new>

#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"

namespace {

constexpr Py_ssize_t kEndOfList = INTPTR_MAX;  // a slice bound Python clamps to the list's size

}  // namespace

// Py_InitializeEx is in every 3.x library; PyEval_InitThreads is needed up
// to 3.6, and a no-op from 3.7 (gone in 3.13's headers, still exported).
void InitializeWithoutSignalHandlers() noexcept {
  if (EPy_InitializeEx)
    EPy_InitializeEx(0);
  else if (EPy_Initialize)
    EPy_Initialize();
  if (EPy_IsInitialized && EPy_IsInitialized() && EPyEval_InitThreads) EPyEval_InitThreads();
}

// PyErr_GetRaisedException is new in 3.12; before, the error comes in three
// parts, and one raised in C may not be an exception yet (str() of a
// KeyError's raw value is "('k',)").
PyObjectRef TakeRaisedException() noexcept {
  if (EPyErr_GetRaisedException) return EPyErr_GetRaisedException();
  if (!HasPythonEntries(EPyErr_Fetch, EPyErr_NormalizeException)) return nullptr;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  if (type) EPyErr_NormalizeException(&type, &value, &traceback);
  const ScopedReference droppedType = ScopedReference::Adopt(type);
  const ScopedReference droppedTraceback = ScopedReference::Adopt(traceback);
  return value;
}

// PyList_Extend is new in 3.13; a slice assignment at the end does the same
// on every version.
int ExtendPythonList(PyObjectRef list, PyObjectRef iterable) noexcept {
  if (LookUpOnFirstUse(PythonEntryId::EPyList_Extend)) return EPyList_Extend(list, iterable);
  return EPyList_SetSlice ? EPyList_SetSlice(list, kEndOfList, kEndOfList, iterable) : -1;
}

void RaiseModuleNotFound(PyObjectRef name) noexcept {
  if (!HasPythonEntries(EPyUnicode_FromFormat, EPyErr_SetObject)) return;
  const ScopedReference message = ScopedReference::Adopt(EPyUnicode_FromFormat("No module named %R", name));
  if (!message) return;
  PyObjectRef* notFound = e__PyExc_ModuleNotFoundError;
  if (notFound && *notFound && EPyErr_SetImportErrorSubclass) {
    EPyErr_SetImportErrorSubclass(*notFound, message.Get(), name, nullptr);
  } else if (e__PyExc_ImportError && *e__PyExc_ImportError) {
    EPyErr_SetObject(*e__PyExc_ImportError, message.Get());
  }
}

PyObjectRef* RecursionErrorEntry() noexcept {
  return e__PyExc_RecursionError && *e__PyExc_RecursionError ? e__PyExc_RecursionError : e__PyExc_RuntimeError;
}

// Python 3.4 has Py_SetPythonHome but not Py_DecodeLocale; its own decoding
// was the C library's, in the process's locale.
wchar_t* DecodePathForLibrary(const std::string& text) noexcept {
  if (EPy_DecodeLocale) {
    size_t length = 0;
    return EPy_DecodeLocale(text.c_str(), &length);
  }
  const size_t length = std::mbstowcs(nullptr, text.c_str(), 0);
  if (length == static_cast<size_t>(-1)) return nullptr;
  wchar_t* wide = new (std::nothrow) wchar_t[length + 1];
  if (wide) std::mbstowcs(wide, text.c_str(), length + 1);
  return wide;
}

// A path made by the library's Py_DecodeLocale goes back to that library's
// allocator; one the plugin converted itself is its own.
void FreeDecodedPath(void* library, wchar_t* decoded) noexcept {
  if (!decoded) return;
  if (!EPy_DecodeLocale) {
    delete[] decoded;
    return;
  }
  dlerror();
  auto rawFree = reinterpret_cast<void (*)(void*)>(dlsym(library, "PyMem_RawFree"));
  if (!dlerror() && rawFree) rawFree(decoded);
}

int PythonMinorVersion() noexcept {
  if (!EPy_GetVersion) return -1;
  int major = 0, minor = 0;
  return std::sscanf(EPy_GetVersion(), "%d.%d", &major, &minor) == 2 && major == 3 ? minor : -1;
}
