// An error left pending by an earlier call (a failed import not yet read)
// while a member runs Python code: the member works as if none were set,
// and the error is still there afterwards unless the member raised its own.
#include <functional>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class PendingError : public RunningPython {
 protected:
  void LeaveAnErrorPending() {
    EXPECT_TRUE(GetModule("no_such_module_left_pending").isNil());
    EXPECT_TRUE(ErrorOccurred());
  }
  std::string Read(const Object& result, const std::string& getter) {
    if (result.isNil()) return "Nil";
    return xhost::describe(host_.call(result, getter));
  }
  std::string NameOf(const Object& wrapper) {
    return wrapper.isNil() ? "Nil" : Text(host_.getProperty(wrapper, "Name"));
  }
};

TEST_F(PendingError, MembersThatRunPythonCodeWorkAndKeepIt) {
  struct Row {
    const char* member;
    std::function<std::string()> run;
  };
  Object count = python.Function("count");
  Object len = CallObject(GetModule("builtins"), "GetFunction", {Str("len")});
  Object convertible = python.Evaluate("Convertible()");
  Object tuple = Tuple({Int32{1}, Str("a")});
  const std::vector<Row> rows = {
      {"Invoke of a Python function",
       [&] {
         return Read(Invoke(count, {Int32{1}, Str("a")}), "Int64Value");
       }},
      {"Invoke of a built-in", [&] { return Read(Invoke(len, {Str("abc")}), "Int64Value"); }},
      {"Execute", [&] { return xhost::describe(Engine("Execute", {Str("pending_ran = 1")})); }},
      {"Evaluate", [&] { return Read(xhost::asObject(Engine("Evaluate", {Str("len('abcd')")})), "Int64Value"); }},
      {"GetModule", [&] { return NameOf(GetModule("colorsys")); }},
      {"GetFunction", [&] { return NameOf(CallObject(python.module(), "GetFunction", {Str("echo")})); }},
      {"GetClass", [&] { return NameOf(CallObject(python.module(), "GetClass", {Str("Made")})); }},
      {"Reload", [&] { return xhost::describe(host_.call(GetModule("colorsys"), "Reload")); }},
      {"AddSearchPath",
       [&] {
         AddSearchPath("/tmp/apitest pending");
         return python.TextOf("sys.path[-1]");
       }},
      {"ToString", [&] { return Read(tuple, "ToString"); }},
      {"Hash", [&] { return std::to_string(Int(host_.call(tuple, "Hash")) == python.IntegerOf("hash((1, 'a'))")); }},
      {"Int32Value", [&] { return Read(convertible, "Int32Value"); }},
      {"Int64Value", [&] { return Read(convertible, "Int64Value"); }},
      {"DoubleValue", [&] { return Read(convertible, "DoubleValue"); }},
      {"BooleanValue", [&] { return Read(convertible, "BooleanValue"); }},
      {"Python3Result(String)", [&] { return Read(host_.newObject("Python3Result", {Str("text")}), "StringValue"); }},
  };
  // What each member gives with no error pending.
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    expected.push_back(row.run());
    EXPECT_FALSE(ErrorOccurred()) << row.member << ": " << GetError();
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    LeaveAnErrorPending();
    EXPECT_EQ(rows[i].run(), expected[i]) << rows[i].member;
    EXPECT_EQ(GetError(), "No module named 'no_such_module_left_pending'") << rows[i].member;
  }
}

TEST_F(PendingError, AnErrorRaisedByTheCallReplacesIt) {
  LeaveAnErrorPending();
  EXPECT_TRUE(python.Call("fail", {Str("ValueError"), Str("raised by the call")}).isNil());
  EXPECT_EQ(GetError(), "raised by the call");
  EXPECT_FALSE(ErrorOccurred());
  LeaveAnErrorPending();
  EXPECT_TRUE(CallObject(python.module(), "GetFunction", {Str("missing")}).isNil());
  EXPECT_EQ(GetError(), "module 'apitest' has no attribute 'missing'");
  EXPECT_FALSE(ErrorOccurred());
}

// Members whose work runs Python code written in the objects' own dunder
// methods (comparisons, hashing, conversions, attribute access, __del__):
// the same result with an error pending as without, and the error kept.
TEST_F(PendingError, MembersRunningDunderMethodsWrittenInPythonWorkAndKeepIt) {
  python.Run(R"(
class Dunder:
    def __init__(self, n=0):
        self.n = n
    def __lt__(self, other):
        return self.n < other.n
    def __eq__(self, other):
        return isinstance(other, Dunder) and self.n == other.n
    def __hash__(self):
        return hash(self.n)
    def __index__(self):
        return 5
    def __int__(self):
        return 5
    def __repr__(self):
        return 'D%d' % self.n
    def __float__(self):
        return 2.5
    def __bool__(self):
        return True
    def __str__(self):
        return 'dunder %d' % self.n
    def __getattr__(self, name):
        if name == 'virtual':
            return Dunder(5)
        if name == 'method':
            return lambda: 7
        raise AttributeError(name)

class Dying:
    def __del__(self):
        global deaths
        deaths = deaths + 1

deaths = 0
)");
  struct Row {
    const char* member;
    std::function<std::string()> run;
  };
  auto entity = [&](const std::string& expression) { return python.EntityOf(expression); };
  auto read = [&](const Object& wrapper, const std::string& member) {
    return wrapper.isNil() ? std::string("Nil") : xhost::describe(host_.call(wrapper, member));
  };
  auto field = [&](const std::string& member) {
    Object made = CallObject(CallObject(python.module(), "GetClass", {Str("Dunder")}), "CreateInstance");
    return xhost::describe(host_.call(made, member, {Str("virtual")}));
  };
  const std::vector<Row> rows = {
      {"Sort",
       [&] {
         Object list = python.ListOf("[Dunder(3), Dunder(1), Dunder(2)]");
         host_.call(list, "Sort");
         return read(list, "ToString");
       }},
      {"Contains(entity)",
       [&] {
         Object dict = python.DictionaryOf("{Dunder(1): 'one'}");
         return xhost::describe(host_.call(dict, "Contains", {entity("Dunder(1)")}));
       }},
      {"GetValue(entity)",
       [&] {
         Object dict = python.DictionaryOf("{Dunder(1): 'one'}");
         Object found = CallObject(dict, "GetValue", {entity("Dunder(1)")});
         return found.isNil() ? std::string("Nil") : xhost::describe(host_.getProperty(found, "StringValue"));
       }},
      {"SetValue(entity)",
       [&] {
         Object dict = python.DictionaryOf("{}");
         host_.call(dict, "SetValue", {entity("Dunder(2)"), entity("'two'")});
         return read(dict, "ToString");
       }},
      {"Remove(entity)",
       [&] {
         Object dict = python.DictionaryOf("{Dunder(1): 'one', 2: 'two'}");
         host_.call(dict, "Remove", {entity("Dunder(1)")});
         return read(dict, "ToString");
       }},
      {"Entity.ToString", [&] { return read(entity("Dunder(4)"), "ToString"); }},
      {"Entity.Hash", [&] { return read(entity("Dunder(4)"), "Hash"); }},
      {"Result.Int32Value", [&] { return read(python.Evaluate("Dunder()"), "Int32Value"); }},
      {"Result.DoubleValue", [&] { return read(python.Evaluate("Dunder()"), "DoubleValue"); }},
      {"Result.BooleanValue", [&] { return read(python.Evaluate("Dunder()"), "BooleanValue"); }},
      {"Int32Field", [&] { return field("Int32Field"); }},
      {"Int64Field", [&] { return field("Int64Field"); }},
      {"DoubleField", [&] { return field("DoubleField"); }},
      {"BooleanField", [&] { return field("BooleanField"); }},
      {"StringField of __getattr__",
       [&] {
         Object made = CallObject(CallObject(python.module(), "GetClass", {Str("Dunder")}), "CreateInstance");
         host_.assign(made, "StringField", {Str("label")}, Str("set"));
         return xhost::describe(host_.call(made, "StringField", {Str("label")}));
       }},
      {"GetFunction of __getattr__",
       [&] {
         Object made = CallObject(CallObject(python.module(), "GetClass", {Str("Dunder")}), "CreateInstance");
         return read(Invoke(CallObject(made, "GetFunction", {Str("method")}), {}), "Int64Value");
       }},
      {"HasAttribute of __getattr__",
       [&] {
         Object made = CallObject(CallObject(python.module(), "GetClass", {Str("Dunder")}), "CreateInstance");
         return xhost::describe(host_.call(made, "HasAttribute", {Str("virtual")}));
       }},
      {"List.Clear with __del__",
       [&] {
         Object list = python.ListOf("[Dying()]");
         host_.call(list, "Clear");
         return std::to_string(python.IntegerOf("deaths") > 0);
       }},
      {"List.SetItem with __del__",
       [&] {
         Object list = python.ListOf("[Dying()]");
         host_.call(list, "SetItem", {int64_t{0}, entity("1")});
         return read(list, "ToString");
       }},
      {"Dictionary.Clear with __del__",
       [&] {
         Object dict = python.DictionaryOf("{1: Dying()}");
         host_.call(dict, "Clear");
         return read(dict, "ToString");
       }},
  };
  std::vector<std::string> expected;
  for (const Row& row : rows) {
    expected.push_back(row.run());
    EXPECT_FALSE(ErrorOccurred()) << row.member << ": " << GetError();
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    LeaveAnErrorPending();
    EXPECT_EQ(rows[i].run(), expected[i]) << rows[i].member;
    EXPECT_EQ(GetError(), "No module named 'no_such_module_left_pending'") << rows[i].member;
  }
}

}  // namespace
}  // namespace api_tests
