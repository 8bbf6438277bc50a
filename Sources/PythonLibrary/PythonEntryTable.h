// The entry-point table through which the plugin calls the Python library:
// written once, in PythonEntryPoints.def, and expanded from it here; filling
// and clearing its entries, whatever resolves the symbols.
#pragma once

#include <cstddef>
#include <cstdint>

#include "PythonLibrary/PythonAbi.h"

// C types of the 64-bit Python C API that the table's signatures use.
using Py_ssize_t = intptr_t;
using Py_hash_t = Py_ssize_t;
using PyCapsule_Destructor = void (*)(PyObjectRef capsule);
using PyModuleCreator = PyObjectRef (*)();  // creator given to PyImport_AppendInittab
struct PyThreadState;                       // opaque
struct PyInterpreterState;                  // opaque
using PyGILState_STATE = int;               // an enum of int size in every version

// ---------------------------------------------------------------------------
// The entry-point table. Each entry is null until resolved, and null whenever
// the library lacks its symbol (only Py_Initialize, _Py_TrueStruct and
// _Py_FalseStruct are checked by the load).

#define PYTHON_FUNCTION(entry, symbol, result, parameters, missing, lookup) extern result(*entry) parameters;
#define PYTHON_DATA(entry, symbol, type, missing, lookup) extern type* entry;
#include "PythonLibrary/PythonEntryPoints.def"

// One id per entry, in table order.
enum class PythonEntryId : size_t {
#define PYTHON_FUNCTION(entry, symbol, result, parameters, missing, lookup) entry,
#define PYTHON_DATA(entry, symbol, type, missing, lookup) entry,
#include "PythonLibrary/PythonEntryPoints.def"
};

// When an entry is looked up (and which registration clears it).
enum class PythonLookup {
  WhenPathChosen,        // while setting the home of a library chosen by SetPythonPath
  AtLoad,                // by every load
  OnFirstListUse,        // by the list operation that needs it; cleared by ResetListEntryPoints
  OnFirstDictionaryUse,  // by the dictionary operation that needs it; cleared by ResetDictionaryEntryPoints
};

// What the load knows of one entry: the symbol, how to store and read the
// typed pointer without aliasing it, and whether the load needs it.
struct PythonEntryDescription {
  const char* symbol;
  void (*store)(void* address);
  void* (*read)();
  const char* messageWhenMissing;  // the load fails without it; null when optional
  PythonLookup lookup;
};
extern const PythonEntryDescription kPythonEntries[];
extern const size_t kPythonEntryCount;

// The exception entries in the order of the Python3ErrorTypes constants
// 1, 2, 3, ...: the addresses of the entries, so reading one gives the
// current value (the address of the library's variable, or null).
extern PyObjectRef** const kPythonExceptionEntries[];

// How many types SetError can raise, and whether a number selects one.
constexpr int64_t kPythonErrorTypeCount = 0
#define PYTHON_ERROR_TYPE(Name, value, description) +1
#include "PythonLibrary/PythonErrorTypes.def"
    ;
constexpr bool IsPythonErrorType(int64_t errorType) { return errorType >= 1 && errorType <= kPythonErrorTypeCount; }

// The exception type for a Python3ErrorTypes constant, or null when the
// constant is out of range or the library lacks that exception.
PyObjectRef PythonExceptionType(int64_t errorType) noexcept;

// ---------------------------------------------------------------------------
// Filling the table.

// Returns the address of `symbol`, or null when it is missing.
using PythonSymbolLoader = void* (*)(void* context, const char* symbol);

// Stores into every entry looked up at `when` what `load` returns for it, in
// table order. Returns the message of the first checked entry left null, or
// null when every checked entry was found.
const char* FillPythonEntries(PythonLookup when, PythonSymbolLoader load, void* context) noexcept;

// Sets every entry looked up at `when` back to null.
void ClearPythonEntries(PythonLookup when) noexcept;

// True when every entry named is non-null, without loading the library; for
// code that runs only once Python does.
template <typename... Entry>
bool HasPythonEntries(Entry* const&... entries) noexcept {
  return (... && (entries != nullptr));
}

// Clear the entries looked up on first use by Python3List / Python3Dictionary;
// called when those classes are registered.
void ResetListEntryPoints() noexcept;
void ResetDictionaryEntryPoints() noexcept;
