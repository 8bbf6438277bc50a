// Shared methods of Python3Engine.
#pragma once

#include <cstdint>

#include "REALplugin.h"

bool Python_IsFound(int64_t preferredVersion);
void Python_SetPythonPath(REALobjectStruct* path);

// Before Init: Python starts as the virtual environment's own interpreter
// would, from the base library the environment was made from.
bool Python_SetVirtualEnvironment(REALobjectStruct* folder);
// The loaded library's file and version ("3.12.1"); empty before loading.
REALstringStruct* Python_LibraryPath();
REALstringStruct* Python_Version();
// True while an interpreter runs that the members can use: from a
// successful Init to Finalize. Never loads the library.
bool Python_IsRunning();
