// Python3XojoClass: a Python type whose initializer, methods, properties,
// hash and string conversion are host functions.
#pragma once

#include <cstddef>

#include "PythonValues/PythonReferences.h"
#include "REALplugin.h"

class HostType;

// The record keeps the block size Xojo projects know; what Python reads lives
// in the HostType, which outlives the object while Python may still use it.
constexpr size_t kPythonXojoClassDataSize = 448;

struct PythonXojoClassData {
  HostType* state;  // owned; null before the constructor and after it refused the name
};

// Readies the class's type for the running interpreter and adds it to
// `module` under the class's name. A class that cannot be readied or added is
// left out, with Python's error cleared, so the rest of the module imports.
void PublishHostType(REALobjectStruct* xojoClass, PyObjectRef module) noexcept;
