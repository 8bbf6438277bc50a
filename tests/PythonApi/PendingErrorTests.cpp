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
      {"Invoke of a Python function", [&] { return Read(Invoke(count, {Int32{1}, Str("a")}), "Int64Value"); }},
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

}  // namespace
}  // namespace api_tests
