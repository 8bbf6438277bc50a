#pragma once

#include "HostHandles.h"

struct PythonClassData {
  HeldObject ownerModule;  // the Python3Module it came from; may be empty
};

PythonClassData* PythonClassDataOf(REALobjectStruct* instance);
