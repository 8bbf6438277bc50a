// What the raw C API way and the pybind11 way share: built against the
// headers of one Python minor version, in each comparison module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <vector>

#include "BenchWays.h"

namespace bench {

inline const ComparisonContext* gContext = nullptr;  // set by the module's entry
// The interpreter lock as the plugin takes it around a host call.
class GilState {
 public:
  GilState() : state_(PyGILState_Ensure()) {}
  ~GilState() { PyGILState_Release(state_); }
  GilState(const GilState&) = delete;
  GilState& operator=(const GilState&) = delete;

 private:
  PyGILState_STATE state_;
};

// Runs `step` holding the interpreter lock, as one host call into the plugin
// does; `Lock` is the way's own kind of lock.
template <typename Lock = GilState, typename Step>
auto Locked(Step step) {
  Lock lock;
  return step();
}

inline bool Verified(benchmark::State& state, bool correct, const char* what) {
  if (!correct) state.SkipWithError(what);
  return correct;
}

// A new reference to an attribute of the benchmark's module; null on failure.
inline PyObject* ModuleAttribute(const std::string& name) {
  return Locked([&]() -> PyObject* {
    PyObject* module = PyImport_ImportModule(kPythonModule);
    if (!module) return nullptr;
    PyObject* attribute = PyObject_GetAttrString(module, name.c_str());
    Py_DECREF(module);
    return attribute;
  });
}

inline void Release(PyObject* object) {
  Locked([&] { Py_XDECREF(object); });
}

inline PyObject* NewArguments(int count) {
  PyObject* arguments = PyTuple_New(count);
  for (int index = 0; index < count; ++index) PyTuple_SetItem(arguments, index, PyLong_FromLong(index + 1));
  return arguments;
}

inline int32_t Expected(int arguments) { return arguments == 0 ? 0 : 1; }
inline void InterpreterStopped(benchmark::State& state, void (*cycle)()) {
  gContext->stopPluginInterpreter();
  for (auto _ : state) cycle();
  gContext->startPluginInterpreter();
}

// Calls call_add of the benchmark's module with the module holding `add`,
// which must be in sys.modules.
inline void CallbackLoop(benchmark::State& state, const char* module) {
  PyObject* loop = ModuleAttribute(kCallbackLoop);
  PyObject* arguments = Locked([&] { return Py_BuildValue("(si)", module, kCallbackCalls); });
  long first = Locked([&] {
    PyObject* result = loop ? PyObject_Call(loop, arguments, nullptr) : nullptr;
    long value = result ? PyLong_AsLong(result) : -1;
    if (!result) PyErr_Clear();
    Py_XDECREF(result);
    return value;
  });
  if (Verified(state, first == 3, "host function")) {
    for (auto _ : state) {
      PyObject* result = Locked([&] { return PyObject_Call(loop, arguments, nullptr); });
      Locked([&] { Py_DECREF(result); });
    }
  }
  Release(arguments);
  Release(loop);
}

constexpr long kBulkSum = long{kBulkItems} * (kBulkItems - 1) / 2;
inline std::vector<std::string> BulkKeys() {
  std::vector<std::string> keys;
  for (int index = 0; index < kBulkItems; ++index) keys.push_back(BulkKey(index));
  return keys;
}

}  // namespace bench
