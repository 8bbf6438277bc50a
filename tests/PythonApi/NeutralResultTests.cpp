// Wrappers holding no object, and members used while no interpreter runs:
// neutral results (Nil, 0, False, ""), never a crash.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

using xhost::Host;

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

// Lists and dictionaries that hold no object.
void ExpectContainersHoldNothing(const Object& list, const Object& dict) {
  Host& h = host();
  Object item = h.newObject("Python3Entity");
  EXPECT_EQ(Int(h.getProperty(list, "Count")), 0);
  for (const char* member : {"Sort", "Reverse"}) h.call(list, member);
  h.call(list, "Append", {item});
  h.call(list, "Insert", {int64_t{0}, item});
  h.call(list, "SetItem", {int64_t{0}, item});
  h.call(list, "Extend", {dict});
  EXPECT_TRUE(CallObject(list, "GetItem", {int64_t{0}}).isNil());
  EXPECT_TRUE(CallObject(list, "AsTuple").isNil());
  EXPECT_TRUE(CallObject(list, "GetSlice", {int64_t{0}, int64_t{1}}).isNil());

  EXPECT_EQ(Int(h.getProperty(dict, "Count")), 0);
  h.call(dict, "Clear");
  EXPECT_FALSE(Bool(h.call(dict, "Contains", {Str("k")})));
  EXPECT_FALSE(Bool(h.call(dict, "Contains", {item})));
  EXPECT_TRUE(CallObject(dict, "GetValue", {Str("k")}).isNil());
  h.call(dict, "SetValue", {Str("k"), item});
  h.call(dict, "SetValue", {item, item});
  h.call(dict, "Remove", {Str("k")});
  h.call(dict, "Remove", {item});
  h.call(dict, "Merge", {dict, true});
  for (const char* member : {"GetKeys", "GetValues", "Copy"}) EXPECT_TRUE(CallObject(dict, member).isNil()) << member;
  EXPECT_TRUE(CallObject(dict, "SetDefault", {Str("k"), item}).isNil());
}

// Byte strings and entities that hold no object.
void ExpectBytesAndEntityHoldNothing(const Object& bytes, const Object& entity) {
  Host& h = host();
  EXPECT_EQ(Int(h.getProperty(bytes, "Size")), 0);
  EXPECT_TRUE(xhost::asString(h.call(bytes, "ToString")).isNil());
  EXPECT_TRUE(CallObject(bytes, "ToMemoryBlock").isNil());
  EXPECT_FALSE(Bool(h.getProperty(entity, "IsInteger")));
  EXPECT_TRUE(xhost::asObject(h.getProperty(entity, "ListValue")).isNil());
}

// Wrappers of classes and instances that hold no object.
void ExpectClassAndInstanceHoldNothing(const Object& pythonClass, const Object& instance) {
  Host& h = host();
  EXPECT_TRUE(CallObject(pythonClass, "CreateInstance").isNil());
  EXPECT_TRUE(CallObject(pythonClass, "CreateInstance", {Nil{}, Nil{}}).isNil());
  EXPECT_TRUE(CallObject(instance, "GetFunction", {Str("method")}).isNil());
  h.assign(instance, "StringField", {Str("x")}, Str("value"));
  EXPECT_TRUE(xhost::asString(h.call(instance, "StringField", {Str("x")})).isNil());
  EXPECT_FALSE(Bool(h.call(instance, "HasAttribute", {Str("x")})));
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

TEST_F(NeutralResults, ValueWrappersMadeByHostCodeHoldNothing) {
  ExpectBytesAndEntityHoldNothing(host_.newObject("Python3Bytes", {Object()}), host_.newObject("Python3Entity"));
  ExpectClassAndInstanceHoldNothing(host_.newObject("Python3Class"), host_.newObject("Python3Instance"));
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
      xhost::asObject(host_.callShared("Python3Result", "FromBytes", {host_.newObject("Python3Bytes", {Object()})}))
          .isNil());

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
  python.Run(
      "class Made2:\n    made = []\n    def __init__(self):\n        Made2.made.append(self)\n    def method(self):\n  "
      "      pass\n");
  Object pythonClass = CallObject(module, "GetClass", {Str("Made2")});
  Object instance = CallObject(pythonClass, "CreateInstance");
  Object list = python.ListOf("[1, 2]");
  Object dict = python.DictionaryOf("{'k': 1}");
  Object bytes = host_.newObject("Python3Bytes", {Str("ab")});
  Object entity = EntityFrom("Int32", Int32{1});
  python.KeptPastFinalize("sys.modules['apitest']");
  python.KeptPastFinalize("count");
  KeptPastFinalize(tuple);
  KeptPastFinalize(result);
  for (const Object* kept : {&list, &dict, &bytes, &entity}) KeptPastFinalize(*kept);
  python.Disconnect();
  FinalizePython();
  ExpectEngineNeutral();
  EXPECT_TRUE(EntityFrom("Int32", Int32{1}).isNil());
  EXPECT_EQ(Int(host_.getProperty(host_.newObject("Python3List"), "Count")), 0);
  ExpectTupleHoldsNothing(host_.newObject("Python3Parameters", {int64_t{2}}));
  ExpectResultHoldsNothing(host_.newObject("Python3Result", {Int32{5}}));
  for (int round = 0; round < 2; ++round) {
    ExpectModuleHoldsNothing(module);
    ExpectFunctionHoldsNothing(function);
    EXPECT_EQ(xhost::asObject(host_.getProperty(function, "OwnerModule")).get(), module.get());
    ExpectTupleHoldsNothing(tuple);
    ExpectResultHoldsNothing(result);
    ExpectContainersHoldNothing(list, dict);
    ExpectBytesAndEntityHoldNothing(bytes, entity);
    ExpectClassAndInstanceHoldNothing(pythonClass, instance);
    InitPython();
  }
  // A wrapper of the old interpreter gives nothing back to the new one.
  host_.call(list, "Clear");
  EXPECT_EQ(Int(host_.getProperty(list, "Count")), 0);
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
  for (const auto& [kind, value] : std::vector<std::pair<std::string, Value>>{
           {"Int32", Int32{1}}, {"String", Str("s")}, {"Boolean", true}, {"Object", host().newFolderItem("/tmp")}})
    EXPECT_TRUE(EntityFrom(kind, value).isNil()) << kind;
  ExpectContainersHoldNothing(host().newObject("Python3List"), host().newObject("Python3Dictionary"));
  ExpectBytesAndEntityHoldNothing(host().newObject("Python3Bytes", {Str("ab")}), host().newObject("Python3Entity"));
  ExpectClassAndInstanceHoldNothing(host().newObject("Python3Class"), host().newObject("Python3Instance"));
  FinalizePython();
  EXPECT_FALSE(ErrorOccurred());
}

}  // namespace
}  // namespace api_tests
