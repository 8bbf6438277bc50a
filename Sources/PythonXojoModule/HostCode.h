// What the functions that Python calls on its way into host code share (the
// module creators, module functions, methods and slots of host-defined types):
// the thread rule, a barrier against C++ exceptions, CPython's error rule, and
// the life of the memory Python reads (tables, definitions, type objects).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Exceptions/Exceptions.h"
#include "PythonEngine/HostEntry.h"
#include "PythonEngine/PythonApiTypes.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonObject.h"
#include "PythonEngine/PythonReferences.h"
#include "REALplugin.h"

// ---------------------------------------------------------------------------
// Interpreters. Python keeps pointers into what it was given for as long as the
// interpreter that took them runs, and no longer: a restarted interpreter is
// given everything anew.

// 1 for the first interpreter, increased by every Finalize.
uint64_t CurrentInterpreter() noexcept;

// Memory that Python reads. Its owner frees it, unless the running interpreter
// has seen it: then it is kept until that interpreter is finalized.
class PythonVisibleState {
 public:
  virtual ~PythonVisibleState() = default;
  void MarkSeen() noexcept { seenBy_ = CurrentInterpreter(); }
  // The running interpreter holds pointers into this state: it must neither
  // change nor go away until Finalize.
  bool SeenByRunningInterpreter() const noexcept { return seenBy_ == CurrentInterpreter(); }

 private:
  uint64_t seenBy_ = 0;  // the interpreter that saw it last; 0 for none
};

// Frees `state` now, or after the interpreter that saw it is finalized.
void DisposeVisibleState(std::unique_ptr<PythonVisibleState> state) noexcept;

// Zero-filled memory for what Python takes as a static object (a type object,
// a module definition); null when memory is short. It is never freed, and
// each interpreter gets its own: objects that survive Finalize keep pointing
// to it and must keep finding the state they left there (3.6 and 3.7 go on
// collecting them in the next interpreter; 3.11.2 crashes in its next
// Finalize when a type object was reset and readied again).
void* AllocateStaticPythonObject(size_t size) noexcept;

// Python3Engine.Finalize, once the interpreter has stopped: counts it and
// frees what only it could still read.
void EndInterpreter() noexcept;

// ---------------------------------------------------------------------------
// Calling host code for Python.

// Sets Python's error to the exception held by an exception entry
// (e__PyExc_RuntimeError...), when the library has it, with the parts of the
// message joined.
void SetPythonErrorText(PyObjectRef* exceptionVariable, const char* message) noexcept;
template <typename... Parts>
void SetPythonError(PyObjectRef* exceptionVariable, const Parts&... parts) noexcept {
  try {
    std::string message;
    (message.append(parts), ...);
    SetPythonErrorText(exceptionVariable, message.c_str());
  } catch (...) {
    SetPythonErrorText(exceptionVariable, "(no memory for the message)");
  }
}

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
  } catch (...) {
    ReportHostException(callee);
    return std::nullopt;
  }
}

// Python's error indicator is set.
bool PythonErrorIsSet() noexcept;

// Builds what Python is to read: `build` returns false, or throws
// std::bad_alloc, when memory is short, which raises a Python MemoryError.
template <typename Build>
bool BuildForPython(std::string_view what, Build build) noexcept {
  bool built = false;
  try {
    built = build();
  } catch (...) {
  }
  if (!built) SetPythonError(e__PyExc_MemoryError, "no memory for ", what);
  return built;
}

// CPython's error rule for what host code returned: an object with no error
// set, or null with one; a status of 0, or -1 with an error set. A failure
// without an error gets a SystemError; a success with an error set fails.
PyObjectRef FollowErrorRule(const HostCallee& callee, std::optional<PyObjectRef> result) noexcept;
int FollowErrorRule(const HostCallee& callee, std::optional<int32_t> status) noexcept;

// ---------------------------------------------------------------------------
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
  PyCFunction function;  // the host's; may be null
};

// Calls a module function or method for Python, by CPython's rules; `function`
// is null when Python called it without its module or instance.
PyObjectRef CallHostFunction(std::string_view owner, const HostFunction* function, PyObjectRef self,
                             PyObjectRef args) noexcept;

// ---------------------------------------------------------------------------
// Registration on the host side.

// The exception of every refused registration; with this message when a name
// is missing.
constexpr int64_t kRegistrationErrorCode = -6;
constexpr char kNameMissingMessage[] = "name parameter needs to have value";

// The bytes of a name given by the host; empty for Nil and "".
std::string NameFromHost(REALstringStruct* name);

// Whether a host module or type may still change: not while the running
// interpreter has seen it, which raises a Python3Exception naming `member`
// ("Python3XojoClass.SetHashFunction"). False without raising for null.
bool MayChange(const PythonVisibleState* state, const char* member);

// The name of a new function or property; "" after raising a Python3Exception
// for a missing name, a state that may not change, or a full table; "" for a
// null state too.
std::string NameToRegister(const PythonVisibleState* state, REALstringStruct* name, const char* member, bool full);

// The constructor of a Python3XojoModule or Python3XojoClass: a new state
// named `name` in `field` (any earlier one disposed of), and `name` as the
// object's Name; a Python3Exception for a missing name.
void StoreObjectName(REALobjectStruct* self, REALstringStruct* name);
template <typename State, typename... Arguments>
void ConstructHostState(REALobjectStruct* self, REALstringStruct* name, State*& field, Arguments... arguments) {
  std::string text = NameFromHost(name);
  if (text.empty()) return ThrowPythonException(kNameMissingMessage, kRegistrationErrorCode);
  auto state = std::make_unique<State>(std::move(text), arguments...);
  DisposeVisibleState(std::unique_ptr<PythonVisibleState>(std::exchange(field, state.release())));
  StoreObjectName(self, name);
}

// Their destructor: the state disposed of, and the name given back, as
// Python reads copies of it.
template <typename State>
void DestroyHostState(REALobjectStruct* self, State*& field) {
  DisposeVisibleState(std::unique_ptr<PythonVisibleState>(std::exchange(field, nullptr)));
  ReleasePythonObjectName(self);
}

// Appends to a host array of objects, creating it when null; the array takes
// its own reference.
void AppendToObjectArray(REALarrayStruct*& array, REALobjectStruct* object);
