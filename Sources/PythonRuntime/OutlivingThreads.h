// Daemon threads outlive Py_Finalize. CPython ends each of them when it next
// takes the interpreter lock, but a restart resets the runtime's state, and a
// thread of the old interpreter that wakes up after it runs on freed memory.
// So the plugin remembers those threads at Finalize, gives them the lock to
// end on, and starts a new interpreter only once they are gone.
#pragma once

#include <string>

// The interpreter has just started: the process's threads before any Python
// thread exists (for libraries that cannot name their threads' system ids).
void NoteThreadsAtStart() noexcept;
// The plugin's own threads (tasks' workers), which Python may count as its
// daemon threads once their code asked for threading.current_thread(): an
// idle one is no thread of the interpreter's. From the thread itself, as it
// begins and ends.
void NotePluginThread(long systemId, bool alive) noexcept;
// Just before Py_Finalize, with the interpreter lock held.
void NoteThreadsOutlivingInterpreter() noexcept;
// Just before Py_Finalize, after NoteThreadsOutlivingInterpreter: a thread of
// the plugin's own (a task's worker) that is still inside Python code.
void NoteOutlivingThread(long systemId) noexcept;
// Just after Py_Finalize: the lock is let go so that waiting threads end.
void LetOutlivingThreadsEnd() noexcept;
// Before a new start: true once every remembered thread has ended (it waits a
// little for them); otherwise false with the reason in `why`.
bool OutlivingThreadsEnded(std::string* why) noexcept;
