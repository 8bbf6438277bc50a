// Python3Object: the base of every named program-object wrapper.
#pragma once

#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

struct PythonObjectData {
  // Locked by the creating operation; may be null. Host-defined modules and
  // classes never unlock it, as Python keeps reading its bytes; the wrappers
  // whose name stays on the host side give it back with ReleasePythonObjectName.
  REALstringStruct* name;
  PyObjectRef object;  // owned reference, or null
};

PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance);

// A new wrapper of `record` (a Python3Object class) named `name`, which it
// locks, taking over the reference `object`; null when the host makes none.
REALobjectStruct* NewNamedObjectWrapper(REALclassDefinition* record, REALstringStruct* name, PyObjectRef object);

// Unlocks the name of a wrapper being destroyed whose name Python never saw.
void ReleasePythonObjectName(REALobjectStruct* instance);
