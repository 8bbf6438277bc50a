#include "PythonClass/PythonClass.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonObject.h"

namespace {

void Destructor(REALobjectStruct* instance) {
  PythonClassData* data = PythonClassDataOf(instance);
  if (data->ownerModule) REALUnlockObject(data->ownerModule);
  ReleasePythonObjectName(instance);
}

}  // namespace

PythonClassData* PythonClassDataOf(REALobjectStruct* instance) {
  return static_cast<PythonClassData*>(REALGetClassData(instance, &PythonClassClass));
}

REALclassDefinition PythonClassClass =
    records::ClassRecord("Python3Class", "Python3Object", sizeof(PythonClassData)).destructor<Destructor>();
