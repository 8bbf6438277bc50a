#include "PythonEngine/HostEntry.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "PythonEngine/PythonLoader.h"

namespace host_entries {

__thread ThreadEntries tEntries __attribute__((tls_model("initial-exec")));
std::atomic<bool> hasDeferredWork{false};

void TakeInterpreterLock(ThreadEntries& entries) noexcept {
  if (!gPythonInitialized || !EPyGILState_Ensure || !EPyGILState_Release) return;
  entries.gilState = EPyGILState_Ensure();
  entries.lockHeld = LockHeld::Ensured;
}

void GiveBackInterpreterLock(ThreadEntries& entries) noexcept {
  LockHeld held = entries.lockHeld;
  entries.lockHeld = LockHeld::None;
  if (!gPythonInitialized) return;
  if (held == LockHeld::Ensured)
    EPyGILState_Release(entries.gilState);
  else if (held == LockHeld::Started && EPyEval_SaveThread)
    EPyEval_SaveThread();  // the thread keeps its state; PyGILState_Ensure finds it again
}

}  // namespace host_entries

using namespace host_entries;

namespace {

std::mutex deferredMutex;
std::deque<std::function<void()>>* deferredWork = nullptr;  // created on first use, never freed

}  // namespace

void HoldInterpreterLock() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.depth > 0 && entries.lockHeld == LockHeld::None) TakeInterpreterLock(entries);
}

void NoteInterpreterStarted() noexcept {
  ThreadEntries& entries = tEntries;
  if (entries.depth > 0 && entries.lockHeld == LockHeld::None) entries.lockHeld = LockHeld::Started;
}

void NoteInterpreterFinalized() noexcept { tEntries.lockHeld = LockHeld::None; }

void DeferToHostThread(std::function<void()> work) noexcept {
  try {
    std::lock_guard<std::mutex> lock(deferredMutex);
    if (!deferredWork) deferredWork = new std::deque<std::function<void()>>;
    deferredWork->push_back(std::move(work));
    hasDeferredWork.store(true, std::memory_order_release);
  } catch (...) {
    // Out of memory: the work is dropped rather than run on the wrong thread.
  }
}

void RunDeferredHostWork() noexcept { RunDeferredHostWork(tEntries); }

void host_entries::RunDeferredHostWork(ThreadEntries& entries) noexcept {
  if (!hasDeferredWork.load(std::memory_order_acquire) || entries.depth == 0 || entries.runningDeferredWork) return;
  // Work that re-enters the plugin must not start the queue again underneath
  // itself: later items would overtake the one still running.
  entries.runningDeferredWork = true;
  for (;;) {
    std::function<void()> work;
    {
      std::lock_guard<std::mutex> lock(deferredMutex);
      if (!deferredWork || deferredWork->empty()) {
        hasDeferredWork.store(false, std::memory_order_release);
        break;
      }
      work = std::move(deferredWork->front());
      deferredWork->pop_front();
    }
    try {
      work();
    } catch (...) {
    }
  }
  entries.runningDeferredWork = false;
}
