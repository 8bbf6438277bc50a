// Python3Object: the base of every named program-object wrapper.
#pragma once

#include "PythonValues/PythonWrappers.h"
#include "REALplugin.h"

// Unlocks the name of a wrapper being destroyed whose name Python never saw.
void ReleasePythonObjectName(REALobjectStruct* instance);
