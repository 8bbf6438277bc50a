#include "PythonXojoClass/PythonXojoClass.h"

#include <cstdlib>

#include "PythonEngine/ClassRecords.h"

namespace {

void Destructor(REALobjectStruct* instance) {
  PythonXojoClassData* data = PythonXojoClassDataOf(instance);
  if (data->methodTable) {
    for (uint32_t i = 0; i < data->methodCount; ++i) REALUnlockString(data->methodNames[i]);
    free(data->methodTable);
    free(data->methodNames);
  }
  if (data->getSetTable) {
    for (uint32_t i = 0; i < data->getSetCount; ++i) REALUnlockString(data->getSetNames[i]);
    free(data->getSetTable);
    free(data->getSetNames);
  }
}

}  // namespace

PythonXojoClassData* PythonXojoClassDataOf(REALobjectStruct* instance) {
  return static_cast<PythonXojoClassData*>(REALGetClassData(instance, &PythonXojoClassClass));
}

static_assert(sizeof(PythonXojoClassData) == 448, "Python3XojoClass data block");

REALclassDefinition PythonXojoClassClass =
    records::ClassRecord("Python3XojoClass", "Python3Object", sizeof(PythonXojoClassData)).destructor<Destructor>();
