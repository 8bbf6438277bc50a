#include "PythonEngine/HostEntry.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "PythonEngine/PythonLoader.h"

namespace {

thread_local int tDepth = 0;
// What the outermost entry of this thread holds of the interpreter lock.
enum class LockHeld { None, Ensured, Started };
thread_local LockHeld tLockHeld = LockHeld::None;
thread_local PyGILState_STATE tGilState{};

std::mutex deferredMutex;
std::deque<std::function<void()>>* deferredWork = nullptr;  // created on first use, never freed
std::atomic<bool> hasDeferredWork{false};
thread_local bool tRunningDeferredWork = false;

void TakeInterpreterLock() noexcept {
  if (!gPythonInitialized || !EPyGILState_Ensure || !EPyGILState_Release) return;
  tGilState = EPyGILState_Ensure();
  tLockHeld = LockHeld::Ensured;
}

void GiveBackInterpreterLock() noexcept {
  LockHeld held = tLockHeld;
  tLockHeld = LockHeld::None;
  if (!gPythonInitialized) return;
  if (held == LockHeld::Ensured)
    EPyGILState_Release(tGilState);
  else if (held == LockHeld::Started && EPyEval_SaveThread)
    EPyEval_SaveThread();  // the thread keeps its state; PyGILState_Ensure finds it again
}

}  // namespace

HostEntry::HostEntry() noexcept {
  if (tDepth++ != 0) return;
  TakeInterpreterLock();
  RunDeferredHostWork();
}

HostEntry::~HostEntry() noexcept {
  if (tDepth == 1) RunDeferredHostWork();
  if (--tDepth == 0) GiveBackInterpreterLock();
}

int HostEntryDepth() noexcept { return tDepth; }

void NoteInterpreterStarted() noexcept {
  if (tDepth > 0 && tLockHeld == LockHeld::None) tLockHeld = LockHeld::Started;
}

void NoteInterpreterFinalized() noexcept { tLockHeld = LockHeld::None; }

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

void RunDeferredHostWork() noexcept {
  if (!hasDeferredWork.load(std::memory_order_acquire) || tDepth == 0 || tRunningDeferredWork) return;
  // Work that re-enters the plugin must not start the queue again underneath
  // itself: later items would overtake the one still running.
  tRunningDeferredWork = true;
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
  tRunningDeferredWork = false;
}
