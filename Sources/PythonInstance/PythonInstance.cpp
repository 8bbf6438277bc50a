#include "PythonInstance/PythonInstance.h"

#include "PythonEngine/ClassRecords.h"

namespace {

void PythonInstance_Destructor(REALobjectStruct* instance) {
  PythonInstanceData* data = PythonInstanceDataOf(instance);
  if (data->ownerClass) REALUnlockObject(data->ownerClass);
  if (data->ownerModule) REALUnlockObject(data->ownerModule);
}

}  // namespace

PythonInstanceData* PythonInstanceDataOf(REALobjectStruct* instance) {
  return static_cast<PythonInstanceData*>(REALGetClassData(instance, &PythonInstanceClass));
}

REALclassDefinition PythonInstanceClass =
    records::ClassRecord("Python3Instance", "Python3Object", sizeof(PythonInstanceData))
        .destructor<PythonInstance_Destructor>();
