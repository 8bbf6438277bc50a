#include "PythonInstance/PythonInstance.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonObject.h"
#include "PythonFunction/PythonFunction.h"
#include "PythonModuleUnit/PythonFields.h"

namespace {

void PythonInstance_Destructor(REALobjectStruct* instance) {
  PythonInstanceData* data = PythonInstanceDataOf(instance);
  if (data->ownerClass) REALUnlockObject(data->ownerClass);
  if (data->ownerModule) REALUnlockObject(data->ownerModule);
  ReleasePythonObjectName(instance);
}

// A method comes back bound: Python supplies the instance as its first argument.
REALobjectStruct* PythonInstance_GetFunction(REALobjectStruct* self, REALstringStruct* name) {
  return NewFunctionOfAttribute(PythonObjectOf(self), name, PythonInstanceDataOf(self)->ownerModule, self);
}

REALmethodDefinition PythonInstanceOwnMethods[] = {
    records::Method<PythonInstance_GetFunction>("GetFunction(name as String) as Python3Function"),
};
auto PythonInstanceMethods = records::Join(PythonInstanceOwnMethods, AttributeMethods());

}  // namespace

PythonInstanceData* PythonInstanceDataOf(REALobjectStruct* instance) {
  return static_cast<PythonInstanceData*>(REALGetClassData(instance, &PythonInstanceClass));
}

REALclassDefinition PythonInstanceClass =
    records::ClassRecord("Python3Instance", "Python3Object", sizeof(PythonInstanceData))
        .destructor<PythonInstance_Destructor, records::kLockOnDemand>()
        .methods(PythonInstanceMethods);
