// What every call from Python into host code goes through: the thread check, the reports of a failed host
// function, and the call of a registered host function.

#include "HostCode/HostCalls.h"

namespace {

void Raise(PyObjectRef* exceptionVariable, const HostCallee& callee, const char* reason) noexcept {
  RaisePythonError(exceptionVariable, callee.owner, callee.member.empty() ? "" : ".", callee.member, reason);
}

}  // namespace

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

PyMethodDef HostMethodDef(const HostFunction& function, PyCFunctionWithKeywords entry) {
  return PyMethodDef{function.name.c_str(), AsFunctionOfSignature<PyCFunction>(entry), kHostFunctionFlags,
                     function.documentation.empty() ? nullptr : function.documentation.c_str()};
}

PyObjectRef CallHostFunctionByRules(std::string_view owner, const HostFunction* function, PyObjectRef self,
                                    PyObjectRef args, PyObjectRef kwargs) noexcept {
  if (!function) {
    RaisePythonError(e__PyExc_SystemError, "a function of a Xojo module or class was called without its ", owner);
    return nullptr;
  }
  const HostCallee callee{owner, function->name};
  if (!function->function) {
    RaisePythonError(e__PyExc_NotImplementedError, owner, ".", function->name,
                     " was registered without a Xojo function");
    return nullptr;
  }
  if (function->takesKeywords) {
    const auto withKeywords = AsFunctionOfSignature<PyCFunctionWithKeywords>(function->function);
    return FollowErrorRule(callee, CallHostCode(callee, withKeywords, self, args, kwargs));
  }
  if (kwargs && (!EPyDict_Size || EPyDict_Size(kwargs) != 0)) {
    Raise(e__PyExc_TypeError, callee, "() takes no keyword arguments");
    return nullptr;
  }
  return FollowErrorRule(callee, CallHostCode(callee, function->function, self, args));
}
