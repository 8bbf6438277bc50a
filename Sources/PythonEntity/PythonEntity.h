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

// True for a live Python3EntityBase of any class; false for Nil and for any
// other host object.
bool IsValueWrapper(REALobjectStruct* object);
