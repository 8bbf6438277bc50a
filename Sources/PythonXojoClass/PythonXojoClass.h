#pragma once

#include <cstdint>

#include "PythonEngine/PythonApiTypes.h"
#include "REALplugin.h"

// Size of the type object embedded in the class's data: the layout through tp_finalize.
constexpr size_t kEmbeddedTypeObjectSize = 400;

struct PythonXojoClassData {
  uint32_t methodCount;
  uint32_t methodCapacity;          // 0 before the first method, then 5, 10, 15, ...
  PyMethodDef* methodTable;         // owned, methodCapacity + 1 entries; or null
  REALstringStruct** methodNames;   // owned, methodCapacity handles, each locked; or null
  uint32_t getSetCount;
  uint32_t getSetCapacity;          // 0 before the first property, then 5, 10, 15, ...
  PyGetSetDef* getSetTable;         // owned, getSetCapacity + 1 entries; or null
  REALstringStruct** getSetNames;   // owned, getSetCapacity handles, each locked; or null
  alignas(8) unsigned char typeObject[kEmbeddedTypeObjectSize];  // the type published to Python
};

PythonXojoClassData* PythonXojoClassDataOf(REALobjectStruct* instance);
