// What Python's own threads leave for the host's thread: host objects to
// unlock, and the text they write to the console streams. Host code runs only
// on the host's thread, so it takes this at its next entry, at the end of a
// call that ran Python code, and at the background task's ticks while the
// application idles.
//
// Text waits in one queue, in the order it was written: in memory up to a
// bound, past it in a temporary file while a host call runs Python code (that
// code may be joining the very thread that writes, so the writer must not
// wait). While no host call runs Python code, a writer that finds the queue
// full waits for room without the interpreter lock, as a writer to a full
// pipe does. A delivery takes at most what was queued when it began and stops
// after kDeliveryBudget, so that no host call or turn of the run loop is
// trapped by threads that print faster than the application's handler takes
// the text; the background task then comes back at once until the queue is
// empty. From a backlog, the writes of one stream that follow each other are
// delivered joined.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

// Memory the queue holds before text goes to the temporary file (or, while
// no host call runs Python code, before writers wait).
constexpr size_t kThreadTextMemoryBound = 1024 * 1024;
constexpr auto kDeliveryBudget = std::chrono::milliseconds(50);

// Receives queued text on the host's thread: a write of `stream`, or, with
// `flush` set, that stream's flush (text is then empty).
using ThreadTextReceiver = void (*)(int stream, bool flush, std::string_view text) noexcept;
void SetThreadTextReceiver(ThreadTextReceiver receiver) noexcept;

// Queues work for the host's thread, in order. Safe from any thread.
void DeferToHostThread(std::function<void()> work) noexcept;

// From a Python thread holding the interpreter lock: queues a write or a
// flush of a console stream. May wait for room, without the lock, while no
// host call runs Python code.
void QueueThreadText(int stream, std::string_view text) noexcept;
void QueueThreadFlush(int stream) noexcept;

// On the host's thread: its own write goes behind text still queued, so that
// the order of writes holds when a delivery stopped at its budget.
bool ThreadTextQueued() noexcept;
void QueueHostText(int stream, std::string_view text) noexcept;

// A host call delivers for kDeliveryBudget in all: at its start (NewCall),
// then (SameCall) before its own writes and at its end, as long as the
// budget lasts; Finalize delivers everything.
enum class DeliveryBudget { NewCall, SameCall, Everything };
// On the host's thread, inside a host entry: runs the deferred work and
// delivers queued text. True when text came (was delivered, or is left for a
// later delivery): Python's threads are printing.
bool RunDeferredWork(DeliveryBudget budget) noexcept;

// With the interpreter lock, before Python is finalized: every writer waiting
// for room takes the lock back now and goes on, and none waits again until
// the next start (Python's finalization ends a thread that asks for the
// lock, which must not happen inside the plugin).
void ReleaseWaitingWriters() noexcept;

// The interpreter has started: writers may wait for room again.
void AcceptWaitingWriters() noexcept;

// A host thread began running Python code: waiting writers write on, as that
// code may be waiting for them. Inline, as every host call that takes the
// lock asks, and writers rarely wait.
extern std::atomic<int> gWaitingWriters;
void NotifyWaitingWriters() noexcept;
inline void WakeWaitingWriters() noexcept {
  if (gWaitingWriters.load(std::memory_order_relaxed) > 0) NotifyWaitingWriters();
}
