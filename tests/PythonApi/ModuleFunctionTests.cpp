// Python3Module and Python3Function: looking up callables and classes,
// calling them, reloading a module, and a function keeping its module.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class ModulesAndFunctions : public RunningPython {
 protected:
  Object GetFunction(const Object& module, const std::string& name) {
    return CallObject(module, "GetFunction", {Str(name)});
  }
  Object GetClass(const Object& module, const std::string& name) { return CallObject(module, "GetClass", {Str(name)}); }
  int64_t ArgumentCount(const Object& result) { return result.isNil() ? -1 : Int(host_.call(result, "Int64Value")); }
};

TEST_F(ModulesAndFunctions, AMissingFunctionIsNilWithTheAttributeError) {
  EXPECT_TRUE(GetFunction(python.module(), "missing").isNil());
  EXPECT_TRUE(ErrorOccurred());
  EXPECT_EQ(GetError(), "module 'apitest' has no attribute 'missing'");
}

// The whole name is looked up: cut at its NUL it would name another
// attribute or module (3.11 and later import "os" for "os\0evil").
TEST_F(ModulesAndFunctions, ANameHoldingANulNamesNothing) {
  struct Row {
    const char* member;
    std::function<Object(const std::string&)> lookUp;
    std::string name;
    std::string error;  // the text GetError gives, cut at its first NUL as every text is
  };
  Object json = GetModule("json");
  const std::vector<Row> rows = {
      {"GetFunction", [&](const std::string& name) { return GetFunction(json, name); }, std::string("dumps\0evil", 10),
       "module 'json' has no attribute 'dumps"},
      {"GetClass", [&](const std::string& name) { return GetClass(json, name); }, std::string("JSONDecoder\0x", 13),
       "module 'json' has no attribute 'JSONDecoder"},
      {"GetModule", [&](const std::string& name) { return GetModule(name); }, std::string("os\0evil", 7),
       "No module named 'os\\x00evil'"},
      {"GetModule", [&](const std::string& name) { return GetModule(name); }, std::string("json\0evil", 9),
       "No module named 'json\\x00evil'"},
  };
  for (const Row& row : rows) {
    EXPECT_TRUE(row.lookUp(row.name).isNil()) << row.member;
    EXPECT_EQ(GetError(), row.error) << row.member;
  }
}

TEST_F(ModulesAndFunctions, AnAttributeThatCannotBeCalledIsNilWithoutError) {
  EXPECT_TRUE(GetFunction(python.module(), "number").isNil());
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(ModulesAndFunctions, AClassIsAFunctionThatMakesInstances) {
  Object made = GetFunction(python.module(), "Made");
  ASSERT_FALSE(made.isNil());
  EXPECT_EQ(Text(host_.getProperty(made, "Name")), "Made");
  EXPECT_FALSE(InvokeWithNil(made).isNil());
  EXPECT_FALSE(Invoke(made, {}).isNil());
  EXPECT_EQ(python.IntegerOf("made"), 2);
}

TEST_F(ModulesAndFunctions, GetClassTakesAnyAttribute) {
  Object made = GetClass(python.module(), "Made");
  ASSERT_FALSE(made.isNil());
  EXPECT_EQ(Text(host_.getProperty(made, "Name")), "Made");
  EXPECT_FALSE(GetClass(python.module(), "echo").isNil());
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_TRUE(GetClass(python.module(), "Missing").isNil());
  EXPECT_EQ(GetError(), "module 'apitest' has no attribute 'Missing'");
}

TEST_F(ModulesAndFunctions, TwoLookupsAreTwoWrappersOfOneCallable) {
  const int64_t before = python.RefCount("echo");
  Object first = GetFunction(python.module(), "echo");
  Object second = GetFunction(python.module(), "echo");
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(python.RefCount("echo"), before + 2);
}

TEST_F(ModulesAndFunctions, InvokeWithNilOrAnEmptyTuplePassesNoArguments) {
  Object count = GetFunction(python.module(), "count");
  EXPECT_EQ(ArgumentCount(InvokeWithNil(count)), 0);
  EXPECT_EQ(ArgumentCount(CallObject(count, "Invoke", {host_.newObject("Python3Parameters", {int64_t{0}})})), 0);
  EXPECT_EQ(ArgumentCount(Invoke(count, {Int32{1}, Str("a"), 2.5, true})), 4);
}

TEST_F(ModulesAndFunctions, ARaisingCalleeGivesNilAndItsError) {
  Object fail = GetFunction(python.module(), "fail");
  EXPECT_TRUE(Invoke(fail, {Str("ValueError"), Str("bad value")}).isNil());
  EXPECT_EQ(GetError(), "bad value");
  EXPECT_TRUE(InvokeWithNil(fail).isNil()) << "missing arguments";
  EXPECT_TRUE(ErrorOccurred());
}

TEST_F(ModulesAndFunctions, OwnerModuleIsTheVeryModuleEveryTime) {
  Object echo = GetFunction(python.module(), "echo");
  EXPECT_EQ(xhost::asObject(host_.getProperty(echo, "OwnerModule")).get(), python.module().get());
  EXPECT_EQ(xhost::asObject(host_.getProperty(echo, "OwnerModule")).get(), python.module().get());
}

TEST_F(ModulesAndFunctions, AFunctionKeepsItsModuleAlive) {
  const size_t modulesBefore = host_.liveObjects("Python3Module");
  const int64_t referencesBefore = python.RefCount("sys.modules['apitest']");
  Object echo;
  {
    Object module = GetModule("apitest");
    echo = GetFunction(module, "echo");
  }
  EXPECT_EQ(host_.liveObjects("Python3Module"), modulesBefore + 1);
  EXPECT_EQ(python.RefCount("sys.modules['apitest']"), referencesBefore + 1);
  Object owner = xhost::asObject(host_.getProperty(echo, "OwnerModule"));
  EXPECT_EQ(Text(host_.getProperty(owner, "Name")), "apitest");
  EXPECT_FALSE(GetFunction(owner, "count").isNil());
  owner = Object();
  echo = Object();
  EXPECT_EQ(host_.liveObjects("Python3Module"), modulesBefore);
  EXPECT_EQ(python.RefCount("sys.modules['apitest']"), referencesBefore);
}

// A module of its own in a folder of its own, rewritten between reloads.
class Reloading : public ModulesAndFunctions {
 protected:
  void SetUp() override {
    ModulesAndFunctions::SetUp();
    char folder[] = "/tmp/apitest-reload-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    AddSearchPath(folder_);
    static int modules = 0;  // one process may run several of these tests
    name_ = "reloadable_" + std::to_string(++modules);
  }
  void TearDown() override {
    std::remove(file().c_str());
    rmdir(folder_.c_str());
    ModulesAndFunctions::TearDown();
  }
  std::string file() const { return folder_ + "/" + name_ + ".py"; }
  void Write(const std::string& source) { std::ofstream(file()) << source; }
  int64_t Call(const Object& module, const std::string& function) {
    Object result = InvokeWithNil(GetFunction(module, function));
    return result.isNil() ? -1 : Int(host_.call(result, "Int64Value"));
  }

  std::string folder_;
  std::string name_;
};

TEST_F(Reloading, ReloadRunsTheNewSourceInTheSameWrapper) {
  Write("def version():\n    return 1\n");
  Object module = GetModule(name_);
  ASSERT_FALSE(module.isNil()) << GetError();
  Object first = GetFunction(module, "version");
  Write("def version():\n    return 2\n\ndef added():\n    return 3\n");
  EXPECT_TRUE(Bool(host_.call(module, "Reload")));
  EXPECT_EQ(Call(module, "version"), 2);
  EXPECT_EQ(Call(module, "added"), 3);
  EXPECT_EQ(Int(host_.call(InvokeWithNil(first), "Int64Value")), 1) << "a function taken earlier stays as it was";
  EXPECT_EQ(Text(host_.getProperty(module, "Name")), name_);
}

// The reload's own error is cleared; one pending before it stays pending.
TEST_F(Reloading, AFailedReloadKeepsTheModuleAndClearsItsError) {
  Write("def version():\n    return 1\n");
  Object module = GetModule(name_);
  ASSERT_FALSE(module.isNil()) << GetError();
  Write("def version(:\n");
  EXPECT_FALSE(Bool(host_.call(module, "Reload")));
  EXPECT_FALSE(ErrorOccurred());
  Engine("SetError", {host_.constant("Python3ErrorTypes.ValueError"), Str("pending before")});
  EXPECT_FALSE(Bool(host_.call(module, "Reload")));
  EXPECT_EQ(GetError(), "pending before");
  EXPECT_EQ(Call(module, "version"), 1);
}

}  // namespace
}  // namespace api_tests
