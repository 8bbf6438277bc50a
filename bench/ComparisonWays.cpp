// The same operations through the raw CPython C API and through pybind11,
// built against the headers of one Python minor version and loaded by the
// benchmark once the plugin has loaded that library. Every step that is a
// separate host call for the plugin takes and gives back the interpreter lock
// here too, as the plugin does between host calls.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <vector>

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

PyModuleDef gRawConsole = {
    PyModuleDef_HEAD_INIT, "benchrawconsole", nullptr, -1, gRawConsoleMethods, nullptr, nullptr, nullptr, nullptr};

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

// The raw way's host function: the two ints read by PyArg_ParseTuple, their sum returned.
PyObject* RawAdd(PyObject*, PyObject* arguments) {
  int first = 0, second = 0;
  if (!PyArg_ParseTuple(arguments, "ii", &first, &second)) return nullptr;
  return PyLong_FromLong(first + second);
}

PyMethodDef gRawHostMethods[] = {
    {"add", RawAdd, METH_VARARGS, nullptr}, {nullptr, nullptr, 0, nullptr} /* sentinel */
};

PyModuleDef gRawHost = {
    PyModuleDef_HEAD_INIT, kRawHostModule, nullptr, -1, gRawHostMethods, nullptr, nullptr, nullptr, nullptr};

// Calls call_add of the benchmark's module with the module holding `add`,
// which must be in sys.modules.
void CallbackLoop(benchmark::State& state, const char* module) {
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

// Puts `module` (a new reference, consumed) into sys.modules.
void AddToModules(const char* name, PyObject* module) {
  Locked([&] {
    if (module) PyDict_SetItemString(PyImport_GetModuleDict(), name, module);
    Py_XDECREF(module);
  });
}

constexpr long kBulkSum = long{kBulkItems} * (kBulkItems - 1) / 2;

template <Text Which>
void RawEntityString(benchmark::State& state) {
  const std::string& text = TextBytes(Which);
  std::string back;
  auto roundTrip = [&] {
    PyObject* entity =
        Locked([&] { return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())); });
    Locked([&] {
      Py_ssize_t size = 0;
      const char* bytes = PyUnicode_AsUTF8AndSize(entity, &size);
      back.assign(bytes, static_cast<size_t>(size));
    });
    Locked([&] { Py_DECREF(entity); });
  };
  roundTrip();
  if (Verified(state, back == text, "round trip"))
    for (auto _ : state) roundTrip();
}

// Builds the container with `store(container, index, item)` (each step its
// own lock, as each is a host call through the plugin) and reads the items
// back with `load`, which returns a new reference.
template <typename Make, typename Store, typename Load>
long RawBuildAndRead(Make make, Store store, Load load) {
  PyObject* container = Locked(make);
  for (int index = 0; index < kBulkItems; ++index) {
    PyObject* item = Locked([&] { return PyLong_FromLong(index); });
    Locked([&] { store(container, index, item); });
    Locked([&] { Py_DECREF(item); });
  }
  long sum = 0;
  for (int index = 0; index < kBulkItems; ++index) {
    PyObject* item = Locked([&] { return load(container, index); });
    sum += Locked([&] { return PyLong_AsLong(item); });
    Locked([&] { Py_DECREF(item); });
  }
  Locked([&] { Py_DECREF(container); });
  return sum;
}

template <typename Make, typename Store, typename Load>
void RawBulk(benchmark::State& state, Make make, Store store, Load load) {
  if (!Verified(state, RawBuildAndRead(make, store, load) == kBulkSum, "items read back")) return;
  for (auto _ : state) benchmark::DoNotOptimize(RawBuildAndRead(make, store, load));
}

std::vector<std::string> BulkKeys() {
  std::vector<std::string> keys;
  for (int index = 0; index < kBulkItems; ++index) keys.push_back(BulkKey(index));
  return keys;
}

PyObject* KeyObject(const std::string& key) {
  return PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size()));
}

}  // namespace

BENCH_WAY(Raw, FieldInt32) {
  PyObject* module = Locked([] { return PyImport_ImportModule(kPythonModule); });
  if (Verified(state, module != nullptr, "module")) {
    for (auto _ : state) {
      long value = Locked([&] {
        PyObject* attribute = PyObject_GetAttrString(module, kInt32Attribute);
        long read = PyLong_AsLong(attribute);
        Py_DECREF(attribute);
        return read;
      });
      Locked([&] {
        PyObject* written = PyLong_FromLong(value + 1);
        PyObject_SetAttrString(module, kInt32Attribute, written);
        Py_DECREF(written);
      });
    }
  }
  Release(module);
}

BENCH_WAY(Raw, FieldString) {
  PyObject* module = Locked([] { return PyImport_ImportModule(kPythonModule); });
  std::string value;
  auto readWrite = [&] {
    Locked([&] {
      PyObject* attribute = PyObject_GetAttrString(module, kStringAttribute);
      Py_ssize_t size = 0;
      const char* bytes = PyUnicode_AsUTF8AndSize(attribute, &size);
      value.assign(bytes, static_cast<size_t>(size));
      Py_DECREF(attribute);
    });
    Locked([&] {
      PyObject* written = PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
      PyObject_SetAttrString(module, kStringAttribute, written);
      Py_DECREF(written);
    });
  };
  if (module) readWrite();
  if (Verified(state, module && value == TextBytes(Text::Ascii16), "attribute"))
    for (auto _ : state) readWrite();
  Release(module);
}

BENCH_WAY(Raw, EntityAscii16) { RawEntityString<Text::Ascii16>(state); }
BENCH_WAY(Raw, EntityUtf8_16) { RawEntityString<Text::Utf8_16>(state); }
BENCH_WAY(Raw, EntityAscii1K) { RawEntityString<Text::Ascii1K>(state); }
BENCH_WAY(Raw, EntityUtf8_1K) { RawEntityString<Text::Utf8_1K>(state); }

BENCH_WAY(Raw, List1000) {
  RawBulk(
      state, [] { return PyList_New(0); }, [](PyObject* list, int, PyObject* item) { PyList_Append(list, item); },
      [](PyObject* list, int index) {
        PyObject* item = PyList_GetItem(list, index);
        Py_INCREF(item);
        return item;
      });
}

BENCH_WAY(Raw, Dictionary1000) {
  const std::vector<std::string> keys = BulkKeys();
  RawBulk(
      state, [] { return PyDict_New(); },
      [&](PyObject* dictionary, int index, PyObject* item) {
        PyObject* key = KeyObject(keys[index]);
        PyDict_SetItem(dictionary, key, item);
        Py_DECREF(key);
      },
      [&](PyObject* dictionary, int index) {
        PyObject* key = KeyObject(keys[index]);
        PyObject* item = PyDict_GetItem(dictionary, key);
        Py_DECREF(key);
        Py_INCREF(item);
        return item;
      });
}

BENCH_WAY(Raw, HostCallback1000) {
  AddToModules(kRawHostModule, Locked([] { return PyModule_Create(&gRawHost); }));
  CallbackLoop(state, kRawHostModule);
}

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

template <Text Which>
void Pybind11EntityString(benchmark::State& state) {
  const std::string& text = TextBytes(Which);
  std::string back;
  auto roundTrip = [&] {
    py::object entity = Locked<Lock>([&] { return py::object(py::str(text)); });
    back = Locked<Lock>([&] { return entity.cast<std::string>(); });
    Drop(entity);
  };
  roundTrip();
  if (Verified(state, back == text, "round trip"))
    for (auto _ : state) roundTrip();
}

template <typename Container, typename Store, typename Load>
long Pybind11BuildAndRead(Store store, Load load) {
  Container container = Locked<Lock>([] { return Container(); });
  for (int index = 0; index < kBulkItems; ++index) {
    py::object item = Locked<Lock>([&] { return py::object(py::int_(index)); });
    Locked<Lock>([&] { store(container, index, item); });
    Drop(item);
  }
  long sum = 0;
  for (int index = 0; index < kBulkItems; ++index) {
    py::object item = Locked<Lock>([&] { return load(container, index); });
    sum += Locked<Lock>([&] { return item.cast<long>(); });
    Drop(item);
  }
  Drop(container);
  return sum;
}

template <typename Container, typename Store, typename Load>
void Pybind11Bulk(benchmark::State& state, Store store, Load load) {
  if (!Verified(state, Pybind11BuildAndRead<Container>(store, load) == kBulkSum, "items read back")) return;
  for (auto _ : state) benchmark::DoNotOptimize(Pybind11BuildAndRead<Container>(store, load));
}

}  // namespace

BENCH_WAY(Pybind11, FieldInt32) {
  py::object module = Locked<Lock>([] { return py::object(py::module_::import(kPythonModule)); });
  for (auto _ : state) {
    int value = Locked<Lock>([&] { return module.attr(kInt32Attribute).cast<int>(); });
    Locked<Lock>([&] { module.attr(kInt32Attribute) = value + 1; });
  }
  Drop(module);
}

BENCH_WAY(Pybind11, FieldString) {
  py::object module = Locked<Lock>([] { return py::object(py::module_::import(kPythonModule)); });
  std::string value;
  auto readWrite = [&] {
    value = Locked<Lock>([&] { return module.attr(kStringAttribute).cast<std::string>(); });
    Locked<Lock>([&] { module.attr(kStringAttribute) = py::str(value); });
  };
  readWrite();
  if (Verified(state, value == TextBytes(Text::Ascii16), "attribute"))
    for (auto _ : state) readWrite();
  Drop(module);
}

BENCH_WAY(Pybind11, EntityAscii16) { Pybind11EntityString<Text::Ascii16>(state); }
BENCH_WAY(Pybind11, EntityUtf8_16) { Pybind11EntityString<Text::Utf8_16>(state); }
BENCH_WAY(Pybind11, EntityAscii1K) { Pybind11EntityString<Text::Ascii1K>(state); }
BENCH_WAY(Pybind11, EntityUtf8_1K) { Pybind11EntityString<Text::Utf8_1K>(state); }

BENCH_WAY(Pybind11, List1000) {
  Pybind11Bulk<py::list>(
      state, [](py::list& list, int, py::object& item) { list.append(item); },
      [](py::list& list, int index) { return py::object(list[static_cast<size_t>(index)]); });
}

BENCH_WAY(Pybind11, Dictionary1000) {
  const std::vector<std::string> keys = BulkKeys();
  Pybind11Bulk<py::dict>(
      state, [&](py::dict& dictionary, int index, py::object& item) { dictionary[py::str(keys[index])] = item; },
      [&](py::dict& dictionary, int index) { return py::object(dictionary[py::str(keys[index])]); });
}

BENCH_WAY(Pybind11, HostCallback1000) {
  Locked<Lock>([] {
    py::module_ module = py::module_::import("types").attr("ModuleType")(kPybind11HostModule);
    module.attr("add") = py::cpp_function([](int first, int second) { return first + second; });
    py::module_::import("sys").attr("modules")[kPybind11HostModule] = module;
  });
  CallbackLoop(state, kPybind11HostModule);
}

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
