// Python3Class and Python3Instance: instances made with and without
// arguments, their bound methods, calls with keywords, and the locks that
// keep a method's instance, class and module alive.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Instances : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "class Point:\n"
        "    kind = 'point'\n"
        "    def __init__(self, x=0, y=0):\n"
        "        self.x, self.y = x, y\n"
        "    def moved(self, dx=0, dy=0):\n"
        "        return '%d,%d' % (self.x + dx, self.y + dy)\n"
        "class NeedsArgument:\n"
        "    def __init__(self, a):\n"
        "        self.a = a\n"
        "def factory():\n"
        "    return [1, 2]\n"
        "seven = 7\n");
  }
  Object Class(const std::string& name) { return CallObject(python.module(), "GetClass", {Str(name)}); }
  Object Method(const Object& instance, const std::string& name) {
    return CallObject(instance, "GetFunction", {Str(name)});
  }
  std::string TextOf(const Object& result) {
    return result.isNil() ? "<Nil>" : Text(host_.call(result, "StringValue"));
  }
  Object Keywords(const std::vector<std::pair<std::string, int32_t>>& pairs) {
    Object dict = host_.newObject("Python3Dictionary");
    for (const auto& [key, value] : pairs) host_.call(dict, "SetValue", {Str(key), EntityFrom("Int32", Int32{value})});
    return dict;
  }
};

TEST_F(Instances, CreateInstanceCallsTheClass) {
  Object point = Class("Point");
  Object first = CallObject(point, "CreateInstance");
  Object second = CallObject(point, "CreateInstance");
  ASSERT_FALSE(first.isNil());
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(Text(host_.getProperty(first, "Name")), "Point");
  host_.assign(first, "Int32Field", {Str("x")}, Int32{5});
  EXPECT_EQ(Int(host_.call(first, "Int32Field", {Str("x")})), 5);
  EXPECT_EQ(Int(host_.call(second, "Int32Field", {Str("x")})), 0);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Instances, CreateInstanceWithArgumentsAndKeywords) {
  Object point = Class("Point");
  Object placed = CallObject(point, "CreateInstance", {Tuple({Int32{3}, Int32{4}})});
  EXPECT_EQ(TextOf(InvokeWithNil(Method(placed, "moved"))), "3,4");
  Object named = CallObject(point, "CreateInstance", {Tuple({Int32{1}}), Keywords({{"y", 9}})});
  EXPECT_EQ(TextOf(InvokeWithNil(Method(named, "moved"))), "1,9");
  Object onlyKeywords = CallObject(point, "CreateInstance", {Nil{}, Keywords({{"x", 2}})});
  EXPECT_EQ(TextOf(InvokeWithNil(Method(onlyKeywords, "moved"))), "2,0");
  Object neither = CallObject(point, "CreateInstance", {Nil{}, Nil{}});
  EXPECT_EQ(TextOf(InvokeWithNil(Method(neither, "moved"))), "0,0");
  EXPECT_FALSE(ErrorOccurred());

  EXPECT_TRUE(CallObject(point, "CreateInstance", {Nil{}, Keywords({{"z", 1}})}).isNil());
  EXPECT_NE(GetError().find("__init__() got an unexpected keyword argument 'z'"), std::string::npos);
}

TEST_F(Instances, CreateInstanceFailsLikeACall) {
  EXPECT_TRUE(CallObject(Class("NeedsArgument"), "CreateInstance").isNil());
  EXPECT_NE(GetError().find("__init__() missing 1 required positional argument: 'a'"), std::string::npos);
  EXPECT_TRUE(CallObject(Class("seven"), "CreateInstance").isNil());
  EXPECT_EQ(GetError(), "'int' object is not callable");
  Object made = CallObject(Class("factory"), "CreateInstance");
  ASSERT_FALSE(made.isNil()) << "whatever the call returns is wrapped";
  EXPECT_EQ(Int(host_.call(made, "Int32Field", {Str("__len__")})), -1) << "a method is no int";
  EXPECT_TRUE(ErrorOccurred());
}

TEST_F(Instances, MethodsAreBoundToTheirInstance) {
  Object instance = CallObject(Class("Point"), "CreateInstance", {Tuple({Int32{1}, Int32{2}})});
  Object moved = Method(instance, "moved");
  ASSERT_FALSE(moved.isNil());
  EXPECT_EQ(TextOf(InvokeWithNil(moved)), "1,2");
  EXPECT_EQ(TextOf(Invoke(moved, {Int32{10}})), "11,2");
  EXPECT_EQ(TextOf(CallObject(moved, "Invoke", {Tuple({Int32{10}}), Keywords({{"dy", 5}})})), "11,7");
  EXPECT_EQ(xhost::asObject(host_.getProperty(moved, "OwnerModule")).get(), python.module().get());

  EXPECT_TRUE(Method(instance, "x").isNil());
  EXPECT_FALSE(ErrorOccurred()) << "a number is not callable: no error";
  EXPECT_TRUE(Method(instance, "missing").isNil());
  EXPECT_EQ(GetError(), "'Point' object has no attribute 'missing'");
  EXPECT_TRUE(Method(instance, "").isNil());
  EXPECT_TRUE(CallObject(instance, "GetFunction", {String()}).isNil());
  EXPECT_FALSE(ErrorOccurred());
}

// A call's arguments must be a tuple and its keywords a dict with text keys.
TEST_F(Instances, CallsRefuseWhatPythonCannotTakeAsArguments) {
  Object echo = python.Function("echo");
  python.Run("not_a_tuple = [1]");
  void* list = xhost::asPtr(host_.call(python.ListOf("not_a_tuple"), "GetPtr"));
  Object notATuple = host_.newObject("Python3Parameters", {Ptr{list}});
  python.Run("import ctypes; ctypes.pythonapi.Py_DecRef(ctypes.py_object(not_a_tuple))");  // GetPtr's reference
  EXPECT_TRUE(CallObject(echo, "Invoke", {notATuple, Nil{}}).isNil());
  EXPECT_EQ(GetError(), "argument list must be a tuple");
  Object numberKeys = host_.newObject("Python3Dictionary");
  host_.call(numberKeys, "SetValue", {EntityFrom("Int32", Int32{1}), EntityFrom("Int32", Int32{2})});
  EXPECT_TRUE(CallObject(echo, "Invoke", {Nil{}, numberKeys}).isNil());
  EXPECT_TRUE(ErrorOccurred()) << "keywords must be strings";
  Engine("ClearError");
  EXPECT_FALSE(CallObject(echo, "Invoke", {Nil{}, host_.newObject("Python3Dictionary")}).isNil());
}

// The locks form a chain: a method keeps its instance, the instance its
// class, and each of them the module; the ledger sees each given back once.
TEST_F(Instances, AMethodKeepsItsInstanceClassAndModuleAlive) {
  const size_t modules = host_.liveObjects("Python3Module");
  const size_t classes = host_.liveObjects("Python3Class");
  const size_t instances = host_.liveObjects("Python3Instance");
  Object method;
  {
    Object module = GetModule("apitest");
    Object point = CallObject(module, "GetClass", {Str("Point")});
    Object instance = CallObject(point, "CreateInstance");
    method = Method(instance, "moved");
    EXPECT_EQ(host_.refCount(instance), 2);
    EXPECT_EQ(host_.refCount(point), 2);
    EXPECT_EQ(host_.refCount(module), 4) << "the class, the instance and the method lock it";
  }
  EXPECT_EQ(host_.liveObjects("Python3Module"), modules + 1);
  EXPECT_EQ(host_.liveObjects("Python3Class"), classes + 1);
  EXPECT_EQ(host_.liveObjects("Python3Instance"), instances + 1);
  EXPECT_EQ(TextOf(InvokeWithNil(method)), "0,0");
  Object owner = xhost::asObject(host_.getProperty(method, "OwnerModule"));
  EXPECT_EQ(Text(host_.getProperty(owner, "Name")), "apitest");
  owner = Object();
  method = Object();
  EXPECT_EQ(host_.liveObjects("Python3Module"), modules);
  EXPECT_EQ(host_.liveObjects("Python3Class"), classes);
  EXPECT_EQ(host_.liveObjects("Python3Instance"), instances);
}

TEST_F(Instances, WrappersMadeByHostCodeHoldNothing) {
  Object pythonClass = host_.newObject("Python3Class");
  EXPECT_TRUE(CallObject(pythonClass, "CreateInstance").isNil());
  EXPECT_TRUE(CallObject(pythonClass, "CreateInstance", {Tuple({Int32{1}})}).isNil());
  Object instance = host_.newObject("Python3Instance");
  EXPECT_TRUE(Method(instance, "moved").isNil());
  EXPECT_EQ(Int(host_.call(instance, "Int32Field", {Str("x")})), 0);
  host_.assign(instance, "Int32Field", {Str("x")}, Int32{1});
  EXPECT_FALSE(Bool(host_.call(instance, "HasAttribute", {Str("x")})));
  EXPECT_EQ(Int(host_.call(instance, "DeleteAttribute", {Str("x")})), -1);
  Object function = host_.newObject("Python3Function");
  EXPECT_TRUE(CallObject(function, "Invoke", {Nil{}, Nil{}}).isNil());
  EXPECT_FALSE(ErrorOccurred());
}

}  // namespace
}  // namespace api_tests
