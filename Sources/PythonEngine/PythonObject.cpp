#include "PythonEngine/PythonObject.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"

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
    records::ReadOnlyProperty<PythonObject_Name>("Name", "String"),
};

}  // namespace

PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance) {
  return static_cast<PythonObjectData*>(REALGetClassData(instance, &PythonObjectClass));
}

PyObjectRef PythonObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonObjectDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

REALobjectStruct* NewNamedObjectWrapper(REALclassDefinition* record, REALstringStruct* name, PyObjectRef object) {
  REALobjectStruct* wrapper = REALnewInstanceOfClass(record);
  if (!wrapper) {
    if (object) ReleasePythonRef(object);
    return nullptr;
  }
  PythonObjectData* data = PythonObjectDataOf(wrapper);
  if (name) REALLockString(name);
  data->name = name;
  StoreOwnedPythonRef(data->object, object);
  return wrapper;
}

void ReleasePythonObjectName(REALobjectStruct* instance) {
  PythonObjectData* data = PythonObjectDataOf(instance);
  if (data->name) REALUnlockString(data->name);
  data->name = nullptr;
}

REALclassDefinition PythonObjectClass = records::ClassRecord("Python3Object", nullptr, sizeof(PythonObjectData))
                                            .initializer<PythonObject_Initializer, records::kLockOnDemand>()
                                            .destructor<PythonObject_Destructor, records::kLockOnDemand>()
                                            .properties(PythonObjectProperties);
