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
// Python code, or waiting inside it for another thread.
std::atomic<int> hostThreadsInPython{0};

bool TextQueueFull(size_t allowance = 1) {
  return queuedTexts >= allowance * kMaxQueuedTexts || queuedTextBytes >= allowance * kMaxQueuedTextBytes;
}

bool HostRunsPython() { return hostThreadsInPython.load(std::memory_order_relaxed) > 0; }

// On a Python thread, with deferredMutex locked and the interpreter lock
// held: waits for room for more text, without the interpreter lock.
void WaitForRoomForText(std::unique_lock<std::mutex>& lock) {
  const bool hostRunsPython = HostRunsPython();
  if (!TextQueueFull(hostRunsPython ? kInPythonAllowance : 1) || !gPythonInitialized || !EPyEval_SaveThread ||
      !EPyEval_RestoreThread)
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

}  // namespace

namespace host_entries {

__thread ThreadEntries tEntries __attribute__((tls_model("initial-exec")));
std::atomic<bool> hasDeferredWork{false};
void (*endOfCallWork)() = nullptr;

void TakeInterpreterLock(ThreadEntries& entries) noexcept {
  if (!gPythonInitialized || !EPyGILState_Ensure || !EPyGILState_Release) return;
  entries.gilState = EPyGILState_Ensure();
  entries.lockHeld = LockHeld::Ensured;
  hostThreadsInPython.fetch_add(1, std::memory_order_relaxed);
  NoteHostThreadInPython();
}

void GiveBackInterpreterLock(ThreadEntries& entries) noexcept {
  LockHeld held = entries.lockHeld;
  entries.lockHeld = LockHeld::None;
  hostThreadsInPython.fetch_sub(1, std::memory_order_relaxed);
  NoteHostThreadLeavesPython();
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
    hostThreadsInPython.fetch_add(1, std::memory_order_relaxed);
    NoteHostThreadInPython();
  }
}

void NoteInterpreterFinalized() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.lockHeld != LockHeld::None) hostThreadsInPython.fetch_sub(1, std::memory_order_relaxed);
  entries.lockHeld = LockHeld::None;
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
// host call of its own, which takes what other threads queued.
void DeliverInBackground(void*) noexcept { HostEntry entry(HostEntry::Lock::OnDemand); }

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
