#include "PythonFunction/PythonFunction.h"

#include "PythonEngine/ClassRecords.h"

namespace {

void Destructor(REALobjectStruct* instance) {
  PythonFunctionData* data = PythonFunctionDataOf(instance);
  if (data->ownerModule) REALUnlockObject(data->ownerModule);
  if (data->ownerInstance) REALUnlockObject(data->ownerInstance);
}

}  // namespace

PythonFunctionData* PythonFunctionDataOf(REALobjectStruct* instance) {
  return static_cast<PythonFunctionData*>(REALGetClassData(instance, &PythonFunctionClass));
}

REALclassDefinition PythonFunctionClass =
    records::ClassRecord("Python3Function", "Python3Object", sizeof(PythonFunctionData)).destructor(Destructor);
