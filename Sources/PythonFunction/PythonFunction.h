#pragma once

#include "REALplugin.h"

struct PythonFunctionData {
  REALobjectStruct* ownerModule;    // the Python3Module it came from, locked; or null
  REALobjectStruct* ownerInstance;  // the Python3Instance it came from, locked; or null
};

PythonFunctionData* PythonFunctionDataOf(REALobjectStruct* instance);
