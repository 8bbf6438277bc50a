#include "Registration/ClassRecords.h"

namespace {

// In the order of the exception entries of the entry-point table: constant k
// selects entry k - 1.
REALconstant PythonErrorTypesConstants[] = {
    records::Constant("AssertionError = 1", "Python3Engine.SetError raises Python's AssertionError."),
    records::Constant("AttributeError = 2", "Python3Engine.SetError raises Python's AttributeError."),
    records::Constant("EOFError = 3", "Python3Engine.SetError raises Python's EOFError."),
    records::Constant("FloatingPointError = 4", "Python3Engine.SetError raises Python's FloatingPointError."),
    records::Constant("IOError = 5", "Python3Engine.SetError raises Python's IOError (OSError in Python 3)."),
    records::Constant("ImportError = 6", "Python3Engine.SetError raises Python's ImportError."),
    records::Constant("IndexError = 7", "Python3Engine.SetError raises Python's IndexError."),
    records::Constant("KeyError = 8", "Python3Engine.SetError raises Python's KeyError."),
    records::Constant("KeyboardInterrupt = 9", "Python3Engine.SetError raises Python's KeyboardInterrupt."),
    records::Constant("MemoryError = 10", "Python3Engine.SetError raises Python's MemoryError."),
    records::Constant("NameError = 11", "Python3Engine.SetError raises Python's NameError."),
    records::Constant("NotImplementedError = 12", "Python3Engine.SetError raises Python's NotImplementedError."),
    records::Constant("OSError = 13", "Python3Engine.SetError raises Python's OSError."),
    records::Constant("OverflowError = 14", "Python3Engine.SetError raises Python's OverflowError."),
    records::Constant("RuntimeError = 15", "Python3Engine.SetError raises Python's RuntimeError."),
    records::Constant("SyntaxError = 16", "Python3Engine.SetError raises Python's SyntaxError."),
    records::Constant("SystemError = 17", "Python3Engine.SetError raises Python's SystemError."),
    records::Constant("SystemExit = 18", "Python3Engine.SetError raises Python's SystemExit."),
    records::Constant("TypeError = 19", "Python3Engine.SetError raises Python's TypeError."),
    records::Constant("ValueError = 20", "Python3Engine.SetError raises Python's ValueError."),
    records::Constant("ZeroDivisionError = 21", "Python3Engine.SetError raises Python's ZeroDivisionError."),
    records::Constant("ReferenceError = 22", "Python3Engine.SetError raises Python's ReferenceError."),
};

REALmoduleDefinition MakeErrorTypesModule() {
  REALmoduleDefinition module{};
  module.version = kPluginInterfaceVersion;
  module.name = records::DescribedName(
      "Python3ErrorTypes", "The Python exception types Python3Engine.SetError can raise from Xojo code.");
  module.constants = PythonErrorTypesConstants;
  module.constantCount = sizeof(PythonErrorTypesConstants) / sizeof(PythonErrorTypesConstants[0]);
  return module;
}

}  // namespace

REALmoduleDefinition PythonErrorTypesModule = MakeErrorTypesModule();

REALinterfaceDefinition PythonIterableInterface = {
    kPluginInterfaceVersion, 0,
    records::DescribedName("IPython3Iterable",
                           "A Python value whose items can be iterated: what Python3List.Extend accepts."),
    {0, 0, 0, 0}};
