// Host-defined modules: host functions that Python imports and calls.
#include <cstdlib>
#include <stdexcept>

#include "HostCodeSupport.h"

namespace api_tests {
namespace {

PyPtr lastSelf = nullptr;
int addCalls = 0;

PyPtr Add(PyPtr self, PyPtr args) {
  lastSelf = self;
  ++addCalls;
  return Returned(Int64{IntegerArgument(args, 0) + IntegerArgument(args, 1)});
}
PyPtr Greet(PyPtr, PyPtr args) { return Returned(Str("hello " + TextArgument(args, 0))); }
PyPtr Fail(PyPtr, PyPtr args) { return Raised("KeyError", TextArgument(args, 0)); }
PyPtr Forget(PyPtr, PyPtr) { return nullptr; }
PyPtr Explode(PyPtr, PyPtr) { throw std::runtime_error("no Xojo exception crosses Python"); }

// Function number N returns N.
template <size_t N>
PyPtr Numbered(PyPtr, PyPtr) {
  return Returned(Int64{N});
}
template <size_t... N>
Members NumberedFunctions(std::index_sequence<N...>) {
  return {{"f" + std::to_string(N), Address(&Numbered<N>)}...};
}

Object MathModule() {
  return NewXojoModule("hostmath", {{"add", Address(&Add)},
                                    {"greet", Address(&Greet)},
                                    {"fail", Address(&Fail)},
                                    {"forget", Address(&Forget)},
                                    {"explode", Address(&Explode)},
                                    {"missing", Ptr{nullptr}}});
}

class HostModules : public HostCode {};

TEST_F(HostModules, PythonCallsTheHostFunctionsWithTheModuleAndTheArguments) {
  Object module = MathModule();
  EXPECT_EQ(Text(host_.getProperty(module, "Name")), "hostmath");
  Register(module);
  Start();
  python.Run("import hostmath");
  EXPECT_EQ(python.IntegerOf("hostmath.add(40, 2)"), 42);
  EXPECT_EQ(python.IntegerOf("id(hostmath)"), reinterpret_cast<int64_t>(lastSelf));
  EXPECT_EQ(python.TextOf("hostmath.greet('Xojo')"), "hello Xojo");
  EXPECT_EQ(python.TextOf("hostmath.__name__"), "hostmath");
  const int callsBefore = addCalls;
  EXPECT_EQ(RaisedBy("hostmath.add(a=1, b=2)").rfind("TypeError: ", 0), 0u) << "positional arguments only";
  EXPECT_EQ(addCalls, callsBefore);
}

// What a host function reports reaches the calling Python code as an
// exception, and so does a host function that breaks Python's rules.
TEST_F(HostModules, FailuresReachPythonAsExceptions) {
  Register(MathModule());
  Start();
  python.Run("import hostmath");
  const std::pair<const char*, const char*> cases[] = {
      {"hostmath.fail('no such key')", "KeyError: 'no such key'"},
      {"hostmath.forget()",
       "SystemError: hostmath.forget: the Xojo function returned no value and set no Python error"},
      {"hostmath.explode()",
       "RuntimeError: hostmath.explode: the Xojo function ended with an exception, which Python cannot receive"},
      {"hostmath.missing()", "NotImplementedError: hostmath.missing was registered without a Xojo function"},
  };
  for (const auto& [code, raised] : cases) EXPECT_EQ(RaisedBy(code), raised) << code;
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(HostModules, ElevenFunctionsKeepTheirOrderAcrossTheTablesGrowth) {
  Register(NewXojoModule("numbered", NumberedFunctions(std::make_index_sequence<11>())));
  Start();
  python.Run("import numbered");
  for (int n = 0; n < 11; ++n) EXPECT_EQ(python.IntegerOf("numbered.f" + std::to_string(n) + "()"), n);
}

TEST_F(HostModules, AModuleWithoutFunctionsOrClassesImportsEmpty) {
  Register(NewXojoModule("hostempty"));
  Start();
  python.Run("import hostempty");
  EXPECT_EQ(python.TextOf("','.join(name for name in dir(hostempty) if not name.startswith('__'))"), "");
}

TEST_F(HostModules, AMissingNameIsRefusedAndChangesNothing) {
  Object module = NewXojoModule("hostmath", {{"add", Address(&Add)}});
  Object type = NewXojoClass("Plain", Ptr{nullptr});
  const std::function<void(const Value&)> refusals[] = {
      [&](const Value& name) { host_.newObject("Python3XojoModule", {name}); },
      [&](const Value& name) {
        host_.call(module, "RegisterFunction", {name, Address(&Greet)});
      },
      [&](const Value& name) {
        host_.newObject("Python3XojoClass", {name, Ptr{nullptr}});
      },
      [&](const Value& name) {
        host_.call(type, "RegisterFunction", {name, Address(&Greet)});
      },
      [&](const Value& name) {
        host_.call(type, "RegisterGetterSetter", {name, Address(&Greet), Ptr{nullptr}});
      },
  };
  for (const auto& refuse : refusals)
    for (const Value& name : {Value(Str("")), Value(String())})
      ExpectPythonException([&] { refuse(name); }, -6, "name parameter needs to have value");
  host_.call(module, "AddClass", {type});
  Register(module);
  Start();
  python.Run("import hostmath");
  EXPECT_EQ(python.TextOf("','.join(name for name in dir(hostmath) if not name.startswith('__'))"), "Plain,add");
  EXPECT_EQ(python.TextOf("','.join(name for name in dir(hostmath.Plain) if not name.startswith('__'))"), "");
}

// Python takes new built-in modules only before it starts: 3.12 and later
// end the process otherwise, earlier versions accept the module and never
// import it.
TEST_F(HostModules, RegisteringWhilePythonRunsIsRefused) {
  Start();
  Object module = NewXojoModule("latecomer", {{"add", Address(&Add)}});
  ExpectPythonException([&] { Register(module); }, -6,
                        "Python3Engine.RegisterXojoModule: Python is running, and it takes new modules only before it "
                        "starts; register modules before Python3Engine.Init, or after Python3Engine.Finalize");
  EXPECT_EQ(host_.refCount(module), 1) << "nothing keeps the module";
  python.Disconnect();
  FinalizePython();
  InitPython();
  python.Connect();
  EXPECT_TRUE(GetModule("latecomer").isNil());
  EXPECT_EQ(GetError(), "No module named 'latecomer'");
}

// Python decodes the name of every built-in module as it starts: a name it
// cannot decode would end the process in the next Init.
TEST_F(HostModules, ANameThatIsNotUtf8OrHoldsNulIsRefused) {
  for (const std::string& name :
       {std::string("bad\xFF\xFE"), std::string("\xED\xA0\x80"), std::string("ok\0tail", 7)}) {
    Object module = NewXojoModule(name);
    ExpectPythonException([&] { Register(module); }, -6,
                          "Python3Engine.RegisterXojoModule: the module name is not UTF-8 text without NUL characters");
    EXPECT_EQ(host_.refCount(module), 1) << "nothing keeps the module";
  }
  Register(NewXojoModule("plain_after_refusals"));
  Start();
  python.Run("import plain_after_refusals");
}

// An application registers its module once and restarts Python at will:
// the registration lasts while the application holds the module object.
TEST_F(HostModules, ARegistrationLastsThroughRestartsWhileTheApplicationHoldsTheModule) {
  Register(MathModule());
  Start();
  EXPECT_EQ(python.IntegerOf("__import__('hostmath').add(1, 2)"), 3);
  for (int round = 0; round < 3; ++round) {
    python.Disconnect();
    FinalizePython();
    InitPython();
    python.Connect();
    EXPECT_EQ(python.IntegerOf("__import__('hostmath').add(40, 2)"), 42) << "restart " << round;
  }
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(HostModules, AModuleTheApplicationLetGoOfIsNotImportedAfterARestart) {
  Register(MathModule());
  Start();
  EXPECT_FALSE(GetModule("hostmath").isNil());
  python.Disconnect();
  FinalizePython();
  DropRegisteredModules();
  EXPECT_EQ(host_.liveObjects("Python3XojoModule"), 0u) << "the plugin keeps nothing past Finalize";
  InitPython();
  EXPECT_TRUE(GetModule("hostmath").isNil());
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "ImportError");
  EXPECT_NE(GetError().find("hostmath"), std::string::npos);
  Engine("ClearError");
  FinalizePython();
  Register(MathModule());
  Start();
  EXPECT_EQ(python.IntegerOf("__import__('hostmath').add(2, 3)"), 5) << "registered anew";
}

// The plugin keeps one reference to the latest module of each name until
// Finalize, however many modules were registered.
TEST_F(HostModules, FinalizeGivesBackEveryRegisteredModule) {
  Object math = MathModule();
  Object other = NewXojoModule("hostother", {{"add", Address(&Add)}});
  Object again = NewXojoModule("hostother");
  for (const Object* module : {&math, &other, &again}) Register(*module);
  EXPECT_EQ(host_.refCount(other), 1) << "nothing keeps a module replaced by a later one of its name";
  const int64_t mathRegistered = host_.refCount(math), againRegistered = host_.refCount(again);
  Start();
  python.Disconnect();
  FinalizePython();
  EXPECT_EQ(host_.refCount(math), mathRegistered - 1);
  EXPECT_EQ(host_.refCount(again), againRegistered - 1);
  EXPECT_EQ(host_.refCount(other), 1);
}

TEST_F(HostModules, ANilModuleOrCreatorRegistersNothing) {
  Object module = MathModule();
  Engine("RegisterXojoModule", {Nil{}, Address(&Add)});
  Engine("RegisterXojoModule", {module, Ptr{nullptr}});
  EXPECT_EQ(host_.refCount(module), 1);
  Start();
  EXPECT_TRUE(GetModule("hostmath").isNil());
}

TEST_F(HostModules, ModuleCreateProcNeedsARegisteredModuleAndARunningPython) {
  Object module = MathModule();
  EXPECT_EQ(xhost::asPtr(host_.call(module, "ModuleCreateProc")), nullptr) << "Python does not run";
  Start();
  EXPECT_EQ(xhost::asPtr(host_.call(module, "ModuleCreateProc")), nullptr);
  EXPECT_EQ(GetError(),
            "Python3XojoModule.ModuleCreateProc: the module hostmath is not registered; call "
            "Python3Engine.RegisterXojoModule before Python3Engine.Init");
}

TEST_F(HostModules, EachModuleCreateProcMakesANewModule) {
  Object module = MathModule();
  Register(module);
  Start();
  python.Run("import hostmath");
  PyPtr first = xhost::asPtr(host_.call(module, "ModuleCreateProc"));
  PyPtr second = xhost::asPtr(host_.call(module, "ModuleCreateProc"));
  EXPECT_NE(first, nullptr);
  EXPECT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_NE(python.IntegerOf("id(hostmath)"), reinterpret_cast<int64_t>(first));
}

// Python's function objects point into the table it was given: it does not
// change while that interpreter runs, and a restarted one gets the new table.
TEST_F(HostModules, FunctionsAreAddedBeforeImportOrAfterFinalize) {
  Object module = MathModule();
  Register(module);
  Start();
  python.Run("import hostmath");
  ExpectPythonException(
      [&] {
        host_.call(module, "RegisterFunction", {Str("late"), Address(&Greet)});
      },
      -6,
      "Python3XojoModule.RegisterFunction: Python already uses this module or class, which therefore "
      "cannot change while the interpreter runs; register everything before the module is first "
      "imported, or after Python3Engine.Finalize");
  EXPECT_EQ(python.IntegerOf("hostmath.add(1, 2)"), 3);
  python.Disconnect();
  FinalizePython();
  host_.call(module, "RegisterFunction", {Str("late"), Address(&Greet)});
  Restart();
  python.Run("import hostmath");
  EXPECT_EQ(python.TextOf("hostmath.late('again')"), "hello again");
}

TEST_F(HostModules, HostFunctionsRunOnlyOnTheApplicationsThread) {
  Register(MathModule());
  Start();
  python.Run("import hostmath");
  const int callsBefore = addCalls;
  EXPECT_EQ(RaisedInAnotherThread("hostmath.add(1, 2)"),
            "RuntimeError: hostmath.add: the Xojo code was not called, as it runs only on the application's thread "
            "while the application calls into Python, and this call came from another thread");
  EXPECT_EQ(addCalls, callsBefore);
  EXPECT_EQ(python.IntegerOf("hostmath.add(1, 2)"), 3);
}

TEST_F(HostModules, ImportsOnAnotherThreadDoNotRunTheCreator) {
  Register(MathModule());
  Start();
  EXPECT_EQ(RaisedInAnotherThread("import hostmath"),
            "RuntimeError: hostmath: the Xojo code was not called, as it runs only on the application's thread "
            "while the application calls into Python, and this call came from another thread");
  python.Run("import hostmath");
  EXPECT_EQ(python.IntegerOf("hostmath.add(2, 2)"), 4);
}

// The loaded library has no Python: registration does nothing, in a child
// process, as the library once chosen stays chosen.
TEST(HostModulesWithoutPython, RegistrationDoesNothing) {
  if (PythonLibraryMapped()) GTEST_SKIP() << "a Python library is loaded in this process; run this test alone";
  EXPECT_EXIT(
      {
        Engine("SetPythonPath", {host().newFolderItem(PYTHON_TEST_MODULES "/apitest.py")});
        Object module = MathModule();
        Engine("RegisterXojoModule", {module, Address(&Add)});
        const bool untouched = host().refCount(module) == 1 && !Bool(Engine("PythonIsFound")) &&
                               xhost::asPtr(host().call(module, "ModuleCreateProc")) == nullptr;
        std::_Exit(untouched ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace api_tests
