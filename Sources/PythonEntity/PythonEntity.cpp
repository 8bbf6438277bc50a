#include "PythonEntity/PythonEntity.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonValues.h"

namespace {

// Runs for every value wrapper, so the library is loaded before any value
// conversion calls into it.
void PythonEntity_DefaultConstructor(REALobjectStruct* instance) {
  EnsurePythonLoaded();
  PythonEntityDataOf(instance)->object = nullptr;
}

void PythonEntity_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonEntityDataOf(instance)->object);
}

void PythonEntity_Constructor(REALobjectStruct*) {}

// str() of the object, cut at its first NUL character.
REALstringStruct* ToString(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityObjectOf(instance);
  if (!object) return nullptr;
  PendingErrorAside pending;
  return HostStringFromStr(object);
}

int64_t Hash(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityObjectOf(instance);
  if (!object || !EPyObject_Hash) return -1;
  PendingErrorAside pending;
  return EPyObject_Hash(object);
}

// A new reference for the caller, who owns it.
void* GetPtr(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityObjectOf(instance);
  if (object) TakePythonRef(object);
  return object;
}

REALmethodDefinition PythonEntityBaseMethods[] = {
    records::Method<PythonEntity_Constructor>("Constructor()", REALdefaultConstructorFlags),
    records::Method<ToString>("ToString() as String"),
    records::Method<Hash>("Hash() as Int64"),
    records::Method<GetPtr>("GetPtr() as Ptr"),
};

REALmethodDefinition PythonEntityMethods[] = {
    records::Method<PythonEntity_Constructor>("Constructor()", REALdefaultConstructorFlags),
};

}  // namespace

PyObjectRef PythonEntityObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

PythonEntityData* PythonEntityDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEntityData*>(REALGetClassData(instance, &PythonEntityBaseClass));
}

REALclassDefinition PythonEntityBaseClass =
    records::ClassRecord("Python3EntityBase", nullptr, sizeof(PythonEntityData))
        .initializer<PythonEntity_DefaultConstructor>()
        .destructor<PythonEntity_Destructor>()
        .methods(PythonEntityBaseMethods);

REALclassDefinition PythonEntityClass =
    records::ClassRecord("Python3Entity", "Python3EntityBase", 0).methods(PythonEntityMethods);
