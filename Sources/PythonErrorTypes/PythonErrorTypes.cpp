#include "PythonEngine/ClassRecords.h"

namespace {

// In the order of the exception entries of the entry-point table: constant k
// selects entry k - 1.
REALconstant PythonErrorTypesConstants[] = {
    records::Constant("AssertionError = 1"),     records::Constant("AttributeError = 2"),
    records::Constant("EOFError = 3"),           records::Constant("FloatingPointError = 4"),
    records::Constant("IOError = 5"),            records::Constant("ImportError = 6"),
    records::Constant("IndexError = 7"),         records::Constant("KeyError = 8"),
    records::Constant("KeyboardInterrupt = 9"),  records::Constant("MemoryError = 10"),
    records::Constant("NameError = 11"),         records::Constant("NotImplementedError = 12"),
    records::Constant("OSError = 13"),           records::Constant("OverflowError = 14"),
    records::Constant("RuntimeError = 15"),      records::Constant("SyntaxError = 16"),
    records::Constant("SystemError = 17"),       records::Constant("SystemExit = 18"),
    records::Constant("TypeError = 19"),         records::Constant("ValueError = 20"),
    records::Constant("ZeroDivisionError = 21"), records::Constant("ReferenceError = 22"),
};

REALmoduleDefinition MakeErrorTypesModule() {
  REALmoduleDefinition module{};
  module.version = kPluginInterfaceVersion;
  module.name = "Python3ErrorTypes";
  module.constants = PythonErrorTypesConstants;
  module.constantCount = sizeof(PythonErrorTypesConstants) / sizeof(PythonErrorTypesConstants[0]);
  return module;
}

}  // namespace

REALmoduleDefinition PythonErrorTypesModule = MakeErrorTypesModule();

REALinterfaceDefinition PythonIterableInterface = {kPluginInterfaceVersion, 0, "IPython3Iterable", {0, 0, 0, 0}};
