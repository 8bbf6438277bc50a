#include "PythonEngine/ConsoleOutput.h"

#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>

#include "HostHandles.h"
#include "PythonEngine/ConsoleStreamsSource.h"  // generated from console_streams.py
#include "PythonLibrary/PythonAbi.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonValues.h"
#include "Registration/ClassRecords.h"

HeldObject consoleOutputInstance;

namespace {

// The two streams, in the order of the receiver's events.
enum Stream : int { kOutput = 0, kError = 1 };
constexpr int kStreamCount = 2;

REALevent PythonEngineEvents[] = {
    records::Event(
        "ConsoleOutput(output as String)",
        "Raised with each text Python writes to sys.stdout (print among them), on the application's thread."),
    records::Event("ErrorOutput(output as String)",
                   "Raised with each text Python writes to sys.stderr (tracebacks, warnings, logging); without a "
                   "handler it goes to the process's standard error."),
};
static_assert(sizeof(PythonEngineEvents) / sizeof(PythonEngineEvents[0]) == kStreamCount, "one event per stream");

PythonEngineConsoleOutputData* ConsoleOutputDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEngineConsoleOutputData*>(REALGetClassData(instance, &PythonEngineConsoleOutputClass));
}

void PythonEngineConsoleOutput_Constructor(REALobjectStruct* instance) {
  PythonEngineConsoleOutputData* data = ConsoleOutputDataOf(instance);
  for (int stream = 0; stream < kStreamCount; ++stream)
    data->handlers[stream] = REALGetEventInstance(instance, &PythonEngineEvents[stream]);
}

// On the host's thread only.
bool wholeLines = false;                 // events carry whole lines (SetConsoleOutput(output, True))
std::string partialLines[kStreamCount];  // the text of each stream since its last line end, in that mode

// Console events nest when a handler makes Python print again; each level
// costs host, call and Python frames on the application's stack.
constexpr int kMaxConsoleEventNesting = 8;
int consoleEventNesting = 0;  // on the host's thread only

// The receiver's handler of the stream's event; null when none.
REALproc HandlerOf(REALobjectStruct* receiver, int stream) {
  PythonEngineConsoleOutputData* data = ConsoleOutputDataOf(receiver);
  if (!data->handlers[stream]) data->handlers[stream] = REALGetEventInstance(receiver, &PythonEngineEvents[stream]);
  return data->handlers[stream];
}

// Raises the stream's event of the current receiver. Standard error that no
// handler takes goes where it always went, to the process's standard error.
void Emit(int stream, const char* text, size_t length) noexcept {
  REALobjectStruct* receiver = consoleOutputInstance.get();
  REALproc handler = receiver ? HandlerOf(receiver, stream) : nullptr;
  if (!handler) {
    if (stream == kError)
      for (size_t written = 0; written < length;) {
        const ssize_t n = ::write(STDERR_FILENO, text + written, length - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
      }
    return;
  }
  OwnedString output(REALBuildStringWithEncoding(text, static_cast<int>(length), kREALTextEncodingUTF8));
  // The handler may replace the receiver; it must outlive its own event.
  OwnedObject keptReceiver = OwnedObject::Retain(receiver);
  ++consoleEventNesting;
  reinterpret_cast<void (*)(REALobjectStruct*, REALstringStruct*)>(handler)(receiver, output.get());
  --consoleEventNesting;
}

// One event per write, or per whole line in that mode.
void DeliverText(int stream, std::string_view text) noexcept {
  if (!wholeLines) return Emit(stream, text.data(), text.size());
  std::string& pending = partialLines[stream];
  try {
    pending += text;
  } catch (const std::exception&) {
    return Emit(stream, text.data(), text.size());
  }
  size_t start = 0;
  for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = pending.substr(start, end + 1 - start);
    Emit(stream, line.data(), line.size());
  }
  pending.erase(0, start);
}

void FlushStream(int stream) noexcept {
  if (partialLines[stream].empty()) return;  // the usual case, at the end of every host call
  std::string pending;
  pending.swap(partialLines[stream]);
  if (!pending.empty()) Emit(stream, pending.data(), pending.size());
}

// A partial line is delivered at the latest as the host's call returns.
void FlushPartialLines() noexcept {
  for (int stream = 0; stream < kStreamCount; ++stream) FlushStream(stream);
}

void ReceiveThreadText(int stream, bool flush, std::string_view text) noexcept {
  if (stream < 0 || stream >= kStreamCount) return;
  if (flush)
    FlushStream(stream);
  else
    DeliverText(stream, text);
}

bool ParseStream(PyObjectRef arguments, int* stream, PyObjectRef* text) {
  if (!EPyArg_ParseTuple(arguments, text ? "iO" : "i", stream, text)) return false;
  if (*stream < 0 || *stream >= kStreamCount) {
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
  HeldReference utf8(EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"), HeldReference::kAdopt);
  if (!utf8) return nullptr;
  const std::string_view bytes(EPyBytes_AsString(utf8.get()), static_cast<size_t>(EPyBytes_Size(utf8.get())));
  if (!OnHostThread()) {
    QueueThreadText(stream, bytes);
    return EPyLong_FromLongLong(characters);
  }
  if (consoleEventNesting >= kMaxConsoleEventNesting) {
    RaisePythonError(RecursionErrorEntry(), "ConsoleOutput events nested too deeply");
    return nullptr;
  }
  RunDeferredHostWork();  // earlier text from other threads comes first
  if (ThreadTextQueued())
    QueueHostText(stream, bytes);  // and all of it, when that delivery stopped at its budget
  else
    DeliverText(stream, bytes);
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
    FlushStream(stream);
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
    {"write_stdout", WriteStream<kOutput>, METH_O, "Standard output's write."},
    {"write_stderr", WriteStream<kError>, METH_O, "Standard error's write."},
    {"flush_stdout", FlushStreamForPython<kOutput>, METH_NOARGS, "Standard output's flush."},
    {"flush_stderr", FlushStreamForPython<kError>, METH_NOARGS, "Standard error's flush."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef aview_module = {
    {{1, nullptr}, nullptr, 0, nullptr}, "aview", "doc for aview", -1, a_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

void InstallConsoleStreams() noexcept {
  if (!HasPythonEntries(EPyModule_Create2, EPyModule_GetDict, EPyRun_StringFlags, EPyErr_Clear)) return;
  SetEndOfCallWork(&FlushPartialLines);
  SetThreadTextReceiver(&ReceiveThreadText);
  PyObjectRef module = EPyModule_Create2(&aview_module, kPythonApiVersion);
  // Code run in a namespace without __builtins__ gets none before 3.8 (not even import).
  PyObjectRef builtins = module && EPyImport_ImportModule ? EPyImport_ImportModule("builtins") : nullptr;
  const bool ready =
      builtins && EPyObject_SetAttrString && EPyObject_SetAttrString(module, "__builtins__", builtins) == 0;
  PyObjectRef namespace_ = ready ? EPyModule_GetDict(module) : nullptr;  // borrowed
  PyObjectRef ran =
      namespace_ ? EPyRun_StringFlags(kConsoleStreamsSource, Py_file_input, namespace_, namespace_, nullptr) : nullptr;
  for (PyObjectRef object : {ran, builtins, module})
    if (object) ReleasePythonRef(object);
  EPyErr_Clear();  // without them, Python's own streams stay
}

void Python_SetConsoleOutput(REALobjectStruct* output) {
  FlushPartialLines();
  wholeLines = false;
  consoleOutputInstance.Retain(output);
}

void Python_SetConsoleOutputLines(REALobjectStruct* output, int8_t lines) {
  FlushPartialLines();
  wholeLines = lines != 0;
  consoleOutputInstance.Retain(output);
}

REALclassDefinition PythonEngineConsoleOutputClass =
    records::ClassRecord("Python3EngineConsoleOutput", nullptr, sizeof(PythonEngineConsoleOutputData))
        .describe("Receives what Python prints once passed to Python3Engine.SetConsoleOutput.")
        .initializer<PythonEngineConsoleOutput_Constructor>()
        .events(PythonEngineEvents);
