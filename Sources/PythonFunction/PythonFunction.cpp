#include "PythonFunction/PythonFunction.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonObject.h"
#include "PythonEntity/PythonEntity.h"
#include "PythonResult/PythonResult.h"

namespace {

void Destructor(REALobjectStruct* instance) {
  PythonFunctionData* data = PythonFunctionDataOf(instance);
  if (data->ownerModule) REALUnlockObject(data->ownerModule);
  if (data->ownerInstance) REALUnlockObject(data->ownerInstance);
  ReleasePythonObjectName(instance);
}

// Calls with the tuple's items as positional arguments; Nil calls with none.
REALobjectStruct* PythonFunction_Invoke(REALobjectStruct* self, REALobjectStruct* parameters) {
  PyObjectRef callable = PythonObjectDataOf(self)->object;
  if (!callable || !PythonIsRunning() || !EPyObject_CallObject) return nullptr;
  PyObjectRef arguments = parameters ? PythonEntityObjectOf(parameters) : nullptr;
  if (parameters && !arguments) return nullptr;  // a tuple that was never made
  PendingErrorAside pending;
  PyObjectRef result = EPyObject_CallObject(callable, arguments);
  return result ? NewResultWrapper(result) : nullptr;
}

REALobjectStruct* PythonFunction_Module(REALobjectStruct* self, intptr_t) {
  REALobjectStruct* owner = PythonFunctionDataOf(self)->ownerModule;
  if (owner) REALLockObject(owner);
  return owner;
}

REALproperty PythonFunctionProperties[] = {
    records::ReadOnlyProperty<PythonFunction_Module>("OwnerModule", "Python3Module"),
};

REALmethodDefinition PythonFunctionMethods[] = {
    records::Method<PythonFunction_Invoke>("Invoke(parameters as Python3Parameters) as Python3Result"),
};

}  // namespace

PythonFunctionData* PythonFunctionDataOf(REALobjectStruct* instance) {
  return static_cast<PythonFunctionData*>(REALGetClassData(instance, &PythonFunctionClass));
}

REALclassDefinition PythonFunctionClass =
    records::ClassRecord("Python3Function", "Python3Object", sizeof(PythonFunctionData))
        .destructor<Destructor>()
        .properties(PythonFunctionProperties)
        .methods(PythonFunctionMethods);
