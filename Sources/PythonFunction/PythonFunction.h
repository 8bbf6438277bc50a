// Python3Function: its data block, which keeps the module and instance it was taken from alive, and its
// making from a callable attribute.

#pragma once

#include "HostHandles.h"
#include "PythonValues/PythonReferences.h"

struct PythonFunctionData {
  ObjectField ownerModule;    // the Python3Module it came from; may be empty
  ObjectField ownerInstance;  // the Python3Instance it came from; may be empty
};

PythonFunctionData* PythonFunctionDataOf(REALobjectStruct* instance);

// A new Python3Function of the callable attribute `name` of `owner`, locking
// its owners (either may be null). Nil when the attribute is missing
// (Python's error then set), not callable (no error), or has no usable name.
REALobjectStruct* NewFunctionOfAttribute(PyObjectRef owner, REALstringStruct* name, REALobjectStruct* ownerModule,
                                         REALobjectStruct* ownerInstance);
