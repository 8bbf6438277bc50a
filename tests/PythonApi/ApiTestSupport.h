// What the Python API tests share: the plugin loaded in the replacement host
// with the library named by PYTHON3_LIBRARY, the Python3Engine members, tuples
// built with the typed setters, and the helper module apitest through which
// a test asks Python what it sees.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "xhost/Host.h"

namespace api_tests {

using xhost::Int32;
using xhost::Int64;
using xhost::Nil;
using xhost::Object;
using xhost::Ptr;
using xhost::String;
using xhost::UInt64;
using xhost::Value;

xhost::Host& host();
String Str(const std::string& text);
std::string Text(const Value& value);  // the bytes of a String result
bool Bool(const Value& value);
int64_t Int(const Value& value);
// A member whose result is an object (Nil included).
Object CallObject(const Object& self, const std::string& method, const std::vector<Value>& arguments = {});

// Python3Engine's shared members.
Value Engine(const std::string& method, const std::vector<Value>& arguments = {});
void InitPython(const std::vector<Value>& applicationName = {});  // Init() or Init(name)
void FinalizePython();
bool PythonEverStarted();    // by this process, through InitPython
bool PythonLibraryMapped();  // a libpython is in this process's memory
bool ErrorOccurred();
// Python3Engine.ErrorOccurred as compiled Xojo code on any thread calls it:
// the member's function itself, no host service around it.
bool ErrorOccurredFromThisThread();
// The application starts calling Python from a second thread of its own: one
// call from another thread, served while this thread idles. From then on the
// interpreter lock is given back at the end of every call, so host code may
// run Python from another thread while this one waits for it.
void StartUsingPythonFromASecondHostThread();
std::string GetError();
Object GetModule(const std::string& name);
void AddSearchPath(const std::string& folder);

// A Python3Parameters holding the values, each stored by the setter of its
// type: Int32, Int64, UInt64, Double, Boolean, String; a Python3Dictionary,
// Python3Parameters, Python3List or Python3Bytes by its own setter; any other
// object (or Nil) by ObjectValue. Fails the test when a setter reports an error.
Object Tuple(const std::vector<Value>& items);
// The Python3Exception a call raised: "message (code)"; "" when none.
std::string RaisedBy(const std::function<void()>& call);

// A new Python3List holding the objects of the value wrappers.
Object ListHolding(const std::vector<Object>& items);
// A Python3Entity made by Python3Entity.From<kind>(value).
Object EntityFrom(const std::string& kind, const Value& value);
// The Python3Result of calling `function` with the values, or Nil.
Object Invoke(const Object& function, const std::vector<Value>& arguments);
Object InvokeWithNil(const Object& function);

// Makes a new instance of `className`, a host subclass of
// Python3EngineConsoleOutput, the receiver of console output; `handler` sees every text.
void ListenToConsole(const std::string& className, std::function<void(const std::string&)> handler);
// A Python object that a wrapper still holds when Finalize runs is never given
// back (no release reaches a finalized interpreter): it stays allocated for
// the process on purpose, which LeakSanitizer is told here. Nothing otherwise.
void KeptPastFinalize(void* object);
void KeptPastFinalize(const Object& entity);  // the object a Python3EntityBase holds
// LeakSanitizer checks for leaks now, and not again when the process ends:
// for a test after which Python itself abandons memory at Finalize, such as
// what only the frames of its daemon threads refer to. Nothing otherwise.
void CheckLeaksNowNotAtExit();
// Built with AddressSanitizer, whose quarantine keeps freed memory resident.
bool UnderAddressSanitizer();

// The module apitest (tests/PythonApi/python), imported anew after a restart.
class PythonHelper {
 public:
  void Connect();  // adds the folder to sys.path if needed and imports
  void Disconnect();
  const Object& module() const { return module_; }

  Object Function(const std::string& name);
  // Calls apitest.<function>; the result, or Nil when Python raised.
  Object Call(const std::string& function, const std::vector<Value>& arguments = {});
  // exec() in apitest's namespace; a Python exception fails the test.
  void Run(const std::string& code);
  Object Evaluate(const std::string& expression);  // a Python3Result
  int64_t IntegerOf(const std::string& expression);
  std::string TextOf(const std::string& expression);
  bool TruthOf(const std::string& expression);
  // sys.getrefcount of what the expression names, as Python counts it.
  int64_t RefCount(const std::string& expression);
  // Wrappers of the very object the expression gives (no copy).
  Object ListOf(const std::string& expression);
  Object DictionaryOf(const std::string& expression);
  Object EntityOf(const std::string& expression);  // any object, as a Python3Entity
  // What Python sees of each item of a Python3List: "type:repr", joined by ",".
  std::string Kinds(const Object& list);
  void KeptPastFinalize(const std::string& expression);  // the object the expression names

 private:
  Object module_;
  Object run_;
  Object evaluate_;
};

// A test with the interpreter running and the helper imported. The receiver
// of console output and Python's error state are reset afterwards.
class RunningPython : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Finalize, then Init, and import the helper again.
  void Restart();

  xhost::Host& host_ = host();
  PythonHelper python;
};

// A test that needs a process in which Python was never started (ctest runs
// every test in its own process); skipped otherwise.
class FreshProcess : public ::testing::Test {
 protected:
  void SetUp() override;
};

}  // namespace api_tests
