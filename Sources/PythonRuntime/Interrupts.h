// Interrupting the Python code that the host's current call runs: it gets
// KeyboardInterrupt at its next bytecode boundary. No signal is sent and no
// signal disposition changes; an interrupt while no host call runs Python
// code is dropped, never kept for a later call.
#pragma once

// With the interpreter lock held, on any thread.
void RequestInterrupt() noexcept;

// Under the interpreter lock, as a host thread's entries take it and give it
// back: the thread whose Python code an interrupt reaches, and the end of its
// call, where an interrupt it did not meet is dropped.
void NoteHostThreadInPython() noexcept;
void NoteHostThreadLeavesPython() noexcept;
// The interpreter is gone, and with it whatever was on its way.
void ForgetInterrupts() noexcept;

// At every start: Python's own _thread.interrupt_main interrupts the host's
// call this way (the library's would act on signal handlers the plugin never
// installs, and some versions crash there).
void InstallInterruptHooks() noexcept;
