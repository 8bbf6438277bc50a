// The members of Interrupts.h: the record of each host call in Python, the watchdog thread that asks for
// yields and sends other threads' interrupts, and the replaced interrupt_main and raise_signal.

#include "PythonRuntime/Interrupts.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "HostGlue.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonRuntime/HostCallRecords.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"

namespace host_calls {

uint64_t gCallsTakingTheLock = 0;
std::atomic<uint64_t> gCallInPython{0};

}  // namespace host_calls

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTraceCall = 0;     // PyTrace_CALL
constexpr int kTraceLine = 2;     // PyTrace_LINE
constexpr int kSignalCount = 65;  // Python's Py_NSIG on Linux: signals 1 to 64

// Pending calls are added, and the watchdog takes the interpreter lock, only
// while the interpreter accepts them: a start and a stop take this mutex, so
// none reaches an interpreter being finalized. Nothing waits for the
// interpreter lock while holding it.
std::mutex gPendingMutex;
alignas(std::condition_variable) unsigned char gPokersDoneStorage[sizeof(std::condition_variable)];
std::condition_variable& gPokersDone = *::new (gPokersDoneStorage) std::condition_variable;
bool gAccepting = false;  // under pendingMutex
int gPokers = 0;          // under pendingMutex: threads holding or taking the interpreter lock for us

using host_calls::gCallInPython;
using host_calls::gCallsTakingTheLock;
using host_calls::HostCall;
std::atomic<HostCall*> gHostCalls{nullptr};
std::atomic<unsigned long> gMainIdent{0};

std::atomic<bool> gInterruptScheduled{false};
std::atomic<bool> gSignalScheduled{false};
std::atomic<bool> gYieldScheduled{false};
std::atomic<uint64_t> gTrippedSignals{0};  // bit signum - 1, by _thread.interrupt_main and raise_signal
std::atomic<bool> gWakeNeeded{false};
std::atomic<int64_t> gYieldInterval{0};  // milliseconds; 0 for never
std::atomic<bool> gWatchdogStarted{false};
// Condition variables that threads living for the process wait on are never
// destroyed: the process's exit would wait for their waiters for ever.
std::mutex gWatchdogMutex;  // only for waking the watchdog at once
alignas(std::condition_variable) unsigned char gWatchdogWakeStorage[sizeof(std::condition_variable)];
std::condition_variable& gWatchdogWake = *::new (gWatchdogWakeStorage) std::condition_variable;

// SIGINT's disposition as the application had it when the interpreter started.
struct sigaction gStartDisposition;
bool gStartDispositionKnown = false;

unsigned long ThisThreadIdent() { return static_cast<unsigned long>(pthread_self()); }

void StartWatchdog();

void WakeWatchdog() {
  {
    std::lock_guard<std::mutex> lock(gWatchdogMutex);
    gWakeNeeded.store(true);
  }
  gWatchdogWake.notify_one();
  StartWatchdog();
}

// Adds `function` to Python's pending calls for the current call of the
// interpreter's thread, once until it has run; false when that thread runs
// no call. From 3.9 to 3.12, a pending call added on another thread does not
// make the interpreter's thread look at its pending calls until it next takes
// the interpreter lock back from another thread (so it never does, in a loop
// that no other thread shares): the watchdog then takes the lock for a moment.
bool SchedulePending(int (*function)(void*), std::atomic<bool>& scheduled) {
  {
    std::lock_guard<std::mutex> lock(gPendingMutex);
    const uint64_t call = gCallInPython.load();
    if (!gAccepting || call == 0 || !EPy_AddPendingCall) return false;
    if (scheduled.exchange(true)) return true;
    if (EPy_AddPendingCall(function, reinterpret_cast<void*>(call)) != 0) {
      scheduled.store(false);
      return false;
    }
  }
  const HostCall* own = host_entries::tEntries.call;
  if (!own || !own->mainThread.load(std::memory_order_relaxed)) WakeWatchdog();
  return true;
}

// Runs `work` holding the interpreter lock, taken on this (the watchdog's)
// thread; nothing while the interpreter is not accepting.
template <typename Work>
void WithInterpreterLock(Work work) {
  {
    std::lock_guard<std::mutex> lock(gPendingMutex);
    if (!gAccepting || !HasPythonEntries(EPyGILState_Ensure, EPyGILState_Release)) return;
    ++gPokers;
  }
  const PyGILState_STATE state = EPyGILState_Ensure();
  work();
  EPyGILState_Release(state);
  std::lock_guard<std::mutex> lock(gPendingMutex);
  if (--gPokers == 0) gPokersDone.notify_all();
}

// Run by Python between two bytecodes, on the interpreter's thread.
bool ForTheCurrentCall(void* call) {
  return OnHostThread() && reinterpret_cast<uint64_t>(call) == gCallInPython.load() && !gPythonFinalizing;
}

// Host code run at a yield may leave an error of its own (a refused
// Finalize, a SetError nobody cleared): it is the host's to read and clear
// there; what is left is dropped, and the running code goes on as it was.
void YieldKeepingErrorState() {
  if (!HasPythonEntries(EPyErr_Fetch, EPyErr_Restore, EPyErr_Clear)) return REALYieldToRB();
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  REALYieldToRB();
  EPyErr_Clear();
  EPyErr_Restore(type, value, traceback);
}

// The handler Python code set for `signum` (_signal.getsignal): a callable,
// an int for SIG_DFL (0) or SIG_IGN (1), or None for one set outside
// Python; null, with no error, when it cannot be read.
PyObjectRef PythonHandlerOf(int signum) {
  if (!HasPythonEntries(EPyImport_ImportModule, EPyObject_GetAttrString, EPy_BuildValue, EPyObject_CallObject,
                        EPyErr_Clear))
    return nullptr;
  PyObjectRef handler = nullptr;
  {
    const ScopedReference module = ScopedReference::Adopt(EPyImport_ImportModule("_signal"));
    const ScopedReference getsignal =
        ScopedReference::Adopt(module ? EPyObject_GetAttrString(module.Get(), "getsignal") : nullptr);
    const ScopedReference arguments = ScopedReference::Adopt(getsignal ? EPy_BuildValue("(i)", signum) : nullptr);
    handler = arguments ? EPyObject_CallObject(getsignal.Get(), arguments.Get()) : nullptr;
  }
  if (!handler) EPyErr_Clear();
  return handler;
}

bool IsHandlerNumber(PyObjectRef handler, long number) {
  return IsPythonInt(handler) && EPyLong_AsLong && EPyLong_AsLong(handler) == number;
}
bool IsIgnored(PyObjectRef handler) { return IsHandlerNumber(handler, 1); }  // SIG_IGN
bool IsDefault(PyObjectRef handler) { return IsHandlerNumber(handler, 0); }  // SIG_DFL

// Calls a Python handler as Python calls it for a signal: (signum, the
// running frame). 0, or -1 with its error set.
int RunHandler(PyObjectRef handler, int signum) {
  if (!HasPythonEntries(EPy_BuildValue, EPyObject_CallObject) || !e__Py_NoneStruct) return 0;
  PyObjectRef frame = EPyEval_GetFrame ? EPyEval_GetFrame() : nullptr;  // borrowed
  const ScopedReference arguments =
      ScopedReference::Adopt(EPy_BuildValue("(iO)", signum, frame ? frame : e__Py_NoneStruct));
  if (!arguments) return -1;
  const ScopedReference result = ScopedReference::Adopt(EPyObject_CallObject(handler, arguments.Get()));
  return result ? 0 : -1;
}

int RaiseKeyboardInterrupt() {
  if (!e__PyExc_KeyboardInterrupt || !*e__PyExc_KeyboardInterrupt || !EPyErr_SetObject) return 0;
  EPyErr_SetObject(*e__PyExc_KeyboardInterrupt, e__Py_NoneStruct);
  return -1;  // the error is raised in the code that runs
}

// Python3Engine.Interrupt on the interpreter's thread: Ctrl-C as a
// standalone Python takes it, except that SIG_DFL, or a handler set outside
// Python, raises KeyboardInterrupt rather than ending anything.
int InterruptNow(void* call) noexcept {
  gInterruptScheduled.store(false);
  if (!ForTheCurrentCall(call)) return 0;
  const ScopedReference handler = ScopedReference::Adopt(PythonHandlerOf(SIGINT));
  if (IsIgnored(handler.Get())) return 0;
  if (IsPythonCallable(handler.Get())) return RunHandler(handler.Get(), SIGINT);
  return RaiseKeyboardInterrupt();
}

// Signals simulated by _thread.interrupt_main and raise_signal: each runs
// the handler that Python code has set for it when it arrives.
int SignalNow(void* call) noexcept {
  gSignalScheduled.store(false);
  uint64_t tripped = gTrippedSignals.exchange(0);
  if (!ForTheCurrentCall(call)) return 0;
  for (int signum = 1; signum < kSignalCount && tripped != 0; ++signum) {
    const uint64_t bit = uint64_t{1} << (signum - 1);
    if (!(tripped & bit)) continue;
    tripped &= ~bit;
    const ScopedReference handler = ScopedReference::Adopt(PythonHandlerOf(signum));
    int result = 0;
    if (IsPythonCallable(handler.Get())) {
      result = RunHandler(handler.Get(), signum);
    } else if (!handler && signum == SIGINT) {
      result = RaiseKeyboardInterrupt();
    } else if (handler && !IsIgnored(handler.Get()) && !IsDefault(handler.Get()) && e__PyExc_OSError &&
               *e__PyExc_OSError && EPyErr_WriteUnraisable) {
      // Its handler was changed to one outside Python since it was asked for.
      char message[64];
      std::snprintf(message, sizeof message, "Signal %i ignored due to race condition", signum);
      RaisePythonError(e__PyExc_OSError, message);
      EPyErr_WriteUnraisable(e__Py_NoneStruct);
    }
    if (result < 0) return -1;  // as Python does, what else was tripped is not handled
  }
  return 0;
}

void TripSignal(int signum) {
  const uint64_t bit = uint64_t{1} << (signum - 1);
  gTrippedSignals.fetch_or(bit);
  if (!SchedulePending(&SignalNow, gSignalScheduled)) gTrippedSignals.fetch_and(~bit);
}

int YieldNow(void* call) noexcept {
  gYieldScheduled.store(false);
  if (ForTheCurrentCall(call)) YieldKeepingErrorState();  // host code run here is a nested entry of this call
  return 0;
}

// On another host thread, the yields come from this trace function, which
// Python calls at every line and function call of that thread.
int TraceForYields(PyObjectRef, PyObjectRef, int what, PyObjectRef) noexcept {
  HostCall* own = host_entries::tEntries.call;
  if (own && (what == kTraceLine || what == kTraceCall) && own->yieldDue.load(std::memory_order_relaxed)) {
    own->yieldDue.store(false, std::memory_order_relaxed);
    YieldKeepingErrorState();
  }
  return 0;
}

// Whether Python code traces this thread (sys.settrace, a debugger): we
// then neither install ours nor remove theirs. Python's error state is kept.
bool PythonTracesThisThread() {
  PyObjectRef gettrace = EPySys_GetObject("gettrace");  // borrowed
  const ScopedReference trace = ScopedReference::Adopt(gettrace ? EPyObject_CallObject(gettrace, nullptr) : nullptr);
  return !trace || !IsPythonNone(trace.Get());
}

void SetTraceForYields(HostCall* own, bool install) {
  if (!HasPythonEntries(EPyEval_SetTrace, EPySys_GetObject, EPyObject_CallObject, EPyErr_Fetch, EPyErr_Restore,
                        EPyErr_Clear))
    return;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  if (!PythonTracesThisThread()) {
    EPyEval_SetTrace(install ? &TraceForYields : nullptr, nullptr);
    own->traced = install;
  }
  EPyErr_Clear();
  EPyErr_Restore(type, value, traceback);
}

// An interrupt for another host thread's call: KeyboardInterrupt raised in
// that thread at its next bytecode, if the call is still the one aimed at.
// With the interpreter lock held.
void SendInterrupts() {
  if (!EPyThreadState_SetAsyncExc || !e__PyExc_KeyboardInterrupt || !*e__PyExc_KeyboardInterrupt) return;
  for (HostCall* record = gHostCalls.load(std::memory_order_acquire); record; record = record->next) {
    const uint64_t aimed = record->interruptFor.exchange(0);
    if (aimed == 0 || aimed != record->call.load() || record->mainThread.load()) continue;
    if (EPyThreadState_SetAsyncExc(record->ident.load(), *e__PyExc_KeyboardInterrupt) > 0)
      record->interruptSent.store(true);
  }
}

bool InterruptsToSend() {
  for (HostCall* record = gHostCalls.load(std::memory_order_acquire); record; record = record->next)
    if (record->interruptFor.load() != 0) return true;
  return false;
}

// Asks for a yield whenever a host call has run Python code for an interval
// since it began or last yielded, and sends the interrupts of other threads.
void WatchCalls() {
  for (;;) {
    const int64_t interval = gYieldInterval.load();
    {
      std::unique_lock<std::mutex> lock(gWatchdogMutex);
      gWatchdogWake.wait_for(lock, std::chrono::milliseconds(interval > 0 ? std::min<int64_t>(interval, 10) : 10),
                             [] { return gWakeNeeded.load(); });
    }
    if (gWakeNeeded.exchange(false)) {
      // Taking the lock wakes the interpreter's thread for its pending calls.
      WithInterpreterLock([] { SendInterrupts(); });
    } else if (InterruptsToSend()) {
      WithInterpreterLock([] { SendInterrupts(); });
    }
    const Clock::time_point now = Clock::now();
    for (HostCall* record = gHostCalls.load(std::memory_order_acquire); record; record = record->next) {
      const uint64_t call = record->call.load(std::memory_order_acquire);
      if (call != record->watched) {
        record->watched = call;
        record->since = now;
        continue;
      }
      if (interval <= 0 || call == 0 || now - record->since < std::chrono::milliseconds(interval)) continue;
      record->since = now;
      if (record->mainThread.load())
        SchedulePending(&YieldNow, gYieldScheduled);
      else
        record->yieldDue.store(true);
    }
  }
}

void StartWatchdog() {
  if (gWatchdogStarted.exchange(true)) return;
  try {
    std::thread(WatchCalls).detach();  // sleeps while no host call runs Python; lives for the process
  } catch (const std::exception&) {
    gWatchdogStarted.store(false);
  }
}

// _thread.interrupt_main as CPython documents it: from 3.10 it takes a signal
// number (SIGINT by default) and checks its range; a signal whose Python
// handler is SIG_IGN or SIG_DFL is not simulated at all. The handler runs on
// the interpreter's thread, in the host's call.
PyObjectRef InterruptMain(PyObjectRef, PyObjectRef arguments) noexcept {
  int signum = SIGINT;
  if (arguments && (!EPyArg_ParseTuple || !EPyArg_ParseTuple(arguments, "|i:interrupt_main", &signum))) return nullptr;
  if (signum < 1 || signum >= kSignalCount) {
    RaisePythonError(e__PyExc_ValueError, "signal number out of range");
    return nullptr;
  }
  const ScopedReference handler = ScopedReference::Adopt(PythonHandlerOf(signum));
  if (!IsIgnored(handler.Get()) && !IsDefault(handler.Get()) && (handler || signum == SIGINT)) TripSignal(signum);
  return NewPythonNone();
}

// signal.raise_signal(SIGINT): the process's own SIGINT disposition is the
// application's, so a SIGINT that Python handles is simulated as
// interrupt_main does (at once on the interpreter's thread); anything else
// goes to the library's raise_signal, held as this function's self.
PyObjectRef RaiseSignal(PyObjectRef original, PyObjectRef arguments) noexcept {
  int signum = 0;
  if (!EPyArg_ParseTuple || !EPyArg_ParseTuple(arguments, "i:raise_signal", &signum)) return nullptr;
  if (signum == SIGINT) {
    const ScopedReference handler = ScopedReference::Adopt(PythonHandlerOf(SIGINT));
    if (IsPythonCallable(handler.Get())) {
      const HostCall* own = host_entries::tEntries.call;
      int result = 0;
      if (own && own->mainThread.load())
        result = RunHandler(handler.Get(), SIGINT);
      else
        TripSignal(SIGINT);
      return result < 0 ? nullptr : NewPythonNone();
    }
  }
  return EPyObject_CallObject ? EPyObject_CallObject(original, arguments) : nullptr;
}

PyMethodDef gInterruptMainDefinition = {
    "interrupt_main", InterruptMain, METH_VARARGS,
    "Simulates the arrival of a signal (SIGINT by default) in the application's current call."};
PyMethodDef gInterruptMainNoArgumentsDefinition = {
    "interrupt_main", InterruptMain, METH_NOARGS, "Simulates the arrival of SIGINT in the application's current call."};
PyMethodDef gRaiseSignalDefinition = {"raise_signal", RaiseSignal, METH_VARARGS, "Sends a signal to the process."};

// Sets module.name to a new function of `definition`, with `self`.
void Replace(PyObjectRef module, const char* name, PyMethodDef* definition, PyObjectRef self) {
  if (const ScopedReference function = ScopedReference::Adopt(EPyCFunction_NewEx(definition, self, nullptr)))
    EPyObject_SetAttrString(module, name, function.Get());
}

// SIGINT's Python handler becomes default_int_handler, as in a standalone
// Python, whatever the application's disposition; importing _signal and
// setting it install Python's C handler, which is taken out again at once:
// the process keeps its own disposition. raise_signal is replaced before the
// signal module, imported later, copies it.
void SetUpSigint() {
  gStartDispositionKnown = sigaction(SIGINT, nullptr, &gStartDisposition) == 0;
  if (const ScopedReference module = ScopedReference::Adopt(EPyImport_ImportModule("_signal"))) {
    {
      const ScopedReference handler =
          ScopedReference::Adopt(EPyObject_GetAttrString(module.Get(), "default_int_handler"));
      const ScopedReference setter =
          ScopedReference::Adopt(handler ? EPyObject_GetAttrString(module.Get(), "signal") : nullptr);
      const ScopedReference arguments =
          ScopedReference::Adopt(setter ? EPy_BuildValue("(iO)", SIGINT, handler.Get()) : nullptr);
      const ScopedReference previous =
          ScopedReference::Adopt(arguments ? EPyObject_CallObject(setter.Get(), arguments.Get()) : nullptr);
    }
    EPyErr_Clear();
    // raise_signal: 3.8 and later
    if (const ScopedReference original = ScopedReference::Adopt(EPyObject_GetAttrString(module.Get(), "raise_signal")))
      Replace(module.Get(), "raise_signal", &gRaiseSignalDefinition, original.Get());
  }
  EPyErr_Clear();
  if (gStartDispositionKnown) sigaction(SIGINT, &gStartDisposition, nullptr);
}

HostCall* ClaimHostCall() {
  if (HostCall* last = host_entries::tEntries.lastCall; last && last->call.load(std::memory_order_relaxed) == 0)
    return last;
  for (HostCall* record = gHostCalls.load(std::memory_order_acquire); record; record = record->next)
    if (record->call.load(std::memory_order_relaxed) == 0) return record;
  HostCall* record = new (std::nothrow) HostCall;
  if (!record) return nullptr;
  record->next = gHostCalls.load(std::memory_order_relaxed);
  gHostCalls.store(record, std::memory_order_release);
  return record;
}

}  // namespace

void RequestInterrupt() noexcept {
  SchedulePending(&InterruptNow, gInterruptScheduled);
  bool others = false;
  for (HostCall* record = gHostCalls.load(std::memory_order_acquire); record; record = record->next) {
    const uint64_t call = record->call.load(std::memory_order_acquire);
    if (call == 0 || record->mainThread.load()) continue;
    record->interruptFor.store(call);
    others = true;
  }
  if (others) WakeWatchdog();
}

void SetYieldInterval(int64_t milliseconds) noexcept {
  gYieldInterval.store(milliseconds > 0 ? milliseconds : 0);
  if (milliseconds > 0) StartWatchdog();
}

// At every host call's start and end, under the interpreter lock: plain
// stores for the thread that started the interpreter (the watchdog and the
// pending calls only poll them); another thread's call may install or
// remove the trace function of its yields.
void NoteHostThreadInPython() noexcept {
  host_entries::ThreadEntries& entries = host_entries::tEntries;
  const uint64_t call = ++gCallsTakingTheLock;
  HostCall* own = entries.call ? entries.call : ClaimHostCall();
  entries.call = own;
  if (!own) return;
  const unsigned long ident = ThisThreadIdent();
  const bool main = ident == gMainIdent.load(std::memory_order_relaxed);
  own->ident.store(ident, std::memory_order_relaxed);
  own->mainThread.store(main, std::memory_order_relaxed);
  own->call.store(call, std::memory_order_release);
  if (main)
    gCallInPython.store(call, std::memory_order_release);
  else if (gYieldInterval.load(std::memory_order_relaxed) > 0 && gPythonInitialized && !gPythonFinalizing)
    SetTraceForYields(own, true);
}

void NoteHostThreadLeavesPython() noexcept {
  host_entries::ThreadEntries& entries = host_entries::tEntries;
  HostCall* own = entries.call;
  if (!own) return;
  entries.call = nullptr;
  entries.lastCall = own;
  const bool live = gPythonInitialized && !gPythonFinalizing;
  if (own->mainThread.load(std::memory_order_relaxed)) {
    gCallInPython.store(0, std::memory_order_release);
  } else {
    if (own->traced) {
      own->traced = false;
      if (live) SetTraceForYields(own, false);
    }
    own->interruptFor.store(0);
    // A KeyboardInterrupt sent too late for this call is not kept for the next.
    if (own->interruptSent.exchange(false) && live && EPyThreadState_SetAsyncExc)
      EPyThreadState_SetAsyncExc(own->ident.load(), nullptr);
    own->yieldDue.store(false, std::memory_order_relaxed);
  }
  own->call.store(0, std::memory_order_release);
}

void AcceptInterrupts() noexcept {
  std::lock_guard<std::mutex> lock(gPendingMutex);
  gAccepting = true;
}

// With the interpreter lock held: a thread that is taking it for us gets it
// first, as the interpreter must not stop under it.
void RefuseInterrupts() noexcept {
  std::unique_lock<std::mutex> lock(gPendingMutex);
  gAccepting = false;
  if (gPokers == 0 || !HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread)) return;
  PyThreadState* state = EPyEval_SaveThread();
  gPokersDone.wait(lock, [] { return gPokers == 0; });
  lock.unlock();
  EPyEval_RestoreThread(state);
}

void InstallInterruptHooks() noexcept {
  // This thread started the interpreter: Python runs its pending calls here.
  gMainIdent.store(ThisThreadIdent());
  if (HostCall* own = host_entries::tEntries.call) {
    own->mainThread.store(true);
    gCallInPython.store(own->call.load());
  }
  if (!HasPythonEntries(EPyImport_ImportModule, EPyCFunction_NewEx, EPyObject_SetAttrString, EPyObject_GetAttrString,
                        EPyObject_CallObject, EPy_BuildValue, EPySys_GetObject, EPyErr_Clear))
    return;
  SetUpSigint();
  if (const ScopedReference threadModule = ScopedReference::Adopt(EPyImport_ImportModule("_thread"))) {
    // Before 3.10 it takes no argument.
    Replace(threadModule.Get(), "interrupt_main",
            LoadedLibraryMinorVersion() >= 10 ? &gInterruptMainDefinition : &gInterruptMainNoArgumentsDefinition,
            nullptr);
  }
  EPyErr_Clear();
}

void RestoreSigintDisposition() noexcept {
  if (gStartDispositionKnown) sigaction(SIGINT, &gStartDisposition, nullptr);
}
