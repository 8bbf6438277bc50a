// The same operations through the raw CPython C API and through pybind11,
// built against the headers of one Python minor version and loaded by the
// benchmark once the plugin has loaded that library. Every step that is a
// separate host call for the plugin takes and gives back the interpreter lock
// here too, as the plugin does between host calls.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "BenchWays.h"

// pybind11 2.10 predates Python 3.12.
#if PY_VERSION_HEX < 0x030C0000
#define BENCH_WITH_PYBIND11 1
#include <pybind11/embed.h>
namespace py = pybind11;
#endif

namespace bench {
namespace {

const ComparisonContext* gContext = nullptr;

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

bool Verified(benchmark::State& state, bool correct, const char* what) {
  if (!correct) state.SkipWithError(what);
  return correct;
}

// A new reference to an attribute of the benchmark's module; null on failure.
PyObject* ModuleAttribute(const std::string& name) {
  return Locked([&]() -> PyObject* {
    PyObject* module = PyImport_ImportModule(kPythonModule);
    if (!module) return nullptr;
    PyObject* attribute = PyObject_GetAttrString(module, name.c_str());
    Py_DECREF(module);
    return attribute;
  });
}

void Release(PyObject* object) {
  Locked([&] { Py_XDECREF(object); });
}

PyObject* NewArguments(int count) {
  PyObject* arguments = PyTuple_New(count);
  for (int index = 0; index < count; ++index) PyTuple_SetItem(arguments, index, PyLong_FromLong(index + 1));
  return arguments;
}

int32_t Expected(int arguments) { return arguments == 0 ? 0 : 1; }

template <int Arguments>
void RawInvokePrebuilt(benchmark::State& state) {
  PyObject* function = ModuleAttribute(InvokedFunction(Arguments));
  PyObject* arguments = Locked([] { return NewArguments(Arguments); });
  long first = Locked([&] {
    PyObject* result = function ? PyObject_Call(function, arguments, nullptr) : nullptr;
    long value = result ? PyLong_AsLong(result) : -1;
    Py_XDECREF(result);
    return value;
  });
  if (Verified(state, first == Expected(Arguments), "call")) {
    for (auto _ : state) {
      PyObject* result = Locked([&] { return PyObject_Call(function, arguments, nullptr); });
      benchmark::DoNotOptimize(Locked([&] { return PyLong_AsLong(result); }));
      Locked([&] { Py_DECREF(result); });
    }
  }
  Release(arguments);
  Release(function);
}

template <int Arguments>
void RawInvokeBuilt(benchmark::State& state) {
  PyObject* function = ModuleAttribute(InvokedFunction(Arguments));
  if (Verified(state, function != nullptr, "function")) {
    for (auto _ : state) {
      PyObject* arguments = Locked([] { return PyTuple_New(Arguments); });
      for (int index = 0; index < Arguments; ++index)
        Locked([&] { PyTuple_SetItem(arguments, index, PyLong_FromLong(index + 1)); });
      PyObject* result = Locked([&] { return PyObject_Call(function, arguments, nullptr); });
      benchmark::DoNotOptimize(Locked([&] { return PyLong_AsLong(result); }));
      Locked([&] { Py_DECREF(result); });
      Locked([&] { Py_DECREF(arguments); });
    }
  }
  Release(function);
}

template <Text Which>
void RawStringRoundTrip(benchmark::State& state) {
  PyObject* echo = ModuleAttribute("echo");
  const std::string& text = TextBytes(Which);
  std::string back;
  back.reserve(text.size());
  auto roundTrip = [&] {
    PyObject* arguments = Locked([] { return PyTuple_New(1); });
    Locked([&] {
      PyTuple_SetItem(arguments, 0, PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
    PyObject* result = Locked([&] { return PyObject_Call(echo, arguments, nullptr); });
    Locked([&] {
      Py_ssize_t size = 0;
      const char* bytes = PyUnicode_AsUTF8AndSize(result, &size);
      back.assign(bytes, static_cast<size_t>(size));
    });
    Locked([&] { Py_DECREF(result); });
    Locked([&] { Py_DECREF(arguments); });
  };
  if (echo) roundTrip();
  if (Verified(state, echo && back == text, "round trip"))
    for (auto _ : state) roundTrip();
  Release(echo);
}

// sys.stdout.write for the raw way: hands the text to the application, as
// the console event does.
size_t gDelivered = 0;

PyObject* RawWrite(PyObject*, PyObject* arguments) {
  const char* text = nullptr;
  Py_ssize_t size = 0;
  if (!PyArg_ParseTuple(arguments, "s#", &text, &size)) return nullptr;
  gDelivered += static_cast<size_t>(size);
  benchmark::DoNotOptimize(text);
  Py_RETURN_NONE;
}

PyObject* RawFlush(PyObject*, PyObject*) { Py_RETURN_NONE; }

PyMethodDef gRawConsoleMethods[] = {
    {"write", RawWrite, METH_VARARGS, nullptr},
    {"flush", RawFlush, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef gRawConsole = {PyModuleDef_HEAD_INIT, "benchrawconsole", nullptr, -1, gRawConsoleMethods,
                           nullptr,               nullptr,           nullptr, nullptr};

// Runs `work` with `console` (a new reference, consumed) as sys.stdout.
template <typename Work>
void WithStdout(PyObject* console, Work work) {
  PyObject* previous = Locked([&] {
    PyObject* kept = PySys_GetObject("stdout");
    Py_XINCREF(kept);
    PySys_SetObject("stdout", console);
    Py_XDECREF(console);
    return kept;
  });
  work();
  Locked([&] {
    PySys_SetObject("stdout", previous);
    Py_XDECREF(previous);
  });
}

void InterpreterStopped(benchmark::State& state, void (*cycle)()) {
  gContext->stopPluginInterpreter();
  for (auto _ : state) cycle();
  gContext->startPluginInterpreter();
}

}  // namespace

BENCH_WAY(Raw, MemberCall) {
  for (auto _ : state) benchmark::DoNotOptimize(Locked([] { return PyErr_Occurred(); }));
}
BENCH_WAY(Raw, Invoke0Prebuilt) { RawInvokePrebuilt<0>(state); }
BENCH_WAY(Raw, Invoke0Built) { RawInvokeBuilt<0>(state); }
BENCH_WAY(Raw, Invoke1Prebuilt) { RawInvokePrebuilt<1>(state); }
BENCH_WAY(Raw, Invoke1Built) { RawInvokeBuilt<1>(state); }
BENCH_WAY(Raw, Invoke3Prebuilt) { RawInvokePrebuilt<3>(state); }
BENCH_WAY(Raw, Invoke3Built) { RawInvokeBuilt<3>(state); }
BENCH_WAY(Raw, StringAscii16) { RawStringRoundTrip<Text::Ascii16>(state); }
BENCH_WAY(Raw, StringUtf8_16) { RawStringRoundTrip<Text::Utf8_16>(state); }
BENCH_WAY(Raw, StringAscii1K) { RawStringRoundTrip<Text::Ascii1K>(state); }
BENCH_WAY(Raw, StringUtf8_1K) { RawStringRoundTrip<Text::Utf8_1K>(state); }

BENCH_WAY(Raw, PrintLine) {
  PyObject* say = ModuleAttribute("say");
  WithStdout(Locked([] { return PyModule_Create(&gRawConsole); }), [&] {
    size_t before = gDelivered;
    Release(Locked([&] { return say ? PyObject_CallObject(say, nullptr) : nullptr; }));
    if (!Verified(state, gDelivered == before + TextBytes(Text::Line).size() + 1, "print")) return;
    for (auto _ : state) {
      PyObject* result = Locked([&] { return PyObject_CallObject(say, nullptr); });
      Locked([&] { Py_DECREF(result); });
    }
  });
  Release(say);
}

BENCH_WAY(Raw, GetModuleFunction) {
  const std::string attribute = InvokedFunction(3);
  for (auto _ : state) {
    PyObject* module = Locked([] {
      PyObject* name = PyUnicode_FromString(kPythonModule);
      PyObject* imported = PyImport_Import(name);
      Py_DECREF(name);
      return imported;
    });
    PyObject* function = Locked([&] {
      PyObject* found = PyObject_GetAttrString(module, attribute.c_str());
      benchmark::DoNotOptimize(PyCallable_Check(found));
      return found;
    });
    Locked([&] { Py_DECREF(function); });
    Locked([&] { Py_DECREF(module); });
  }
}

BENCH_WAY(Raw, InitFinalize) {
  // As through the plugin: the lock is given back when Init returns and taken again by Finalize.
  InterpreterStopped(state, [] {
    Py_InitializeEx(0);
    PyThreadState* thread = PyEval_SaveThread();
    PyEval_RestoreThread(thread);
    Py_FinalizeEx();
  });
}

#ifdef BENCH_WITH_PYBIND11
namespace {

using Lock = py::gil_scoped_acquire;

py::object Attribute(const std::string& name) {
  return Locked<Lock>([&] { return py::object(py::module_::import(kPythonModule).attr(name.c_str())); });
}

// Drops a reference with the lock held.
void Drop(py::object& object) {
  Locked<Lock>([&] { object.release().dec_ref(); });
}

template <int Arguments>
void Pybind11InvokePrebuilt(benchmark::State& state) {
  py::object function = Attribute(InvokedFunction(Arguments));
  py::object arguments = Locked<Lock>([] {
    py::tuple made(Arguments);
    for (int index = 0; index < Arguments; ++index) made[index] = py::int_(index + 1);
    return made;
  });
  if (Verified(state, Locked<Lock>([&] { return function(*arguments).cast<int>(); }) == Expected(Arguments), "call")) {
    for (auto _ : state) {
      py::object result = Locked<Lock>([&] { return function(*arguments); });
      benchmark::DoNotOptimize(Locked<Lock>([&] { return result.cast<int>(); }));
      Drop(result);
    }
  }
  Drop(arguments);
  Drop(function);
}

template <int Arguments>
void Pybind11InvokeBuilt(benchmark::State& state) {
  py::object function = Attribute(InvokedFunction(Arguments));
  for (auto _ : state) {
    py::tuple arguments = Locked<Lock>([] { return py::tuple(Arguments); });
    for (int index = 0; index < Arguments; ++index) Locked<Lock>([&] { arguments[index] = py::int_(index + 1); });
    py::object result = Locked<Lock>([&] { return function(*arguments); });
    benchmark::DoNotOptimize(Locked<Lock>([&] { return result.cast<int>(); }));
    Drop(result);
    Drop(arguments);
  }
  Drop(function);
}

template <Text Which>
void Pybind11StringRoundTrip(benchmark::State& state) {
  py::object echo = Attribute("echo");
  const std::string& text = TextBytes(Which);
  std::string back;
  auto roundTrip = [&] {
    py::tuple arguments = Locked<Lock>([] { return py::tuple(1); });
    Locked<Lock>([&] { arguments[0] = py::str(text); });
    py::object result = Locked<Lock>([&] { return echo(*arguments); });
    back = Locked<Lock>([&] { return result.cast<std::string>(); });
    Drop(result);
    Drop(arguments);
  };
  roundTrip();
  if (Verified(state, back == text, "round trip"))
    for (auto _ : state) roundTrip();
  Drop(echo);
}

}  // namespace

BENCH_WAY(Pybind11, MemberCall) {
  for (auto _ : state) benchmark::DoNotOptimize(Locked<Lock>([] { return PyErr_Occurred(); }));
}
BENCH_WAY(Pybind11, Invoke0Prebuilt) { Pybind11InvokePrebuilt<0>(state); }
BENCH_WAY(Pybind11, Invoke0Built) { Pybind11InvokeBuilt<0>(state); }
BENCH_WAY(Pybind11, Invoke1Prebuilt) { Pybind11InvokePrebuilt<1>(state); }
BENCH_WAY(Pybind11, Invoke1Built) { Pybind11InvokeBuilt<1>(state); }
BENCH_WAY(Pybind11, Invoke3Prebuilt) { Pybind11InvokePrebuilt<3>(state); }
BENCH_WAY(Pybind11, Invoke3Built) { Pybind11InvokeBuilt<3>(state); }
BENCH_WAY(Pybind11, StringAscii16) { Pybind11StringRoundTrip<Text::Ascii16>(state); }
BENCH_WAY(Pybind11, StringUtf8_16) { Pybind11StringRoundTrip<Text::Utf8_16>(state); }
BENCH_WAY(Pybind11, StringAscii1K) { Pybind11StringRoundTrip<Text::Ascii1K>(state); }
BENCH_WAY(Pybind11, StringUtf8_1K) { Pybind11StringRoundTrip<Text::Utf8_1K>(state); }

BENCH_WAY(Pybind11, PrintLine) {
  py::object say = Attribute("say");
  size_t delivered = 0;
  py::object previous = Locked<Lock>([&] {
    py::module_ sys = py::module_::import("sys");
    py::object kept = sys.attr("stdout");
    py::object console = py::module_::import("types").attr("SimpleNamespace")();
    console.attr("write") = py::cpp_function([&delivered](const std::string& text) { delivered += text.size(); });
    console.attr("flush") = py::cpp_function([] {});
    sys.attr("stdout") = console;
    say();
    return kept;
  });
  if (Verified(state, delivered == TextBytes(Text::Line).size() + 1, "print")) {
    for (auto _ : state) {
      py::object result = Locked<Lock>([&] { return say(); });
      Drop(result);
    }
  }
  Locked<Lock>([&] { py::module_::import("sys").attr("stdout") = previous; });
  Drop(previous);
  Drop(say);
}

BENCH_WAY(Pybind11, GetModuleFunction) {
  const std::string attribute = InvokedFunction(3);
  for (auto _ : state) {
    py::object module = Locked<Lock>([] { return py::object(py::module_::import(kPythonModule)); });
    py::object function = Locked<Lock>([&] {
      py::object found = module.attr(attribute.c_str());
      benchmark::DoNotOptimize(PyCallable_Check(found.ptr()));
      return found;
    });
    Drop(function);
    Drop(module);
  }
}

BENCH_WAY(Pybind11, InitFinalize) {
  InterpreterStopped(state, [] {
    py::initialize_interpreter(false);
    py::finalize_interpreter();
  });
}
#endif  // BENCH_WITH_PYBIND11

}  // namespace bench

extern "C" __attribute__((visibility("default"))) const bench::ComparisonWays* BenchComparisonWays(
    const bench::ComparisonContext* context) {
  bench::gContext = context;
  static const bench::ComparisonWays ways;
  return &ways;
}
