// Starting and stopping the interpreter, its module search path and imports.
#pragma once

#include "REALplugin.h"

// Loads the library if needed; true when an interpreter runs in this process,
// whoever started it. Everything that calls into Python asks this first.
bool PythonIsRunning() noexcept;

void Python_InitWithName(REALstringStruct* applicationName);
void Python_Init();
void Python_Finalize();
void Python_AddSearchPath(REALobjectStruct* folder);
REALobjectStruct* Python_GetModule(REALstringStruct* name);
