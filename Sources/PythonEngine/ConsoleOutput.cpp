#include "PythonEngine/ConsoleOutput.h"

#include <cstring>
#include <string>

#include "HostHandles.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonValues/PythonValues.h"
#include "Registration/ClassRecords.h"

HeldObject consoleOutputInstance;

namespace {

REALevent PythonEngineEvents[] = {
    records::Event(
        "ConsoleOutput(output as String)",
        "Raised with each text Python writes to sys.stdout (print among them), on the application's thread."),
};

PythonEngineConsoleOutputData* ConsoleOutputDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEngineConsoleOutputData*>(REALGetClassData(instance, &PythonEngineConsoleOutputClass));
}

void PythonEngineConsoleOutput_Constructor(REALobjectStruct* instance) {
  ConsoleOutputDataOf(instance)->handler = REALGetEventInstance(instance, &PythonEngineEvents[0]);
}

// Console events nest when a handler makes Python print again; each level
// costs host, call and Python frames on the application's stack.
constexpr int kMaxConsoleEventNesting = 8;
int consoleEventNesting = 0;  // on the host's thread only

// Raises the ConsoleOutput event of the current receiver, if it has a handler.
void DeliverConsoleText(const char* text, size_t length) noexcept {
  REALobjectStruct* receiver = consoleOutputInstance.get();
  if (!receiver) return;
  PythonEngineConsoleOutputData* data = ConsoleOutputDataOf(receiver);
  if (!data->handler) data->handler = REALGetEventInstance(receiver, &PythonEngineEvents[0]);
  if (!data->handler) return;
  OwnedString output(REALBuildStringWithEncoding(text, static_cast<int>(length), kREALTextEncodingUTF8));
  // The handler may replace the receiver; it must outlive its own event.
  OwnedObject keptReceiver = OwnedObject::Retain(receiver);
  ++consoleEventNesting;
  reinterpret_cast<void (*)(REALobjectStruct*, REALstringStruct*)>(data->handler)(receiver, output.get());
  --consoleEventNesting;
}

// sys.stdout.write(text): one event per call, synchronously on the host's
// thread; text written on Python's own threads waits for the host's thread.
PyObjectRef aview_write(PyObjectRef, PyObjectRef arguments) noexcept {
  const char* text = nullptr;
  if (!EPyArg_ParseTuple || !EPyArg_ParseTuple(arguments, "s", &text)) return nullptr;
  if (!OnHostThread()) {
    try {
      std::string line(text);
      const size_t bytes = line.size() + 1;  // an empty write counts too
      DeferTextToHostThread(bytes, [line = std::move(line)] { DeliverConsoleText(line.data(), line.size()); });
    } catch (...) {
      // Out of memory: the text is lost, never delivered on this thread.
    }
    return NewPythonNone();
  }
  if (consoleEventNesting >= kMaxConsoleEventNesting) {
    RaisePythonError(RecursionErrorEntry(), "ConsoleOutput events nested too deeply");
    return nullptr;
  }
  RunDeferredHostWork();  // earlier text from other threads comes first
  DeliverConsoleText(text, strlen(text));
  // A handler that set Python's error (Python3Engine.SetError) has it raised
  // in the code that wrote, as a host function returning Nil has.
  if (EPyErr_Occurred && EPyErr_Occurred()) return nullptr;
  return NewPythonNone();
}

// Every write is delivered at once, so there is nothing to flush.
PyObjectRef aview_flush(PyObjectRef, PyObjectRef) noexcept { return NewPythonNone(); }

PyMethodDef a_methods[] = {
    {"write", aview_write, METH_VARARGS, "Write something."},
    {"flush", aview_flush, METH_VARARGS, "doc for flush"},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef aview_module = {
    {{1, nullptr}, nullptr, 0, nullptr}, "aview", "doc for aview", -1, a_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyObjectRef CreateConsoleOutputModule() {
  return EPyModule_Create2 ? EPyModule_Create2(&aview_module, kPythonApiVersion) : nullptr;
}

// Nil stores no receiver; the one stored before is given back either way.
void Python_SetConsoleOutput(REALobjectStruct* output) { consoleOutputInstance.Retain(output); }

REALclassDefinition PythonEngineConsoleOutputClass =
    records::ClassRecord("Python3EngineConsoleOutput", nullptr, sizeof(PythonEngineConsoleOutputData))
        .describe("Receives what Python prints once passed to Python3Engine.SetConsoleOutput.")
        .initializer<PythonEngineConsoleOutput_Constructor>()
        .events(PythonEngineEvents);
