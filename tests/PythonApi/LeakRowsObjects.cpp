// Rows of Python3Engine, Python3Exception and the named program objects:
// Python3Object, Python3Module, Python3Function, Python3Class, Python3Instance.
#include "LeakRows.h"

namespace api_tests {
namespace {

const char kPythonIsFound[] =
    "PythonIsFound(preferredVersion as Python3Engine.PreferredVersionValues = "
    "Python3Engine.PreferredVersionValues.PREFERRED_VERSION_LATESTKNOWN) as Boolean";
const char kRegisterXojoModule[] = "RegisterXojoModule(xojoModule as Python3XojoModule, moduleCreatorFunction as Ptr)";

void* NoCreator() { return nullptr; }

// The attribute fields that modules and instances share, one line per type:
// the attribute read, and the value assigned.
struct Field {
  const char* declaration;
  const char* attribute;  // an attribute of this type, on apitest and on leak_instance
  Value assigned;
};

std::vector<Field> Fields(const LeakObjects& c) {
  return {
      {"Int32Field(name as String) as Int32", "leak_number", Int32{1234567}},
      {"Int64Field(name as String) as Int64", "leak_number", Int64{int64_t{1} << 40}},
      {"UInt64Field(name as String) as UInt64", "leak_number", UInt64{uint64_t{1} << 63}},
      {"DoubleField(name as String) as Double", "leak_ratio", 2.5},
      {"BooleanField(name as String) as Boolean", "leak_list", true},
      {"StringField(name as String) as String", "leak_text", Str("assigned text")},
      {"ObjectField(name as String) as Object", "leak_capsule", c.hostObject},
  };
}

// The fields, HasAttribute and DeleteAttribute of `className`, whose wrapper
// `owner` holds what `ownerExpression` names.
std::vector<Row> AttributeRows(LeakObjects& c, const std::string& className, const Object& owner,
                               const std::string& ownerExpression) {
  std::vector<Row> rows;
  for (const Field& field : Fields(c)) {
    const std::string getter = Member(className, field.declaration);
    const std::string name = NameOf(field.declaration);
    const std::string attribute = field.attribute;
    const Value assigned = field.assigned;
    rows.push_back({getter, "", {attribute, ownerExpression}, [owner, name, attribute] {
                      host().call(owner, name, {Str(attribute)});
                    }});
    rows.push_back({getter, "a missing attribute", {ownerExpression}, [&c, owner, name] {
                      host().call(owner, name, {Str("leak_absent")});
                      c.ClearError();
                    }});
    rows.push_back({getter, "an attribute of another type", {"leak_tuple", ownerExpression}, [&c, owner, name] {
                      host().call(owner, name, {Str("leak_tuple")});
                      c.ClearError();
                    }});
    rows.push_back({getter + " (assigns)", "", {ownerExpression}, [owner, name, assigned] {
                      host().assign(owner, name, {Str("leak_assigned")}, assigned);
                    }});
    rows.push_back({getter + " (assigns)", "an empty name", {ownerExpression}, [&c, owner, name, assigned] {
                      host().assign(owner, name, {Str("")}, assigned);
                      c.ClearError();
                    }});
  }
  const std::string has = Member(className, "HasAttribute(name as String) as Boolean");
  const std::string remove = Member(className, "DeleteAttribute(name as String) as Integer");
  rows.push_back(
      {has, "", {"leak_text", ownerExpression}, [owner] { host().call(owner, "HasAttribute", {Str("leak_text")}); }});
  rows.push_back({has, "a missing attribute", {ownerExpression}, [owner] {
                    host().call(owner, "HasAttribute", {Str("leak_absent")});
                  }});
  rows.push_back({remove, "", {"leak_text", ownerExpression}, [owner] {
                    host().assign(owner, "StringField", {Str("leak_deleted")}, Str("deleted text"));
                    host().call(owner, "DeleteAttribute", {Str("leak_deleted")});
                  }});
  rows.push_back({remove, "a missing attribute", {ownerExpression}, [&c, owner] {
                    host().call(owner, "DeleteAttribute", {Str("leak_absent")});
                    c.ClearError();
                  }});
  return rows;
}

}  // namespace

std::vector<Row> EngineRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3Engine", declaration); };
  const std::string getModule = m("GetModule(name as String) as Python3Module");
  const std::string getError = m("GetError() as String");
  const std::string execute = m("Execute(source as String) as Boolean");
  const std::string evaluate = m("Evaluate(expression as String) as Python3Result");
  const std::string typeName = m("GetErrorTypeName() as String");
  const std::string traceback = m("GetErrorTraceback() as String");
  const std::vector<std::string> raised = {"leak_error", "leak_message", "raise_kept", "raise_kept.__code__"};
  const std::vector<std::string> ownRaised = {"leak_own_error", "leak_message", "LeakError"};
  return {
      {getModule, "", {"sys.modules['colorsys']"}, [] { GetModule("colorsys"); }},
      {getModule,
       "a missing module",
       {},
       [&c] {
         GetModule("no_such_module_here");
         c.ClearError();
       }},
      {getModule,
       "a name holding NUL",
       {},
       [&c] {
         Engine("GetModule", {host().newString(std::string("os\0x", 4))});
         c.ClearError();
       }},
      {m("ErrorOccurred() as Boolean"), "", raised,
       [&c] {
         c.python.Call("raise_kept");
         ErrorOccurred();
         c.ClearError();
       }},
      {getError, "", raised,
       [&c] {
         c.python.Call("raise_kept");
         GetError();
       }},
      {getError, "an exception of a module's own class", ownRaised,
       [&c] {
         c.python.Call("raise_own");
         GetError();
       }},
      {getError,
       "an exception whose str() raises",
       {"leak_unprintable", "Unprintable"},
       [&c] {
         c.python.Call("raise_unprintable");
         GetError();
         c.ClearError();
       }},
      {getError, "none pending", {}, [] { GetError(); }},
      {m("ClearError()"), "", raised,
       [&c] {
         c.python.Call("raise_kept");
         Engine("ClearError");
       }},
      {m("SetError(errorType as Integer, message as String)"),
       "",
       {},
       [&c] {
         Engine("SetError", {host().constant("Python3ErrorTypes.KeyError"), Str("set by the host")});
         c.ClearError();
       }},
      {m("SetError(errorType as Integer, message as String)"),
       "a number of no type",
       {},
       [] {
         Engine("SetError", {int64_t{99}, Str("set by the host")});
       }},
      {m("AddSearchPath(f as FolderItem)"),
       "",
       {"sys.path"},
       [&c] {
         AddSearchPath("/tmp");
         c.python.Run("del sys.path[-1]");
       }},
      {m("SetConsoleOutput(output as Python3EngineConsoleOutput)"),
       "",
       {},
       [] {
         Engine("SetConsoleOutput", {host().newObject("Python3EngineConsoleOutput")});
         Engine("SetConsoleOutput", {Nil{}});
       }},
      {m("SetConsoleOutput(output as Python3EngineConsoleOutput, wholeLines as Boolean)"),
       "",
       {},
       [] {
         Engine("SetConsoleOutput", {host().newObject("Python3EngineConsoleOutput"), true});
         Engine("SetConsoleOutput", {Nil{}, false});
       }},
      {m("Interrupt()"), "while no Python code runs", {}, [] { Engine("Interrupt"); }},
      {m("Interrupt()"),
       "a loop it stops",
       {},
       [&c] {
         Engine("SetYieldInterval", {int64_t{1}});
         const int press = host().addCooperativeThread([] { Engine("Interrupt"); });
         Engine("Execute", {Str("while True: pass")});
         host().removeCooperativeThread(press);
         Engine("SetYieldInterval", {int64_t{0}});
         c.ClearError();
       }},
      {m("SetYieldInterval(milliseconds as Integer)"),
       "",
       {},
       [] {
         Engine("SetYieldInterval", {int64_t{5}});
         Engine("Execute", {Str("import time\nend = time.time() + 0.01\nwhile time.time() < end: pass")});
         Engine("SetYieldInterval", {int64_t{0}});
       }},
      {m(kPythonIsFound), "", {}, [] { Engine("PythonIsFound"); }},
      {m("SetPythonPath(path as FolderItem)"),
       "once a library is loaded",
       {},
       [] { Engine("SetPythonPath", {host().newFolderItem("/tmp")}); }},
      {m("SetVirtualEnvironment(folder as FolderItem) as Boolean"),
       "while Python runs",
       {},
       [] { Engine("SetVirtualEnvironment", {host().newFolderItem("/tmp")}); }},
      {m("LibraryPath() as String"), "", {}, [] { Engine("LibraryPath"); }},
      {m("Version() as String"), "", {}, [] { Engine("Version"); }},
      {m("IsRunning() as Boolean"), "", {}, [] { Engine("IsRunning"); }},
      {m("Init()"), "while Python runs", {}, [] { Engine("Init"); }},
      {m("Init(applicationName as String)"), "while Python runs", {}, [] { Engine("Init", {Str("leak app")}); }},
      // Execute returns what the run gave, None, released before 3.12 made it immortal.
      {execute,
       "",
       {"leak_text", "sys.modules['__main__'].__dict__", "None"},
       [] { Engine("Execute", {Str("import apitest\nleak_seen = apitest.leak_text")}); }},
      {execute,
       "code that raises",
       {"sys.modules['__main__'].__dict__"},
       [&c] {
         Engine("Execute", {Str("raise ValueError('raised by executed code')")});
         c.ClearError();
       }},
      {execute,
       "a syntax error",
       {},
       [&c] {
         Engine("Execute", {Str("def (")});
         c.ClearError();
       }},
      {execute,
       "a source holding NUL",
       {},
       [&c] {
         Engine("Execute", {host().newString(std::string("x = 1\0", 6))});
         c.ClearError();
       }},
      {evaluate,
       "",
       {"leak_text", "sys.modules['__main__'].__dict__"},
       [] { Engine("Evaluate", {Str("__import__('apitest').leak_text")}); }},
      {evaluate,
       "an expression that raises",
       {},
       [&c] {
         Engine("Evaluate", {Str("1 / 0")});
         c.ClearError();
       }},
      {typeName, "", raised,
       [&c] {
         c.python.Call("raise_kept");
         Engine("GetErrorTypeName");
         c.ClearError();
       }},
      {typeName, "an exception of a module's own class", ownRaised,
       [&c] {
         c.python.Call("raise_own");
         Engine("GetErrorTypeName");
         c.ClearError();
       }},
      {typeName, "none pending", {}, [] { Engine("GetErrorTypeName"); }},
      {traceback, "", raised,
       [&c] {
         c.python.Call("raise_kept");
         Engine("GetErrorTraceback");
         c.ClearError();
       }},
      {traceback, "none pending", {}, [] { Engine("GetErrorTraceback"); }},
      {m(kRegisterXojoModule),
       "while Python runs (refused)",
       {},
       [&c] {
         Object refused = host().newObject("Python3XojoModule", {Str("leakrefused")});
         c.Refused([&] { Engine("RegisterXojoModule", {refused, Ptr{reinterpret_cast<void*>(&NoCreator)}}); });
       }},
      {Member("Python3Exception", "Constructor()"), "", {}, [] { host().newObject("Python3Exception"); }},
  };
}

std::vector<Row> ModuleRows(LeakObjects& c) {
  const auto m = [](const char* declaration) { return Member("Python3Module", declaration); };
  const std::string getFunction = m("GetFunction(name as String) as Python3Function");
  const std::string getClass = m("GetClass(name as String) as Python3Class");
  std::vector<Row> rows = {
      {getFunction,
       "",
       {"echo", "sys.modules['apitest']"},
       [&c] { host().call(c.module, "GetFunction", {Str("echo")}); }},
      {getFunction,
       "an attribute that is no function",
       {"leak_list"},
       [&c] { host().call(c.module, "GetFunction", {Str("leak_list")}); }},
      {getFunction,
       "a missing attribute",
       {},
       [&c] {
         host().call(c.module, "GetFunction", {Str("no_such_function")});
         c.ClearError();
       }},
      {getFunction, "an empty name", {}, [&c] { host().call(c.module, "GetFunction", {Str("")}); }},
      {getClass,
       "",
       {"LeakClass", "sys.modules['apitest']"},
       [&c] { host().call(c.module, "GetClass", {Str("LeakClass")}); }},
      {getClass,
       "a missing attribute",
       {},
       [&c] {
         host().call(c.module, "GetClass", {Str("NoSuchClass")});
         c.ClearError();
       }},
      {m("Reload() as Boolean"), "", {"sys.modules['colorsys']"}, [&c] { host().call(c.colorsys, "Reload"); }},
      {m("Reload() as Boolean"),
       "a module that cannot be reloaded",
       {"leak_stale"},
       [&c] { host().call(c.stale, "Reload"); }},
      {"Python3Module (destructor)", "", {"sys.modules['colorsys']"}, [] { GetModule("colorsys"); }},
      {Member("Python3Object", "Name as String"), "", {}, [&c] { host().getProperty(c.module, "Name"); }},
      {"Python3Object (initializer)", "", {"sys.modules['colorsys']"}, [] { GetModule("colorsys"); }},
      {"Python3Object (destructor)", "", {"sys.modules['colorsys']"}, [] { GetModule("colorsys"); }},
  };
  for (Row& row : AttributeRows(c, "Python3Module", c.module, "sys.modules['apitest']")) rows.push_back(std::move(row));
  return rows;
}

std::vector<Row> FunctionAndClassRows(LeakObjects& c) {
  const std::string invoke = Member("Python3Function", "Invoke(parameters as Python3Parameters) as Python3Result");
  const std::string invokeKeywords = Member(
      "Python3Function", "Invoke(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result");
  const auto create = [](const char* parameters) {
    return Member("Python3Class", std::string("CreateInstance(") + parameters + ") as Python3Instance");
  };
  const std::vector<std::string> arguments = {"leak_tuple", "leak_list", "leak_text"};
  const std::vector<std::string> keywords = {"leak_keywords", "leak_text", "leak_tuple"};
  return {
      {invoke,
       "",
       {"echo", "leak_tuple", "leak_list", "leak_text"},
       [&c] { host().call(c.echo, "Invoke", {c.arguments}); }},
      {invoke, "Nil parameters", {"echo"}, [&c] { host().call(c.echo, "Invoke", {Nil{}}); }},
      {invoke,
       "a function that raises",
       {"raise_kept", "leak_error", "leak_message"},
       [&c] {
         host().call(c.raiser, "Invoke", {Nil{}});
         c.ClearError();
       }},
      {invoke,
       "parameters that are no tuple",
       {"echo", "leak_list"},
       [&c] {
         host().call(c.echo, "Invoke", {c.notTuple});
         c.ClearError();
       }},
      {invoke,
       "a method of an instance",
       {"leak_instance", "LeakHolder.method", "leak_tuple"},
       [&c] { host().call(c.method, "Invoke", {c.arguments}); }},
      {invokeKeywords,
       "",
       {"keyword_echo", "leak_keywords", "leak_text", "leak_tuple"},
       [&c] {
         host().call(c.keywordEcho, "Invoke", {c.arguments, c.keywords});
       }},
      {invokeKeywords,
       "Nil parameters and keywords",
       {"keyword_echo"},
       [&c] {
         host().call(c.keywordEcho, "Invoke", {Nil{}, Nil{}});
       }},
      {invokeKeywords,
       "a dictionary that holds nothing",
       {"keyword_echo", "leak_tuple"},
       [&c] {
         host().call(c.keywordEcho, "Invoke", {c.arguments, host().newObject("Python3Dictionary", {Ptr{nullptr}})});
       }},
      {invokeKeywords,
       "keywords the function does not take",
       {"raise_kept", "leak_keywords", "leak_text"},
       [&c] {
         host().call(c.raiser, "Invoke", {Nil{}, c.keywords});
         c.ClearError();
       }},
      {invokeKeywords,
       "parameters that are no tuple",
       {"leak_list", "leak_keywords"},
       [&c] {
         host().call(c.keywordEcho, "Invoke", {c.notTuple, c.keywords});
         c.ClearError();
       }},
      {Member("Python3Function", "OwnerModule as Python3Module"),
       "",
       {},
       [&c] { host().getProperty(c.echo, "OwnerModule"); }},
      {"Python3Function (destructor)", "", {"echo"}, [&c] { host().call(c.module, "GetFunction", {Str("echo")}); }},
      {create(""), "", {"LeakClass"}, [&c] { host().call(c.leakClass, "CreateInstance"); }},
      {create(""),
       "a class whose initializer raises",
       {"LeakFailing", "leak_error", "leak_message"},
       [&c] {
         host().call(c.failingClass, "CreateInstance");
         c.ClearError();
       }},
      {create("parameters as Python3Parameters"), "", arguments,
       [&c] { host().call(c.leakClass, "CreateInstance", {c.arguments}); }},
      {create("parameters as Python3Parameters"),
       "parameters that are no tuple",
       {"leak_list"},
       [&c] {
         host().call(c.leakClass, "CreateInstance", {c.notTuple});
         c.ClearError();
       }},
      {create("parameters as Python3Parameters, keywords as Python3Dictionary"), "", keywords,
       [&c] {
         host().call(c.leakClass, "CreateInstance", {c.arguments, c.keywords});
       }},
      {create("parameters as Python3Parameters, keywords as Python3Dictionary"),
       "a class whose initializer raises",
       {"leak_keywords", "leak_text"},
       [&c] {
         host().call(c.failingClass, "CreateInstance", {Nil{}, c.keywords});
         c.ClearError();
       }},
      {"Python3Class (destructor)", "", {"LeakClass"}, [&c] { host().call(c.module, "GetClass", {Str("LeakClass")}); }},
  };
}

std::vector<Row> InstanceRows(LeakObjects& c) {
  const std::string getFunction = Member("Python3Instance", "GetFunction(name as String) as Python3Function");
  std::vector<Row> rows = {
      {getFunction,
       "",
       {"leak_instance", "LeakHolder.method"},
       [&c] { host().call(c.instance, "GetFunction", {Str("method")}); }},
      {getFunction,
       "an attribute that is no function",
       {"leak_instance", "leak_list"},
       [&c] { host().call(c.instance, "GetFunction", {Str("leak_list")}); }},
      {getFunction,
       "a missing attribute",
       {"leak_instance"},
       [&c] {
         host().call(c.instance, "GetFunction", {Str("leak_absent")});
         c.ClearError();
       }},
      {"Python3Instance (destructor)", "", {"LeakClass"}, [&c] { host().call(c.leakClass, "CreateInstance"); }},
  };
  for (Row& row : AttributeRows(c, "Python3Instance", c.instance, "leak_instance")) rows.push_back(std::move(row));
  return rows;
}

}  // namespace api_tests
