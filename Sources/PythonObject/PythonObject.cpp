// Python3Object, the base of the named wrappers (modules, functions, classes, instances): its record and
// the release of its object and name. Its data block is declared in PythonValues/PythonWrappers.h.

#include "PythonValues/PythonWrappers.h"

#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "Registration/ClassRecords.h"

namespace {

void PythonObject_Initializer(REALobjectStruct*) { EnsurePythonLoaded(); }

void PythonObject_Destructor(REALobjectStruct* instance) {
  PythonObjectData* data = PythonObjectDataOf(instance);
  ReleaseOwnedPythonRef(data->object);
  data->name.Reset();
}

// The stored name with one more lock, which the caller takes over.
REALstringStruct* PythonObject_Name(REALobjectStruct* instance, intptr_t) {
  return PythonObjectDataOf(instance)->name.NewReference();
}

REALproperty PythonObjectProperties[] = {
    records::ReadOnlyProperty<PythonObject_Name>("Name", "String", "The name the object was looked up by."),
};

}  // namespace

REALclassDefinition PythonObjectClass =
    records::ClassRecord("Python3Object", nullptr, sizeof(PythonObjectData))
        .Describe("The base of the named Python objects: modules, functions, classes and instances.")
        .Initializer<PythonObject_Initializer, records::kLockOnDemand>()
        .Destructor<PythonObject_Destructor, records::kLockOnDemand>()
        .Properties(PythonObjectProperties);
