#pragma once

#include <cstdint>

#include "PythonEngine/PythonApiTypes.h"
#include "REALplugin.h"

struct PythonXojoModuleData {
  uint32_t methodCount;
  uint32_t methodCapacity;           // 0 before the first function, then 5, 10, 15, ...
  PyMethodDef* methodTable;          // owned, methodCapacity + 1 entries; or null
  REALstringStruct** methodNames;    // owned, methodCapacity handles, each locked; or null
  REALarrayStruct* classList;        // Python3XojoClass objects added, locked by the array; or null
  PyModuleDef* moduleDefinition;     // owned; allocated by the constructor
};

PythonXojoModuleData* PythonXojoModuleDataOf(REALobjectStruct* instance);
