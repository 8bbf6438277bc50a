#include "PythonEngine/ClassRecords.h"

namespace {

// Declared by the record but never read or written: the module lives in the
// Python3Object block.
constexpr size_t kPythonModuleDataSize = 4;

// The Python3Object destructor releases the module.
void Destructor(REALobjectStruct*) {}

}  // namespace

REALclassDefinition PythonModuleClass =
    records::ClassRecord("Python3Module", "Python3Object", kPythonModuleDataSize).destructor(Destructor);
