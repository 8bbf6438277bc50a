#include "PythonEngine/ConsoleOutput.h"

#include <cstring>

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonLoader.h"

REALobjectStruct* consoleOutputInstance = nullptr;

namespace {

REALevent PythonEngineEvents[] = {
    records::Event("ConsoleOutput(output as String)"),
};

PythonEngineConsoleOutputData* ConsoleOutputDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEngineConsoleOutputData*>(REALGetClassData(instance, &PythonEngineConsoleOutputClass));
}

void PythonEngineConsoleOutput_Constructor(REALobjectStruct* instance) {
  ConsoleOutputDataOf(instance)->handler = REALGetEventInstance(instance, &PythonEngineEvents[0]);
}

PyObjectRef None() { return EPy_BuildValue ? EPy_BuildValue("") : nullptr; }

// sys.stdout.write(text): one event per call, synchronously; returns None.
PyObjectRef aview_write(PyObjectRef, PyObjectRef arguments) noexcept {
  const char* text = nullptr;
  if (!EPyArg_ParseTuple || !EPyArg_ParseTuple(arguments, "s", &text)) return nullptr;
  if (REALobjectStruct* receiver = consoleOutputInstance) {
    PythonEngineConsoleOutputData* data = ConsoleOutputDataOf(receiver);
    if (!data->handler) data->handler = REALGetEventInstance(receiver, &PythonEngineEvents[0]);
    if (data->handler) {
      REALstringStruct* output =
          REALBuildStringWithEncoding(text, static_cast<int>(strlen(text)), kREALTextEncodingUTF8);
      // The handler may replace the receiver; it must outlive its own event.
      REALLockObject(receiver);
      reinterpret_cast<void (*)(REALobjectStruct*, REALstringStruct*)>(data->handler)(receiver, output);
      REALUnlockObject(receiver);
      if (output) REALUnlockString(output);
    }
  }
  // A handler that set Python's error (Python3Engine.SetError) has it raised
  // in the code that wrote, as a host function returning Nil has.
  if (EPyErr_Occurred && EPyErr_Occurred()) return nullptr;
  return None();
}

// Every write is delivered at once, so there is nothing to flush.
PyObjectRef aview_flush(PyObjectRef, PyObjectRef) noexcept { return None(); }

PyMethodDef a_methods[] = {
    {"write", aview_write, METH_VARARGS, "Write something."},
    {"flush", aview_flush, METH_VARARGS, "doc for flush"},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef aview_module = {
    {{1, nullptr}, nullptr, 0, nullptr}, "aview", "doc for aview", -1, a_methods, nullptr, nullptr, nullptr, nullptr,
};

// The API version handed to PyModule_Create2 with the definition.
constexpr int kPythonApiVersion = 3;

}  // namespace

PyObjectRef CreateConsoleOutputModule() {
  return EPyModule_Create2 ? EPyModule_Create2(&aview_module, kPythonApiVersion) : nullptr;
}

void Python_SetConsoleOutput(REALobjectStruct* output) {
  if (consoleOutputInstance) REALUnlockObject(consoleOutputInstance);
  consoleOutputInstance = nullptr;
  if (!output) return;
  REALLockObject(output);
  consoleOutputInstance = output;
}

REALclassDefinition PythonEngineConsoleOutputClass =
    records::ClassRecord("Python3EngineConsoleOutput", nullptr, sizeof(PythonEngineConsoleOutputData))
        .initializer(PythonEngineConsoleOutput_Constructor)
        .events(PythonEngineEvents);
