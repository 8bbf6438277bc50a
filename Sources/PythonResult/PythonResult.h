#pragma once

#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

struct PythonResultData {
  PyObjectRef object;  // owned reference, or null after a failed constructor
};

PythonResultData* PythonResultDataOf(REALobjectStruct* instance);

// A new Python3Result taking over the reference `object`.
REALobjectStruct* NewResultWrapper(PyObjectRef object);
