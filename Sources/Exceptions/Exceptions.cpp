#include "PythonEngine/ClassRecords.h"

namespace {

// Message and error code come from RuntimeException's own constructor.
void Constructor(REALobjectStruct*) {}

REALmethodDefinition PythonExceptionMethods[] = {
    records::Method(Constructor, "Constructor()", REALdefaultConstructorFlags),
};

}  // namespace

REALclassDefinition PythonExceptionClass =
    records::ClassRecord("Python3Exception", "RuntimeException", 0).methods(PythonExceptionMethods);
