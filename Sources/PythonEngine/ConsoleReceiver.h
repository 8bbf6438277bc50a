// The receiver of Python's console output: the Python3EngineConsoleOutput
// class, whose ConsoleOutput and ErrorOutput events take what Python writes to
// sys.stdout and sys.stderr, one event per write or per whole line.
#pragma once

#include <cstdint>
#include <string_view>

#include "HostHandles.h"
#include "REALplugin.h"

// Receiver of Python's standard output and error; may be empty.
extern ObjectField consoleOutputInstance;

struct PythonEngineConsoleOutputData {
  REALproc handlers[2];  // the instance's ConsoleOutput and ErrorOutput handlers; each null while it has none
};

// The two streams, in the order of the receiver's events.
enum ConsoleStream : int { kStandardOutput = 0, kStandardError = 1 };
constexpr int kConsoleStreamCount = 2;

// On the host's thread only, from here on.

// Raises the stream's event with the text, or with each whole line of it in
// that mode (the rest waits for its line end or a flush).
void DeliverConsoleText(int stream, std::string_view text) noexcept;

// A partial line of whole-lines mode goes now.
void FlushConsoleStream(int stream) noexcept;

// The same for both streams: at the latest as the host's call returns.
void FlushPartialLines() noexcept;

// Text and flushes that Python's own threads left, in the order they came.
void ReceiveThreadText(int stream, bool flush, std::string_view text) noexcept;

// True when a handler's own output would nest events deeper than the
// application's stack should carry.
bool ConsoleEventsNestTooDeeply() noexcept;

void Python_SetConsoleOutput(REALobjectStruct* output);
void Python_SetConsoleOutputLines(REALobjectStruct* output, int8_t wholeLines);
