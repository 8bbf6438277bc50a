// Python's error indicator as Xojo code sees it.
#pragma once

#include <cstdint>

#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

bool Python_ErrorOccurred();
REALstringStruct* Python_GetError();
void Python_ClearError();
void Python_SetTypeError(int64_t errorType, REALstringStruct* message);

// Keeps an error left pending by an earlier call aside while a member runs
// Python code, which must start with no error set (a Python function would
// fail with SystemError, a built-in would lose it). On scope exit the error
// comes back, unless the member raised one of its own, which replaces it.
//
// Members run this around every call into Python; the test of no error
// pending is all they do in the usual case, so it is written here to be
// inlined.
class PendingErrorAside {
 public:
  PendingErrorAside() noexcept {
    if (PythonIsRunning() && EPyErr_Occurred && EPyErr_Occurred()) SetAside();
  }
  ~PendingErrorAside() noexcept {
    if (type_) PutBack();  // null: nothing was pending, or Finalize ended the interpreter it belonged to
  }
  PendingErrorAside(const PendingErrorAside&) = delete;
  PendingErrorAside& operator=(const PendingErrorAside&) = delete;

 private:
  void SetAside() noexcept;
  void PutBack() noexcept;

  // The fetched error, owned and known to Finalize, which empties them; each may be null.
  PyObjectRef type_ = nullptr;
  PyObjectRef value_ = nullptr;
  PyObjectRef traceback_ = nullptr;
};
