// The pending error put in words: its traceback, as Python prints it. It is
// read without running Python code of its own (no import, no truth test of a
// str), so that reading an error works whatever state the failed code left
// behind: an extension module that cannot be initialised twice in one process
// can leave even `bool('x')` crashing after its failed second import.
#pragma once

#include <string>

#include "PythonLibrary/PythonObjects.h"

// The error as Python's traceback.format_exception words it: chained causes
// and contexts first, each with its frames (file, line, function and the
// source line) and its last line "Type: message", SyntaxError details and
// notes; repeated frames are counted, not repeated. UTF-8; characters UTF-8
// cannot hold come as backslash escapes.
std::string TracebackText(PyObjectRef type, PyObjectRef value, PyObjectRef traceback);
