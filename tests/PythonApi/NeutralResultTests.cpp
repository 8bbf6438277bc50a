// Wrappers holding no object, and members used while no interpreter runs:
// neutral results (Nil, 0, False, ""), never a crash.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

void ExpectEngineNeutral() {
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(GetError(), "");
  Engine("ClearError");
  Engine("SetError", {host().constant("Python3ErrorTypes.KeyError"), Str("nobody hears")});
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_TRUE(GetModule("sys").isNil());
  AddSearchPath("/tmp");
  EXPECT_FALSE(ErrorOccurred());
}

void ExpectTupleHoldsNothing(const Object& tuple) {
  EXPECT_EQ(Int(host().getProperty(tuple, "Count")), 0);
  EXPECT_EQ(Int(host().call(tuple, "Int32Value", {int64_t{0}})), 0);
  EXPECT_TRUE(xhost::asString(host().call(tuple, "StringValue", {int64_t{0}})).isNil());
  EXPECT_FALSE(Bool(host().call(tuple, "IsInteger", {int64_t{0}})));
  EXPECT_TRUE(xhost::asString(host().call(tuple, "ToString")).isNil());
  EXPECT_EQ(Int(host().call(tuple, "Hash")), -1);
  EXPECT_EQ(xhost::asPtr(host().call(tuple, "GetPtr")), nullptr);
  host().call(tuple, "ClearError");
  host().assign(tuple, "Int32Value", {int64_t{0}}, Int32{1});
  EXPECT_EQ(Int(host().getProperty(tuple, "LastError")), 2);
  host().call(tuple, "ClearError");
}

void ExpectResultHoldsNothing(const Object& result) {
  EXPECT_EQ(Int(host().call(result, "Int32Value")), 0);
  EXPECT_EQ(Int(host().call(result, "Int64Value")), 0);
  EXPECT_EQ(std::get<UInt64>(host().call(result, "UInt64Value")).value, 0u);
  EXPECT_EQ(xhost::asDouble(host().call(result, "DoubleValue")), 0.0);
  EXPECT_FALSE(Bool(host().call(result, "BooleanValue")));
  EXPECT_TRUE(xhost::asString(host().call(result, "StringValue")).isNil());
  for (const char* getter : {"BytesValue", "ObjectValue", "TupleValue", "DictionaryValue"})
    EXPECT_TRUE(CallObject(result, getter).isNil()) << getter;
  for (const char* test : {"IsString", "IsInteger", "FitsInInt32", "IsDouble", "IsBoolean", "IsObject", "IsTuple",
                           "IsBytes", "IsDictionary"})
    EXPECT_FALSE(Bool(host().call(result, test))) << test;
  EXPECT_EQ(xhost::asPtr(host().call(result, "GetPtr")), nullptr);
}

void ExpectModuleHoldsNothing(const Object& module) {
  EXPECT_TRUE(CallObject(module, "GetFunction", {Str("echo")}).isNil());
  String name = Str("Made");
  EXPECT_TRUE(CallObject(module, "GetClass", {name}).isNil());
  EXPECT_FALSE(Bool(host().call(module, "Reload")));
}

void ExpectFunctionHoldsNothing(const Object& function) {
  EXPECT_TRUE(InvokeWithNil(function).isNil());
  EXPECT_TRUE(CallObject(function, "Invoke", {host().newObject("Python3Parameters", {int64_t{1}})}).isNil());
}

class NeutralResults : public RunningPython {};

TEST_F(NeutralResults, WrappersMadeByHostCodeHoldNothing) {
  Object module = host_.newObject("Python3Module");
  ExpectModuleHoldsNothing(module);
  EXPECT_EQ(Text(host_.getProperty(module, "Name")), "");
  Object function = host_.newObject("Python3Function");
  ExpectFunctionHoldsNothing(function);
  EXPECT_TRUE(xhost::asObject(host_.getProperty(function, "OwnerModule")).isNil());
  Object entity = host_.newObject("Python3Entity");
  EXPECT_TRUE(xhost::asString(host_.call(entity, "ToString")).isNil());
  EXPECT_EQ(Int(host_.call(entity, "Hash")), -1);
  EXPECT_EQ(xhost::asPtr(host_.call(entity, "GetPtr")), nullptr);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(NeutralResults, FailedConversionsHoldNothing) {
  Object tuple = host_.newObject("Python3Parameters", {int64_t{-1}});
  EXPECT_EQ(Int(host_.getProperty(tuple, "LastError")), 0);
  EXPECT_TRUE(ErrorOccurred()) << "Python refused the size";
  Engine("ClearError");
  ExpectTupleHoldsNothing(tuple);
  EXPECT_TRUE(CallObject(python.Function("count"), "Invoke", {tuple}).isNil());

  Object result = host_.newObject("Python3Result", {Object()});
  Engine("ClearError");
  ExpectResultHoldsNothing(result);
  EXPECT_TRUE(
      xhost::asObject(host_.callShared("Python3Result", "FromBytes", {host_.newObject("Python3Bytes")})).isNil());

  Object fromNull = host_.newObject("Python3Parameters", {Ptr{nullptr}});
  EXPECT_EQ(Int(host_.getProperty(fromNull, "LastError")), 0);
  ExpectTupleHoldsNothing(fromNull);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(NeutralResults, AfterFinalizeEverythingIsNeutralAndStaysSoAfterANewInit) {
  Object module = GetModule("apitest");
  Object function = CallObject(module, "GetFunction", {Str("count")});
  Object tuple = Tuple({Int32{1}, Str("a")});
  Object result = python.Evaluate("[1, 2]");
  python.KeptPastFinalize("sys.modules['apitest']");
  python.KeptPastFinalize("count");
  KeptPastFinalize(tuple);
  KeptPastFinalize(result);
  python.Disconnect();
  FinalizePython();
  ExpectEngineNeutral();
  ExpectTupleHoldsNothing(host_.newObject("Python3Parameters", {int64_t{2}}));
  ExpectResultHoldsNothing(host_.newObject("Python3Result", {Int32{5}}));
  for (int round = 0; round < 2; ++round) {
    ExpectModuleHoldsNothing(module);
    ExpectFunctionHoldsNothing(function);
    EXPECT_EQ(xhost::asObject(host_.getProperty(function, "OwnerModule")).get(), module.get());
    ExpectTupleHoldsNothing(tuple);
    ExpectResultHoldsNothing(result);
    InitPython();
  }
  EXPECT_FALSE(ErrorOccurred());
}

class NeverStartedNeutral : public FreshProcess {};

TEST_F(NeverStartedNeutral, BeforeInitEverythingIsNeutral) {
  ExpectEngineNeutral();
  ExpectTupleHoldsNothing(host().newObject("Python3Parameters", {int64_t{2}}));
  ExpectResultHoldsNothing(host().newObject("Python3Result", {Str("text")}));
  ExpectResultHoldsNothing(host().newObject("Python3Result"));
  ExpectModuleHoldsNothing(host().newObject("Python3Module"));
  ExpectFunctionHoldsNothing(host().newObject("Python3Function"));
  FinalizePython();
  EXPECT_FALSE(ErrorOccurred());
}

}  // namespace
}  // namespace api_tests
