// What the functions that Python calls on its way into host code share (the
// module creators, module functions, methods and slots of host-defined types):
// the thread rule, a barrier against C++ exceptions and CPython's error rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "PythonLibrary/PythonAbi.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonRuntime/HostEntry.h"

// Names the host function being called in messages: "mymod.add",
// "Counter.__init__", "mymod" for its creator.
struct HostCallee {
  std::string_view owner;
  std::string_view member;
};

// Calls host code for Python: only on the host's thread, and never letting a
// C++ exception through Python's frames. Empty, with Python's error set, when
// the call was refused or ended with an exception.
bool MayRunHostCode(const HostCallee& callee) noexcept;
void ReportHostException(const HostCallee& callee) noexcept;
template <typename Function, typename... Arguments>
auto CallHostCode(const HostCallee& callee, Function function, Arguments... arguments) noexcept
    -> std::optional<decltype(function(arguments...))> {
  if (!MayRunHostCode(callee)) return std::nullopt;
  try {
    return function(arguments...);
  } catch (const std::exception&) {
    ReportHostException(callee);
    return std::nullopt;
  }
}

// Python's error indicator is set.
inline bool PythonErrorIsSet() noexcept { return EPyErr_Occurred && EPyErr_Occurred(); }

// Builds what Python is to read: `build` returns false, or throws
// std::bad_alloc, when memory is short, which raises a Python MemoryError.
template <typename Build>
bool BuildForPython(std::string_view what, Build build) noexcept {
  bool built = false;
  try {
    built = build();
  } catch (const std::bad_alloc&) {
  }
  if (!built) RaisePythonError(e__PyExc_MemoryError, "no memory for ", what);
  return built;
}

// CPython's error rule for what host code returned: an object with no error
// set, or null with one; a status of 0, or -1 with an error set. A failure
// without an error gets a SystemError; a success with an error set fails.
PyObjectRef FollowErrorRule(const HostCallee& callee, std::optional<PyObjectRef> result) noexcept;
int FollowErrorRule(const HostCallee& callee, std::optional<int32_t> status) noexcept;

// One C function per table index. Python hands no context to METH_VARARGS
// functions or to the creators of built-in modules, so each entry of a table
// is a function of its own that passes its index on to `Dispatch`.
template <auto Dispatch>
struct IndexedEntries;
template <typename Result, typename... Arguments, Result (*Dispatch)(size_t, Arguments...) noexcept>
struct IndexedEntries<Dispatch> {
  using Entry = Result (*)(Arguments...);
  template <size_t Index>
  static Result Call(Arguments... arguments) noexcept {
    return Dispatch(Index, arguments...);
  }
  template <size_t... Index>
  static constexpr std::array<Entry, sizeof...(Index)> Table(std::index_sequence<Index...>) {
    return {&Call<Index>...};
  }
};

// How many functions one module, or methods one type, can have; and how many
// module names a process can register.
constexpr size_t kMaxHostFunctions = 256;
constexpr size_t kMaxRegisteredModuleNames = 64;

// A host function of a module or a class, as registered.
struct HostFunction {
  std::string name;
  PyCFunction function;        // the host's; may be null
  bool takesKeywords = false;  // function is a PyCFunctionWithKeywords
  std::string documentation;   // its __doc__; none when empty
};

// How Python calls every host function: with keyword arguments, which a
// function registered without them refuses as Python's own functions do.
constexpr int kHostFunctionFlags = METH_VARARGS | METH_KEYWORDS;

// The table entry of a host function for Python.
PyMethodDef HostMethodDef(const HostFunction& function, PyCFunctionWithKeywords entry);

// Calls a module function or method for Python, by CPython's rules; `function`
// is null when Python called it without its module or instance; `kwargs` may be null.
// Out of line and cold: keeps the usual call below short.
__attribute__((noinline, cold)) PyObjectRef CallHostFunctionByRules(std::string_view owner,
                                                                    const HostFunction* function, PyObjectRef self,
                                                                    PyObjectRef args, PyObjectRef kwargs) noexcept;
// The same, with the usual call written inline (a function registered
// without keywords called without them, on the host's thread, returning an
// object with no error set): every call of a host function passes here.
__attribute__((always_inline)) inline PyObjectRef CallHostFunction(std::string_view owner, const HostFunction* function,
                                                                   PyObjectRef self, PyObjectRef args,
                                                                   PyObjectRef kwargs) noexcept {
  if (!function || !function->function || function->takesKeywords || kwargs || !OnHostThread())
    return CallHostFunctionByRules(owner, function, self, args, kwargs);
  std::optional<PyObjectRef> result;
  try {
    result = function->function(self, args);
  } catch (const std::exception&) {
    ReportHostException(HostCallee{owner, function->name});
    return nullptr;
  }
  if (*result && !PythonErrorIsSet()) return *result;
  return FollowErrorRule(HostCallee{owner, function->name}, result);
}
