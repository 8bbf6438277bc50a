// The members of HostEntry.h: taking and giving back the interpreter lock, keeping it between calls while
// no other thread wants it, and the background task that delivers what waits while the application idles.

#include "PythonRuntime/HostEntry.h"

#include <chrono>
#include <utility>

#include "HostGlue.h"

#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonRuntime/Interrupts.h"
#include "PythonRuntime/VisibleState.h"

namespace {

// Host threads whose entries hold the interpreter lock, or keep it between
// calls: each may be running Python code, or waiting inside it for another
// thread. A kept lock stays counted, as no other thread can look while it is
// kept. Changed only by a thread holding the interpreter lock, so a load and
// a store do, with no locked instruction; other threads read it.
std::atomic<int> gHostThreadsInPython{0};

void CountHostThreadsInPython(int change) {
  gHostThreadsInPython.store(gHostThreadsInPython.load(std::memory_order_relaxed) + change, std::memory_order_relaxed);
  if (change > 0) WakeWaitingWriters();
}

// Once a host thread other than the one the background task ticks on has
// taken the lock, the application calls Python from several of its threads:
// from then on no thread keeps the lock (kBarredBySeveralHostThreads), so
// none waits a tick for it.
std::atomic<bool> gBackgroundTicked{false};

void Bar(uint32_t reason, bool barred) {
  if (barred)
    host_entries::gKeepingBarred.fetch_or(reason, std::memory_order_acq_rel);
  else
    host_entries::gKeepingBarred.fetch_and(~reason, std::memory_order_acq_rel);
}

using host_entries::gAloneInterpreter;
using host_entries::gAloneThreadState;

void ForgetAloneThreadState() {
  gAloneInterpreter = nullptr;
  gAloneThreadState = nullptr;
}

// True when the interpreters have one thread state in all.
bool OnlyOneThreadState() {
  if (gAloneThreadState && EPyInterpreterState_Head() == gAloneInterpreter &&
      EPyInterpreterState_ThreadHead(gAloneInterpreter) == gAloneThreadState)
    return true;
  ForgetAloneThreadState();
  if (!HasPythonEntries(EPyInterpreterState_Head, EPyInterpreterState_Next, EPyInterpreterState_ThreadHead,
                        EPyThreadState_Next))
    return false;
  PyInterpreterState* interpreter = EPyInterpreterState_Head();
  if (!interpreter || EPyInterpreterState_Next(interpreter)) return false;
  PyThreadState* first = EPyInterpreterState_ThreadHead(interpreter);
  if (!first || EPyThreadState_Next(first)) return false;
  gAloneInterpreter = interpreter;
  gAloneThreadState = first;
  return true;
}

// Whether the current thread, holding the interpreter lock at the end of its
// outermost entry, may keep it: no other thread could be waiting for it (a
// thread needs a thread state of its own to wait), and a tick of the
// background task will come on this thread to hand it over to one that
// appears. A thread state made while this looks is found by that tick.
bool MayKeepTheLock(const host_entries::ThreadEntries& entries) {
  return entries.backgroundTicks && host_entries::gKeepingBarred.load(std::memory_order_acquire) == 0 &&
         !gPythonFinalizing && OnlyOneThreadState();
}

}  // namespace

namespace host_entries {

__thread ThreadEntries tEntries __attribute__((tls_model("initial-exec")));
std::atomic<bool> gHasDeferredWork{false};
void (*gEndOfCallWork)() = nullptr;
bool gEndOfCallWorkWaits = false;
// Barred until the background task is registered: no tick would hand the lock over.
std::atomic<uint32_t> gKeepingBarred{kBarredWithoutBackgroundTask};

// The interpreter and thread state that the last walk found alone, kept while
// the lock stays on the thread that keeps it. CPython puts a new interpreter
// and a new thread state at the head of its list, so while both heads are
// still these, no other has appeared since and the lists need no walk. Set
// and cleared under the interpreter lock; cleared whenever the lock is given
// back, as this thread's state may then be deleted and another made at its
// address.
PyInterpreterState* gAloneInterpreter = nullptr;
PyThreadState* gAloneThreadState = nullptr;

void TakeInterpreterLock(ThreadEntries& entries) noexcept {
  if (!gPythonInitialized || !HasPythonEntries(EPyGILState_Ensure, EPyGILState_Release)) return;
  if (!entries.backgroundTicks && gBackgroundTicked.load(std::memory_order_relaxed) &&
      !(gKeepingBarred.load(std::memory_order_relaxed) & kBarredBySeveralHostThreads))
    Bar(kBarredBySeveralHostThreads, true);
  entries.gilState = EPyGILState_Ensure();
  entries.lockHeld = LockHeld::Ensured;
  CountHostThreadsInPython(+1);
  NoteHostThreadInPython();
}

// The kept lock is still counted in gHostThreadsInPython.
void GoOnWithKeptLock(ThreadEntries& entries) noexcept {
  entries.lockKept = false;
  // The interpreter cannot have stopped under a kept lock; should it have, the lock went with it.
  if (!gPythonInitialized || entries.keptFor != CurrentInterpreter()) {
    entries.lockHeld = LockHeld::None;
    CountHostThreadsInPython(-1);
    return;
  }
  NoteHostThreadInPython();
}

void GiveBackInterpreterLock(ThreadEntries& entries) noexcept {
  LockHeld held = entries.lockHeld;
  const host_calls::HostCall* own = entries.call;
  NoteHostThreadLeavesPython();
  if (gPythonInitialized && MayKeepTheLock(entries)) {
    entries.lockKept = true;
    entries.keptFor = CurrentInterpreter();
    // The interpreter's own thread goes on and keeps the lock inline from
    // now on: its calls need no trace function for yields, and no other
    // thread can claim its record while it keeps the lock.
    entries.keepsInline = own && own->mainThread.load(std::memory_order_relaxed);
    return;
  }
  entries.keepsInline = false;
  CountHostThreadsInPython(-1);
  entries.lockHeld = LockHeld::None;
  ForgetAloneThreadState();
  if (!gPythonInitialized) return;
  if (held == LockHeld::Ensured)
    EPyGILState_Release(entries.gilState);
  else if (held == LockHeld::Started && EPyEval_SaveThread)
    EPyEval_SaveThread();  // the thread keeps its state; PyGILState_Ensure finds it again
}

}  // namespace host_entries

using namespace host_entries;

void HoldInterpreterLock() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.depth > 0 && entries.lockHeld == LockHeld::None) TakeInterpreterLock(entries);
}

void NoteInterpreterStarted() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.depth > 0 && entries.lockHeld == LockHeld::None) {
    entries.lockHeld = LockHeld::Started;
    CountHostThreadsInPython(+1);
    NoteHostThreadInPython();
  }
}

void NoteInterpreterFinalized() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.lockHeld != LockHeld::None) CountHostThreadsInPython(-1);
  entries.lockHeld = LockHeld::None;
  entries.lockKept = false;
  entries.keepsInline = false;
  ForgetAloneThreadState();
  NoteHostThreadLeavesPython();
  WakeWaitingWriters();  // writers left from the old interpreter stop waiting
}

// Counted in gKeepingBarred above its flags: modulo 2^32, so a count that
// falls below zero for a moment only bars keeping the lock for that moment.
void NoteLockWantedByPluginThreads(int change) noexcept {
  gKeepingBarred.fetch_add(static_cast<uint32_t>(change) * kBarredPerPluginThread, std::memory_order_acq_rel);
}

bool HostThreadsRunPython() noexcept { return gHostThreadsInPython.load(std::memory_order_relaxed) > 0; }

void RunDeferredHostWork() noexcept { RunDeferredHostWork(tEntries, false); }

void SetEndOfCallWork(void (*work)()) noexcept { gEndOfCallWork = work; }

namespace {

constexpr uint32_t kBackgroundPeriodMilliseconds = 50;
constexpr uint32_t kCatchUpPeriodMilliseconds = 1;
int32_t gBackgroundTask = -1;  // the host's id of the registered task; -1 for none
bool gCatchingUp = false;      // the task comes at once: Python's threads are printing

void DeliverInBackground(void*) noexcept;

// Every change of gBackgroundTask goes through here.
void SetBackgroundTask(int32_t task) {
  gBackgroundTask = task;
  Bar(kBarredWithoutBackgroundTask, task < 0);
}

void RegisterBackgroundTask(bool atOnce) {
  if (gBackgroundTask >= 0) REALUnregisterBackgroundTask(std::exchange(gBackgroundTask, -1));
  gCatchingUp = atOnce;
  SetBackgroundTask(REALRegisterBackgroundTask(
      &DeliverInBackground, atOnce ? kCatchUpPeriodMilliseconds : kBackgroundPeriodMilliseconds, nullptr));
}

// Called by the host's run loop while the application idles: an outermost
// host call of its own, which takes what other threads queued and, at its
// exit, gives a kept lock to any thread that has come to want it.
void DeliverInBackground(void*) noexcept {
  ThreadEntries& entries = tEntries;
  entries.backgroundTicks = true;
  gBackgroundTicked.store(true, std::memory_order_relaxed);
  const bool outermost = entries.depth == 0;
  const bool anythingQueued = gHasDeferredWork.load(std::memory_order_acquire);
  if (outermost) entries.ticking = true;
  { HostEntry entry(HostEntry::Lock::OnDemand); }
  if (outermost) entries.ticking = false;
  if (gCatchingUp && !anythingQueued && gBackgroundTask >= 0) RegisterBackgroundTask(false);  // the printing stopped
}

// While Python's threads print, the run loop comes back at once, on the
// thread it ticks on (the other host threads leave that to the ticks), until
// a tick finds nothing queued.
void CatchUpWhileTextComes(const ThreadEntries& entries) {
  if (entries.backgroundTicks && gBackgroundTask >= 0 && !gCatchingUp) RegisterBackgroundTask(true);
}

}  // namespace

void StartBackgroundDelivery() noexcept {
  if (gBackgroundTask < 0) RegisterBackgroundTask(false);
}

void StopBackgroundDelivery() noexcept {
  if (gBackgroundTask >= 0) REALUnregisterBackgroundTask(gBackgroundTask);
  SetBackgroundTask(-1);
  gCatchingUp = false;
}

void host_entries::RunDeferredHostWork(ThreadEntries& entries, bool callBegins) noexcept {
  if (!gHasDeferredWork.load(std::memory_order_acquire) || entries.depth == 0 || entries.runningDeferredWork) return;
  // Work that re-enters the plugin must not start the queue again underneath
  // itself: later items would overtake the one still running.
  entries.runningDeferredWork = true;
  const bool textCame = RunDeferredWork(callBegins ? DeliveryBudget::NewCall : DeliveryBudget::SameCall);
  entries.runningDeferredWork = false;
  if (textCame) CatchUpWhileTextComes(entries);
}

void DeliverEveryQueuedText() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.depth == 0 || entries.runningDeferredWork) return;
  entries.runningDeferredWork = true;
  RunDeferredWork(DeliveryBudget::Everything);
  entries.runningDeferredWork = false;
}
