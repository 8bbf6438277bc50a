// Every call from the host into the plugin runs inside a HostEntry. The
// outermost entry on a thread takes Python's interpreter lock and the matching
// exit gives it back, so Python threads run while the application does other
// work; entries nested inside it (host code called back by Python, events,
// initializers and destructors run by the host during a call) take nothing.
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
  HostEntry() noexcept;
  ~HostEntry() noexcept;
  HostEntry(const HostEntry&) = delete;
  HostEntry& operator=(const HostEntry&) = delete;
};

// How many host entries this thread is inside; 0 on every thread that the
// host did not call the plugin on (Python's own threads).
int HostEntryDepth() noexcept;

// True when host code may run on this thread now.
inline bool OnHostThread() noexcept { return HostEntryDepth() > 0; }

// Queues work for the host's thread, in order. Safe from any thread.
void DeferToHostThread(std::function<void()> work) noexcept;

// Runs the queued work now; on the host's thread only, with the interpreter
// lock held while the interpreter runs.
void RunDeferredHostWork() noexcept;

// The interpreter was started on this thread during the current entry, which
// holds its lock: the outermost exit gives it back.
void NoteInterpreterStarted() noexcept;
// The interpreter was finalized during the current entry: no lock is held or
// given back any more.
void NoteInterpreterFinalized() noexcept;
