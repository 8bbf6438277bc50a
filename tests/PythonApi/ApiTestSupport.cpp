#include "ApiTestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#define API_TESTS_LEAK_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define API_TESTS_LEAK_SANITIZER 1
#endif
#endif
#ifdef API_TESTS_LEAK_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace api_tests {

namespace {

bool everStarted = false;

std::string EnvironmentText(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

// One line per library in the file named by PYTHON_VERSIONS_FILE, however
// many test processes report it, some of them at the same time.
void RecordPythonVersion(std::string version) {
  const std::string file = EnvironmentText("PYTHON_VERSIONS_FILE", "");
  if (file.empty()) return;
  const std::string number = version.substr(0, version.find_first_of(" \n"));
  const std::string line = "CPython " + number + "  " +
                           EnvironmentText("PYTHON3_LIBRARY", "(the plugin's own search)") +
                           "  (interpreter and calls)\n";
  int fd = open(file.c_str(), O_RDWR | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  flock(fd, LOCK_EX);
  std::string content;
  char buffer[4096];
  for (ssize_t n; (n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(content.size()))) > 0;)
    content.append(buffer, static_cast<size_t>(n));
  if (content.find(line) == std::string::npos && write(fd, line.data(), line.size()) < 0) {
    ADD_FAILURE() << "cannot write " << file;
  }
  close(fd);
}

// Loads the plugin once per process and chooses the library under test.
class PluginEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // PLUGIN_UNDER_TEST runs the tests against another build of the plugin
    // (an earlier one, to see a new test fail before its fix).
    host().loadPlugin(EnvironmentText("PLUGIN_UNDER_TEST", PLUGIN_PATH));
    const std::string library = EnvironmentText("PYTHON3_LIBRARY", "");
    if (library.empty()) return;  // the plugin's own search
    Object file = host().newFolderItem(library);
    Engine("SetPythonPath", {file});
    host().expectRetained(file);  // kept by the plugin for the process
  }
};

[[maybe_unused]] const auto* const environment = ::testing::AddGlobalTestEnvironment(new PluginEnvironment);

}  // namespace

xhost::Host& host() { return xhost::Host::instance(); }
String Str(const std::string& text) { return host().newString(text); }
std::string Text(const Value& value) { return xhost::asString(value).bytes(); }
bool Bool(const Value& value) { return xhost::asBoolean(value); }
int64_t Int(const Value& value) { return xhost::asInteger(value); }

Object CallObject(const Object& self, const std::string& method, const std::vector<Value>& arguments) {
  return xhost::asObject(host().call(self, method, arguments));
}

Value Engine(const std::string& method, const std::vector<Value>& arguments) {
  return host().callShared("Python3Engine", method, arguments);
}

void InitPython(const std::vector<Value>& applicationName) {
  Engine("Init", applicationName);
  everStarted = true;
  // The run loop turns once, as a Xojo application's does after its opening
  // event: the background task's first tick.
  xhost::Host::instance().runBackgroundTasks();
}

void FinalizePython() { Engine("Finalize"); }

bool PythonEverStarted() { return everStarted; }

bool ErrorOccurredFromThisThread() {
  static const auto function =
      reinterpret_cast<RBBoolean (*)()>(host().memberFunctions("Python3Engine", "ErrorOccurred() as Boolean").function);
  return function();
}

void StartUsingPythonFromASecondHostThread() {
  ErrorOccurredFromThisThread();  // looked up on this thread
  std::atomic<bool> done{false};
  std::thread second([&] {
    ErrorOccurredFromThisThread();
    done = true;
  });
  const auto start = std::chrono::steady_clock::now();
  while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    host().idle(std::chrono::milliseconds(1));
  second.join();
}

bool PythonLibraryMapped() {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    if (line.find("/libpython3") != std::string::npos) return true;
  return false;
}

bool ErrorOccurred() { return Bool(Engine("ErrorOccurred")); }
std::string GetError() { return Text(Engine("GetError")); }
Object GetModule(const std::string& name) { return xhost::asObject(Engine("GetModule", {Str(name)})); }
void AddSearchPath(const std::string& folder) { Engine("AddSearchPath", {host().newFolderItem(folder)}); }

void KeptPastFinalize(void* object) {
#ifdef API_TESTS_LEAK_SANITIZER
  if (object) __lsan_ignore_object(object);  // and, through it, what it refers to
#else
  (void)object;
#endif
}

// GetPtr's reference is kept along with the wrapper's.
void KeptPastFinalize(const Object& entity) { KeptPastFinalize(xhost::asPtr(host().call(entity, "GetPtr"))); }

bool UnderAddressSanitizer() {
#ifdef API_TESTS_LEAK_SANITIZER
  return true;
#else
  return false;
#endif
}

void CheckLeaksNowNotAtExit() {
#ifdef API_TESTS_LEAK_SANITIZER
  __lsan_do_leak_check();
#endif
}

namespace {

// The setter that stores an item, and the value it is given.
std::pair<const char*, Value> SetterFor(const Value& item) {
  if (std::holds_alternative<Int32>(item)) return {"Int32Value", item};
  if (std::holds_alternative<Int64>(item)) return {"Int64Value", item};
  if (const auto* integer = std::get_if<int64_t>(&item)) return {"Int64Value", Int64{*integer}};
  if (std::holds_alternative<UInt64>(item)) return {"UInt64Value", item};
  if (std::holds_alternative<double>(item)) return {"DoubleValue", item};
  if (std::holds_alternative<bool>(item)) return {"BooleanValue", item};
  if (std::holds_alternative<String>(item)) return {"StringValue", item};
  const Object object = std::holds_alternative<Object>(item) ? std::get<Object>(item) : Object();
  for (const auto& [className, setter] : {std::pair{"Python3Dictionary", "DictionaryValue"},
                                          {"Python3Parameters", "TupleValue"},
                                          {"Python3List", "ListValue"},
                                          {"Python3Bytes", "BytesValue"}})
    if (object.isA(className)) return {setter, object};
  return {"ObjectValue", object};
}

}  // namespace

Object Tuple(const std::vector<Value>& items) {
  Object tuple = host().newObject("Python3Parameters", {static_cast<int64_t>(items.size())});
  for (size_t i = 0; i < items.size(); ++i) {
    const auto [setter, value] = SetterFor(items[i]);
    host().assign(tuple, setter, {static_cast<int64_t>(i)}, value);
  }
  EXPECT_EQ(Int(host().getProperty(tuple, "LastError")), 0) << "a setter refused an item";
  return tuple;
}

std::string RaisedBy(const std::function<void()>& call) {
  try {
    call();
  } catch (const xhost::XojoException& raised) {
    if (!raised.isA("Python3Exception")) return "not a Python3Exception: " + raised.message;
    return raised.message + " (" + std::to_string(raised.errorNumber) + ")";
  }
  return "";
}

Object ListHolding(const std::vector<Object>& items) {
  Object list = host().newObject("Python3List");
  for (const Object& item : items) host().call(list, "Append", {item});
  return list;
}

Object EntityFrom(const std::string& kind, const Value& value) {
  return xhost::asObject(host().callShared("Python3Entity", "From" + kind, {value}));
}

Object Invoke(const Object& function, const std::vector<Value>& arguments) {
  return CallObject(function, "Invoke", {Tuple(arguments)});
}

Object InvokeWithNil(const Object& function) { return CallObject(function, "Invoke", {Nil{}}); }

void ListenToConsole(const std::string& className, std::function<void(const std::string&)> handler) {
  host().defineSubclass(className, "Python3EngineConsoleOutput",
                        {{"ConsoleOutput", [handler](const Object&, const std::vector<Value>& arguments) -> Value {
                            handler(Text(arguments.at(0)));
                            return {};
                          }}});
  Engine("SetConsoleOutput", {host().newObject(className)});
}

void PythonHelper::Connect() {
  module_ = GetModule("apitest");
  if (module_.isNil()) {
    Engine("ClearError");
    AddSearchPath(PYTHON_TEST_MODULES);
    module_ = GetModule("apitest");
  }
  ASSERT_FALSE(module_.isNil()) << GetError();
  run_ = Function("run");
  evaluate_ = Function("evaluate");
}

void PythonHelper::Disconnect() {
  module_ = Object();
  run_ = Object();
  evaluate_ = Object();
}

Object PythonHelper::Function(const std::string& name) {
  Object function = CallObject(module_, "GetFunction", {Str(name)});
  EXPECT_FALSE(function.isNil()) << "apitest." << name;
  return function;
}

Object PythonHelper::Call(const std::string& function, const std::vector<Value>& arguments) {
  return Invoke(Function(function), arguments);
}

void PythonHelper::Run(const std::string& code) {
  Object result = Invoke(run_, {Str(code)});
  EXPECT_FALSE(result.isNil()) << code << "\n" << GetError();
}

Object PythonHelper::Evaluate(const std::string& expression) {
  Object result = Invoke(evaluate_, {Str(expression)});
  EXPECT_FALSE(result.isNil()) << expression << "\n" << GetError();
  return result;
}

int64_t PythonHelper::IntegerOf(const std::string& expression) {
  Object result = Evaluate(expression);
  return result.isNil() ? -1 : Int(host().call(result, "Int64Value"));
}

std::string PythonHelper::TextOf(const std::string& expression) {
  Object result = Evaluate(expression);
  return result.isNil() ? "<nothing>" : Text(host().call(result, "StringValue"));
}

bool PythonHelper::TruthOf(const std::string& expression) {
  Object result = Evaluate(expression);
  return !result.isNil() && Bool(host().call(result, "BooleanValue"));
}

int64_t PythonHelper::RefCount(const std::string& expression) {
  return IntegerOf("sys.getrefcount(" + expression + ")");
}

Object PythonHelper::ListOf(const std::string& expression) {
  Object holder = CallObject(Evaluate("(" + expression + ",)"), "TupleValue");
  return CallObject(holder, "ListValue", {int64_t{0}});
}

Object PythonHelper::DictionaryOf(const std::string& expression) {
  return CallObject(Evaluate(expression), "DictionaryValue");
}

Object PythonHelper::EntityOf(const std::string& expression) {
  return CallObject(ListOf("[" + expression + "]"), "GetItem", {int64_t{0}});
}

std::string PythonHelper::Kinds(const Object& list) {
  Object result = Call("kinds", {list});
  return result.isNil() ? "<raised>" : Text(host().call(result, "StringValue"));
}

void PythonHelper::KeptPastFinalize(const std::string& expression) {
  // id() is the object's address in CPython.
  api_tests::KeptPastFinalize(reinterpret_cast<void*>(IntegerOf("id(" + expression + ")")));
}

void RunningPython::SetUp() {
  const bool first = !PythonEverStarted();
  InitPython();
  python.Connect();
  if (first) RecordPythonVersion(python.TextOf("sys.version"));
}

void RunningPython::TearDown() {
  Engine("SetConsoleOutput", {Nil{}});
  Engine("ClearError");
  python.Disconnect();
}

void RunningPython::Restart() {
  python.Disconnect();
  FinalizePython();
  InitPython();
  python.Connect();
}

void FreshProcess::SetUp() {
  if (PythonEverStarted()) GTEST_SKIP() << "Python already ran in this process; run this test alone";
}

}  // namespace api_tests
