#include "PythonRuntime/Interrupts.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <thread>

#include "HostGlue.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"

namespace {

using Clock = std::chrono::steady_clock;

// Pending calls are added only while the interpreter accepts them: a start
// and a stop take this mutex, so none is added to an interpreter being
// finalized. Nothing waits for the interpreter lock while holding it.
std::mutex pendingMutex;
std::condition_variable pokersDone;
bool accepting = false;  // under pendingMutex
int pokers = 0;          // under pendingMutex: threads taking the lock to wake the host's thread

// The host call that runs Python code: 0 while none does; otherwise it
// counts the host calls that took the interpreter lock, so that a pending
// call made for one call does nothing in a later one.
std::atomic<uint64_t> callInPython{0};
uint64_t callsTakingTheLock = 0;  // under the interpreter lock

std::atomic<bool> interruptScheduled{false};
std::atomic<bool> yieldScheduled{false};
std::atomic<bool> wakeNeeded{false};
std::atomic<int64_t> yieldInterval{0};  // milliseconds; 0 for never
std::atomic<bool> watchdogStarted{false};
std::mutex watchdogMutex;  // only for waking the watchdog at once
std::condition_variable watchdogWake;

void StartWatchdog();

// Adds `function` to Python's pending calls for the current host call, once
// until it has run. From 3.9 to 3.12, a pending call added on a thread other
// than the interpreter's main one does not make the main thread look at its
// pending calls until it next takes the interpreter lock back from another
// thread (so it never does, in a loop that no other thread shares): the
// watchdog then takes the lock for a moment.
void SchedulePending(int (*function)(void*), std::atomic<bool>& scheduled) {
  {
    std::lock_guard<std::mutex> lock(pendingMutex);
    const uint64_t call = callInPython.load();
    if (!accepting || call == 0 || !EPy_AddPendingCall || scheduled.exchange(true)) return;
    if (EPy_AddPendingCall(function, reinterpret_cast<void*>(call)) != 0) {
      scheduled.store(false);
      return;
    }
  }
  if (!OnHostThread()) {
    {
      std::lock_guard<std::mutex> lock(watchdogMutex);
      wakeNeeded.store(true);
    }
    watchdogWake.notify_one();
    StartWatchdog();
  }
}

// Takes the interpreter lock and gives it back: the host's thread, asked to
// let go of it, looks at its pending calls as it takes it back.
void WakeTheHostThread() {
  {
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (!accepting || !HasPythonEntries(EPyGILState_Ensure, EPyGILState_Release)) return;
    ++pokers;
  }
  EPyGILState_Release(EPyGILState_Ensure());
  std::lock_guard<std::mutex> lock(pendingMutex);
  if (--pokers == 0) pokersDone.notify_all();
}

// Run by Python between two bytecodes, on the thread that started it.
bool ForTheCurrentCall(void* call) {
  return OnHostThread() && reinterpret_cast<uint64_t>(call) == callInPython.load() && !gPythonFinalizing;
}

int InterruptNow(void* call) noexcept {
  interruptScheduled.store(false);
  if (!ForTheCurrentCall(call) || !e__PyExc_KeyboardInterrupt || !*e__PyExc_KeyboardInterrupt || !EPyErr_SetObject)
    return 0;
  EPyErr_SetObject(*e__PyExc_KeyboardInterrupt, e__Py_NoneStruct);
  return -1;  // the error is raised in the code that runs
}

int YieldNow(void* call) noexcept {
  yieldScheduled.store(false);
  if (ForTheCurrentCall(call)) REALYieldToRB();  // host code run here is a nested entry of this call
  return 0;
}

// Asks for a yield whenever a host call has run Python code for an interval
// since it began or last yielded.
void WatchCalls() {
  uint64_t watched = 0;
  Clock::time_point since = Clock::now();
  for (;;) {
    const int64_t interval = yieldInterval.load();
    {
      std::unique_lock<std::mutex> lock(watchdogMutex);
      watchdogWake.wait_for(lock, std::chrono::milliseconds(interval > 0 ? std::min<int64_t>(interval, 10) : 10),
                            [] { return wakeNeeded.load(); });
    }
    if (wakeNeeded.exchange(false)) WakeTheHostThread();
    const uint64_t call = callInPython.load();
    const Clock::time_point now = Clock::now();
    if (call != watched) {
      watched = call;
      since = now;
      continue;
    }
    if (interval > 0 && call != 0 && now - since >= std::chrono::milliseconds(interval)) {
      since = now;
      SchedulePending(&YieldNow, yieldScheduled);
    }
  }
}

void StartWatchdog() {
  if (watchdogStarted.exchange(true)) return;
  try {
    std::thread(WatchCalls).detach();  // sleeps while no host call runs Python; lives for the process
  } catch (...) {
    watchdogStarted.store(false);
  }
}

PyObjectRef InterruptMain(PyObjectRef, PyObjectRef) noexcept {
  RequestInterrupt();
  return NewPythonNone();
}

PyMethodDef interruptMainDefinition = {
    "interrupt_main", InterruptMain, METH_VARARGS,
    "Interrupts the Python code that the application's current call runs with KeyboardInterrupt."};

}  // namespace

void RequestInterrupt() noexcept { SchedulePending(&InterruptNow, interruptScheduled); }

void SetYieldInterval(int64_t milliseconds) noexcept {
  yieldInterval.store(milliseconds > 0 ? milliseconds : 0);
  if (milliseconds > 0) StartWatchdog();
}

// At every host call's start and end: release stores, which cost no more
// than plain ones, as the watchdog and the pending calls only poll the value.
void NoteHostThreadInPython() noexcept { callInPython.store(++callsTakingTheLock, std::memory_order_release); }

void NoteHostThreadLeavesPython() noexcept { callInPython.store(0, std::memory_order_release); }

void AcceptInterrupts() noexcept {
  std::lock_guard<std::mutex> lock(pendingMutex);
  accepting = true;
}

// With the interpreter lock held: a thread that is taking it to wake the host's
// thread gets it first, as the interpreter must not stop under it.
void RefuseInterrupts() noexcept {
  std::unique_lock<std::mutex> lock(pendingMutex);
  accepting = false;
  if (pokers == 0 || !HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread)) return;
  PyThreadState* state = EPyEval_SaveThread();
  pokersDone.wait(lock, [] { return pokers == 0; });
  lock.unlock();
  EPyEval_RestoreThread(state);
}

void InstallInterruptHooks() noexcept {
  if (!HasPythonEntries(EPyImport_ImportModule, EPyCFunction_NewEx, EPyObject_SetAttrString, EPyErr_Clear)) return;
  PyObjectRef threadModule = EPyImport_ImportModule("_thread");
  PyObjectRef function = threadModule ? EPyCFunction_NewEx(&interruptMainDefinition, nullptr, nullptr) : nullptr;
  if (function) EPyObject_SetAttrString(threadModule, "interrupt_main", function);
  for (PyObjectRef object : {function, threadModule})
    if (object) ReleasePythonRef(object);
  EPyErr_Clear();
}
