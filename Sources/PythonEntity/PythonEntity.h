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

// True for a Python3EntityBase of any class that holds an object of the
// running interpreter; false for Nil, for one that holds nothing, and for any
// other host object (host code may pass its own class where an interface is
// declared).
bool HoldsPythonObject(REALobjectStruct* object);
