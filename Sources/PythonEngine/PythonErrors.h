// Python's error indicator as Xojo code sees it.
#pragma once

#include <cstdint>

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
class PendingErrorAside {
 public:
  PendingErrorAside() noexcept;
  ~PendingErrorAside() noexcept;
  PendingErrorAside(const PendingErrorAside&) = delete;
  PendingErrorAside& operator=(const PendingErrorAside&) = delete;

 private:
  // The fetched error, owned and known to Finalize, which empties them; each may be null.
  PyObjectRef type_ = nullptr;
  PyObjectRef value_ = nullptr;
  PyObjectRef traceback_ = nullptr;
};
