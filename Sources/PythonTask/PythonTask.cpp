// The members and events of Python3Task: starting a call or source text on a worker, Cancel, IsRunning, Wait,
// and raising the task's events on the host's thread.

#include "PythonTask/PythonTask.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>

#include "HostHandles.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonRuntime/VisibleState.h"
#include "PythonTask/TaskModule.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

using Clock = std::chrono::steady_clock;

enum TaskEvent { kProgress, kFinished, kFailed, kCancelled, kTaskEventCount };

REALevent PythonTaskEvents[] = {
    records::Event("Progress(fraction as Double, message as String)",
                   "Raised with what the task's code reported through python3task.progress; when the application is "
                   "slower than the task, only the latest report comes."),
    records::Event("Finished(result as Python3Result)",
                   "Raised once when the call returned: its value (a Result holding None for None), the "
                   "application's to keep."),
    records::Event("Failed(errorTypeName as String, message as String, traceback as String)",
                   "Raised once when the call raised: the exception's type name, message and traceback."),
    records::Event("Cancelled()",
                   "Raised once when the task ended because of Cancel or Finalize; also for a task that never began."),
};
static_assert(sizeof(PythonTaskEvents) / sizeof(PythonTaskEvents[0]) == kTaskEventCount, "one entry per event");

PythonTaskData* TaskDataOf(REALobjectStruct* instance) {
  return static_cast<PythonTaskData*>(REALGetClassData(instance, &PythonTaskClass));
}

TaskRunRef CurrentRunOf(REALobjectStruct* task) {
  PythonTaskData* data = TaskDataOf(task);
  return data && data->current ? *data->current : TaskRunRef();
}

// From its Start until its ending event is raised.
bool Runs(const TaskRunRef& run) { return run && !run->outcomeTaken; }

// Host code the plugin runs leaves Python's error state as it found it.
template <typename Raise>
void RaiseKeepingErrorState(Raise raise) {
  const bool python = gPythonInitialized && !gPythonFinalizing && EPyErr_Fetch && EPyErr_Restore && EPyErr_Clear;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  if (python) EPyErr_Fetch(&type, &value, &traceback);
  raise();
  if (python) {
    EPyErr_Clear();
    EPyErr_Restore(type, value, traceback);
  }
}

template <typename Handler, typename... Arguments>
void Raise(REALobjectStruct* task, TaskEvent event, Arguments... arguments) {
  auto handler = reinterpret_cast<Handler>(REALGetEventInstance(task, &PythonTaskEvents[event]));
  if (handler) RaiseKeepingErrorState([&] { handler(task, arguments...); });
}

ScopedString HostText(const std::string& text) {
  return ScopedString::Adopt(
      REALBuildStringWithEncoding(text.data(), static_cast<int>(text.size()), kREALTextEncodingUTF8));
}

void RaiseNews(REALobjectStruct* task, TaskRun& run, TaskNews& news) {
  if (news.kind == TaskNews::kProgress) {
    ScopedString message = HostText(news.message);
    return Raise<void (*)(REALobjectStruct*, double, REALstringStruct*)>(task, kProgress, news.fraction, message.Get());
  }
  switch (news.outcome) {
    case TaskOutcome::Finished: {
      PyObjectRef result = std::exchange(run.result, nullptr);
      ScopedObject wrapper = ScopedObject::Adopt(NewResultWrapper(result ? result : NewPythonNone()));
      return Raise<void (*)(REALobjectStruct*, REALobjectStruct*)>(task, kFinished, wrapper.Get());
    }
    case TaskOutcome::Failed: {
      ScopedString type = HostText(news.errorType), message = HostText(news.errorMessage),
                   traceback = HostText(news.traceback);
      return Raise<void (*)(REALobjectStruct*, REALstringStruct*, REALstringStruct*, REALstringStruct*)>(
          task, kFailed, type.Get(), message.Get(), traceback.Get());
    }
    default:
      return Raise<void (*)(REALobjectStruct*)>(task, kCancelled);
  }
}

// Raises what the task's current run has to tell, one event at a time, none
// inside another of the same task's.
void DeliverTaskEvents(REALobjectStruct* task) noexcept {
  // A handler may drop the application's last reference to the task.
  ScopedObject kept = ScopedObject::Borrow(task);
  for (;;) {
    PythonTaskData* data = TaskDataOf(task);
    if (!data || data->inEvent || !data->current || !*data->current) return;
    TaskRunRef run = *data->current;
    TaskNews news = TakeTaskNews(*run);
    if (news.kind == TaskNews::kNothing) return;
    data->inEvent = true;
    try {
      RaiseNews(task, *run, news);
    } catch (const std::exception&) {
    }
    data->inEvent = false;
  }
}

// The gDeliverer of listed runs: the task's events, or, for a run whose task
// has gone, its value given back.
void DeliverRun(const TaskRunRef& run) noexcept {
  if (run->owner) return DeliverTaskEvents(run->owner);
  if (PyObjectRef result = std::exchange(run->result, nullptr))
    if (gPythonInitialized && run->interpreter == CurrentInterpreter()) ReleasePythonRef(result);
}

void Initializer(REALobjectStruct* instance) {
  PythonTaskData* data = TaskDataOf(instance);
  data->current = new (std::nothrow) TaskRunRef();
  data->inEvent = false;
}

// The object is going: no event of it may be raised, not even by the
// deferred work that its destructor's entry runs first.
void Disown(REALobjectStruct* instance) noexcept {
  PythonTaskData* data = TaskDataOf(instance);
  if (data && data->current && *data->current) (*data->current)->owner = nullptr;
}

// A task let go of while it runs is cancelled and raises nothing more.
void Destructor(REALobjectStruct* instance) {
  PythonTaskData* data = TaskDataOf(instance);
  if (!data->current) return;
  TaskRunRef run = *data->current;
  delete std::exchange(data->current, nullptr);
  if (!run) return;
  run->owner = nullptr;
  if (!TaskRunEnded(*run)) CancelTaskRun(run);
  DeliverRun(run);
}

// Refusals that leave the task as it was.
bool Refuse(PyObjectRef* type, const char* why) {
  if (PythonIsRunning()) RaisePythonError(type, "Python3Task.Start was refused: ", why);
  return false;
}

bool MayStart(REALobjectStruct* self) {
  PythonTaskData* data = TaskDataOf(self);
  if (!data->current) return false;
  if (Runs(*data->current)) return Refuse(e__PyExc_RuntimeError, "the task is already running");
  if (!PythonIsRunning()) return false;
  if (!TaskRunsAccepted()) return Refuse(e__PyExc_RuntimeError, "Python is not running, or is being finalized");
  return true;
}

bool Submit(REALobjectStruct* self, TaskRunRef run) {
  run->interpreter = CurrentInterpreter();
  run->owner = self;
  if (!SubmitTaskRun(run)) {
    run->owner = nullptr;
    if (!(EPyErr_Occurred && EPyErr_Occurred()))
      RaisePythonError(e__PyExc_RuntimeError, "Python3Task.Start was refused: no thread could run the task");
    return false;
  }
  *TaskDataOf(self)->current = std::move(run);
  return true;
}

// A tuple of the run's own, so that later changes of the application's do not reach the call.
PyObjectRef CopyOfTuple(PyObjectRef tuple) {
  const Py_ssize_t size = EPyTuple_Size(tuple);
  PyObjectRef copy = size >= 0 ? EPyTuple_New(size) : nullptr;
  for (Py_ssize_t i = 0; copy && i < size; ++i) EPyTuple_SetItem(copy, i, NewReference(EPyTuple_GetItem(tuple, i)));
  return copy;
}

PyObjectRef CopyOfDict(PyObjectRef dict) {
  PyObjectRef copy = EPyDict_New();
  const ScopedReference keys = ScopedReference::Adopt(copy ? EPyDict_Keys(dict) : nullptr);
  const Py_ssize_t count = keys ? EPyList_Size(keys.Get()) : 0;
  for (Py_ssize_t i = 0; keys && i < count; ++i) {
    PyObjectRef key = EPyList_GetItem(keys.Get(), i);
    PyObjectRef value = EPyDict_GetItem(dict, key);
    if (value && EPyDict_SetItem(copy, key, value) != 0) break;
  }
  if (copy && (!keys || (EPyErr_Occurred && EPyErr_Occurred()))) ReleasePythonRef(std::exchange(copy, nullptr));
  return copy;
}

bool StartCall(REALobjectStruct* self, PyObjectRef callable, REALobjectStruct* parameters, REALobjectStruct* keywords) {
  if (!MayStart(self)) return false;
  if (!HasPythonEntries(EPyTuple_New, EPyTuple_Size, EPyTuple_GetItem, EPyTuple_SetItem, EPyDict_New, EPyDict_Keys,
                        EPyList_Size, EPyList_GetItem, EPyDict_GetItem, EPyDict_SetItem, EPyErr_Occurred))
    return false;
  if (!callable) return Refuse(e__PyExc_TypeError, "the callable is Nil or holds no Python object");
  PyObjectRef tuple = parameters ? PythonEntityObjectOf(parameters) : nullptr;
  if (parameters && (!tuple || !IsPythonTuple(tuple)))
    return Refuse(e__PyExc_TypeError, "argument list must be a tuple");
  PyObjectRef dict = keywords ? PythonEntityObjectOf(keywords) : nullptr;  // one that holds nothing means none
  if (dict && !IsPythonDict(dict)) return Refuse(e__PyExc_TypeError, "keyword list must be a dictionary");
  TaskRunRef run;
  try {
    run = std::make_shared<TaskRun>();
  } catch (const std::exception&) {
    return false;
  }
  // Copying the dictionary hashes its keys, which can run Python code that lets
  // go of the task, the callable or the arguments: each is kept meanwhile.
  const ScopedObject keptTask = ScopedObject::Borrow(self);
  const ScopedReference keptTuple = ScopedReference::Borrow(tuple), keptDict = ScopedReference::Borrow(dict);
  run->callable = NewReference(callable);
  run->arguments = tuple ? CopyOfTuple(tuple) : EPyTuple_New(0);
  run->keywords = dict ? CopyOfDict(dict) : nullptr;
  if (!run->arguments || (dict && !run->keywords)) {
    for (PyObjectRef object : {run->callable, run->arguments, run->keywords})
      if (object) ReleasePythonRef(object);
    return false;  // Python's error (no memory) is set
  }
  return Submit(self, std::move(run));
}

bool PythonTask_StartEntity(REALobjectStruct* self, REALobjectStruct* callable, REALobjectStruct* parameters) {
  return StartCall(self, callable ? PythonEntityObjectOf(callable) : nullptr, parameters, nullptr);
}
bool PythonTask_StartEntityWithKeywords(REALobjectStruct* self, REALobjectStruct* callable,
                                        REALobjectStruct* parameters, REALobjectStruct* keywords) {
  return StartCall(self, callable ? PythonEntityObjectOf(callable) : nullptr, parameters, keywords);
}
bool PythonTask_StartFunction(REALobjectStruct* self, REALobjectStruct* function, REALobjectStruct* parameters) {
  return StartCall(self, function ? PythonObjectOf(function) : nullptr, parameters, nullptr);
}
bool PythonTask_StartFunctionWithKeywords(REALobjectStruct* self, REALobjectStruct* function,
                                          REALobjectStruct* parameters, REALobjectStruct* keywords) {
  return StartCall(self, function ? PythonObjectOf(function) : nullptr, parameters, keywords);
}

bool PythonTask_StartSource(REALobjectStruct* self, REALstringStruct* source) {
  if (!MayStart(self) || !HasPythonEntries(EPyImport_AddModule, EPyModule_GetDict)) return false;
  std::string text;
  if (source) {
    HostStringBytes utf8(source, HostStringBytes::kUtf8);
    if (!utf8.Available()) return Refuse(e__PyExc_ValueError, "the source text cannot be read as UTF-8");
    text = utf8.Text();
  }
  // The compiler reads up to the first NUL: a hidden rest would be lost.
  if (text.find('\0') != std::string::npos)
    return Refuse(e__PyExc_ValueError, "source code string cannot contain null bytes");
  PyObjectRef main = EPyImport_AddModule("__main__");  // borrowed
  PyObjectRef globals = main ? EPyModule_GetDict(main) : nullptr;
  if (!globals) return false;
  TaskRunRef run = std::make_shared<TaskRun>();
  run->source = std::move(text);
  run->globals = NewReference(globals);
  return Submit(self, std::move(run));
}

void PythonTask_Cancel(REALobjectStruct* self) {
  if (TaskRunRef run = CurrentRunOf(self))
    if (!TaskRunEnded(*run)) CancelTaskRun(run);
}

bool PythonTask_IsRunning(REALobjectStruct* self, intptr_t) { return Runs(CurrentRunOf(self)); }

// Delivers the task's events while it waits, taking the interpreter lock
// only to raise them: meanwhile the task's code runs.
bool PythonTask_Wait(REALobjectStruct* self, int64_t milliseconds) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max<int64_t>(milliseconds, 0));
  ScopedObject kept = ScopedObject::Borrow(self);
  for (;;) {
    TaskRunRef run = CurrentRunOf(self);
    if (!Runs(run)) return true;
    // Inside one of its own events the ending cannot be raised yet: its end is enough.
    const bool inEvent = TaskDataOf(self)->inEvent;
    if (inEvent && TaskRunEnded(*run)) return true;
    if (!inEvent && TaskRunHasNews(*run)) {
      HoldInterpreterLock();
      DeliverTaskEvents(self);
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) return false;
    const int64_t slice =
        std::min<int64_t>(10, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1);
    const bool release = host_entries::tEntries.lockHeld != host_entries::LockHeld::None && gPythonInitialized &&
                         HasPythonEntries(EPyEval_SaveThread, EPyEval_RestoreThread);
    PyThreadState* thread = release ? EPyEval_SaveThread() : nullptr;
    WaitForTaskNews(*run, inEvent, slice);
    if (release) EPyEval_RestoreThread(thread);
  }
}

REALproperty PythonTaskProperties[] = {
    records::LockFreeProperty<PythonTask_IsRunning>(
        "IsRunning", "Boolean", "True from a successful Start until the task's ending event is raised."),
};

REALmethodDefinition PythonTaskMethods[] = {
    records::Method<PythonTask_StartEntity>(
        "Start(callable as Python3Entity, parameters as Python3Parameters) as Boolean",
        "Calls the callable with the parameters on a thread of the plugin's and returns at once; False, with "
        "Python's error set, when the task runs already, the callable is Nil or Python is not running."),
    records::Method<PythonTask_StartEntityWithKeywords>(
        "Start(callable as Python3Entity, parameters as Python3Parameters, keywords as Python3Dictionary) as Boolean",
        "As Start(callable, parameters), with keyword arguments; the arguments are copied as the task starts."),
    records::Method<PythonTask_StartFunction>(
        "Start(function as Python3Function, parameters as Python3Parameters) as Boolean",
        "Calls the function with the parameters on a thread of the plugin's and returns at once; False, with "
        "Python's error set, when the task runs already, the function is Nil or Python is not running."),
    records::Method<PythonTask_StartFunctionWithKeywords>(
        "Start(function as Python3Function, parameters as Python3Parameters, keywords as Python3Dictionary) as "
        "Boolean",
        "As Start(function, parameters), with keyword arguments; the arguments are copied as the task starts."),
    records::Method<PythonTask_StartSource>(
        "StartSource(source as String) as Boolean",
        "Runs the statements in __main__'s namespace, as Execute does, on a thread of the plugin's; Finished comes "
        "with None."),
    records::Method<PythonTask_Cancel>(
        "Cancel()",
        "The task's Python code gets KeyboardInterrupt at its next bytecode (C code and blocking waits first "
        "return); a task not yet begun never runs. From any thread, any time; the task ends with Cancelled."),
    records::LockOnDemandMethod<PythonTask_Wait>(
        "Wait(milliseconds as Integer) as Boolean",
        "Blocks up to that long, raising the task's events meanwhile; True once the task has ended."),
};

}  // namespace

void StartTasks() noexcept {
  SetTaskDeliverer(&DeliverRun);
  InstallTaskModule();
  AcceptTaskRuns();
}

void EndTasks() noexcept { EndTaskRuns(); }

REALclassDefinition PythonTaskClass =
    records::ClassRecord("Python3Task", nullptr, sizeof(PythonTaskData))
        .Describe(
            "Runs a Python call on a thread of the plugin's; its progress and ending come as events on the "
            "application's thread.")
        .Initializer<Initializer, records::kLockOnDemand>()
        .DestructorAfter<Disown, Destructor>()
        .Properties(PythonTaskProperties)
        .Methods(PythonTaskMethods)
        .Events(PythonTaskEvents);
