#pragma once

#include "REALplugin.h"

struct PythonClassData {
  REALobjectStruct* ownerModule;  // the Python3Module it came from, locked; or null
};

PythonClassData* PythonClassDataOf(REALobjectStruct* instance);
