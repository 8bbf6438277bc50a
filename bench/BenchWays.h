// What the benchmark executable and the comparison modules share: the rows
// of the table, the kinds of ways an operation is measured, the texts the
// string operations carry, and the interface of a comparison module.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>

namespace bench {

enum class Operation : int {
#define BENCH_HOST(Id, label) Id,
#define BENCH_OPERATION(Id, label, ...) Id,
#include "Operations.def"
  Count
};
constexpr size_t kRowCount = static_cast<size_t>(Operation::Count);

// Plugin: members called through pointers bound once, as compiled host code
// calls them, with no other thread in the interpreter (the plugin keeps the
// lock between calls). PluginHandedOver: the same while a Python thread
// waits on an event (the plugin hands the lock over at every call's end).
// Raw: the CPython C API doing the same work, taking the interpreter lock
// around each step that is a separate host call for the plugin.
// RawPerOperation: the C API taking it once per logical operation, as users
// of the raw API write it. Pybind11: its embedding API, the same steps as
// Raw. Host: the host alone. The comparison ways run beside a waiting
// Python thread too, so that the lock they take is really exchanged.
// RawLockHeld: the C API holding the lock throughout, with no other thread,
// as a program that embeds Python alone writes it (last, so that the numbers
// of the other ways stay what instructions.sh reads).
enum class Way { Plugin, PluginHandedOver, Raw, RawPerOperation, Pybind11, Host, RawLockHeld };

using WayFunction = void (*)(benchmark::State&);

template <Way W, Operation O>
struct WayTag {};

struct NotWritten {};

// Chosen for every way that a file does not write.
template <Way W, Operation O>
NotWritten Measure(WayTag<W, O>, benchmark::State&) {
  return {};
}

#define BENCH_WAY(kind, Id) \
  void Measure(::bench::WayTag<::bench::Way::kind, ::bench::Operation::Id>, benchmark::State& state)

// The function measuring `O` in way `W`, or null when that way is not written.
// Used after every BENCH_WAY of the file.
template <Way W, Operation O>
constexpr WayFunction FunctionOf() {
  if constexpr (std::is_same_v<decltype(Measure(WayTag<W, O>{}, std::declval<benchmark::State&>())), NotWritten>)
    return nullptr;
  else
    return [](benchmark::State& state) { Measure(WayTag<W, O>{}, state); };
}

// Every way of one kind, in row order.
template <Way W>
struct WayTable {
  WayFunction functions[kRowCount] = {
#define BENCH_HOST(Id, label) FunctionOf<W, Operation::Id>(),
#define BENCH_OPERATION(Id, label, ...) FunctionOf<W, Operation::Id>(),
#include "Operations.def"
  };
};

// The texts of the string operations.
enum class Text { Ascii16, Utf8_16, Ascii1K, Utf8_1K, Line, Newline };

inline const std::string& TextBytes(Text text) {
  static const auto repeat = [](const std::string& unit, size_t times) {
    std::string all;
    while (times--) all += unit;
    return all;
  };
  static const std::string texts[] = {
      repeat("0123456789abcdef", 1),  repeat("ab\xC3\xA9", 4),  // "abé": 4 bytes, 3 characters
      repeat("0123456789abcdef", 64), repeat("ab\xC3\xA9", 256), "a short line", "\n",
  };
  return texts[static_cast<size_t>(text)];
}

// Names in the Python module the benchmark imports (python/benchfuncs.py).
constexpr const char* kPythonModule = "benchfuncs";
inline std::string InvokedFunction(int arguments) { return "f" + std::to_string(arguments); }
constexpr const char* kInt32Attribute = "counter";
constexpr const char* kStringAttribute = "label";  // holds TextBytes(Text::Ascii16)
// call_add(module name, calls) calls the module's add(1, 2) that many times.
constexpr const char* kCallbackLoop = "call_add";
constexpr int kCallbackCalls = 1000;
constexpr int kBulkItems = 1000;  // items of the list and dictionary operations
inline std::string BulkKey(int index) { return "key" + std::to_string(index); }
// The modules whose add the callback operation calls: one per way.
constexpr const char* kPluginHostModule = "benchhost";
constexpr const char* kRawHostModule = "benchrawhost";
constexpr const char* kPybind11HostModule = "benchpybind11host";

// Handed to a comparison module by the executable.
struct ComparisonContext {
  void (*stopPluginInterpreter)();   // Python3Engine.Finalize through the plugin
  void (*startPluginInterpreter)();  // Python3Engine.Init, and the module's folder on sys.path again
};

// What a comparison module (one per Python minor version, built against its
// headers) measures: the raw C API and pybind11 ways, in row order.
struct ComparisonWays {
  WayTable<Way::Raw> raw;
  WayTable<Way::RawPerOperation> rawPerOperation;
  WayTable<Way::Pybind11> pybind11;
  WayTable<Way::RawLockHeld> rawLockHeld;
};

}  // namespace bench

// The entry of a comparison module: called once the plugin has loaded and
// started the library the module was built for.
extern "C" const bench::ComparisonWays* BenchComparisonWays(const bench::ComparisonContext* context);
