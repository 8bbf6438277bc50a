#include "PythonXojoModule/HostCode.h"

#include <atomic>
#include <cstdlib>
#include <vector>

#include "HostGlue.h"
#include "PythonEngine/PythonLoader.h"

namespace {

uint64_t currentInterpreter = 1;

// States that the running interpreter saw after their owners were destroyed.
std::vector<std::unique_ptr<PythonVisibleState>>& keptStates() {
  static auto* kept = new std::vector<std::unique_ptr<PythonVisibleState>>;  // outlives every owner
  return *kept;
}

void Raise(PyObjectRef* exceptionVariable, const HostCallee& callee, const char* reason) noexcept {
  SetPythonError(exceptionVariable, callee.owner, callee.member.empty() ? "" : ".", callee.member, reason);
}

}  // namespace

bool PythonErrorIsSet() noexcept { return EPyErr_Occurred && EPyErr_Occurred(); }

uint64_t CurrentInterpreter() noexcept { return currentInterpreter; }

void DisposeVisibleState(std::unique_ptr<PythonVisibleState> state) noexcept {
  if (!state || !state->SeenByRunningInterpreter()) return;  // freed here
  try {
    keptStates().push_back(std::move(state));
  } catch (...) {
    state.release();  // out of memory: leaked rather than freed under Python
  }
}

namespace {

// Every block stays linked from here for the life of the process: memory kept
// on purpose, never lost.
struct alignas(16) StaticBlockHeader {
  StaticBlockHeader* next;
};
std::atomic<StaticBlockHeader*> staticBlocks{nullptr};

}  // namespace

void* AllocateStaticPythonObject(size_t size) noexcept {
  auto* header = static_cast<StaticBlockHeader*>(std::calloc(1, sizeof(StaticBlockHeader) + size));
  if (!header) return nullptr;
  header->next = staticBlocks.load(std::memory_order_relaxed);
  while (!staticBlocks.compare_exchange_weak(header->next, header, std::memory_order_release,
                                             std::memory_order_relaxed)) {
  }
  return header + 1;
}

void EndInterpreter() noexcept {
  ++currentInterpreter;
  std::vector<std::unique_ptr<PythonVisibleState>> ended;
  ended.swap(keptStates());
}

void SetPythonErrorText(PyObjectRef* exceptionVariable, const char* message) noexcept {
  if (exceptionVariable && *exceptionVariable && EPyErr_SetString) EPyErr_SetString(*exceptionVariable, message);
}

bool MayRunHostCode(const HostCallee& callee) noexcept {
  if (OnHostThread()) return true;
  Raise(e__PyExc_RuntimeError, callee,
        ": the Xojo code was not called, as it runs only on the application's thread while the application "
        "calls into Python, and this call came from another thread");
  return false;
}

void ReportHostException(const HostCallee& callee) noexcept {
  Raise(e__PyExc_RuntimeError, callee, ": the Xojo function ended with an exception, which Python cannot receive");
}

PyObjectRef FollowErrorRule(const HostCallee& callee, std::optional<PyObjectRef> result) noexcept {
  if (!result) return nullptr;
  const bool errorSet = PythonErrorIsSet();
  if (*result && !errorSet) return *result;
  if (*result) {
    ReleasePythonRef(*result);
  } else if (!errorSet) {
    Raise(e__PyExc_SystemError, callee, ": the Xojo function returned no value and set no Python error");
  }
  return nullptr;
}

int FollowErrorRule(const HostCallee& callee, std::optional<int32_t> status) noexcept {
  if (!status) return -1;
  const bool errorSet = PythonErrorIsSet();
  if (*status >= 0 && !errorSet) return 0;
  if (!errorSet) Raise(e__PyExc_SystemError, callee, ": the Xojo function failed and set no Python error");
  return -1;
}

PyObjectRef CallHostFunction(std::string_view owner, const HostFunction* function, PyObjectRef self,
                             PyObjectRef args) noexcept {
  if (!function) {
    SetPythonError(e__PyExc_SystemError, "a function of a Xojo module or class was called without its ", owner);
    return nullptr;
  }
  const HostCallee callee{owner, function->name};
  if (!function->function) {
    SetPythonError(e__PyExc_NotImplementedError, owner, ".", function->name, " was registered without a Xojo function");
    return nullptr;
  }
  return FollowErrorRule(callee, CallHostCode(callee, function->function, self, args));
}

std::string NameFromHost(REALstringStruct* name) {
  size_t length = 0;
  const char* bytes = REALGetStringContents(name, &length);
  return bytes ? std::string(bytes, length) : std::string();
}

void AppendToObjectArray(REALarrayStruct*& array, REALobjectStruct* object) {
  if (!array) array = REALCreateArray(kREALObjectArrayType, -1);
  if (array) REALInsertArrayValueObject(array, REALGetArrayUBound(array) + 1, object);
}

bool MayChange(const PythonVisibleState* state, const char* member) {
  if (!state) return false;
  if (!state->SeenByRunningInterpreter()) return true;
  ThrowPythonException((std::string(member) +
                        ": Python already uses this module or class, which therefore cannot change while the "
                        "interpreter runs; register everything before the module is first imported, or after "
                        "Python3Engine.Finalize")
                           .c_str(),
                       kRegistrationErrorCode);
  return false;
}

std::string NameToRegister(const PythonVisibleState* state, REALstringStruct* name, const char* member, bool full) {
  std::string text = NameFromHost(name);
  if (text.empty()) {
    ThrowPythonException(kNameMissingMessage, kRegistrationErrorCode);
    return std::string();
  }
  if (!MayChange(state, member)) return std::string();
  if (full) {
    ThrowPythonException((std::string(member) + ": a module or class holds at most " +
                          std::to_string(kMaxHostFunctions) + " functions")
                             .c_str(),
                         kRegistrationErrorCode);
    return std::string();
  }
  return text;
}

void StoreObjectName(REALobjectStruct* self, REALstringStruct* name) {
  ReleasePythonObjectName(self);
  REALLockString(name);
  PythonObjectDataOf(self)->name = name;
}
