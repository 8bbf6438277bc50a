// The C module `aview` that console_streams.py runs in: the write and flush
// functions through which Python's standard output and error reach the
// receiver, on the host's thread at once, from Python's own threads later.
#pragma once

#include "PythonLibrary/PythonAbi.h"

// A new reference to a new instance of the module; null with Python's error set.
PyObjectRef NewConsoleStreamModule() noexcept;
