#include "PythonRuntime/HostEntry.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "HostGlue.h"

#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonRuntime/Interrupts.h"
#include "PythonRuntime/VisibleState.h"

namespace {

// A pipe's worth of text, in writes and in bytes: what a host call may have
// to deliver before it returns.
constexpr size_t kMaxQueuedTexts = 1024;
constexpr size_t kMaxQueuedTextBytes = 256 * 1024;
// While a host call runs Python code, which may be waiting for the very
// thread that writes (a join), the queue may hold this many times more; past
// that a writer waits a moment per write, then queues its text all the same.
constexpr size_t kInPythonAllowance = 16;
constexpr auto kInPythonWait = std::chrono::milliseconds(10);

struct DeferredWork {
  std::function<void()> run;
  size_t textBytes;  // 0 for work that is no text
};

std::mutex deferredMutex;
std::condition_variable roomForText;               // notified whenever the host takes the queue
std::deque<DeferredWork>* deferredWork = nullptr;  // created on first use, never freed
size_t queuedTexts = 0;                            // under deferredMutex
size_t queuedTextBytes = 0;

// Host threads whose entries hold the interpreter lock: each may be running
// Python code, or waiting inside it for another thread. Changed only by a
// thread holding the interpreter lock, so a load and a store do, with no
// locked instruction; other threads read it.
std::atomic<int> hostThreadsInPython{0};

void CountHostThreadsInPython(int change) {
  hostThreadsInPython.store(hostThreadsInPython.load(std::memory_order_relaxed) + change, std::memory_order_relaxed);
}

bool TextQueueFull(size_t allowance = 1) {
  return queuedTexts >= allowance * kMaxQueuedTexts || queuedTextBytes >= allowance * kMaxQueuedTextBytes;
}

bool HostRunsPython() { return hostThreadsInPython.load(std::memory_order_relaxed) > 0; }

// Once a host thread other than the one the background task ticks on has
// taken the lock, the application calls Python from several of its threads:
// from then on no thread keeps the lock, so none waits a tick for it.
std::atomic<bool> backgroundTicked{false};
std::atomic<bool> severalHostThreadsUsePython{false};

bool BackgroundDeliveryRuns();

// On a Python thread, with deferredMutex locked and the interpreter lock
// held: waits for room for more text, without the interpreter lock.
void WaitForRoomForText(std::unique_lock<std::mutex>& lock) {
  const bool hostRunsPython = HostRunsPython();
  if (!TextQueueFull(hostRunsPython ? kInPythonAllowance : 1) || !gPythonInitialized ||
      !HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread))
    return;
  lock.unlock();
  PyThreadState* state = EPyEval_SaveThread();
  lock.lock();
  if (hostRunsPython) {
    roomForText.wait_for(lock, kInPythonWait, [] { return !TextQueueFull(kInPythonAllowance); });
  } else {
    // Timed, so that a host call that begins running Python is noticed even
    // when it finds nothing to take.
    while (TextQueueFull() && !HostRunsPython() && gPythonInitialized)
      roomForText.wait_for(lock, std::chrono::milliseconds(20));
  }
  lock.unlock();
  EPyEval_RestoreThread(state);
  lock.lock();
}

// Whether the current thread, holding the interpreter lock at the end of its
// outermost entry, may keep it: no other thread could be waiting for it (a
// thread needs a thread state of its own to wait), and a tick of the
// background task will come on this thread to hand it over to one that
// appears. A thread state made while this looks is found by that tick.
bool MayKeepTheLock(const host_entries::ThreadEntries& entries) {
  if (!entries.backgroundTicks || severalHostThreadsUsePython.load(std::memory_order_relaxed) || gPythonFinalizing ||
      !BackgroundDeliveryRuns() ||
      !HasPythonEntries(EPyInterpreterState_Head, EPyInterpreterState_Next, EPyInterpreterState_ThreadHead,
                        EPyThreadState_Next))
    return false;
  PyInterpreterState* interpreter = EPyInterpreterState_Head();
  if (!interpreter || EPyInterpreterState_Next(interpreter)) return false;
  PyThreadState* first = EPyInterpreterState_ThreadHead(interpreter);
  return first && !EPyThreadState_Next(first);
}

}  // namespace

namespace host_entries {

__thread ThreadEntries tEntries __attribute__((tls_model("initial-exec")));
std::atomic<bool> hasDeferredWork{false};
void (*endOfCallWork)() = nullptr;

void TakeInterpreterLock(ThreadEntries& entries) noexcept {
  if (!gPythonInitialized || !HasPythonEntries(EPyGILState_Ensure, EPyGILState_Release)) return;
  if (!entries.backgroundTicks && backgroundTicked.load(std::memory_order_relaxed))
    severalHostThreadsUsePython.store(true, std::memory_order_relaxed);
  entries.gilState = EPyGILState_Ensure();
  entries.lockHeld = LockHeld::Ensured;
  CountHostThreadsInPython(+1);
  NoteHostThreadInPython();
}

void GoOnWithKeptLock(ThreadEntries& entries) noexcept {
  entries.lockKept = false;
  // The interpreter cannot have stopped under a kept lock; should it have, the lock went with it.
  if (!gPythonInitialized || entries.keptFor != CurrentInterpreter()) {
    entries.lockHeld = LockHeld::None;
    return;
  }
  CountHostThreadsInPython(+1);
  NoteHostThreadInPython();
}

void GiveBackInterpreterLock(ThreadEntries& entries) noexcept {
  LockHeld held = entries.lockHeld;
  CountHostThreadsInPython(-1);
  NoteHostThreadLeavesPython();
  if (gPythonInitialized && MayKeepTheLock(entries)) {
    entries.lockKept = true;
    entries.keptFor = CurrentInterpreter();
    return;
  }
  entries.lockHeld = LockHeld::None;
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
  if (entries.lockHeld != LockHeld::None && !entries.lockKept) CountHostThreadsInPython(-1);
  entries.lockHeld = LockHeld::None;
  entries.lockKept = false;
  NoteHostThreadLeavesPython();
  roomForText.notify_all();  // writers left from the old interpreter stop waiting
}

void DeferToHostThread(std::function<void()> work) noexcept { DeferTextToHostThread(0, std::move(work)); }

void DeferTextToHostThread(size_t bytes, std::function<void()> deliver) noexcept {
  try {
    std::unique_lock<std::mutex> lock(deferredMutex);
    if (bytes > 0) WaitForRoomForText(lock);
    if (!deferredWork) deferredWork = new std::deque<DeferredWork>;
    deferredWork->push_back(DeferredWork{std::move(deliver), bytes});
    if (bytes > 0) {
      ++queuedTexts;
      queuedTextBytes += bytes;
    }
    hasDeferredWork.store(true, std::memory_order_release);
  } catch (...) {
    // Out of memory: the work is dropped rather than run on the wrong thread.
  }
}

void RunDeferredHostWork() noexcept { RunDeferredHostWork(tEntries); }

void SetEndOfCallWork(void (*work)()) noexcept { endOfCallWork = work; }

namespace {

constexpr uint32_t kBackgroundPeriodMilliseconds = 50;
int32_t backgroundTask = -1;  // the host's id of the registered task; -1 for none

// Called by the host's run loop while the application idles: an outermost
// host call of its own, which takes what other threads queued and, at its
// exit, gives a kept lock to any thread that has come to want it.
void DeliverInBackground(void*) noexcept {
  tEntries.backgroundTicks = true;
  backgroundTicked.store(true, std::memory_order_relaxed);
  HostEntry entry(HostEntry::Lock::OnDemand);
}

bool BackgroundDeliveryRuns() { return backgroundTask >= 0; }

}  // namespace

void StartBackgroundDelivery() noexcept {
  if (backgroundTask < 0)
    backgroundTask = REALRegisterBackgroundTask(&DeliverInBackground, kBackgroundPeriodMilliseconds, nullptr);
}

void StopBackgroundDelivery() noexcept {
  if (backgroundTask >= 0) REALUnregisterBackgroundTask(std::exchange(backgroundTask, -1));
}

void host_entries::RunDeferredHostWork(ThreadEntries& entries) noexcept {
  if (!hasDeferredWork.load(std::memory_order_acquire) || entries.depth == 0 || entries.runningDeferredWork) return;
  // Unlocking a host object keeps Python's pending error aside, and text may
  // reach Python through the host's handlers: both need the lock.
  if (gPythonInitialized && !gPythonFinalizing) HoldInterpreterLock();
  std::deque<DeferredWork> taken;
  try {
    std::lock_guard<std::mutex> lock(deferredMutex);
    if (deferredWork) taken.swap(*deferredWork);
    queuedTexts = 0;
    queuedTextBytes = 0;
    hasDeferredWork.store(false, std::memory_order_release);
  } catch (...) {
    return;
  }
  roomForText.notify_all();
  // Work that re-enters the plugin must not start the queue again underneath
  // itself: later items would overtake the one still running.
  entries.runningDeferredWork = true;
  for (DeferredWork& work : taken) {
    try {
      work.run();
    } catch (...) {
    }
  }
  entries.runningDeferredWork = false;
}
