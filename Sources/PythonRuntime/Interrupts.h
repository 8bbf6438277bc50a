// Reaching the Python code that the host's current call runs, between two
// of its bytecodes, from any thread: Python3Engine.Interrupt (it gets
// KeyboardInterrupt there) and the yields of SetYieldInterval (the host's
// other threads run there). Both go through Python's pending calls, which
// the interpreter runs on the thread that started it, the host's: no signal
// is sent and no signal disposition changes. What arrives while no host call
// runs Python code is dropped, never kept for a later call.
#pragma once

#include <cstdint>

// From any thread, at any time (before Init and after Finalize it does nothing).
void RequestInterrupt() noexcept;

// 0 for never (the default); otherwise the host yields (REALYieldToRB)
// about every `milliseconds` while one of its calls runs Python code longer.
void SetYieldInterval(int64_t milliseconds) noexcept;

// As a host thread's entries take the interpreter lock and give it back: the
// host call whose Python code an interrupt or a yield reaches.
void NoteHostThreadInPython() noexcept;
void NoteHostThreadLeavesPython() noexcept;

// Around the interpreter's life: pending calls are made only while it runs.
void AcceptInterrupts() noexcept;  // it has started
void RefuseInterrupts() noexcept;  // it is about to stop

// At every start: Python's own _thread.interrupt_main interrupts the host's
// call this way (the library's would act on signal handlers the plugin never
// installs, and some versions crash there).
void InstallInterruptHooks() noexcept;
