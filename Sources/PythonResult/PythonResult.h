#pragma once

#include "PythonEngine/PythonWrappers.h"
#include "REALplugin.h"

struct PythonResultData {
  PyObjectRef object;  // owned reference, or null after a failed constructor
};

PythonResultData* PythonResultDataOf(REALobjectStruct* instance);
