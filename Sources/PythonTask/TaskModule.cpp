// The C functions of the module python3task, and its installing at every start.
#include "PythonTask/TaskModule.h"

#include <string>

#include "PythonLibrary/PythonAbi.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonTask/TaskRuns.h"

namespace {

// The argument of `name` at `position` or by keyword; borrowed, null when absent.
PyObjectRef Argument(PyObjectRef arguments, PyObjectRef keywords, Py_ssize_t position, const char* name) {
  if (arguments && EPyTuple_Size(arguments) > position) return EPyTuple_GetItem(arguments, position);
  if (!keywords || !IsPythonDict(keywords)) return nullptr;
  const ScopedReference key = ScopedReference::Adopt(
      EPyUnicode_FromStringAndSize(name, static_cast<Py_ssize_t>(std::char_traits<char>::length(name))));
  return key ? EPyDict_GetItem(keywords, key.Get()) : nullptr;
}

// Only an int or a float and a str are taken, whose conversions run no Python
// code: the task's thread must not be ended inside this function.
PyObjectRef TaskProgress(PyObjectRef, PyObjectRef arguments, PyObjectRef keywords) noexcept {
  if (!HasPythonEntries(EPyTuple_Size, EPyTuple_GetItem, EPyUnicode_FromStringAndSize, EPyDict_GetItem, EPyDict_Size,
                        EPyFloat_AsDouble, EPyUnicode_AsUTF8AndSize, EPyErr_Occurred))
    return nullptr;
  const Py_ssize_t given = (arguments ? EPyTuple_Size(arguments) : 0) + (keywords ? EPyDict_Size(keywords) : 0);
  PyObjectRef fraction = Argument(arguments, keywords, 0, "fraction");
  PyObjectRef message = Argument(arguments, keywords, 1, "message");
  if (!fraction || given > 2 || (given == 2 && !message)) {
    RaisePythonError(e__PyExc_TypeError, "progress(fraction, message=\"\") takes a number and an optional str");
    return nullptr;
  }
  if (!(IsPythonFloat(fraction) || IsPythonInt(fraction)) || (message && !IsPythonStr(message))) {
    RaisePythonError(e__PyExc_TypeError, "progress() takes a fraction as int or float and a message as str");
    return nullptr;
  }
  const double value = EPyFloat_AsDouble(fraction);
  if (value == -1.0 && EPyErr_Occurred()) return nullptr;
  std::string text;
  if (message) {
    Py_ssize_t size = 0;
    const char* utf8 = EPyUnicode_AsUTF8AndSize(message, &size);
    if (!utf8) return nullptr;
    try {
      text.assign(utf8, static_cast<size_t>(size));
    } catch (const std::exception&) {
      RaisePythonError(e__PyExc_MemoryError, "no memory for the progress message");
      return nullptr;
    }
  }
  ReportTaskProgress(value, std::move(text));
  return NewPythonNone();
}

PyObjectRef TaskCancelled(PyObjectRef, PyObjectRef) noexcept {
  TaskRun* run = CurrentTaskRun();
  return NewPythonBool(run && run->cancelled.load());
}

PyMethodDef gTaskMethods[] = {
    {"progress", AsFunctionOfSignature<PyCFunction>(&TaskProgress), METH_VARARGS | METH_KEYWORDS,
     "progress(fraction, message=\"\"): reported to the application as the task's Progress event; when the "
     "application is slower than the task, only the latest report is kept. Outside a task it does nothing."},
    {"cancelled", &TaskCancelled, METH_NOARGS,
     "cancelled(): True once the application has called the task's Cancel; False outside a task."},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef gTaskModule = {
    {{1, nullptr}, nullptr, 0, nullptr},
    "python3task",
    "What a Python3Task's code tells the application: its progress, and whether it was cancelled.",
    -1,
    gTaskMethods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

void InstallTaskModule() noexcept {
  if (!HasPythonEntries(EPyModule_Create2, EPySys_GetObject, EPyDict_SetItem, EPyUnicode_FromStringAndSize,
                        EPyErr_Clear))
    return;
  {
    const ScopedReference module = ScopedReference::Adopt(EPyModule_Create2(&gTaskModule, kPythonApiVersion));
    PyObjectRef modules = EPySys_GetObject("modules");  // borrowed
    const ScopedReference name = ScopedReference::Adopt(EPyUnicode_FromStringAndSize("python3task", 11));
    if (module && modules && name) EPyDict_SetItem(modules, name.Get(), module.Get());
  }
  EPyErr_Clear();
}
