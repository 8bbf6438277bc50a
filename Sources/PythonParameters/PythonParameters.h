#pragma once

#include <cstdint>

#include "PythonValues/PythonWrappers.h"
#include "REALplugin.h"

// The tuple itself lives in the Python3EntityBase block.
struct PythonParametersData {
  int32_t lastError;  // one of the PY_... codes of Python3Engine
};

PythonParametersData* PythonParametersDataOf(REALobjectStruct* instance);
