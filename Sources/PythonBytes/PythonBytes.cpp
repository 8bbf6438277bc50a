#include "PythonEngine/ClassRecords.h"

namespace {

// The reference lives in the Python3EntityBase block, whose destructor releases it.
void PythonBytes_Destructor(REALobjectStruct*) {}

}  // namespace

REALclassDefinition PythonBytesClass =
    records::ClassRecord("Python3Bytes", "Python3EntityBase", 0).destructor<PythonBytes_Destructor>();
