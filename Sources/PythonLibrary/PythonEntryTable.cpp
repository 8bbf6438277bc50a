// The entry-point table expanded from PythonEntryPoints.def, the exception entries in the order of the
// Python3ErrorTypes constants, and filling and clearing the entries.

#include "PythonLibrary/PythonEntryTable.h"

#define PYTHON_FUNCTION(entry, symbol, result, parameters, missing, lookup) result(*entry) parameters = nullptr;
#define PYTHON_DATA(entry, symbol, type, missing, lookup) type* entry = nullptr;
#include "PythonLibrary/PythonEntryPoints.def"

// Entries are stored and read through small functions of their own type, so
// no entry is ever accessed as a `void*` object.
const PythonEntryDescription kPythonEntries[] = {
#define PYTHON_FUNCTION(entry, symbol, result, parameters, missing, lookup)           \
  {symbol, [](void* address) { entry = reinterpret_cast<decltype(entry)>(address); }, \
   []() { return reinterpret_cast<void*>(entry); }, missing, PythonLookup::lookup},
#define PYTHON_DATA(entry, symbol, type, missing, lookup)                                                          \
  {symbol, [](void* address) { entry = static_cast<type*>(address); }, []() { return static_cast<void*>(entry); }, \
   missing, PythonLookup::lookup},
#include "PythonLibrary/PythonEntryPoints.def"
};
const size_t kPythonEntryCount = sizeof(kPythonEntries) / sizeof(kPythonEntries[0]);

PyObjectRef** const kPythonExceptionEntries[] = {
#define PYTHON_EXCEPTION(entry, symbol) &entry,
#include "PythonLibrary/PythonEntryPoints.def"
};
static_assert(sizeof(kPythonExceptionEntries) / sizeof(kPythonExceptionEntries[0]) == kPythonErrorTypeCount,
              "one exception entry per Python3ErrorTypes constant");
// Constant k selects entry k - 1: the constants count 1, 2, 3, ... in the list's order.
namespace {
constexpr int64_t kErrorTypeValues[] = {
#define PYTHON_ERROR_TYPE(Name, value, description) value,
#include "PythonLibrary/PythonErrorTypes.def"
};
constexpr bool CountsFromOne() {
  for (int64_t i = 0; i < kPythonErrorTypeCount; ++i)
    if (kErrorTypeValues[i] != i + 1) return false;
  return true;
}
static_assert(CountsFromOne(), "the Python3ErrorTypes constants count 1, 2, 3, ... in the order of their list");
}  // namespace

PyObjectRef PythonExceptionType(int64_t errorType) noexcept {
  if (!IsPythonErrorType(errorType)) return nullptr;
  PyObjectRef* variable = *kPythonExceptionEntries[errorType - 1];
  return variable ? *variable : nullptr;
}

const char* FillPythonEntries(PythonLookup when, PythonSymbolLoader load, void* context) noexcept {
  const char* firstMissing = nullptr;
  for (const PythonEntryDescription& entry : kPythonEntries) {
    if (entry.lookup != when) continue;
    entry.store(load(context, entry.symbol));
    if (!firstMissing && entry.messageWhenMissing && !entry.read()) firstMissing = entry.messageWhenMissing;
  }
  return firstMissing;
}

namespace {

void* LoadNothing(void*, const char*) { return nullptr; }

}  // namespace

void ClearPythonEntries(PythonLookup when) noexcept { FillPythonEntries(when, LoadNothing, nullptr); }

void ResetListEntryPoints() noexcept { ClearPythonEntries(PythonLookup::OnFirstListUse); }

void ResetDictionaryEntryPoints() noexcept { ClearPythonEntries(PythonLookup::OnFirstDictionaryUse); }
