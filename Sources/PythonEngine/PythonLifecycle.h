// Starting and stopping the interpreter, its module search path and imports.
#pragma once

#include "PythonRuntime/InterpreterState.h"
#include "REALplugin.h"

void Python_InitWithName(REALstringStruct* applicationName);
void Python_Init();
void Python_Finalize();
void Python_AddSearchPath(REALobjectStruct* folder);
REALobjectStruct* Python_GetModule(REALstringStruct* name);
