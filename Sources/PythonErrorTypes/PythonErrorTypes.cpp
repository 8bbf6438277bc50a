// Python3ErrorTypes, the module of the Python exception types host code can raise.
#include "Registration/ClassRecords.h"

namespace {

REALconstant PythonErrorTypesConstants[] = {
#define PYTHON_ERROR_TYPE(Name, value, description) records::Constant(#Name " = " #value, description),
#include "PythonLibrary/PythonErrorTypes.def"
};

REALmoduleDefinition MakeErrorTypesModule() {
  REALmoduleDefinition module{};
  module.version = kPluginInterfaceVersion;
  module.name = records::DescribedName("Python3ErrorTypes",
                                       "The Python exception types Python3Engine.SetError can raise from Xojo code.");
  module.constants = PythonErrorTypesConstants;
  module.constantCount = sizeof(PythonErrorTypesConstants) / sizeof(PythonErrorTypesConstants[0]);
  return module;
}

}  // namespace

REALmoduleDefinition PythonErrorTypesModule = MakeErrorTypesModule();
