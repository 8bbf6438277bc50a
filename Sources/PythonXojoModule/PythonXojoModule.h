// Python3XojoModule: an importable module of host functions and host-defined
// classes.
#pragma once

#include <cstddef>

#include "HostHandles.h"

class HostModule;

// The record keeps the block size Xojo projects know; what Python reads lives
// in the HostModule, which outlives the object while Python may still use it.
constexpr size_t kPythonXojoModuleDataSize = 40;

struct PythonXojoModuleData {
  HostModule* state;     // owned; null before the constructor and after it refused the name
  ArrayField classList;  // the Python3XojoClass objects added, each locked by the array; may be empty
};

// The module's state, or null when it has none.
HostModule* HostModuleOf(REALobjectStruct* xojoModule);
