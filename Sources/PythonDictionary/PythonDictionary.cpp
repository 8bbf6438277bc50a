#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonLoader.h"

namespace {

// The reference lives in the Python3EntityBase block, whose destructor releases it.
void Destructor(REALobjectStruct*) {}

}  // namespace

REALclassDefinition PythonDictionaryClass = records::ClassRecord("Python3Dictionary", "Python3EntityBase", 0)
                                                .interfaces("IPython3Iterable")
                                                .destructor<Destructor>();

void InitDictionaryModule() {
  ResetDictionaryEntryPoints();
  REALRegisterClass(&PythonDictionaryClass);
}
