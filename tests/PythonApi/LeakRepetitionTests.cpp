// Every member, called over and over, leaves Python and the host as it found
// them: no reference count of what the member touched grows, nor Python's
// allocated blocks, nor the host's objects and strings (LeakRepetition).
#include <functional>

#include "LeakRepetition.h"

namespace api_tests {
namespace {

struct Row {
  const char* member;
  std::vector<std::string> touched;  // Python expressions naming what the member touches
  std::function<void()> call;
};

class LeakRepetitionTest : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    // Objects that are neither shared nor immortal, so every reference to
    // them shows in their counts.
    python.Run(
        "leak_list = [1, 2]\n"
        "leak_text = ''.join(['leak ', 'text'])\n"
        "leak_message = ''.join(['leak ', 'message'])\n"
        "leak_error = ValueError(leak_message)\n"
        "leak_bytes = bytes(bytearray(b'leak bytes'))\n"
        "leak_dict = {'k': leak_list}\n"
        "leak_tuple = (leak_list, leak_text)\n"
        "class LeakClass:\n"
        "    pass\n"
        "def raise_kept():\n"
        "    leak_error.__traceback__ = None  # a raised exception keeps adding to its traceback\n"
        "    raise leak_error\n"
        "import colorsys\n");
  }

  void ExpectNoLeaks(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      LeakRepetition repetition(python);
      for (const std::string& expression : row.touched) repetition.WatchRefCount(expression);
      EXPECT_EQ(Describe(repetition.Leaks(row.call)), "") << row.member;
      EXPECT_FALSE(ErrorOccurred()) << row.member << ": " << GetError();
    }
  }

  Object Result(const std::string& expression) { return python.Evaluate(expression); }
  Object Get(const Object& self, const std::string& member, const std::vector<Value>& arguments = {}) {
    return CallObject(self, member, arguments);
  }
};

TEST_F(LeakRepetitionTest, Python3EngineMembers) {
  const std::string folder = "/tmp";
  ExpectNoLeaks({
      {"GetModule", {"sys.modules['colorsys']"}, [&] { GetModule("colorsys"); }},
      {"GetModule of a missing module", {}, [&] {
         GetModule("no_such_module_here");
         Engine("ClearError");
       }},
      {"GetError", {"leak_error", "leak_message", "raise_kept", "raise_kept.__code__"},
       [&] {
         python.Call("raise_kept");
         GetError();
       }},
      {"ErrorOccurred and ClearError", {"leak_error"},
       [&] {
         python.Call("raise_kept");
         ErrorOccurred();
         Engine("ClearError");
       }},
      {"SetError", {}, [&] {
         Engine("SetError", {host().constant("Python3ErrorTypes.KeyError"), Str("set by the host")});
         Engine("ClearError");
       }},
      {"AddSearchPath", {"sys.path"},
       [&] {
         AddSearchPath(folder);
         python.Run("del sys.path[-1]");
       }},
      {"SetConsoleOutput", {}, [&] {
         Engine("SetConsoleOutput", {host().newObject("Python3EngineConsoleOutput")});
         Engine("SetConsoleOutput", {Nil{}});
       }},
  });
}

TEST_F(LeakRepetitionTest, ModuleAndFunctionMembers) {
  Object module = python.module();
  Object colorsys = GetModule("colorsys");
  ExpectNoLeaks({
      {"GetFunction", {"echo", "sys.modules['apitest']"}, [&] { Get(module, "GetFunction", {Str("echo")}); }},
      {"GetFunction of an attribute that is no function", {"leak_list"},
       [&] { Get(module, "GetFunction", {Str("leak_list")}); }},
      {"GetFunction of a missing attribute", {}, [&] {
         Get(module, "GetFunction", {Str("no_such_function")});
         Engine("ClearError");
       }},
      {"GetClass", {"LeakClass", "sys.modules['apitest']"}, [&] { Get(module, "GetClass", {Str("LeakClass")}); }},
      {"Reload", {"sys.modules['colorsys']"}, [&] { host().call(colorsys, "Reload"); }},
      {"Invoke", {"echo", "leak_list", "leak_text"},
       [&] { Invoke(python.Function("echo"), {Result("leak_list"), Str("text")}); }},
      {"Invoke with Nil", {"count"}, [&] { InvokeWithNil(python.Function("count")); }},
      {"Invoke that raises", {"raise_kept", "leak_error"}, [&] {
         InvokeWithNil(python.Function("raise_kept"));
         Engine("ClearError");
       }},
  });
}

TEST_F(LeakRepetitionTest, Python3ParametersMembers) {
  Object list = Get(Result("leak_tuple"), "TupleValue");
  void* heldTuple = xhost::asPtr(host().call(list, "GetPtr"));  // one reference, taken before the rounds
  ExpectNoLeaks({
      {"Constructor and typed setters", {"leak_list"},
       [&] {
         Tuple({Int32{1}, Int64{2}, UInt64{3}, 4.5, true, Str("text"), Get(list, "ListValue", {int64_t{0}}),
                host().newFolderItem("/tmp")});
       }},
      {"Constructor(Ptr)", {"leak_tuple"}, [&] { host().newObject("Python3Parameters", {Ptr{heldTuple}}); }},
      {"typed getters and tests", {"leak_list", "leak_text", "leak_tuple"},
       [&] {
         Object tuple = Get(Result("(1, 2.5, True, leak_text, leak_list, leak_tuple, leak_dict, leak_bytes)"), "TupleValue");
         for (const char* getter : {"Int32Value", "Int64Value", "UInt64Value", "DoubleValue", "BooleanValue",
                                    "StringValue", "ObjectValue", "ListValue", "TupleValue", "DictionaryValue",
                                    "BytesValue", "IsInteger", "IsString", "IsList", "IsTuple", "IsDictionary",
                                    "IsBytes", "IsBoolean", "IsDouble", "IsObject", "FitsInInt32"})
           for (int64_t index = 0; index < 8; ++index) host().call(tuple, getter, {index});
         host().call(tuple, "ClearError");
         Engine("ClearError");
       }},
      {"replacing items", {"leak_list"},
       [&] {
         Object tuple = Tuple({Get(list, "ListValue", {int64_t{0}})});
         host().assign(tuple, "ListValue", {int64_t{0}}, Get(list, "ListValue", {int64_t{0}}));
         host().assign(tuple, "Int32Value", {int64_t{0}}, Int32{1});
       }},
  });
}

TEST_F(LeakRepetitionTest, Python3ResultMembers) {
  ExpectNoLeaks({
      {"constructors", {}, [&] {
         for (const Value& value : std::vector<Value>{Int32{1}, Int64{2}, UInt64{3}, 4.5, true, Str("text"),
                                                      host().newFolderItem("/tmp")})
           host().newObject("Python3Result", {value});
         host().newObject("Python3Result");
       }},
      {"getters", {"leak_text", "leak_tuple", "leak_dict", "leak_bytes", "leak_list"},
       [&] {
         for (const char* expression : {"leak_text", "leak_tuple", "leak_dict", "leak_bytes", "leak_list", "7"})
           for (const char* getter : {"Int32Value", "Int64Value", "UInt64Value", "DoubleValue", "BooleanValue",
                                      "StringValue", "ObjectValue", "TupleValue", "DictionaryValue", "BytesValue",
                                      "IsString", "IsInteger", "IsTuple", "IsDictionary", "IsBytes", "FitsInInt32"}) {
             host().call(Result(expression), getter);
             Engine("ClearError");  // a getter of another type leaves Python's error set
           }
       }},
      {"FromBytes", {"leak_bytes"}, [&] {
         host().callShared("Python3Result", "FromBytes", {Get(Result("leak_bytes"), "BytesValue")});
       }},
  });
}

// Wrappers that hold the objects themselves, so that str() of a text or of
// an exception with one argument gives back that very text.
TEST_F(LeakRepetitionTest, Python3EntityBaseMembers) {
  auto holding = [&](const std::string& expression) {
    return host().newObject("Python3Parameters", {Ptr{reinterpret_cast<void*>(python.IntegerOf("id(" + expression + ")"))}});
  };
  const Object text = holding("leak_text");
  const Object error = holding("leak_error");
  const Object list = holding("leak_list");
  ExpectNoLeaks({
      {"ToString", {"leak_text"}, [&] { host().call(text, "ToString"); }},
      {"ToString of an exception", {"leak_error", "leak_message"}, [&] { host().call(error, "ToString"); }},
      {"Hash", {"leak_text"}, [&] { host().call(text, "Hash"); }},
      {"Hash of an unhashable object", {"leak_list"}, [&] {
         host().call(list, "Hash");
         Engine("ClearError");
       }},
  });
}

TEST_F(LeakRepetitionTest, ConsoleOutput) {
  host_.defineSubclass("LeakConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput", [](const Object&, const std::vector<Value>&) -> Value { return {}; }}});
  Engine("SetConsoleOutput", {host_.newObject("LeakConsole")});
  ExpectNoLeaks({
      {"print", {"leak_text", "say"}, [&] { python.Call("say", {Str("printed")}); }},
      {"sys.stdout.write", {"leak_text"}, [&] { python.Run("sys.stdout.write(leak_text)"); }},
  });
}

// Each Init makes a new console module, so no count grows when one leaks:
// every reference to it must belong to sys or to its own functions.
TEST_F(LeakRepetitionTest, InitLeavesNoHiddenReferenceToTheConsoleModule) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(HiddenReferences(python, "sys.stdout"), 0) << "after " << round << " restarts";
    Restart();
  }
}

}  // namespace
}  // namespace api_tests
