// Starting and stopping the interpreter, its module search path and imports.
#pragma once

#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

// Set while Py_Finalize runs: the interpreter then says for itself whether it still runs.
extern bool gPythonFinalizing;

// The answer of PythonIsRunning when the plugin's own Init did not start the
// interpreter, or it is being finalized.
bool PythonRunsWithoutInit() noexcept;

// Loads the library if needed; true when an interpreter runs in this process,
// whoever started it. Everything that calls into Python asks this first.
inline bool PythonIsRunning() noexcept {
  return (gPythonInitialized && !gPythonFinalizing) || PythonRunsWithoutInit();
}

void Python_InitWithName(REALstringStruct* applicationName);
void Python_Init();
void Python_Finalize();
void Python_AddSearchPath(REALobjectStruct* folder);
REALobjectStruct* Python_GetModule(REALstringStruct* name);
