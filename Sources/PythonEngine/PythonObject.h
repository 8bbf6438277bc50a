// Python3Object: the base of every named program-object wrapper.
#pragma once

#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

struct PythonObjectData {
  REALstringStruct* name;  // locked by the creating operation and never unlocked; may be null
  PyObjectRef object;      // owned reference, or null
};

PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance);
