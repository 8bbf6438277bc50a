// The data block of Python3Instance: the class that made it and that class's module, which it keeps alive.

#pragma once

#include "HostHandles.h"

struct PythonInstanceData {
  ObjectField ownerClass;   // the Python3Class that made it; may be empty
  ObjectField ownerModule;  // that class's module; may be empty
};

PythonInstanceData* PythonInstanceDataOf(REALobjectStruct* instance);
