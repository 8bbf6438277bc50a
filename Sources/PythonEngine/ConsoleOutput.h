// What Python writes to sys.stdout and sys.stderr, delivered to Xojo code as
// the ConsoleOutput and ErrorOutput events of a Python3EngineConsoleOutput.
#pragma once

#include <cstdint>

#include "HostHandles.h"
#include "REALplugin.h"

// Receiver of Python's standard output and error; may be empty.
extern HeldObject consoleOutputInstance;

struct PythonEngineConsoleOutputData {
  REALproc handlers[2];  // the instance's ConsoleOutput and ErrorOutput handlers; each null while it has none
};

// At every start: sys.stdout and sys.stderr become text files whose writes
// reach the receiver, sys.stdin one at its end (console_streams.py, run in the
// namespace of the module whose functions its streams call).
void InstallConsoleStreams() noexcept;

void Python_SetConsoleOutput(REALobjectStruct* output);
void Python_SetConsoleOutputLines(REALobjectStruct* output, int8_t wholeLines);
