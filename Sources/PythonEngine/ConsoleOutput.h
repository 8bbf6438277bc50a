#pragma once

#include "REALplugin.h"

// Receiver of Python's standard output, locked while stored; or null.
extern REALobjectStruct* consoleOutputInstance;

struct PythonEngineConsoleOutputData {
  REALproc handler;  // the instance's ConsoleOutput handler, or null while it has none
};
