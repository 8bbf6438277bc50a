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

// The same, held by a reference of the caller's own for the length of a call
// that can run Python code.
inline HeldReference HeldEntityObject(REALobjectStruct* instance) {
  return HeldReference(PythonEntityObjectOf(instance));
}
// The object an argument wrapper holds, held the same way; none for Nil.
inline HeldReference HeldArgumentObject(REALobjectStruct* wrapper) {
  return HeldReference(wrapper ? PythonEntityObjectOf(wrapper) : nullptr);
}

// True for a Python3EntityBase of any class that holds an object of the
// running interpreter; false for Nil, for one that holds nothing, and for any
// other host object (host code may pass its own class where an interface is
// declared).
bool HoldsPythonObject(REALobjectStruct* object);
