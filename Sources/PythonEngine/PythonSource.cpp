// Python3Engine.Execute and Evaluate, run in __main__'s namespace, and the pending error's type name and
// traceback as host strings.

#include "PythonEngine/PythonSource.h"

#include <cstring>
#include <string>

#include "HostGlue.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonLibrary/PythonAbi.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonResult/PythonResult.h"
#include "PythonValues/PythonValues.h"
#include "PythonValues/TracebackText.h"

namespace {

// The host string's UTF-8 bytes; false when the host cannot give them.
bool SourceText(REALstringStruct* source, std::string* text) {
  if (!source) return true;  // the empty String
  StringDataRecord utf8{};
  if (!REALGetStringData(source, kREALTextEncodingUTF8, &utf8)) return false;
  text->assign(static_cast<const char*>(utf8.data), static_cast<size_t>(utf8.length));
  REALDisposeStringData(&utf8);
  return true;
}

// Runs `source` with `start` in __main__'s namespace: a new reference to the
// result, or null with Python's error set.
PyObjectRef RunInMain(REALstringStruct* source, int start) {
  if (!PythonLoadedAndRunning() || !EnsurePythonEntries(EPyRun_StringFlags, EPyImport_AddModule, EPyModule_GetDict))
    return nullptr;
  std::string text;
  if (!SourceText(source, &text)) {
    RaisePythonError(e__PyExc_ValueError, "the source text cannot be read as UTF-8");
    return nullptr;
  }
  // The compiler reads up to the first NUL: a hidden rest would be lost.
  if (text.find('\0') != std::string::npos) {
    RaisePythonError(e__PyExc_ValueError, "source code string cannot contain null bytes");
    return nullptr;
  }
  // The code run may remove __main__ from sys.modules and empty its namespace.
  ScopedReference main = ScopedReference::Borrow(EPyImport_AddModule("__main__"));
  ScopedReference globals = ScopedReference::Borrow(main ? EPyModule_GetDict(main.Get()) : nullptr);
  if (!globals) return nullptr;
  return EPyRun_StringFlags(text.c_str(), start, globals.Get(), globals.Get(), nullptr);
}

// A text as a host string, characters UTF-8 cannot hold written as escapes.
REALstringStruct* HostStringOfText(PyObjectRef text) {
  if (!IsPythonStr(text) || !HasPythonEntries(EPyUnicode_AsEncodedString, EPyBytes_AsString, EPyBytes_Size))
    return nullptr;
  const ScopedReference utf8 = ScopedReference::Adopt(EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
  if (!utf8) return nullptr;
  return HostStringOfBytes(EPyBytes_AsString(utf8.Get()), EPyBytes_Size(utf8.Get()), kREALTextEncodingUTF8);
}

// The pending error, taken aside while `read` looks at it (normalized) and put
// back unchanged afterwards; an empty String when none is pending.
template <typename Read>
REALstringStruct* ReadPendingError(Read read) {
  if (!PythonLoadedAndRunning() || !EnsurePythonEntries(EPyErr_Fetch, EPyErr_Restore, EPyErr_NormalizeException,
                                                        EPyObject_GetAttrString, EPyErr_Clear))
    return nullptr;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  if (!type) return nullptr;
  EPyErr_NormalizeException(&type, &value, &traceback);
  REALstringStruct* result = read(type, value, traceback);
  EPyErr_Clear();
  EPyErr_Restore(type, value, traceback);
  return result;
}

}  // namespace

bool Python_Execute(REALstringStruct* source) {
  const ScopedReference result = ScopedReference::Adopt(RunInMain(source, Py_file_input));
  return static_cast<bool>(result);
}

REALobjectStruct* Python_Evaluate(REALstringStruct* expression) {
  PyObjectRef result = RunInMain(expression, Py_eval_input);
  return result ? NewResultWrapper(result) : nullptr;
}

REALstringStruct* Python_GetErrorTypeName() {
  return ReadPendingError([](PyObjectRef type, PyObjectRef, PyObjectRef) -> REALstringStruct* {
    const ScopedReference name = ScopedReference::Adopt(NewTypeName(type));
    return HostStringOfText(name.Get());
  });
}

REALstringStruct* Python_GetErrorTraceback() {
  return ReadPendingError([](PyObjectRef type, PyObjectRef value, PyObjectRef traceback) -> REALstringStruct* {
    const std::string text = TracebackText(type, value, traceback);
    return HostStringOfBytes(text.data(), static_cast<int64_t>(text.size()), kREALTextEncodingUTF8);
  });
}
