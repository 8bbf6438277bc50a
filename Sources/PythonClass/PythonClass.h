// The data block of Python3Class: the module the class was taken from, which it keeps alive.

#pragma once

#include "HostHandles.h"

struct PythonClassData {
  ObjectField ownerModule;  // the Python3Module it came from; may be empty
};

PythonClassData* PythonClassDataOf(REALobjectStruct* instance);
