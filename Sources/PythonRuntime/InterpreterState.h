// Whether an interpreter runs, and whose it is.
#pragma once

#include "PythonLibrary/PythonLoader.h"

// True while the interpreter runs and was started by this plugin's Init.
extern bool gPythonInitialized;
// Set while Py_Finalize runs: the interpreter then says for itself whether it still runs.
extern bool gPythonFinalizing;

// The answer of PythonIsRunning when the plugin's own Init did not start the
// interpreter, or it is being finalized. Never loads the library.
bool PythonRunsWithoutInit() noexcept;

// True when an interpreter runs in this process, whoever started it.
// Everything that calls into Python asks this first. Never loads the library:
// a member that must load it first says so (EnsurePythonLoaded).
__attribute__((always_inline)) inline bool PythonIsRunning() noexcept { return (gPythonInitialized && !gPythonFinalizing) || PythonRunsWithoutInit(); }

// For the members that load the library first, as every Python3Engine member
// that needs Python does: loads it if needed, then PythonIsRunning.
inline bool PythonLoadedAndRunning() noexcept { return EnsurePythonLoaded() && PythonIsRunning(); }
