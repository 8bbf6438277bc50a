// Finding and opening the Python library, and filling the entry-point table
// (PythonEntryTable.h) from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string>

#include "HostHandles.h"
#include "PythonLibrary/PythonEntryTable.h"
#include "REALplugin.h"

// ---------------------------------------------------------------------------
// Process-wide state. The first three are reset by PluginEntry; the library
// handle and the home are zero at process start and never reset.

extern bool gPythonFound;              // a library file has been opened
extern bool gPythonEntryPointsLoaded;  // the table is complete: Python may be called
extern ObjectField gPythonPath;        // library file chosen by SetPythonPath; may be empty
extern void* PythonDLLHandle;          // the loaded library; null until a load completes
extern wchar_t* gPythonHome;           // home handed to Py_SetPythonHome; never freed; may be null

// ---------------------------------------------------------------------------
// Loading.

// The library file names searched, newest version first; within a version
// the plain name before the older "m" name.
constexpr size_t kLoadTryOrderCount = 22;
extern const char* const LoadTryOrder[kLoadTryOrderCount];

// Written when no library could be found.
extern const char kLoadTryOrderExhaustedMessage[];

// Opens the library and fills the table. preferredVersion is a
// Python3Engine.PreferredVersionValues value (1 to 11 name 3.4 to 3.14; any
// other value means no preference). Call it only while not loaded.
void LoadPythonEntryPoints(int64_t preferredVersion) noexcept;

// Opens this library file and fills the table, provided nothing is loaded
// yet and the file is Python 3.minor; false, and nothing loaded, otherwise.
bool LoadPythonLibraryFile(const std::string& path, int minor) noexcept;

// The file of the loaded library and its version ("3.12.1"); empty before loading.
std::string LoadedLibraryPath();
std::string LoadedLibraryVersion();
int LoadedLibraryMinorVersion() noexcept;  // -1 before loading

// Loads with no preference unless loaded; true when Python may be called.
bool EnsurePythonLoaded() noexcept;

// Loads if needed; true when loaded and every entry named is non-null, e.g.
// `if (!EnsurePythonEntries(EPyImport_Import, EPyUnicode_FromStringAndSize)) return nullptr;`
// The entries are read after the load, hence the references.
template <typename... Entry>
bool EnsurePythonEntries(Entry* const&... entries) noexcept {
  return EnsurePythonLoaded() && (... && (entries != nullptr));
}

// For an entry looked up on first use: looks it up in the loaded library when
// it is still null. True when the entry is non-null afterwards; false while no
// library is loaded.
bool LookUpOnFirstUse(PythonEntryId entry) noexcept;

// Plugin start: not found, not loaded, no library chosen.
void ResetPythonLoaderState() noexcept;
