// The members of Python3Instance: its bound methods, and the typed attribute members it shares with
// Python3Module.

#include "PythonInstance/PythonInstance.h"

#include "PythonFields/PythonFields.h"
#include "PythonFunction/PythonFunction.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

void PythonInstance_Destructor(REALobjectStruct* instance) {
  PythonInstanceData* data = PythonInstanceDataOf(instance);
  data->ownerClass.Reset();
  data->ownerModule.Reset();
}

// A method comes back bound: Python supplies the instance as its first argument.
REALobjectStruct* PythonInstance_GetFunction(REALobjectStruct* self, REALstringStruct* name) {
  return NewFunctionOfAttribute(PythonObjectOf(self), name, PythonInstanceDataOf(self)->ownerModule.Get(), self);
}

REALmethodDefinition PythonInstanceOwnMethods[] = {
    records::Method<PythonInstance_GetFunction>(
        "GetFunction(name as String) as Python3Function",
        "The instance's bound method or callable attribute of this name; Nil with Python's error set when missing."),
};
auto PythonInstanceMethods = records::Join(PythonInstanceOwnMethods, AttributeMethods());

}  // namespace

PythonInstanceData* PythonInstanceDataOf(REALobjectStruct* instance) {
  return static_cast<PythonInstanceData*>(REALGetClassData(instance, &PythonInstanceClass));
}

REALclassDefinition PythonInstanceClass =
    records::ClassRecord("Python3Instance", "Python3Object", sizeof(PythonInstanceData))
        .Describe("An instance of a Python class: its methods and attributes.")
        .Destructor<PythonInstance_Destructor, records::kLockOnDemand>()
        .Methods(PythonInstanceMethods);
