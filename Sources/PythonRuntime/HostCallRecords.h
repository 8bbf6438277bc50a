// The record of each host call that runs Python code, which interrupts and
// yields reach (Interrupts.h). Shared with HostEntry.h, whose inline paths
// begin and end a call of the interpreter's own thread that keeps the
// interpreter lock without a call out of line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace host_calls {

// A host thread's call that runs Python code. One record per host thread in
// Python at once, reused by later calls, never freed. Claimed and given back
// under the interpreter lock, so the list changes on one thread at a time;
// the watchdog and interrupting threads only read it.
struct HostCall {
  std::atomic<uint64_t> call{0};           // 0 while free
  std::atomic<unsigned long> ident{0};     // Python's id of the thread (pthread_self)
  std::atomic<bool> mainThread{false};     // the interpreter's own thread: pending calls reach it
  std::atomic<uint64_t> interruptFor{0};   // the call an interrupt aims at, until it is sent
  std::atomic<bool> interruptSent{false};  // a KeyboardInterrupt may wait in the thread's state
  std::atomic<bool> yieldDue{false};
  bool traced = false;   // by its own thread: our trace function is installed
  uint64_t watched = 0;  // by the watchdog only
  std::chrono::steady_clock::time_point since;
  HostCall* next = nullptr;  // set before the record is published; never changes
};

// Counts the host calls that took the interpreter lock, so that what was
// asked for one call does nothing in a later one.
extern uint64_t gCallsTakingTheLock;  // under the interpreter lock
// The call of the interpreter's own thread: 0 while it runs none.
extern std::atomic<uint64_t> gCallInPython;

// NoteHostThreadInPython and NoteHostThreadLeavesPython (Interrupts.h) for
// the interpreter's own thread, whose record `own` is already its own and
// says so: a new call number, published, and taken back at the end.
inline void BeginMainThreadCall(HostCall& own) noexcept {
  const uint64_t call = ++gCallsTakingTheLock;
  own.call.store(call, std::memory_order_release);
  gCallInPython.store(call, std::memory_order_release);
}
inline void EndMainThreadCall(HostCall& own) noexcept {
  gCallInPython.store(0, std::memory_order_release);
  own.call.store(0, std::memory_order_release);
}

}  // namespace host_calls
