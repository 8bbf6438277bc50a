// The workers that run tasks' Python code, the list of runs with news for the host's thread, and the end of
// every run before Python stops.

#include "PythonTask/TaskRuns.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonRuntime/OutlivingThreads.h"
#include "PythonRuntime/VisibleState.h"
#include "PythonValues/TracebackText.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTaskEndPatience = std::chrono::seconds(2);
// Idle workers beyond this many end after waiting this long for a run.
constexpr int kIdleWorkersKept = 4;
constexpr auto kIdleWorkerLinger = std::chrono::seconds(5);

// Everything below is under `mutex`. Created on first use and never freed:
// workers may still wait on it while the process exits.
struct Runs {
  std::mutex mutex;
  std::condition_variable workToDo;  // a run was queued
  std::condition_variable news;      // a run reported progress or ended
  std::deque<TaskRunRef> queued;     // submitted, not yet taken by a worker
  std::vector<TaskRunRef> running;   // taken by a worker and not ended by it
  std::vector<TaskRunRef> listed;    // with something to deliver
  bool deliveryQueued = false;       // the host's deferred work will deliver the list
  uint64_t accepting = 0;            // the interpreter runs may be submitted for; 0 while none
  int workers = 0;                   // worker threads alive
  int idleWorkers = 0;               // of them, waiting for a run
  int unnamedWorkers = 0;            // started, not yet known to OutlivingThreads by their system id
};
Runs& RunsState() {
  static Runs* state = new Runs;
  return *state;
}

TaskDeliverer gDeliverer = nullptr;
thread_local const TaskRunRef* tCurrentRun = nullptr;  // the run this worker runs now

void DeliverListedLater() noexcept { DeliverListedTaskRuns(); }

// With the runs' mutex: the run has news; the host's thread hears of it at
// its next host call or tick.
bool List(TaskRun& run, const TaskRunRef& shared) {
  Runs& state = RunsState();
  if (!run.listed) {
    state.listed.push_back(shared);
    run.listed = true;
  }
  state.news.notify_all();
  return !std::exchange(state.deliveryQueued, true);
}

// With the runs' mutex: decides the run's outcome once; false when it was decided already.
bool EndOnce(TaskRun& run, TaskOutcome outcome) {
  if (run.ended) return false;
  run.ended = true;
  run.outcome = outcome;
  NoteLockWantedByPluginThreads(-1);
  return true;
}

void ScheduleDelivery(bool schedule) {
  if (schedule) DeferToHostThread(&DeliverListedLater);
}

// With the interpreter lock.
void ReleaseTaken(TaskRun& run) {
  for (PyObjectRef* field : {&run.callable, &run.arguments, &run.keywords, &run.globals})
    if (PyObjectRef object = std::exchange(*field, nullptr)) ReleasePythonRef(object);
}

std::string Utf8Of(PyObjectRef text) {
  if (!text || !IsPythonStr(text) || !HasPythonEntries(EPyUnicode_AsEncodedString, EPyBytes_AsString, EPyBytes_Size))
    return std::string();
  const ScopedReference bytes = ScopedReference::Adopt(EPyUnicode_AsEncodedString(text, "utf-8", "backslashreplace"));
  if (!bytes) return std::string();
  return std::string(EPyBytes_AsString(bytes.Get()), static_cast<size_t>(EPyBytes_Size(bytes.Get())));
}

// The pending error in the words of the engine's error readers; cleared.
void TakeErrorText(TaskRun& run) {
  PyObjectRef fetched[3] = {nullptr, nullptr, nullptr};
  EPyErr_Fetch(&fetched[0], &fetched[1], &fetched[2]);
  if (!fetched[0]) return;
  EPyErr_NormalizeException(&fetched[0], &fetched[1], &fetched[2]);
  const ScopedReference type = ScopedReference::Adopt(fetched[0]), value = ScopedReference::Adopt(fetched[1]),
                        traceback = ScopedReference::Adopt(fetched[2]);
  run.errorType = Utf8Of(ScopedReference::Adopt(NewTypeName(type.Get())).Get());
  // May run the class's __str__.
  run.errorMessage =
      Utf8Of(ScopedReference::Adopt(value && EPyObject_Str ? EPyObject_Str(value.Get()) : nullptr).Get());
  run.traceback = TracebackText(type.Get(), value.Get(), traceback.Get());
  EPyErr_Clear();
}

// Python's own call of the run; a new reference or null with the error set.
PyObjectRef CallRun(TaskRun& run) {
  if (run.callable) return EPyObject_Call(run.callable, run.arguments, run.keywords);
  return EPyRun_StringFlags(run.source.c_str(), Py_file_input, run.globals, run.globals, nullptr);
}

// On a worker, which must not be noexcept below this: Python ends a thread
// that asks for the lock after it stopped with a forced unwind.
void RunOnWorker(const TaskRunRef& shared) {
  TaskRun& run = *shared;
  const int gil = EPyGILState_Ensure();
  tCurrentRun = &shared;
  PyObjectRef result = nullptr;
  bool raised = false;
  if (!run.cancelled.load()) {
    run.pythonThread = EPyThread_get_thread_ident();
    run.inPython = true;
    result = CallRun(run);
    run.inPython = false;
    // A Cancel that came as the call returned is not raised in what follows.
    if (run.interruptSent && EPyThreadState_SetAsyncExc) EPyThreadState_SetAsyncExc(run.pythonThread, nullptr);
    raised = result == nullptr;
  }
  const bool cancelled = run.cancelled.load();
  if (raised && !cancelled) {
    try {
      TakeErrorText(run);
    } catch (const std::exception&) {
      EPyErr_Clear();
    }
  }
  if (EPyErr_Occurred()) EPyErr_Clear();
  if (result && cancelled) ReleasePythonRef(std::exchange(result, nullptr));
  ReleaseTaken(run);
  const TaskOutcome outcome = cancelled ? TaskOutcome::Cancelled : raised ? TaskOutcome::Failed : TaskOutcome::Finished;
  bool schedule = false;
  bool ended;
  {
    Runs& state = RunsState();
    std::lock_guard<std::mutex> lock(state.mutex);
    ended = EndOnce(run, outcome);
    if (ended) {
      run.result = result;
      schedule = List(run, shared);
    }
    state.running.erase(std::remove(state.running.begin(), state.running.end(), shared), state.running.end());
  }
  if (!ended && result) ReleasePythonRef(result);  // Finalize has ended it already: nobody takes the value
  tCurrentRun = nullptr;
  EPyGILState_Release(gil);
  ScheduleDelivery(schedule);
}

// The thread's count is given back however it ends, a forced unwind included.
struct WorkerPresence {
  WorkerPresence() {
    NotePluginThread(id, true);
    Runs& state = RunsState();
    std::lock_guard<std::mutex> lock(state.mutex);
    --state.unnamedWorkers;
    state.news.notify_all();
  }
  WorkerPresence(const WorkerPresence&) = delete;
  WorkerPresence& operator=(const WorkerPresence&) = delete;
  ~WorkerPresence() {
    NotePluginThread(id, false);
    Runs& state = RunsState();
    std::lock_guard<std::mutex> lock(state.mutex);
    --state.workers;
  }
  const long id = static_cast<long>(syscall(SYS_gettid));
};

// With the runs' mutex: the next run for this worker, once there is one.
// Null when the worker is one too many: a burst of tasks leaves no crowd of
// idle threads behind.
TaskRunRef TakeRun(std::unique_lock<std::mutex>& lock) {
  Runs& state = RunsState();
  ++state.idleWorkers;
  while (state.queued.empty()) {
    if (state.workToDo.wait_for(lock, kIdleWorkerLinger) == std::cv_status::timeout && state.queued.empty() &&
        state.idleWorkers > kIdleWorkersKept) {
      --state.idleWorkers;
      return nullptr;
    }
  }
  --state.idleWorkers;
  TaskRunRef run = std::move(state.queued.front());
  state.queued.pop_front();
  state.running.push_back(run);
  run->systemThreadId.store(static_cast<long>(syscall(SYS_gettid)));
  return run;
}

void* WorkerMain(void*) {
  WorkerPresence presence;
  for (;;) {
    TaskRunRef run;
    try {
      std::unique_lock<std::mutex> lock(RunsState().mutex);
      run = TakeRun(lock);
    } catch (const std::exception&) {
      return nullptr;
    }
    if (!run) return nullptr;
    RunOnWorker(run);
  }
}

// With the runs' mutex: a worker for every queued run.
bool EnoughWorkers() {
  Runs& state = RunsState();
  if (static_cast<size_t>(state.idleWorkers) >= state.queued.size()) return true;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return state.workers > 0;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool started = pthread_create(&thread, &attributes, &WorkerMain, nullptr) == 0;
  pthread_attr_destroy(&attributes);
  if (started) {
    ++state.workers;
    ++state.unnamedWorkers;
  }
  return started || state.workers > 0;
}

}  // namespace

void SetTaskDeliverer(TaskDeliverer taskDeliverer) noexcept { gDeliverer = taskDeliverer; }

bool SubmitTaskRun(const TaskRunRef& run) noexcept {
  if (!HasPythonEntries(EPyGILState_Ensure, EPyGILState_Release, EPyObject_Call, EPyRun_StringFlags,
                        EPyThread_get_thread_ident, EPyErr_Fetch, EPyErr_NormalizeException, EPyErr_Occurred,
                        EPyErr_Clear)) {
    ReleaseTaken(*run);
    return false;
  }
  Runs& state = RunsState();
  try {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.accepting == 0 || state.accepting != run->interpreter) {
      ReleaseTaken(*run);
      return false;
    }
    state.queued.push_back(run);
    NoteLockWantedByPluginThreads(+1);
    if (!EnoughWorkers()) {
      state.queued.pop_back();
      NoteLockWantedByPluginThreads(-1);
      ReleaseTaken(*run);
      return false;
    }
  } catch (const std::exception&) {
    ReleaseTaken(*run);
    return false;
  }
  state.workToDo.notify_one();
  return true;
}

void CancelTaskRun(const TaskRunRef& run) noexcept {
  run->cancelled.store(true);
  Runs& state = RunsState();
  bool schedule = false, dequeued = false;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = std::find(state.queued.begin(), state.queued.end(), run);
    if (found != state.queued.end()) {
      state.queued.erase(found);
      dequeued = EndOnce(*run, TaskOutcome::Cancelled);
      try {
        if (dequeued) schedule = List(*run, run);
      } catch (const std::exception&) {
      }
    }
  }
  if (dequeued && gPythonInitialized) ReleaseTaken(*run);
  // Both under the lock: the worker's code is running, or it has not begun and
  // reads the flag once it has the lock.
  if (run->inPython && !run->interruptSent && EPyThreadState_SetAsyncExc && e__PyExc_KeyboardInterrupt &&
      *e__PyExc_KeyboardInterrupt) {
    run->interruptSent = true;
    EPyThreadState_SetAsyncExc(run->pythonThread, *e__PyExc_KeyboardInterrupt);
  }
  ScheduleDelivery(schedule);
}

TaskNews TakeTaskNews(TaskRun& run) noexcept {
  TaskNews news;
  try {
    std::lock_guard<std::mutex> lock(RunsState().mutex);
    if (run.progressPending) {
      run.progressPending = false;
      news.kind = TaskNews::kProgress;
      news.fraction = run.fraction;
      news.message.swap(run.message);
    } else if (run.ended && !run.outcomeTaken) {
      run.outcomeTaken = true;
      news.kind = TaskNews::kEnding;
      news.outcome = run.outcome;
      news.errorType.swap(run.errorType);
      news.errorMessage.swap(run.errorMessage);
      news.traceback.swap(run.traceback);
    }
  } catch (const std::exception&) {
    news.kind = TaskNews::kNothing;
  }
  return news;
}

bool TaskRunHasNews(TaskRun& run) noexcept {
  std::lock_guard<std::mutex> lock(RunsState().mutex);
  return run.progressPending || (run.ended && !run.outcomeTaken);
}

bool TaskRunEnded(TaskRun& run) noexcept {
  std::lock_guard<std::mutex> lock(RunsState().mutex);
  return run.ended;
}

void DeliverListedTaskRuns() noexcept {
  std::vector<TaskRunRef> listed;
  {
    Runs& state = RunsState();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.deliveryQueued = false;
    listed.swap(state.listed);
    for (const TaskRunRef& run : listed) run->listed = false;
  }
  for (const TaskRunRef& run : listed)
    if (gDeliverer) gDeliverer(run);
}

void WaitForTaskNews(TaskRun& run, bool endingOnly, int64_t milliseconds) noexcept {
  Runs& state = RunsState();
  std::unique_lock<std::mutex> lock(state.mutex);
  state.news.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(milliseconds, 0)), [&] {
    return (run.ended && (endingOnly || !run.outcomeTaken)) || (!endingOnly && run.progressPending);
  });
}

void AcceptTaskRuns() noexcept {
  std::lock_guard<std::mutex> lock(RunsState().mutex);
  RunsState().accepting = CurrentInterpreter();
}

bool TaskRunsAccepted() noexcept {
  std::lock_guard<std::mutex> lock(RunsState().mutex);
  return RunsState().accepting != 0 && RunsState().accepting == CurrentInterpreter();
}

TaskRun* CurrentTaskRun() noexcept { return tCurrentRun ? tCurrentRun->get() : nullptr; }

void ReportTaskProgress(double fraction, std::string message) noexcept {
  if (!tCurrentRun) return;
  TaskRun& run = **tCurrentRun;
  bool schedule = false;
  {
    std::lock_guard<std::mutex> lock(RunsState().mutex);
    if (run.ended) return;
    run.fraction = fraction;
    run.message.swap(message);
    run.progressPending = true;
    try {
      schedule = List(run, *tCurrentRun);
    } catch (const std::exception&) {
    }
  }
  ScheduleDelivery(schedule);
}

void EndTaskRuns() noexcept {
  Runs& state = RunsState();
  std::deque<TaskRunRef> queued;
  std::vector<TaskRunRef> running;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.accepting = 0;
    queued.swap(state.queued);
    running = state.running;
  }
  for (const TaskRunRef& run : queued) {
    run->cancelled.store(true);
    ReleaseTaken(*run);
    std::lock_guard<std::mutex> lock(state.mutex);
    if (EndOnce(*run, TaskOutcome::Cancelled)) {
      try {
        List(*run, run);
      } catch (const std::exception&) {
      }
    }
  }
  for (const TaskRunRef& run : running) CancelTaskRun(run);
  // Workers need the lock to end their runs; a worker just started is known
  // by its system id once it runs, so that Python's daemon threads are told
  // apart from it.
  const auto settled = [&] { return state.running.empty() && state.unnamedWorkers <= 0; };
  bool waits;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    waits = !settled();
  }
  if (waits && HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread)) {
    PyThreadState* thread = EPyEval_SaveThread();
    {
      std::unique_lock<std::mutex> lock(state.mutex);
      state.news.wait_until(lock, Clock::now() + kTaskEndPatience, settled);
    }
    EPyEval_RestoreThread(thread);
  }
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const TaskRunRef& run : state.running) {
      // Left to end as Python ends a daemon thread; a new start waits for it.
      NoteOutlivingThread(run->systemThreadId.load());
      if (EndOnce(*run, TaskOutcome::Cancelled)) {
        try {
          List(*run, run);
        } catch (const std::exception&) {
        }
      }
    }
    state.running.clear();
  }
  DeliverListedTaskRuns();
}
