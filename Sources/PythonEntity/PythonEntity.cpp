#include "PythonEntity/PythonEntity.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonLoader.h"

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

REALmethodDefinition PythonEntityBaseMethods[] = {
    records::Method(PythonEntity_Constructor, "Constructor()", REALdefaultConstructorFlags),
};

REALmethodDefinition PythonEntityMethods[] = {
    records::Method(PythonEntity_Constructor, "Constructor()", REALdefaultConstructorFlags),
};

}  // namespace

PythonEntityData* PythonEntityDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEntityData*>(REALGetClassData(instance, &PythonEntityBaseClass));
}

REALclassDefinition PythonEntityBaseClass =
    records::ClassRecord("Python3EntityBase", nullptr, sizeof(PythonEntityData))
        .initializer(PythonEntity_DefaultConstructor)
        .destructor(PythonEntity_Destructor)
        .methods(PythonEntityBaseMethods);

REALclassDefinition PythonEntityClass =
    records::ClassRecord("Python3Entity", "Python3EntityBase", 0).methods(PythonEntityMethods);
