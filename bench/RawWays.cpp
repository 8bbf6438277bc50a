// The raw CPython C API way: every step that is a separate host call for the
// plugin takes and gives back the interpreter lock here too, as the plugin
// does between host calls.
#include "ComparisonSupport.h"

namespace bench {
namespace {

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

// Puts `module` (a new reference, consumed) into sys.modules.
void AddToModules(const char* name, PyObject* module) {
  Locked([&] {
    if (module) PyDict_SetItemString(PyImport_GetModuleDict(), name, module);
    Py_XDECREF(module);
  });
}

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

namespace {

// A list of kBulkItems ints, a new reference; null on failure.
PyObject* BulkList() {
  return Locked([] {
    PyObject* list = PyList_New(kBulkItems);
    for (int index = 0; list && index < kBulkItems; ++index) PyList_SET_ITEM(list, index, PyLong_FromLong(index));
    return list;
  });
}

// GetItem of every item, each a new reference released at once: the lock
// taken per step (two host calls each through the plugin) or per item.
template <bool PerItem>
void GetEveryItem(PyObject* list) {
  for (Py_ssize_t index = 0; index < kBulkItems; ++index) {
    if (PerItem) {
      Locked([&] {
        PyObject* item = PyList_GetItem(list, index);
        Py_INCREF(item);
        benchmark::DoNotOptimize(item);
        Py_DECREF(item);
      });
    } else {
      PyObject* item = Locked([&] {
        PyObject* borrowed = PyList_GetItem(list, index);
        Py_INCREF(borrowed);
        return borrowed;
      });
      benchmark::DoNotOptimize(item);
      Locked([&] { Py_DECREF(item); });
    }
  }
}

template <bool PerItem>
void RawListGetItem(benchmark::State& state) {
  PyObject* list = BulkList();
  const long sum = Locked([&] {
    long total = 0;
    for (Py_ssize_t index = 0; list && index < kBulkItems; ++index) total += PyLong_AsLong(PyList_GetItem(list, index));
    return total;
  });
  if (Verified(state, list && sum == kBulkSum, "items read back"))
    for (auto _ : state) GetEveryItem<PerItem>(list);
  Release(list);
}

// Each read is a host call of its own and an operation of its own.
void RawInt32Reads(benchmark::State& state) {
  PyObject* result = Locked([] { return PyLong_FromLong(1); });
  for (auto _ : state) {
    long sum = 0;
    for (int read = 0; read < kBulkItems; ++read) sum += Locked([&] { return PyLong_AsLong(result); });
    benchmark::DoNotOptimize(sum);
  }
  Release(result);
}

}  // namespace

BENCH_WAY(Raw, InvokeReadRelease) { RawInvokePrebuilt<3>(state); }
BENCH_WAY(Raw, ListGetItem1000) { RawListGetItem<false>(state); }
BENCH_WAY(Raw, ResultInt32Reads1000) { RawInt32Reads(state); }

BENCH_WAY(RawPerOperation, InvokeReadRelease) {
  PyObject* function = ModuleAttribute(InvokedFunction(3));
  PyObject* arguments = Locked([] { return NewArguments(3); });
  auto operation = [&] {
    return Locked([&] {
      PyObject* result = PyObject_Call(function, arguments, nullptr);
      long value = result ? PyLong_AsLong(result) : -1;
      Py_XDECREF(result);
      return value;
    });
  };
  if (Verified(state, function && operation() == Expected(3), "call"))
    for (auto _ : state) benchmark::DoNotOptimize(operation());
  Release(arguments);
  Release(function);
}
BENCH_WAY(RawPerOperation, ListGetItem1000) { RawListGetItem<true>(state); }
BENCH_WAY(RawPerOperation, ResultInt32Reads1000) { RawInt32Reads(state); }

// Holding the lock throughout, with no other thread: the same steps as the
// raw way, each still under PyGILState_Ensure/Release, which only nest in
// the lock taken around the whole loop (or kept by the plugin on this
// thread), as in a pybind11 program alone in its interpreter. For
// ErrorOccurred the bare call, so that what the plugin adds to it is its
// entry and exit.
BENCH_WAY(RawLockHeld, MemberCall) {
  GilState lock;
  for (auto _ : state) benchmark::DoNotOptimize(PyErr_Occurred());
}

BENCH_WAY(RawLockHeld, InvokeReadRelease) {
  GilState lock;
  RawInvokePrebuilt<3>(state);
}

BENCH_WAY(RawLockHeld, ListGetItem1000) {
  GilState lock;
  RawListGetItem<false>(state);
}

BENCH_WAY(RawLockHeld, ResultInt32Reads1000) {
  GilState lock;
  RawInt32Reads(state);
}

const WayTable<Way::RawLockHeld>& RawLockHeldWays() {
  static const WayTable<Way::RawLockHeld> table;
  return table;
}

const WayTable<Way::RawPerOperation>& RawPerOperationWays() {
  static const WayTable<Way::RawPerOperation> table;
  return table;
}

const WayTable<Way::Raw>& RawWays() {
  static const WayTable<Way::Raw> table;
  return table;
}

}  // namespace bench
