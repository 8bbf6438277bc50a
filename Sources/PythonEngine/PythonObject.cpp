#include "PythonEngine/PythonObject.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonLoader.h"

namespace {

void PythonObject_Initializer(REALobjectStruct*) { EnsurePythonLoaded(); }

void PythonObject_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonObjectDataOf(instance)->object);
}

}  // namespace

PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance) {
  return static_cast<PythonObjectData*>(REALGetClassData(instance, &PythonObjectClass));
}

REALclassDefinition PythonObjectClass = records::ClassRecord("Python3Object", nullptr, sizeof(PythonObjectData))
                                            .initializer(PythonObject_Initializer)
                                            .destructor(PythonObject_Destructor);
