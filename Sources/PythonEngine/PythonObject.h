// Python3Object: the base of every named program-object wrapper.
#pragma once

#include "PythonEngine/PythonWrappers.h"
#include "REALplugin.h"

struct PythonObjectData {
  // Locked by the creating operation; may be null. Host-defined modules and
  // classes never unlock it, as Python keeps reading its bytes; the wrappers
  // whose name stays on the host side give it back with ReleasePythonObjectName.
  REALstringStruct* name;
  PyObjectRef object;  // owned reference, or null
};

PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance);

// The object a named wrapper holds; null when it holds none or the
// interpreter is not running.
PyObjectRef PythonObjectOf(REALobjectStruct* instance);

// Unlocks the name of a wrapper being destroyed whose name Python never saw.
void ReleasePythonObjectName(REALobjectStruct* instance);
