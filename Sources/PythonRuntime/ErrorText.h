// The pending error put in words: its type's name and its traceback, as
// Python prints them. Both are read without running Python code of their own
// (no import, no truth test of a str), so that reading an error works
// whatever state the failed code left behind: an extension module that
// cannot be initialised twice in one process can leave even `bool('x')`
// crashing after its failed second import.
#pragma once

#include <string>

#include "PythonLibrary/PythonObjects.h"

// "ValueError", "json.decoder.JSONDecodeError": the module is left out for
// builtins and when it is not a str (a class may carry any object as
// __module__ or __qualname__); the qualified name falls back on the bare
// name, then on the name the type was made with. A new str, or null.
PyObjectRef NewTypeName(PyObjectRef type);

// The error as Python's traceback.format_exception words it: chained causes
// and contexts first, each with its frames (file, line, function and the
// source line) and its last line "Type: message", SyntaxError details and
// notes; repeated frames are counted, not repeated. UTF-8; characters UTF-8
// cannot hold come as backslash escapes.
std::string TracebackText(PyObjectRef type, PyObjectRef value, PyObjectRef traceback);
