// The C functions that Python's standard streams call, and their module.
#include "PythonEngine/ConsoleStreamModule.h"

#include <string_view>

#include "PythonEngine/ConsoleReceiver.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonReferences.h"

namespace {

bool ParseStream(PyObjectRef arguments, int* stream, PyObjectRef* text) {
  if (!EPyArg_ParseTuple(arguments, text ? "iO" : "i", stream, text)) return false;
  if (*stream < 0 || *stream >= kConsoleStreamCount) {
    RaisePythonError(e__PyExc_ValueError, "no such console stream");
    return false;
  }
  return true;
}

// The text's UTF-8 (NUL characters kept, lone surrogates as backslash
// escapes) goes to the receiver synchronously on the host's thread; text
// written on Python's own threads waits for the host's thread. Returns the
// characters written, as a text file's write does.
PyObjectRef WriteText(int stream, PyObjectRef text) noexcept {
  if (!HasPythonEntries(EPyUnicode_AsEncodedString, EPyBytes_AsString, EPyBytes_Size, EPyObject_Size,
                        EPyLong_FromLongLong))
    return nullptr;
  if (!text || !IsPythonStr(text)) {
    const char* type = text && TypeOf(text) ? TypeOf(text)->tp_name : nullptr;
    RaisePythonError(e__PyExc_TypeError, "write() argument must be str, not ", type ? type : "?");
    return nullptr;
  }
  const Py_ssize_t characters = EPyObject_Size(text);
  // The text's own UTF-8, which Python keeps with it (an ASCII text is its
  // own), and held here while the receiver's handler runs; a text with lone
  // surrogates has none, and is encoded with escapes instead.
  const ScopedReference held = ScopedReference::Borrow(text);
  ScopedReference escaped;
  Py_ssize_t size = 0;
  const char* data = EPyUnicode_AsUTF8AndSize ? EPyUnicode_AsUTF8AndSize(text, &size) : nullptr;
  if (!data) {
    if (EPyErr_Clear) EPyErr_Clear();
    escaped = ScopedReference::Adopt(EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
    if (!escaped) return nullptr;
    data = EPyBytes_AsString(escaped.Get());
    size = EPyBytes_Size(escaped.Get());
  }
  const std::string_view bytes(data, static_cast<size_t>(size));
  if (!OnHostThread()) {
    QueueThreadText(stream, bytes);
    return EPyLong_FromLongLong(characters);
  }
  if (ConsoleEventsNestTooDeeply()) {
    RaisePythonError(RecursionErrorEntry(), "ConsoleOutput events nested too deeply");
    return nullptr;
  }
  RunDeferredHostWork();  // earlier text from other threads comes first
  if (ThreadTextQueued())
    QueueHostText(stream, bytes);  // and all of it, when that delivery stopped at its budget
  else
    DeliverConsoleText(stream, bytes);
  // A handler that set Python's error (Python3Engine.SetError) has it raised
  // in the code that wrote, as a host function returning Nil has.
  if (EPyErr_Occurred && EPyErr_Occurred()) return nullptr;
  return EPyLong_FromLongLong(characters);
}

// A partial line of whole-lines mode goes now.
PyObjectRef FlushText(int stream) noexcept {
  if (!OnHostThread()) {
    QueueThreadFlush(stream);
  } else if (!gPythonFinalizing) {
    RunDeferredHostWork();
    FlushConsoleStream(stream);
  }
  return NewPythonNone();
}

// write(stream, text) and flush(stream), for the binary side and closed streams.
PyObjectRef aview_write(PyObjectRef, PyObjectRef arguments) noexcept {
  int stream = 0;
  PyObjectRef text = nullptr;
  if (!EPyArg_ParseTuple || !ParseStream(arguments, &stream, &text)) return nullptr;
  return WriteText(stream, text);
}

PyObjectRef aview_flush(PyObjectRef, PyObjectRef arguments) noexcept {
  int stream = 0;
  if (!EPyArg_ParseTuple || !ParseStream(arguments, &stream, nullptr)) return nullptr;
  return FlushText(stream);
}

// Each stream's own write(text) and flush(): what print calls, with no
// argument tuple to parse and no Python frame.
template <int Stream>
PyObjectRef WriteStream(PyObjectRef, PyObjectRef text) noexcept {
  return WriteText(Stream, text);
}

template <int Stream>
PyObjectRef FlushStreamForPython(PyObjectRef, PyObjectRef) noexcept {
  return FlushText(Stream);
}

PyMethodDef a_methods[] = {
    {"write", aview_write, METH_VARARGS, "write(stream, text): the text to the application's console stream."},
    {"flush", aview_flush, METH_VARARGS, "flush(stream): a partial line of the stream goes to the application now."},
    {"write_stdout", WriteStream<kStandardOutput>, METH_O, "Standard output's write."},
    {"write_stderr", WriteStream<kStandardError>, METH_O, "Standard error's write."},
    {"flush_stdout", FlushStreamForPython<kStandardOutput>, METH_NOARGS, "Standard output's flush."},
    {"flush_stderr", FlushStreamForPython<kStandardError>, METH_NOARGS, "Standard error's flush."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef aview_module = {
    {{1, nullptr}, nullptr, 0, nullptr}, "aview", "doc for aview", -1, a_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyObjectRef NewConsoleStreamModule() noexcept {
  return EPyModule_Create2 ? EPyModule_Create2(&aview_module, kPythonApiVersion) : nullptr;
}
