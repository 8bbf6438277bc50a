#include "PythonEngine/PythonParameters.h"

#include "PythonEngine/ClassRecords.h"

namespace {

// The Python3EntityBase destructor releases the tuple.
void PythonParameters_Destructor(REALobjectStruct*) {}

}  // namespace

PythonParametersData* PythonParametersDataOf(REALobjectStruct* instance) {
  return static_cast<PythonParametersData*>(REALGetClassData(instance, &PythonParametersClass));
}

REALclassDefinition PythonParametersClass =
    records::ClassRecord("Python3Parameters", "Python3EntityBase", sizeof(PythonParametersData))
        .interfaces("IPython3Iterable")
        .destructor(PythonParameters_Destructor);
