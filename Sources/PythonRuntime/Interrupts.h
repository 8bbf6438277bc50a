// Reaching the Python code that the host's current calls run, between two
// of their bytecodes, from any thread: Python3Engine.Interrupt and the yields
// of SetYieldInterval (the host's other threads run there).
//
// On the thread that started the interpreter (the one whose pending calls
// Python runs, as it runs signal handlers there) both go through Python's
// pending calls, and an interrupt acts as Ctrl-C does in a standalone Python:
// the handler that Python code set for SIGINT runs (default_int_handler from
// the start, raising KeyboardInterrupt), SIG_IGN ignores it, and SIG_DFL or a
// handler set outside Python still raises KeyboardInterrupt, so that a Cancel
// button always works. On any other host thread, a call is interrupted with
// KeyboardInterrupt raised asynchronously in its thread, and yields come from
// a trace function installed on that thread while a yield interval is set.
// No signal is sent and no signal disposition changes. What arrives while no
// host call runs Python code is dropped, never kept for a later call.
#pragma once

#include <cstdint>

// From any thread, at any time (before Init and after Finalize it does
// nothing): interrupts the current call of every host thread running one.
void RequestInterrupt() noexcept;

// 0 for never (the default); otherwise the host yields (REALYieldToRB)
// about every `milliseconds` while one of its calls runs Python code longer.
// A host thread other than the interpreter's starts yielding at its next call.
void SetYieldInterval(int64_t milliseconds) noexcept;

// As a host thread's entries take the interpreter lock and give it back: the
// host call whose Python code an interrupt or a yield reaches. Called with
// the interpreter lock held (the second also after Finalize, without it).
void NoteHostThreadInPython() noexcept;
void NoteHostThreadLeavesPython() noexcept;

// Around the interpreter's life: pending calls are made only while it runs.
void AcceptInterrupts() noexcept;  // it has started
void RefuseInterrupts() noexcept;  // it is about to stop

// At every start, on the thread that starts it: SIGINT's Python handler is
// default_int_handler, as in a standalone Python, while the process keeps its
// own disposition; _thread.interrupt_main and signal.raise_signal(SIGINT)
// reach the host's call through the plugin (the library's would act on a
// signal handler that the plugin never installs).
void InstallInterruptHooks() noexcept;

// After Finalize: Python puts a default disposition back for the signals it
// handled, SIGINT among them; the application's own comes back instead.
void RestoreSigintDisposition() noexcept;
