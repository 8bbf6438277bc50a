// Installing Python's standard streams at every start of the interpreter.
#pragma once

// sys.stdout and sys.stderr become text files whose writes reach the
// receiver, sys.stdin one at its end (console_streams.py); without them,
// Python's own streams stay.
void InstallConsoleStreams() noexcept;
