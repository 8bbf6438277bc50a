#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonLoader.h"

REALclassDefinition PythonListClass =
    records::ClassRecord("Python3List", "Python3EntityBase", 0).interfaces("IPython3Iterable");

void InitListModule() {
  ResetListEntryPoints();
  REALRegisterClass(&PythonListClass);
}
