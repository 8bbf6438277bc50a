// Every call from the host into the plugin runs inside a HostEntry. The
// first entry on a thread that needs Python's interpreter lock takes it, and
// the exit of the outermost entry gives it back, so Python threads run while
// the application does other work; entries nested inside one that holds the
// lock (host code called back by Python, events, initializers and destructors
// run by the host during a call) take nothing.
//
// The lock is kept instead, across host calls, while no other thread could
// want it: the interpreters have no thread state but this thread's, and this
// is the thread the background task ticks on. The next outermost entry goes
// on with it; the exit of an entry after which another thread state exists
// (a Python thread it started, a thread of C code or another host thread
// asking for the lock) gives it back, and so does the tick, so a thread that
// appears while the application idles waits one tick at most. On the
// interpreter's own thread the kept lock is taken up and kept again inline,
// as most host calls do nothing else: a new call number for interrupts and
// yields, and at the exit one word of reasons that bar keeping the lock
// (gKeepingBarred) and the heads of the interpreter and thread-state lists.
//
// Most entries take the lock as they begin. Initializers and destructors,
// which the host runs for every wrapper it makes or frees, mostly without
// calling Python, may take it on demand instead: HoldInterpreterLock() before
// the first call into Python (ReleaseOwnedPythonRef asks for it itself).
//
// Host code runs only on a thread that is inside such an entry. Python code
// running on any other thread hands what it has for the host (printed text,
// host objects to unlock) to the queue of DeferredWork.h; the host's thread
// takes it at its next entry, before the entry that ran Python code returns,
// and before text that the host's thread writes itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "PythonLibrary/PythonEntryTable.h"
#include "PythonRuntime/HostCallRecords.h"

namespace host_entries {

// What the outermost entry of a thread holds of the interpreter lock.
enum class LockHeld : uint8_t { None, Ensured, Started };

// One thread-local block, reached once per entry; all zero at thread start.
struct ThreadEntries {
  int depth;
  int gilState;  // PyGILState_STATE: an enum of int size in every version
  LockHeld lockHeld;
  bool runningDeferredWork;
  bool lockKept;         // lockHeld is kept from an earlier host call (depth 0)
  bool backgroundTicks;  // the background task has ticked on this thread
  bool ticking;          // the outermost entry is the background task's tick, which runs no Python code
  // The lock is kept by the inline paths of HostEntry: this is the
  // interpreter's own thread, whose record is lastCall, and its entries hold
  // or keep the lock. Cleared whenever the lock is given back. At depth 0 it
  // implies lockKept.
  bool keepsInline;
  uint64_t keptFor;                // the interpreter the kept lock belongs to
  host_calls::HostCall* call;      // the record of the call that runs Python code now (Interrupts.cpp)
  host_calls::HostCall* lastCall;  // the record of the thread's last such call, claimed first by the next
};
// All of the plugin's initial-exec thread-locals are here: the static TLS
// that the C library keeps spare for libraries opened with dlopen is small.
static_assert(sizeof(ThreadEntries) <= 40, "the static TLS spare for libraries opened with dlopen is small");

// __thread rather than thread_local: a thread_local declared here would be
// reached through a wrapper that looks for a dynamic initializer. On Linux it
// lives in the static TLS that the C library keeps spare for libraries opened
// with dlopen, which saves a __tls_get_addr call per entry.
extern __thread ThreadEntries tEntries __attribute__((tls_model("initial-exec")));
extern std::atomic<bool> gHasDeferredWork;
extern void (*gEndOfCallWork)();
// Set by the owner of gEndOfCallWork when the end of the call has work for it.
extern bool gEndOfCallWorkWaits;

// Why no thread may keep the lock past its call now, whatever the thread
// states: 0 when nothing bars it. One word, changed where its reasons
// change, so that the end of a call reads them at once.
extern std::atomic<uint32_t> gKeepingBarred;
constexpr uint32_t kBarredWithoutBackgroundTask = 1;  // no tick would come to hand the lock over
constexpr uint32_t kBarredBySeveralHostThreads = 2;   // the application calls Python from several threads
constexpr uint32_t kBarredPerPluginThread = 256;      // each thread of the plugin's own that wants the lock

// The interpreter and thread state that the last walk found alone (see
// HostEntry.cpp), kept while the lock stays on the thread that keeps it.
extern PyInterpreterState* gAloneInterpreter;
extern PyThreadState* gAloneThreadState;

// The paths out of line: never inlined into HostEntry, whose usual path
// would pay for their registers and stack.
[[gnu::noinline]] void TakeInterpreterLock(ThreadEntries& entries) noexcept;
[[gnu::noinline]] void GoOnWithKeptLock(ThreadEntries& entries) noexcept;
[[gnu::noinline]] void GiveBackInterpreterLock(ThreadEntries& entries) noexcept;
[[gnu::noinline]] void RunDeferredHostWork(ThreadEntries& entries, bool callBegins) noexcept;

// The outermost entry of a thread that keeps the lock inline: a new call of
// the interpreter's thread begins, on the record it had.
inline void GoOnInline(ThreadEntries& entries) noexcept {
  entries.lockKept = false;
  host_calls::HostCall* own = entries.lastCall;
  entries.call = own;
  host_calls::BeginMainThreadCall(*own);
}

// The outermost exit of a thread that keeps the lock inline: true when it
// keeps it, as nothing bars that and the interpreter and thread-state lists
// still begin with the ones found alone (CPython puts every new one at the
// head); false leaves it to GiveBackInterpreterLock.
inline bool KeepInline(ThreadEntries& entries) noexcept {
  if (gKeepingBarred.load(std::memory_order_acquire) != 0) return false;
  PyInterpreterState* interpreter = EPyInterpreterState_Head();
  if (!interpreter || interpreter != gAloneInterpreter ||
      EPyInterpreterState_ThreadHead(interpreter) != gAloneThreadState)
    return false;
  host_calls::HostCall* own = entries.call;
  entries.call = nullptr;
  host_calls::EndMainThreadCall(*own);
  entries.lockKept = true;
  return true;
}

}  // namespace host_entries

// Every member runs inside one, so the usual path (nested, or the lock
// already held or kept, no deferred work) is written here to be inlined.
class HostEntry {
 public:
  enum class Lock { OnEntry, OnDemand };
  explicit HostEntry(Lock lock = Lock::OnEntry) noexcept {
    using namespace host_entries;
    ThreadEntries& entries = tEntries;
    if (entries.depth++ == 0) {
      if (entries.keepsInline) {
        GoOnInline(entries);
      } else {
        if (entries.lockKept) GoOnWithKeptLock(entries);
        if (lock == Lock::OnEntry && entries.lockHeld == LockHeld::None) TakeInterpreterLock(entries);
      }
      if (gHasDeferredWork.load(std::memory_order_acquire)) RunDeferredHostWork(entries, true);
    } else if (lock == Lock::OnEntry && entries.lockHeld == LockHeld::None) {
      // An entry nested in one that took no lock (a destructor's host call) may still need it.
      TakeInterpreterLock(entries);
    }
  }
  ~HostEntry() noexcept {
    using namespace host_entries;
    ThreadEntries& entries = tEntries;
    if (entries.depth == 1) {
      if (gHasDeferredWork.load(std::memory_order_acquire)) RunDeferredHostWork(entries, false);
      if (gEndOfCallWorkWaits && gEndOfCallWork) gEndOfCallWork();
    }
    // keepsInline implies that the lock is held.
    if (--entries.depth == 0 && (entries.keepsInline ? !KeepInline(entries) : entries.lockHeld != LockHeld::None))
      GiveBackInterpreterLock(entries);
  }
  HostEntry(const HostEntry&) = delete;
  HostEntry& operator=(const HostEntry&) = delete;
};

// How many host entries this thread is inside; 0 on every thread that the
// host did not call the plugin on (Python's own threads).
inline int HostEntryDepth() noexcept { return host_entries::tEntries.depth; }

// How many host calls of the application this thread is inside: the
// background task's tick is none.
inline int HostCallDepth() noexcept { return host_entries::tEntries.depth - (host_entries::tEntries.ticking ? 1 : 0); }

// True when host code may run on this thread now.
inline bool OnHostThread() noexcept { return HostEntryDepth() > 0; }

// Takes the interpreter lock, while the interpreter runs, when this thread's
// entries do not hold it yet; the outermost entry's exit gives it back.
// Within a host entry only.
void HoldInterpreterLock() noexcept;

// Work for the end of every outermost host call, after the deferred work
// (the partial lines of whole-lines console output); set once.
void SetEndOfCallWork(void (*work)()) noexcept;

// While the interpreter runs, the host's run loop takes deferred work (text
// of Python's threads) about every 50 ms while the application idles, and
// hands a kept interpreter lock over to a thread that wants it.
void StartBackgroundDelivery() noexcept;
void StopBackgroundDelivery() noexcept;

// Threads of the plugin's own (a task's worker) that run Python code or are
// about to: while any does, no host thread keeps the lock past its call.
// Safe from any thread.
void NoteLockWantedByPluginThreads(int change) noexcept;

// True while a host thread's entries hold the interpreter lock: it may be
// running Python code, or waiting inside it for another thread.
bool HostThreadsRunPython() noexcept;

// Runs the queued work now; on the host's thread only. The work takes the
// interpreter lock where it calls Python (every plugin function it reaches
// runs in an entry of its own).
void RunDeferredHostWork() noexcept;

// Delivers every text queued so far, whatever it costs (Finalize, once
// Python's threads are gone). On the host's thread only.
void DeliverEveryQueuedText() noexcept;

// The interpreter was started on this thread during the current entry, which
// holds its lock: the outermost exit gives it back.
void NoteInterpreterStarted() noexcept;
// The interpreter was finalized during the current entry: no lock is held,
// kept or given back any more.
void NoteInterpreterFinalized() noexcept;
