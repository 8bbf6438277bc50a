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
// appears while the application idles waits one tick at most.
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

namespace host_entries {

// What the outermost entry of a thread holds of the interpreter lock.
enum class LockHeld : int { None, Ensured, Started };

// One thread-local block, reached once per entry; all zero at thread start.
struct ThreadEntries {
  int depth;
  LockHeld lockHeld;
  int gilState;  // PyGILState_STATE: an enum of int size in every version
  bool runningDeferredWork;
  bool lockKept;         // lockHeld is kept from an earlier host call (depth 0)
  bool backgroundTicks;  // the background task has ticked on this thread
  bool ticking;          // the outermost entry is the background task's tick, which runs no Python code
  uint64_t keptFor;      // the interpreter the kept lock belongs to
};
static_assert(sizeof(ThreadEntries) <= 24, "the static TLS spare for libraries opened with dlopen is small");

// __thread rather than thread_local: a thread_local declared here would be
// reached through a wrapper that looks for a dynamic initializer. On Linux it
// lives in the static TLS that the C library keeps spare for libraries opened
// with dlopen (24 bytes of it), which saves a __tls_get_addr call per entry.
extern __thread ThreadEntries tEntries __attribute__((tls_model("initial-exec")));
extern std::atomic<bool> gHasDeferredWork;
extern void (*gEndOfCallWork)();

void TakeInterpreterLock(ThreadEntries& entries) noexcept;
void GoOnWithKeptLock(ThreadEntries& entries) noexcept;
void GiveBackInterpreterLock(ThreadEntries& entries) noexcept;
void RunDeferredHostWork(ThreadEntries& entries, bool callBegins) noexcept;

}  // namespace host_entries

// Every member runs inside one, so the usual path (nested, or the lock
// already held, no deferred work) is written here, and always inlined: a host
// function Python calls passes through one per member it uses.
class HostEntry {
 public:
  enum class Lock { OnEntry, OnDemand };
  __attribute__((always_inline)) explicit HostEntry(Lock lock = Lock::OnEntry) noexcept {
    using namespace host_entries;
    ThreadEntries& entries = tEntries;
    const bool outermost = entries.depth++ == 0;
    if (outermost && entries.lockKept) GoOnWithKeptLock(entries);
    // An entry nested in one that took no lock (a destructor's host call) may still need it.
    if (lock == Lock::OnEntry && entries.lockHeld == LockHeld::None) TakeInterpreterLock(entries);
    if (outermost && gHasDeferredWork.load(std::memory_order_acquire)) RunDeferredHostWork(entries, true);
  }
  __attribute__((always_inline)) ~HostEntry() noexcept {
    using namespace host_entries;
    ThreadEntries& entries = tEntries;
    if (entries.depth == 1) {
      if (gHasDeferredWork.load(std::memory_order_acquire)) RunDeferredHostWork(entries, false);
      if (gEndOfCallWork) gEndOfCallWork();
    }
    if (--entries.depth == 0 && entries.lockHeld != LockHeld::None) GiveBackInterpreterLock(entries);
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
