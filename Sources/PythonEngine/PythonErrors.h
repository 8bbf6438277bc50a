// Python's error indicator as Xojo code sees it.
#pragma once

#include <cstdint>

#include "PythonEngine/PythonLifecycle.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonReferences.h"
#include "REALplugin.h"

bool Python_ErrorOccurred();
REALstringStruct* Python_GetError();
void Python_ClearError();
void Python_SetTypeError(int64_t errorType, REALstringStruct* message);
