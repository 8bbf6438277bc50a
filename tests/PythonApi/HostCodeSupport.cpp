#include "HostCodeSupport.h"

#include <array>

namespace api_tests {

Object ArgumentsOf(PyPtr args) { return host().newObject("Python3Parameters", {Ptr{args}}); }

int64_t IntegerArgument(PyPtr args, int64_t index) {
  return Int(host().call(ArgumentsOf(args), "Int64Value", {index}));
}

std::string TextArgument(PyPtr args, int64_t index) {
  return Text(host().call(ArgumentsOf(args), "StringValue", {index}));
}

PyPtr Returned(const Value& value) {
  Object result = std::holds_alternative<std::monostate>(value) ? host().newObject("Python3Result")
                                                                : host().newObject("Python3Result", {value});
  return xhost::asPtr(host().call(result, "GetPtr"));
}

PyPtr Raised(const std::string& errorType, const std::string& message) {
  Engine("SetError", {host().constant("Python3ErrorTypes." + errorType), Str(message)});
  return nullptr;
}

Object DataOf(PyPtr self) { return xhost::asObject(host().callShared("Python3XojoClass", "Data", {Ptr{self}})); }

void SetDataOf(PyPtr self, const Value& value) { host().assignShared("Python3XojoClass", "Data", {Ptr{self}}, value); }

Object NewXojoModule(const std::string& name, const Members& functions, const std::vector<Object>& classes) {
  Object module = host().newObject("Python3XojoModule", {Str(name)});
  for (const auto& [function, address] : functions) host().call(module, "RegisterFunction", {Str(function), address});
  for (const Object& added : classes) host().call(module, "AddClass", {added});
  return module;
}

Object NewXojoClass(const std::string& name, Ptr initializer, const Members& methods,
                    const std::vector<Property>& properties) {
  Object type = host().newObject("Python3XojoClass", {Str(name), initializer});
  for (const auto& [method, address] : methods) host().call(type, "RegisterFunction", {Str(method), address});
  for (const Property& property : properties)
    host().call(type, "RegisterGetterSetter", {Str(property.name), property.getter, property.setter});
  return type;
}

void ExpectPythonException(const std::function<void()>& call, int64_t errorCode, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no Python3Exception: " << message;
  } catch (const xhost::XojoException& raised) {
    EXPECT_TRUE(raised.isA("Python3Exception"));
    EXPECT_EQ(raised.errorNumber, errorCode);
    EXPECT_EQ(raised.message, message);
  }
}

namespace {

// The creators handed to RegisterXojoModule: Python calls them without
// arguments, so each reaches its module through a slot of its own.
std::array<Object, 4> creatorModules;

template <size_t Slot>
PyPtr CreateModule() {
  return xhost::asPtr(host().call(creatorModules[Slot], "ModuleCreateProc"));
}

template <size_t... Slot>
constexpr std::array<PyPtr (*)(), sizeof...(Slot)> Creators(std::index_sequence<Slot...>) {
  return {&CreateModule<Slot>...};
}
constexpr auto kCreators = Creators(std::make_index_sequence<4>());

const char kHelpers[] = R"(
def raised_by(code):
    try:
        exec(code, globals())
    except BaseException as error:
        return type(error).__name__ + ': ' + str(error)
    return ''

def raised_in_another_thread(code):
    import threading
    outcome = []
    worker = threading.Thread(target=lambda: outcome.append(raised_by(code)))
    worker.start()
    worker.join()
    return outcome[0]
)";

}  // namespace

void HostCode::SetUp() {
  if (PythonEverStarted()) FinalizePython();
}

void HostCode::TearDown() {
  python.Disconnect();
  Engine("ClearError");
  FinalizePython();
  registered_.clear();
  for (Object& module : creatorModules) module = Object();
}

// A module registered under the name of an earlier one replaces it, as it
// does in Python's table of built-in modules.
void HostCode::Register(const Object& module) {
  const std::string name = Text(host().getProperty(module, "Name"));
  size_t slot = 0;
  while (slot < registered_.size() && registered_[slot].first != name) ++slot;
  ASSERT_LT(slot, creatorModules.size()) << "more module names than creators";
  Engine("RegisterXojoModule", {module, Address(kCreators[slot])});
  creatorModules[slot] = module;
  if (slot == registered_.size())
    registered_.emplace_back(name, module);
  else
    registered_[slot].second = module;
}

void HostCode::Start() {
  InitPython();
  python.Connect();
  python.Run(kHelpers);
}

void HostCode::Restart() {
  python.Disconnect();
  FinalizePython();
  for (const auto& [name, module] : std::vector<std::pair<std::string, Object>>(registered_)) Register(module);
  Start();
}

void HostCode::DropRegisteredModules() {
  registered_.clear();
  for (Object& module : creatorModules) module = Object();
}

std::string HostCode::RaisedBy(const std::string& code) {
  return Text(host().call(python.Call("raised_by", {Str(code)}), "StringValue"));
}

std::string HostCode::RaisedInAnotherThread(const std::string& code) {
  return Text(host().call(python.Call("raised_in_another_thread", {Str(code)}), "StringValue"));
}

}  // namespace api_tests
