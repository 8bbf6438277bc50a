// One run of a Python3Task: the call it makes on a worker thread of the
// plugin's, what it produces for the application (progress, and one ending),
// the pool of workers that run them, and the list of runs with something to
// deliver on the host's thread.
//
// A run is shared between the task object (host thread) and its worker. The
// Python references it holds are touched only under the interpreter lock;
// what it produces is kept under the runs' mutex until the host's thread
// takes it. The worker never runs host code and never keeps the task object
// alive: a task object that goes away leaves its run to end unseen.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "HostGlue.h"
#include "PythonLibrary/PythonObjects.h"

enum class TaskOutcome { None, Finished, Failed, Cancelled };

struct TaskRun {
  // Taken at Start on the host's thread; owned, released under the lock by
  // whoever ends the run (its worker, or the host's thread when it never began).
  PyObjectRef callable = nullptr;   // null for source text
  PyObjectRef arguments = nullptr;  // a tuple of the run's own
  PyObjectRef keywords = nullptr;   // a dict of the run's own, or null
  PyObjectRef globals = nullptr;    // __main__'s namespace, for source text; else null
  std::string source;               // the statements of StartSource (UTF-8, no NUL)
  uint64_t interpreter = 0;         // the interpreter it was started in

  std::atomic<bool> cancelled{false};   // Cancel was called; read by python3task.cancelled()
  std::atomic<long> systemThreadId{0};  // its worker's, once one has taken it

  // Under the interpreter lock.
  bool inPython = false;           // its worker runs its Python code now
  bool interruptSent = false;      // KeyboardInterrupt was raised in that code for Cancel
  unsigned long pythonThread = 0;  // Python's id of its worker's thread, while inPython
  PyObjectRef result = nullptr;    // Finished: the value returned, owned until delivered; else null

  // Under the runs' mutex.
  bool ended = false;  // its outcome is decided
  TaskOutcome outcome = TaskOutcome::None;
  bool progressPending = false;  // a progress report not yet taken: only the latest is kept
  double fraction = 0;
  std::string message;                             // of the pending progress report
  std::string errorType, errorMessage, traceback;  // Failed
  bool listed = false;                             // on the list of runs with something to deliver

  // On the host's thread only.
  REALobjectStruct* owner = nullptr;  // the task object; not locked; null once it has gone
  bool outcomeTaken = false;          // its ending was handed to the host's thread (set under the runs' mutex)
};

using TaskRunRef = std::shared_ptr<TaskRun>;

// What the host's thread takes from a run, oldest first.
struct TaskNews {
  enum Kind { kNothing, kProgress, kEnding } kind = kNothing;
  double fraction = 0;
  std::string message;
  TaskOutcome outcome = TaskOutcome::None;
  std::string errorType, errorMessage, traceback;
};

// The host's thread, with the interpreter lock. Called for the runs listed
// (each once per listing) from the host's deferred work.
using TaskDeliverer = void (*)(const TaskRunRef& run) noexcept;
void SetTaskDeliverer(TaskDeliverer deliverer) noexcept;

// Host's thread, with the interpreter lock: a new run goes to a worker.
// False (the run's references released) when no worker thread can be had.
bool SubmitTaskRun(const TaskRunRef& run) noexcept;

// Any thread inside a host entry holding the lock: the run is cancelled. One
// not begun ends at once (Cancelled); one running gets KeyboardInterrupt.
void CancelTaskRun(const TaskRunRef& run) noexcept;

// Host's thread: the next thing to deliver of the run; kNothing when none.
TaskNews TakeTaskNews(TaskRun& run) noexcept;
bool TaskRunEnded(TaskRun& run) noexcept;
bool TaskRunHasNews(TaskRun& run) noexcept;  // progress or an ending not yet taken

// Host's thread, with the lock: delivers what every listed run has now.
void DeliverListedTaskRuns() noexcept;

// Waits up to `milliseconds` for news of the run to deliver (its progress or
// ending; its end only, with endingOnly), without the interpreter lock (the
// caller gave it up).
void WaitForTaskNews(TaskRun& run, bool endingOnly, int64_t milliseconds) noexcept;

// The interpreter has started: runs may be submitted.
void AcceptTaskRuns() noexcept;
// Before Python stops, holding the lock: every run is cancelled; the
// running ones are waited for up to kTaskEndPatience (the lock given up
// meanwhile); those still running are left as the daemon threads Python
// ends, and every run's events are delivered.
void EndTaskRuns() noexcept;
// True while runs may be submitted: the interpreter runs and is not stopping.
bool TaskRunsAccepted() noexcept;

// From a worker, holding the lock: the run whose code this thread runs, or null.
TaskRun* CurrentTaskRun() noexcept;
// From a worker, holding the lock: a progress report of the current run;
// nothing outside a run. Only the latest waits for the host's thread.
void ReportTaskProgress(double fraction, std::string message) noexcept;
