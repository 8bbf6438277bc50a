#include "PythonObject/PythonObject.h"

#include "Registration/ClassRecords.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonLibrary/PythonLoader.h"

namespace {

void PythonObject_Initializer(REALobjectStruct*) { EnsurePythonLoaded(); }

void PythonObject_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonObjectDataOf(instance)->object);
}

// The stored name with one more lock, which the caller takes over.
REALstringStruct* PythonObject_Name(REALobjectStruct* instance, intptr_t) {
  REALstringStruct* name = PythonObjectDataOf(instance)->name;
  if (name) REALLockString(name);
  return name;
}

REALproperty PythonObjectProperties[] = {
    records::ReadOnlyProperty<PythonObject_Name>("Name", "String",
        "The name the object was looked up by."),
};

}  // namespace




void ReleasePythonObjectName(REALobjectStruct* instance) {
  PythonObjectData* data = PythonObjectDataOf(instance);
  if (data->name) REALUnlockString(data->name);
  data->name = nullptr;
}

REALclassDefinition PythonObjectClass = records::ClassRecord("Python3Object", nullptr, sizeof(PythonObjectData))
        .describe("The base of the named Python objects: modules, functions, classes and instances.")
                                            .initializer<PythonObject_Initializer, records::kLockOnDemand>()
                                            .destructor<PythonObject_Destructor, records::kLockOnDemand>()
                                            .properties(PythonObjectProperties);
