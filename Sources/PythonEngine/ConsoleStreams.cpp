// Installing Python's standard streams: console_streams.py, embedded at build
// time, run in the namespace of a new instance of the module its streams call.
#include "PythonEngine/ConsoleStreams.h"

#include "PythonEngine/ConsoleReceiver.h"
#include "PythonEngine/ConsoleStreamModule.h"
#include "PythonEngine/ConsoleStreamsSource.h"  // generated from console_streams.py
#include "PythonLibrary/PythonAbi.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/HostEntry.h"

void InstallConsoleStreams() noexcept {
  if (!HasPythonEntries(EPyModule_Create2, EPyModule_GetDict, EPyRun_StringFlags, EPyErr_Clear)) return;
  SetEndOfCallWork(&FlushPartialLines);
  SetThreadTextReceiver(&ReceiveThreadText);
  {
    const ScopedReference module = ScopedReference::Adopt(NewConsoleStreamModule());
    // Code run in a namespace without __builtins__ gets none before 3.8 (not even import).
    const ScopedReference builtins =
        ScopedReference::Adopt(module && EPyImport_ImportModule ? EPyImport_ImportModule("builtins") : nullptr);
    const bool ready = builtins && EPyObject_SetAttrString &&
                       EPyObject_SetAttrString(module.Get(), "__builtins__", builtins.Get()) == 0;
    PyObjectRef globals = ready ? EPyModule_GetDict(module.Get()) : nullptr;  // borrowed
    const ScopedReference ran = ScopedReference::Adopt(
        globals ? EPyRun_StringFlags(kConsoleStreamsSource, Py_file_input, globals, globals, nullptr) : nullptr);
  }
  EPyErr_Clear();  // without them, Python's own streams stay
}
