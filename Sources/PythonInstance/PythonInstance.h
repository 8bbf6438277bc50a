#pragma once

#include "REALplugin.h"

struct PythonInstanceData {
  REALobjectStruct* ownerClass;   // the Python3Class that made it, locked; or null
  REALobjectStruct* ownerModule;  // that class's module, locked by the instance; or null
};

PythonInstanceData* PythonInstanceDataOf(REALobjectStruct* instance);
