// Python's standard output delivered to Xojo code as the ConsoleOutput event
// of a Python3EngineConsoleOutput.
#pragma once

#include "HostHandles.h"
#include "PythonValues/PythonReferences.h"
#include "REALplugin.h"

// Receiver of Python's standard output; may be empty.
extern HeldObject consoleOutputInstance;

struct PythonEngineConsoleOutputData {
  REALproc handler;  // the instance's ConsoleOutput handler, or null while it has none
};

// A new module whose write and flush serve as sys.stdout; null when Python refuses.
PyObjectRef CreateConsoleOutputModule();

void Python_SetConsoleOutput(REALobjectStruct* output);
