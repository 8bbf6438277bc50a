// Python3EntityBase and Python3Entity: the value wrappers' base and any
// Python value. Their data block and accessors are those of every value
// wrapper (PythonValues/PythonWrappers.h).
#pragma once

#include <vector>

#include "PythonValues/PythonWrappers.h"

// Python3Entity's members that use the value as the object it is.
std::vector<REALmethodDefinition> EntityObjectMethods();
std::vector<REALproperty> EntityObjectProperties();
