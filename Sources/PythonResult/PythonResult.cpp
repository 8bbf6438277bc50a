#include "PythonResult/PythonResult.h"

#include "PythonEngine/ClassRecords.h"

namespace {

void PythonResult_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonResultDataOf(instance)->object);
}

}  // namespace

PythonResultData* PythonResultDataOf(REALobjectStruct* instance) {
  return static_cast<PythonResultData*>(REALGetClassData(instance, &PythonResultClass));
}

REALclassDefinition PythonResultClass = records::ClassRecord("Python3Result", nullptr, sizeof(PythonResultData))
                                            .destructor(PythonResult_Destructor);
