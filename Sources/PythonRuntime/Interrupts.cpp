#include "PythonRuntime/Interrupts.h"

#include <pthread.h>

#include <initializer_list>

#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"

namespace {

// Both under the interpreter lock.
unsigned long interruptTarget = 0;  // the host thread whose call runs Python code; 0 for none
bool interruptSent = false;         // an exception is on its way to interruptTarget

unsigned long CurrentThreadId() { return static_cast<unsigned long>(pthread_self()); }

PyObjectRef InterruptMain(PyObjectRef, PyObjectRef) noexcept {
  RequestInterrupt();
  return NewPythonNone();
}

PyMethodDef interruptMainDefinition = {
    "interrupt_main", InterruptMain, METH_VARARGS,
    "Interrupts the Python code that the application's current call runs with KeyboardInterrupt."};

}  // namespace

void RequestInterrupt() noexcept {
  if (!interruptTarget || !EPyThreadState_SetAsyncExc || !e__PyExc_KeyboardInterrupt || !*e__PyExc_KeyboardInterrupt)
    return;
  if (EPyThreadState_SetAsyncExc(interruptTarget, *e__PyExc_KeyboardInterrupt) == 1) interruptSent = true;
}

void NoteHostThreadInPython() noexcept { interruptTarget = CurrentThreadId(); }

void NoteHostThreadLeavesPython() noexcept {
  if (interruptSent && EPyThreadState_SetAsyncExc && interruptTarget)
    EPyThreadState_SetAsyncExc(interruptTarget, nullptr);
  interruptSent = false;
  interruptTarget = 0;
}

void ForgetInterrupts() noexcept {
  interruptSent = false;
  interruptTarget = 0;
}

void InstallInterruptHooks() noexcept {
  if (!EPyImport_ImportModule || !EPyCFunction_NewEx || !EPyObject_SetAttrString || !EPyErr_Clear) return;
  PyObjectRef threadModule = EPyImport_ImportModule("_thread");
  PyObjectRef function = threadModule ? EPyCFunction_NewEx(&interruptMainDefinition, nullptr, nullptr) : nullptr;
  if (function) EPyObject_SetAttrString(threadModule, "interrupt_main", function);
  for (PyObjectRef object : {function, threadModule})
    if (object) ReleasePythonRef(object);
  EPyErr_Clear();
}
