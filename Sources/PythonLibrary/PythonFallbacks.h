// What the supported libraries (3.4 to 3.14) do differently, in one place:
// each function uses a library's own entry where it has one, and what serves
// the same purpose where it does not. Everything else calls the entry-point
// table directly, after checking its entries with EnsurePythonEntries or
// HasPythonEntries.
#pragma once

#include <string>

#include "PythonLibrary/PythonAbi.h"

// Starts the interpreter leaving the application's signals alone (no SIGINT
// handler, SIGPIPE not ignored) and ready for threads (3.6 needs it said).
void InitializeWithoutSignalHandlers() noexcept;

// Takes the pending error out of the indicator as one exception object, made
// the instance Python makes when it catches it; null when none is pending.
// The indicator is clear afterwards.
PyObjectRef TakeRaisedException() noexcept;

// Appends every element that iterating `iterable` yields to `list`:
// PyList_Extend's result.
int ExtendPythonList(PyObjectRef list, PyObjectRef iterable) noexcept;

// Sets ModuleNotFoundError("No module named 'name'"), ImportError before 3.6.
void RaiseModuleNotFound(PyObjectRef name) noexcept;

// The exception entry of too deep a recursion: RecursionError, RuntimeError before 3.5.
PyObjectRef* RecursionErrorEntry() noexcept;

// A path in the process's locale as Python decodes it, for Py_SetPythonHome:
// the library's own decoding (its allocator), else the C library's (new[]),
// as 3.4's was. Null when it cannot be decoded.
wchar_t* DecodePathForLibrary(const std::string& text) noexcept;
// Frees what DecodePathForLibrary returned, the way it was allocated.
void FreeDecodedPath(void* library, wchar_t* decoded) noexcept;

// The minor version of the running library (11 for 3.11); -1 when it does not tell.
int PythonMinorVersion() noexcept;
