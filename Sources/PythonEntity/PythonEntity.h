// Python3EntityBase: the base of every value wrapper.
#pragma once

#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

struct PythonEntityData {
  PyObjectRef object;  // owned reference, or null when the wrapper holds nothing
};

PythonEntityData* PythonEntityDataOf(REALobjectStruct* instance);

// The object a value wrapper holds; null when it holds none or the
// interpreter is not running.
PyObjectRef PythonEntityObjectOf(REALobjectStruct* instance);
