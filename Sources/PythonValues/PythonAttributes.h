// Attributes of a Python object by a host string name. The name reaches
// Python whole, as UTF-8 text: one holding a NUL names no attribute, as for
// Python's getattr. A missing or empty name looks nothing up and sets no
// error; one the host cannot convert to UTF-8 sets Python's UnicodeError. An error pending before the lookup is kept
// aside and put back when the lookup raises nothing.
#pragma once

#include "PythonValues/PythonReferences.h"
#include "REALplugin.h"

// A new reference; null when there is none (Python's error then set), or no
// object or no name.
PyObjectRef GetPythonAttribute(PyObjectRef object, REALstringStruct* name);
// Whether the attribute exists; an error of the lookup is cleared.
bool HasPythonAttribute(PyObjectRef object, REALstringStruct* name);
// Stores a value (deletes with null); PyObject_SetAttr's result, -1 without
// an error when there is no object or no name.
int SetPythonAttribute(PyObjectRef object, REALstringStruct* name, PyObjectRef value);
