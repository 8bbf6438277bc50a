// Every call from the host into the plugin runs inside a HostEntry. The
// first entry on a thread that needs Python's interpreter lock takes it, and
// the exit of the outermost entry gives it back, so Python threads run while
// the application does other work; entries nested inside one that holds the
// lock (host code called back by Python, events, initializers and destructors
// run by the host during a call) take nothing.
//
// Most entries take the lock as they begin. Initializers and destructors,
// which the host runs for every wrapper it makes or frees, mostly without
// calling Python, may take it on demand instead: HoldInterpreterLock() before
// the first call into Python (ReleaseOwnedPythonRef asks for it itself).
//
// Host code runs only on a thread that is inside such an entry. Python code
// running on any other thread hands what it has for the host (printed text,
// host objects to unlock) to DeferToHostThread; the host's thread runs it at
// its next entry and, at the latest, before the entry that ran Python code
// returns.
#pragma once

#include <functional>

class HostEntry {
 public:
  enum class Lock { OnEntry, OnDemand };
  explicit HostEntry(Lock lock = Lock::OnEntry) noexcept;
  ~HostEntry() noexcept;
  HostEntry(const HostEntry&) = delete;
  HostEntry& operator=(const HostEntry&) = delete;

 private:
  struct ThreadEntries* entries_;  // this thread's; never null
};

// How many host entries this thread is inside; 0 on every thread that the
// host did not call the plugin on (Python's own threads).
int HostEntryDepth() noexcept;

// True when host code may run on this thread now.
inline bool OnHostThread() noexcept { return HostEntryDepth() > 0; }

// Takes the interpreter lock, while the interpreter runs, when this thread's
// entries do not hold it yet; the outermost entry's exit gives it back.
// Within a host entry only.
void HoldInterpreterLock() noexcept;

// Queues work for the host's thread, in order. Safe from any thread.
void DeferToHostThread(std::function<void()> work) noexcept;

// Runs the queued work now; on the host's thread only. The work takes the
// interpreter lock where it calls Python (every plugin function it reaches
// runs in an entry of its own).
void RunDeferredHostWork() noexcept;

// The interpreter was started on this thread during the current entry, which
// holds its lock: the outermost exit gives it back.
void NoteInterpreterStarted() noexcept;
// The interpreter was finalized during the current entry: no lock is held or
// given back any more.
void NoteInterpreterFinalized() noexcept;
