// Rows of the host-defined modules and classes (Python3XojoModule,
// Python3XojoClass, Python3Engine.RegisterXojoModule), of every path by which
// Python calls host code (module functions, the slots and members of a host
// class, the console), and of Python3EngineConsoleOutput.
#include <stdexcept>

#include "HostCodeSupport.h"
#include "LeakRows.h"

namespace api_tests {
namespace {

const char kRegisterXojoModule[] =
    "Python3Engine.RegisterXojoModule(xojoModule as Python3XojoModule, moduleCreatorFunction as Ptr)";

// The module that the creator hands to Python: the one last registered.
Object* registeredLeakHost = nullptr;

PyPtr CreateLeakHost() {
  return registeredLeakHost ? xhost::asPtr(host().call(*registeredLeakHost, "ModuleCreateProc")) : nullptr;
}

// leakhost's functions.
PyPtr Echo(PyPtr, PyPtr args) { return xhost::asPtr(host().call(ArgumentsOf(args), "GetPtr")); }
PyPtr Add(PyPtr, PyPtr args) { return Returned(Int64{IntegerArgument(args, 0) + IntegerArgument(args, 1)}); }
PyPtr Fail(PyPtr, PyPtr args) { return Raised("KeyError", TextArgument(args, 0)); }
PyPtr Forget(PyPtr, PyPtr) { return nullptr; }
PyPtr EchoWithError(PyPtr self, PyPtr args) {  // the value is dropped: the error wins
  Raised("KeyError", "returned with an error set");
  return Echo(self, args);
}
PyPtr EchoKeywords(PyPtr, PyPtr, PyPtr kwargs) {  // the keyword arguments, as a dict of their own
  Object keywords = host().newObject("Python3Dictionary", {Ptr{kwargs}});
  return xhost::asPtr(host().call(xhost::asObject(host().call(keywords, "Copy")), "GetPtr"));
}
PyPtr Explode(PyPtr, PyPtr) { throw std::runtime_error("no host exception crosses Python"); }
PyPtr FinalizeFromPython(PyPtr, PyPtr) {  // refused: Python code is running
  Engine("Finalize");
  return nullptr;
}

// LeakCounter: an instance's count is the Python3Result it holds as Data.
int64_t CountOf(PyPtr self) {
  Object state = DataOf(self);
  return state.isNil() ? 0 : Int(host().call(state, "Int64Value"));
}
void SetCount(PyPtr self, int64_t count) { SetDataOf(self, host().newObject("Python3Result", {Int64{count}})); }

int32_t CounterInit(PyPtr self, PyPtr args, PyPtr) {
  Object arguments = ArgumentsOf(args);
  if (Int(host().getProperty(arguments, "Count")) > 0 && !Bool(host().call(arguments, "IsInteger", {int64_t{0}}))) {
    Raised("TypeError", "a LeakCounter starts from an integer");
    return -1;
  }
  SetCount(self, Int(host().getProperty(arguments, "Count")) > 0 ? IntegerArgument(args, 0) : 0);
  return 0;
}
PyPtr Step(PyPtr self, PyPtr args) {
  SetCount(self, CountOf(self) + IntegerArgument(args, 0));
  return Returned(Int64{CountOf(self)});
}
PyPtr GetValue(PyPtr self, void*) { return Returned(Int64{CountOf(self)}); }
int32_t SetValue(PyPtr self, PyPtr value, void*) {
  if (!value) {
    Raised("TypeError", "the value cannot be deleted");
    return -1;
  }
  Object entity = xhost::asObject(host().callShared("Python3Entity", "FromPtr", {Ptr{value}}));
  SetCount(self, Int(host().getProperty(entity, "Int64Value")));
  return 0;
}
PyPtr GetLimit(PyPtr, void*) { return Returned(Int64{100}); }
int64_t CounterHash(PyPtr self) { return CountOf(self); }
PyPtr CounterStr(PyPtr self) { return Returned(Str("LeakCounter(" + std::to_string(CountOf(self)) + ")")); }

// Each path into host code as a function of Python's, named as its row names
// it; those that fail raise the exception expected of them.
const char kLeakHostCode[] = R"(
import leakhost
leak_counter = leakhost.LeakCounter(5)

class LeakSubCounter(leakhost.LeakCounter):
    pass

leak_paths = {
    'echo': lambda: leakhost.echo(leak_list, leak_text),
    'echo keywords': lambda: leakhost.echo_keywords(leak_list, keyword=leak_text),
    'add': lambda: leakhost.add(leak_number, 1),
    'init': lambda: leakhost.LeakCounter(leak_number),
    'subclass': lambda: LeakSubCounter(leak_number),
    'step': lambda: leak_counter.step(1),
    'value': lambda: leak_counter.value,
    'set value': lambda: setattr(leak_counter, 'value', leak_number),
    'limit': lambda: leak_counter.limit,
    'hash': lambda: hash(leak_counter),
    'str': lambda: str(leak_counter),
}
leak_failing_paths = {
    'fail': (KeyError, lambda: leakhost.fail(leak_text)),
    'echo given keywords': (TypeError, lambda: leakhost.echo(keyword=leak_text)),
    'forget': (SystemError, lambda: leakhost.forget(leak_text)),
    'echo with error': (KeyError, lambda: leakhost.echo_with_error(leak_list, leak_text)),
    'explode': (RuntimeError, lambda: leakhost.explode(leak_text)),
    'missing': (NotImplementedError, lambda: leakhost.missing(leak_text)),
    'finalize': (RuntimeError, lambda: leakhost.finalize()),
    'init': (TypeError, lambda: leakhost.LeakCounter(leak_text)),
    'del value': (TypeError, lambda: delattr(leak_counter, 'value')),
    'set limit': (AttributeError, lambda: setattr(leak_counter, 'limit', leak_number)),
}

def leak_path(name):
    leak_paths[name]()

def leak_failing_path(name):
    kind, call = leak_failing_paths[name]
    try:
        call()
    except kind:
        return
    raise AssertionError(name + ' did not raise ' + kind.__name__)

def leak_host_paths():
    def functions(namespace):
        return [name for name, value in vars(namespace).items() if type(value).__name__ == 'builtin_function_or_method']
    names = ['leakhost.%s()' % name for name in functions(leakhost)]
    console = type(sys.stdout).write.__globals__
    names += ['console.%s()' % name for name, value in console.items()
              if type(value).__name__ == 'builtin_function_or_method' and value.__module__ == 'aview']
    for name, value in vars(leakhost.LeakCounter).items():
        kind = type(value).__name__
        if kind == 'method_descriptor':
            names.append('LeakCounter.%s()' % name)
        elif kind in ('getset_descriptor', 'wrapper_descriptor'):
            names.append('LeakCounter.' + name)
    return '\n'.join(sorted(names))
)";

// A row of a path from Python: `name` runs in leak_path, or in
// leak_failing_path when it must raise.
Row PythonPath(LeakObjects& c, const std::string& path, const std::string& variant, std::vector<std::string> touched,
               const std::string& name, bool raises = false) {
  return {"python: " + path, variant, std::move(touched),
          [&c, name, raises] { c.python.Call(raises ? "leak_failing_path" : "leak_path", {Str(name)}); }};
}

Object NewClass(const std::string& name) {
  return host().newObject("Python3XojoClass", {Str(name), Address(&CounterInit)});
}

}  // namespace

void MakeLeakHost(LeakObjects& c) {
  c.hostClass =
      NewXojoClass("LeakCounter", Address(&CounterInit), {{"step", Address(&Step)}},
                   {{"value", Address(&GetValue), Address(&SetValue)}, {"limit", Address(&GetLimit), Ptr{nullptr}}});
  host().call(c.hostClass, "SetHashFunction", {Address(&CounterHash)});
  host().call(c.hostClass, "SetToStringFunction", {Address(&CounterStr)});
  c.hostModule = NewXojoModule("leakhost",
                               {{"echo", Address(&Echo)},
                                {"add", Address(&Add)},
                                {"fail", Address(&Fail)},
                                {"forget", Address(&Forget)},
                                {"echo_with_error", Address(&EchoWithError)},
                                {"explode", Address(&Explode)},
                                {"missing", Ptr{nullptr}},
                                {"finalize", Address(&FinalizeFromPython)}},
                               {c.hostClass});
  host().call(c.hostModule, "RegisterFunction", {Str("echo_keywords"), Address(&EchoKeywords), true});
  host().call(c.hostModule, "SetDocumentation", {Str("echo_keywords"), Str("Echoes its keyword arguments.")});
}

void RegisterLeakHost(LeakObjects& c) {
  registeredLeakHost = &c.hostModule;
  Engine("RegisterXojoModule", {c.hostModule, Address(&CreateLeakHost)});
}

void ImportLeakHost(LeakObjects& c) { c.python.Run(kLeakHostCode); }

std::string PythonCallsHostNames(LeakObjects& c) { return c.python.TextOf("leak_host_paths()"); }

std::vector<Row> HostCodeRows(LeakObjects& c) {
  const auto module = [](const char* declaration) { return Member("Python3XojoModule", declaration); };
  const auto type = [](const char* declaration) { return Member("Python3XojoClass", declaration); };
  const std::string createProc = module("ModuleCreateProc() as Ptr");
  const std::string getData = type("Data(pySelf as Ptr) as Object");
  const std::string setData = type("Data(pySelf as Ptr, assigns value as Object)");
  // Members that would change what Python already uses.
  std::vector<Row> rows;
  for (const auto& [declaration, arguments] : std::vector<std::pair<const char*, std::vector<Value>>>{
           {"RegisterFunction(name as String, fuction as Ptr)", {Str("late"), Address(&Step)}},
           {"RegisterFunction(name as String, fuction as Ptr, keywords as Boolean)",
            {Str("late"), Address(&EchoKeywords), true}},
           {"SetDocumentation(name as String, text as String)", {Str(""), Str("A class of leaks.")}},
           {"RegisterGetterSetter(name as String, getterPtr as Ptr, setterPtr as Ptr)",
            {Str("late"), Address(&GetLimit), Ptr{nullptr}}},
           {"SetHashFunction(fuction as Ptr)", {Address(&CounterHash)}},
           {"SetToStringFunction(fuction as Ptr)", {Address(&CounterStr)}}}) {
    const std::string name = NameOf(declaration);
    rows.push_back({type(declaration), "", {}, [name, arguments = arguments] {
                      host().call(NewClass("LeakMade"), name, arguments);
                    }});
    rows.push_back(
        {type(declaration),
         "a class Python uses (refused)",
         {"leakhost.LeakCounter"},
         [&c, name, arguments = arguments] { c.Refused([&] { host().call(c.hostClass, name, arguments); }); }});
  }
  std::vector<Row> more = {
      {type("Constructor(name as String, initMethod as Ptr)"), "", {}, [] { NewClass("LeakMade"); }},
      {"Python3XojoClass (destructor)", "", {}, [] { NewClass("LeakMade"); }},
      {getData,
       "",
       {"leak_counter"},
       [&c] { host().callShared("Python3XojoClass", "Data", {Ptr{c.AddressOf("leak_counter")}}); }},
      {getData,
       "no instance of a host class",
       {"leak_list"},
       [&c] { host().callShared("Python3XojoClass", "Data", {Ptr{c.AddressOf("leak_list")}}); }},
      {setData,
       "",
       {"leak_counter"},
       [&c] {
         host().assignShared("Python3XojoClass", "Data", {Ptr{c.AddressOf("leak_counter")}},
                             host().newObject("Python3Result", {Int64{5}}));
       }},
      {setData,
       "no instance of a host class",
       {"leak_list"},
       [&c] { host().assignShared("Python3XojoClass", "Data", {Ptr{c.AddressOf("leak_list")}}, c.hostObject); }},
      {module("Constructor(name as String)"), "", {}, [] { host().newObject("Python3XojoModule", {Str("leakmade")}); }},
      {"Python3XojoModule (destructor)", "", {}, [] { host().newObject("Python3XojoModule", {Str("leakmade")}); }},
      {module("RegisterFunction(name as String, fuction as Ptr)"),
       "",
       {},
       [] {
         NewXojoModule("leakmade", {{"echo", Address(&Echo)}});
       }},
      {module("RegisterFunction(name as String, fuction as Ptr)"),
       "an empty name (refused)",
       {},
       [&c] { c.Refused([] {
                NewXojoModule("leakmade", {{"", Address(&Echo)}});
              }); }},
      {module("RegisterFunction(name as String, fuction as Ptr)"),
       "a module Python uses (refused)",
       {"sys.modules['leakhost']"},
       [&c] { c.Refused([&] {
                host().call(c.hostModule, "RegisterFunction", {Str("late"), Address(&Echo)});
              }); }},
      {module("RegisterFunction(name as String, fuction as Ptr, keywords as Boolean)"),
       "",
       {},
       [] {
         host().call(NewXojoModule("leakmade"), "RegisterFunction", {Str("kw"), Address(&EchoKeywords), true});
       }},
      {module("RegisterFunction(name as String, fuction as Ptr, keywords as Boolean)"),
       "a module Python uses (refused)",
       {"sys.modules['leakhost']"},
       [&c] {
         c.Refused([&] { host().call(c.hostModule, "RegisterFunction", {Str("late"), Address(&EchoKeywords), true}); });
       }},
      {module("SetDocumentation(name as String, text as String)"),
       "",
       {},
       [] {
         host().call(NewXojoModule("leakmade", {{"echo", Address(&Echo)}}), "SetDocumentation",
                     {Str("echo"), Str("Echoes.")});
       }},
      {module("SetDocumentation(name as String, text as String)"),
       "no such function (refused)",
       {},
       [&c] {
         c.Refused([] { host().call(NewXojoModule("leakmade"), "SetDocumentation", {Str("absent"), Str("x")}); });
       }},
      {module("AddValue(name as String, value as Python3EntityBase)"),
       "",
       {"leak_text"},
       [&c] {
         host().call(NewXojoModule("leakmade"), "AddValue", {Str("VALUE"), c.text});
       }},
      {module("AddValue(name as String, value as Python3EntityBase)"),
       "a value marshal cannot keep (refused)",
       {"leak_capsule"},
       [&c] { c.Refused([&] {
                host().call(NewXojoModule("leakmade"), "AddValue", {Str("VALUE"), c.capsule});
              }); }},
      {module("AddClass(classToAdd as Python3XojoClass)"),
       "",
       {},
       [] {
         host().call(host().newObject("Python3XojoModule", {Str("leakmade")}), "AddClass", {NewClass("LeakMade")});
       }},
      {createProc,
       "",
       {"leakhost.LeakCounter", "sys.modules['leakhost']"},
       [&c] {
         c.Release(host().call(c.hostModule, "ModuleCreateProc"));
         c.python.Run("gc.collect()");  // the module and its functions hold each other
       }},
      {createProc,
       "a module never registered",
       {},
       [&c] {
         host().call(NewXojoModule("leakmade", {{"echo", Address(&Echo)}}), "ModuleCreateProc");
         c.ClearError();
       }},
  };
  for (Row& row : more) rows.push_back(std::move(row));
  return rows;
}

std::vector<Row> PythonCallsHostRows(LeakObjects& c) {
  const std::vector<std::string> counter = {"leak_counter", "leakhost.LeakCounter"};
  return {
      PythonPath(c, "leakhost.echo()", "", {"leak_list", "leak_text", "sys.modules['leakhost']"}, "echo"),
      PythonPath(c, "leakhost.echo()", "keywords it refuses", {"leak_text"}, "echo given keywords", true),
      PythonPath(c, "leakhost.echo_keywords()", "", {"leak_list", "leak_text"}, "echo keywords"),
      PythonPath(c, "leakhost.add()", "", {"leak_number"}, "add"),
      PythonPath(c, "leakhost.fail()", "", {"leak_text"}, "fail", true),
      PythonPath(c, "leakhost.forget()", "", {"leak_text"}, "forget", true),
      PythonPath(c, "leakhost.echo_with_error()", "", {"leak_list", "leak_text"}, "echo with error", true),
      PythonPath(c, "leakhost.explode()", "", {"leak_text"}, "explode", true),
      PythonPath(c, "leakhost.missing()", "", {"leak_text"}, "missing", true),
      PythonPath(c, "leakhost.finalize()", "", {}, "finalize", true),
      {Member("Python3Engine", "Finalize()"),
       "called from Python code (refused)",
       {},
       [&c] { c.python.Call("leak_failing_path", {Str("finalize")}); }},
      PythonPath(c, "LeakCounter.__init__", "", {"leak_number", "leakhost.LeakCounter"}, "init"),
      PythonPath(c, "LeakCounter.__init__", "a Python subclass", {"leak_number", "LeakSubCounter"}, "subclass"),
      PythonPath(c, "LeakCounter.__init__", "an argument it refuses", {"leak_text", "leakhost.LeakCounter"}, "init",
                 true),
      PythonPath(c, "LeakCounter.step()", "", counter, "step"),
      PythonPath(c, "LeakCounter.value", "", counter, "value"),
      PythonPath(c, "LeakCounter.value", "assigned", {"leak_counter", "leak_number"}, "set value"),
      PythonPath(c, "LeakCounter.value", "deleted (refused)", counter, "del value", true),
      PythonPath(c, "LeakCounter.limit", "", counter, "limit"),
      PythonPath(c, "LeakCounter.limit", "assigned (read-only)", {"leak_counter", "leak_number"}, "set limit", true),
      PythonPath(c, "LeakCounter.__hash__", "", counter, "hash"),
      PythonPath(c, "LeakCounter.__str__", "", counter, "str"),
  };
}

std::vector<Row> RegistrationRows(LeakObjects& c) {
  return {
      {kRegisterXojoModule, "before Init", {}, [&c] { RegisterLeakHost(c); }},
      {kRegisterXojoModule,
       "another module of the same name, before Init",
       {},
       [] {
         Engine("RegisterXojoModule", {NewXojoModule("leakhost"), Address(&CreateLeakHost)});
       }},
      {kRegisterXojoModule,
       "Nil",
       {},
       [] {
         Engine("RegisterXojoModule", {Nil{}, Address(&CreateLeakHost)});
       }},
      {kRegisterXojoModule,
       "a name that is not UTF-8 (refused)",
       {},
       [&c] {
         Object module =
             host().newObject("Python3XojoModule", {host().newString("leak\xff", kREALTextEncodingUnknown)});
         c.Refused([&] { Engine("RegisterXojoModule", {module, Address(&CreateLeakHost)}); });
       }},
  };
}

// With LeakConsole, a receiver that does nothing, set; LeakFailingConsole
// sets Python's error in its event.
std::vector<Row> ConsoleRows(LeakObjects& c) {
  // print and write reach each stream's own C function; the class's methods
  // (closed streams, explicit calls) and the binary side reach _deliver and _flush.
  const std::string out = "python: console.write_stdout()";
  return {
      {"Python3EngineConsoleOutput (initializer)", "", {}, [] { host().newObject("Python3EngineConsoleOutput"); }},
      {Member("Python3EngineConsoleOutput", "ConsoleOutput(output as String)"),
       "",
       {"leak_text", "say"},
       [&c] { c.python.Call("say", {Str("printed")}); }},
      {Member("Python3EngineConsoleOutput", "ErrorOutput(output as String)"),
       "",
       {"leak_text", "sys.stderr"},
       [&c] { c.python.Run("sys.stderr.write(leak_text)"); }},
      {out, "", {"leak_text", "sys.stdout"}, [&c] { c.python.Run("sys.stdout.write(leak_text)"); }},
      {"python: console.write_stderr()",
       "lines of both streams",
       {"leak_text"},
       [&c] { c.python.Run("sys.stdout.writelines([leak_text, '\\n'])\nprint(leak_text, file=sys.stderr)"); }},
      {out,
       "whole lines",
       {"leak_text"},
       [&c] {
         Engine("SetConsoleOutput", {host().newObject("LeakConsole"), true});
         c.python.Run("sys.stdout.write(leak_text + '\\npart')\nsys.stdout.flush()");
         Engine("SetConsoleOutput", {host().newObject("LeakConsole")});
       }},
      {out,
       "no text",
       {"leak_number"},
       [&c] { c.python.Run("try:\n    sys.stdout.write(leak_number)\nexcept TypeError:\n    pass\n"); }},
      {out,
       "a receiver whose event sets Python's error",
       {"leak_text"},
       [&c] {
         Engine("SetConsoleOutput", {host().newObject("LeakFailingConsole")});
         c.python.Run("try:\n    sys.stdout.write(leak_text)\nexcept KeyError:\n    pass\n");
         Engine("SetConsoleOutput", {host().newObject("LeakConsole")});
       }},
      {"python: console._deliver()",
       "the class's write and the binary side",
       {"leak_text", "sys.stdout"},
       [&c] { c.python.Run("type(sys.stdout).write(sys.stdout, leak_text)\nsys.stdout.buffer.write(b'bytes')"); }},
      {"python: console.flush_stdout()", "", {}, [&c] { c.python.Run("sys.stdout.flush()"); }},
      {"python: console.flush_stderr()", "", {}, [&c] { c.python.Run("sys.stderr.flush()"); }},
      {"python: console._flush()", "", {}, [&c] { c.python.Run("type(sys.stdout).flush(sys.stdout)"); }},
  };
}

}  // namespace api_tests
