// The pybind11 way: its embedding API, the same steps each under
// gil_scoped_acquire. pybind11 2.10 predates Python 3.12: no ways there.
#include "ComparisonSupport.h"

#if PY_VERSION_HEX < 0x030C0000
#define BENCH_WITH_PYBIND11 1
#include <pybind11/embed.h>
namespace py = pybind11;
#endif

namespace bench {

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

const WayTable<Way::Pybind11>& Pybind11Ways() {
  static const WayTable<Way::Pybind11> table;
  return table;
}

}  // namespace bench
