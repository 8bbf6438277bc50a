#include "PythonXojoModule/PythonXojoModule.h"

#include <cstdlib>

#include "PythonEngine/ClassRecords.h"
#include "PythonXojoModule/RegisteredModules.h"

REALarrayStruct* gRegisteredModules = nullptr;

namespace {

void Destructor(REALobjectStruct* instance) {
  PythonXojoModuleData* data = PythonXojoModuleDataOf(instance);
  if (data->methodTable) {
    for (uint32_t i = 0; i < data->methodCount; ++i) REALUnlockString(data->methodNames[i]);
    free(data->methodTable);
    free(data->methodNames);
  }
  free(data->moduleDefinition);
  if (data->classList) REALUnlockObject(reinterpret_cast<REALobjectStruct*>(data->classList));
}

}  // namespace

PythonXojoModuleData* PythonXojoModuleDataOf(REALobjectStruct* instance) {
  return static_cast<PythonXojoModuleData*>(REALGetClassData(instance, &PythonXojoModuleClass));
}

static_assert(sizeof(PythonXojoModuleData) == 40, "Python3XojoModule data block");

REALclassDefinition PythonXojoModuleClass =
    records::ClassRecord("Python3XojoModule", "Python3Object", sizeof(PythonXojoModuleData)).destructor<Destructor>();
