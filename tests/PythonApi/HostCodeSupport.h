// Host code that Python calls: functions written the way a Xojo application
// writes them and hands over with AddressOf, doing their work through the
// plugin's members; and a fixture that registers host modules before it
// starts Python.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ApiTestSupport.h"

namespace api_tests {

using PyPtr = void*;  // a Python object as host code holds it

template <typename Function>
Ptr Address(Function function) {
  return Ptr{reinterpret_cast<void*>(function)};
}

// What host functions do with what Python gives them, through the members
// a Xojo function would use.
Object ArgumentsOf(PyPtr args);  // Python3Parameters(paramPtr)
int64_t IntegerArgument(PyPtr args, int64_t index);
std::string TextArgument(PyPtr args, int64_t index);
PyPtr Returned(const Value& value = {});                                 // a Python3Result's GetPtr: None for no value
PyPtr Raised(const std::string& errorType, const std::string& message);  // SetError, then null
Object DataOf(PyPtr self);                                               // Python3XojoClass.Data
void SetDataOf(PyPtr self, const Value& value);

using Members = std::vector<std::pair<std::string, Ptr>>;
struct Property {
  std::string name;
  Ptr getter;
  Ptr setter;
};

// A Python3XojoModule and a Python3XojoClass built through their members.
Object NewXojoModule(const std::string& name, const Members& functions = {}, const std::vector<Object>& classes = {});
Object NewXojoClass(const std::string& name, Ptr initializer, const Members& methods = {},
                    const std::vector<Property>& properties = {});

// A Python3Exception with this error code and message, raised by `call`.
void ExpectPythonException(const std::function<void()>& call, int64_t errorCode, const std::string& message);

class HostCode : public ::testing::Test {
 protected:
  void SetUp() override;     // no interpreter runs (one left by an earlier test is finalized)
  void TearDown() override;  // Finalize, which releases the registered modules
  // RegisterXojoModule with a creator returning the module's ModuleCreateProc.
  void Register(const Object& module);
  void Start();  // Init, then the helper module
  // Finalize, register again the modules last registered under each name, Init.
  void Restart();
  // The test lets go of every module it registered, as an application that
  // no longer needs them would.
  void DropRegisteredModules();
  // What the Python code raised ("TypeError: message"); "" when nothing.
  std::string RaisedBy(const std::string& code);
  std::string RaisedInAnotherThread(const std::string& code);

  xhost::Host& host_ = host();
  PythonHelper python;

 private:
  std::vector<std::pair<std::string, Object>> registered_;  // by name, in the order of the creators
};

}  // namespace api_tests
