// Attributes of a Python object by a host string name. The name reaches
// Python as the host holds its bytes, unconverted; a missing or empty name
// looks nothing up and sets no error.
#pragma once

#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

// A new reference; null when there is none (Python's error then set), or no
// object or no name.
PyObjectRef GetPythonAttribute(PyObjectRef object, REALstringStruct* name);
// Whether the attribute exists; an error of the lookup is cleared.
bool HasPythonAttribute(PyObjectRef object, REALstringStruct* name);
// Stores a value (deletes with null); PyObject_SetAttrString's result, -1
// without an error when there is no object or no name.
int SetPythonAttribute(PyObjectRef object, REALstringStruct* name, PyObjectRef value);
