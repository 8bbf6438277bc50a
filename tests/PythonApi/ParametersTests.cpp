// Python3Parameters: typed setters, getters and tests of a tuple's slots,
// the LastError codes, and tuples Python refuses to change.
#include <cstdint>
#include <limits>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Parameters : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "kept_list = [1, 2]\n"
        "kept_tuple = (1, 2)\n"
        "class IntSub(int): pass\n"
        "class DictSub(dict): pass\n"
        "class FloatSub(float): pass\n"
        "class StrSub(str): pass\n"
        "def items(capsule):\n"
        "    return (True, 7, 2**40, 2**70, 2.5, 'text', capsule, {}, (), b'', [], None,\n"
        "            IntSub(3), DictSub(), FloatSub(1.5), StrSub('s'), 2**32 + 5, -1)\n"
        "def append_to(target):\n"
        "    target.append(3)\n");
  }

  Object New(int64_t count) { return host_.newObject("Python3Parameters", {count}); }
  int64_t LastError(const Object& tuple) { return Int(host_.getProperty(tuple, "LastError")); }
  Value Get(const Object& tuple, const std::string& getter, int64_t index) {
    return host_.call(tuple, getter, {index});
  }
  Object ListFromPython(const std::string& expression) {
    Object holder = CallObject(python.Evaluate("(" + expression + ",)"), "TupleValue");
    return xhost::asObject(Get(holder, "ListValue", 0));
  }
};

TEST_F(Parameters, ANewTupleHasItsSlotsAndNoError) {
  Object tuple = New(3);
  EXPECT_EQ(Int(host_.getProperty(tuple, "Count")), 3);
  EXPECT_EQ(LastError(tuple), 0);
  EXPECT_EQ(Int(host_.getProperty(New(0), "Count")), 0);
}

TEST_F(Parameters, EverySetterStoresWhatPythonReceivesAndEveryGetterReadsItBack) {
  constexpr uint64_t kAllBits = std::numeric_limits<uint64_t>::max();
  Object folder = host_.newFolderItem("/tmp");
  Object dict = CallObject(python.Evaluate("{'a': 1}"), "DictionaryValue");
  Object inner = Tuple({Int32{1}, Str("two")});
  Object list = ListFromPython("[1, 2]");
  Object bytes = CallObject(python.Evaluate("b'x\\0y'"), "BytesValue");
  const std::vector<Value> items = {
      Int32{-5}, Int64{int64_t{1} << 40}, UInt64{kAllBits}, 2.5, true, Str("h\xC3\xA9llo"), folder, dict, inner, list,
      bytes};
  EXPECT_EQ(Text(host_.call(python.Call("type_names", items), "StringValue")),
            "int,int,int,float,bool,str,PyCapsule,dict,tuple,list,bytes");

  Object echoed = CallObject(python.Call("echo", items), "TupleValue");
  ASSERT_FALSE(echoed.isNil());
  EXPECT_EQ(xhost::asInteger(Get(echoed, "Int32Value", 0)), -5);
  EXPECT_EQ(xhost::asInteger(Get(echoed, "Int64Value", 1)), int64_t{1} << 40);
  EXPECT_EQ(std::get<UInt64>(Get(echoed, "UInt64Value", 2)).value, kAllBits);
  EXPECT_EQ(xhost::asDouble(Get(echoed, "DoubleValue", 3)), 2.5);
  EXPECT_TRUE(Bool(Get(echoed, "BooleanValue", 4)));
  String text = xhost::asString(Get(echoed, "StringValue", 5));
  EXPECT_EQ(text.bytes(), "h\xC3\xA9llo");
  EXPECT_EQ(text.encoding(), kREALTextEncodingUTF8);
  EXPECT_EQ(xhost::asObject(Get(echoed, "ObjectValue", 6)).get(), folder.get());
  const std::vector<std::pair<const char*, std::string>> wrapped = {{"DictionaryValue", "{'a': 1}"},
                                                                    {"TupleValue", "(1, 'two')"},
                                                                    {"ListValue", "[1, 2]"},
                                                                    {"BytesValue", std::string("x\0y", 3)}};
  for (size_t i = 0; i < wrapped.size(); ++i) {
    Object item = xhost::asObject(Get(echoed, wrapped[i].first, static_cast<int64_t>(7 + i)));
    ASSERT_FALSE(item.isNil()) << wrapped[i].first;
    EXPECT_EQ(Text(host_.call(item, "ToString")), wrapped[i].second);
  }
  EXPECT_FALSE(ErrorOccurred());
}

// The type tests of Python3Parameters and Python3Result are the same tests
// (a result has no IsList).
TEST_F(Parameters, TypeTestsOfSlotsAndResultsAgreeOnEveryKindOfObject) {
  const std::vector<std::string> tests = {"IsBoolean",    "IsInteger", "IsDouble", "IsString", "IsObject",
                                          "IsDictionary", "IsTuple",   "IsBytes",  "IsList",   "FitsInInt32"};
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"True", "1100000001"},        {"7", "0100000001"},         {"2**40", "0100000000"},
      {"2**70", "0100000000"},       {"2.5", "0010000000"},       {"'text'", "0001000000"},
      {"capsule", "0000100000"},     {"{}", "0000010000"},        {"()", "0000001000"},
      {"b''", "0000000100"},         {"[]", "0000000010"},        {"None", "0000000000"},
      {"IntSub(3)", "0100000001"},   {"DictSub()", "0000000000"}, {"FloatSub(1.5)", "0010000000"},
      {"StrSub('s')", "0001000000"}, {"2**32 + 5", "0100000000"}, {"-1", "0100000001"}};
  Object folder = host_.newFolderItem("/tmp");
  Object items = CallObject(python.Call("items", {folder}), "TupleValue");
  ASSERT_EQ(Int(host_.getProperty(items, "Count")), static_cast<int64_t>(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& [item, answers] = expected[i];
    std::string slot;
    for (const std::string& test : tests) slot += Bool(Get(items, test, static_cast<int64_t>(i))) ? '1' : '0';
    EXPECT_EQ(slot, answers) << item;

    Object result = python.Call("evaluate", {Str("items(None)[" + std::to_string(i) + "]")});
    std::string resultAnswers;
    for (const std::string& test : tests)
      if (test != "IsList") resultAnswers += Bool(host_.call(result, test)) ? '1' : '0';
    std::string expectedOfResult = item == "capsule" ? "0000000000" : answers;  // items(None) holds None there
    expectedOfResult.erase(8, 1);
    EXPECT_EQ(resultAnswers, expectedOfResult) << "Python3Result of " << item;
  }
  for (int64_t outside : {int64_t{-1}, static_cast<int64_t>(expected.size())})
    for (const std::string& test : tests) EXPECT_FALSE(Bool(Get(items, test, outside))) << test << " " << outside;
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Parameters, GettersConvertOnlyTheirOwnType) {
  Object folder = host_.newFolderItem("/tmp");
  Object items = CallObject(python.Call("items", {folder}), "TupleValue");
  EXPECT_EQ(Int(Get(items, "Int32Value", 16)), 5) << "2**32 + 5 keeps its low 32 bits";
  EXPECT_EQ(Int(Get(items, "Int32Value", 0)), 1) << "True is an int";
  EXPECT_TRUE(Bool(Get(items, "BooleanValue", 0)));
  EXPECT_FALSE(Bool(Get(items, "BooleanValue", 1))) << "7 is not a bool";
  EXPECT_EQ(xhost::asDouble(Get(items, "DoubleValue", 1)), 0.0) << "an int is not a float";
  EXPECT_EQ(xhost::asDouble(Get(items, "DoubleValue", 14)), 1.5);
  EXPECT_EQ(Int(Get(items, "Int64Value", 4)), 0) << "a float is not an int";
  EXPECT_TRUE(xhost::asString(Get(items, "StringValue", 1)).isNil());
  EXPECT_EQ(Text(Get(items, "StringValue", 15)), "s");
  EXPECT_TRUE(xhost::asObject(Get(items, "ObjectValue", 5)).isNil());
  for (const char* getter : {"DictionaryValue", "TupleValue", "ListValue", "BytesValue"})
    EXPECT_TRUE(xhost::asObject(Get(items, getter, 5)).isNil()) << getter;
  EXPECT_TRUE(xhost::asObject(Get(items, "DictionaryValue", 13)).isNil()) << "a dict subclass";
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(std::get<UInt64>(Get(items, "UInt64Value", 17)).value, std::numeric_limits<uint64_t>::max());
  EXPECT_TRUE(ErrorOccurred()) << "-1 as UInt64";
  Engine("ClearError");
  EXPECT_EQ(Int(Get(items, "Int64Value", 3)), -1);
  EXPECT_TRUE(ErrorOccurred()) << "2**70 as Int64";
}

TEST_F(Parameters, LastErrorKeepsItsCodeUntilClearError) {
  Object tuple = New(3);
  host_.assign(tuple, "Int32Value", {int64_t{3}}, Int32{1});
  EXPECT_EQ(LastError(tuple), 2);
  host_.assign(tuple, "Int32Value", {int64_t{0}}, Int32{1});
  EXPECT_EQ(LastError(tuple), 2) << "a later success keeps the code";
  EXPECT_EQ(Int(Get(tuple, "Int32Value", 0)), 1);
  host_.call(tuple, "ClearError");
  EXPECT_EQ(LastError(tuple), 0);
  host_.assign(tuple, "DoubleValue", {int64_t{-1}}, 1.0);
  EXPECT_EQ(LastError(tuple), 2);
  host_.call(tuple, "ClearError");
  for (const char* setter : {"DictionaryValue", "TupleValue", "ListValue", "BytesValue"}) {
    host_.assign(tuple, setter, {int64_t{5}}, Nil{});
    EXPECT_EQ(LastError(tuple), 3) << setter << ": Nil is tested before the index";
    host_.call(tuple, "ClearError");
  }
  host_.assign(tuple, "ObjectValue", {int64_t{0}}, Nil{});
  EXPECT_EQ(LastError(tuple), 1);
  Engine("ClearError");
  host_.call(tuple, "ClearError");
  host_.assign(tuple, "TupleValue", {int64_t{0}}, New(-1));
  EXPECT_EQ(LastError(tuple), 1) << "a wrapper holding no tuple";
  Engine("ClearError");
  for (const char* getter : {"Int32Value", "StringValue", "TupleValue"}) {
    Get(tuple, getter, 3);
    Get(tuple, getter, -1);
  }
  EXPECT_EQ(LastError(tuple), 1) << "getters leave the code alone";
}

TEST_F(Parameters, UnsetSlotsReadAsDefaultsAndReachPythonAsNone) {
  Object tuple = New(3);
  host_.assign(tuple, "Int32Value", {int64_t{1}}, Int32{4});
  for (int64_t slot : {int64_t{0}, int64_t{2}}) {
    EXPECT_EQ(Int(Get(tuple, "Int32Value", slot)), 0);
    EXPECT_TRUE(xhost::asString(Get(tuple, "StringValue", slot)).isNil());
    EXPECT_FALSE(Bool(host_.call(tuple, "IsInteger", {slot})));
    EXPECT_TRUE(xhost::asObject(Get(tuple, "TupleValue", slot)).isNil());
  }
  Object result = CallObject(python.Function("type_names"), "Invoke", {tuple});
  ASSERT_FALSE(result.isNil()) << GetError();
  EXPECT_EQ(Text(host_.call(result, "StringValue")), "NoneType,int,NoneType");
  Object outer = New(1);
  host_.assign(outer, "TupleValue", {int64_t{0}}, New(2));
  result = CallObject(python.Function("echo"), "Invoke", {outer});
  EXPECT_EQ(Text(host_.call(CallObject(result, "TupleValue"), "ToString")), "((None, None),)");
}

// A setter that stores nothing says so, whichever side failed to convert.
TEST_F(Parameters, AStringTheHostCannotConvertIsReportedAndNotStored) {
  Object tuple = Tuple({Str("before")});
  host_.refuseStringConversions(true);
  host_.assign(tuple, "StringValue", {int64_t{0}}, Str("after"));
  Object result = host_.newObject("Python3Result", {Str("refused")});
  host_.refuseStringConversions(false);
  EXPECT_EQ(LastError(tuple), 1);
  EXPECT_EQ(Text(Get(tuple, "StringValue", 0)), "before");
  EXPECT_FALSE(Bool(host_.call(result, "IsString")));
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Parameters, ATupleHeldElsewhereIsNotChanged) {
  Object tuple = Tuple({Int32{1}});
  host_.call(tuple, "GetPtr");  // a reference the host now owns
  host_.assign(tuple, "Int32Value", {int64_t{0}}, Int32{5});
  EXPECT_EQ(LastError(tuple), 0);
  EXPECT_TRUE(ErrorOccurred());
  Engine("ClearError");
  EXPECT_EQ(Int(Get(tuple, "Int32Value", 0)), 1);

  Object kept = CallObject(python.Evaluate("kept_tuple"), "TupleValue");
  host_.assign(kept, "StringValue", {int64_t{0}}, Str("changed"));
  EXPECT_EQ(LastError(kept), 0);
  EXPECT_TRUE(ErrorOccurred());
  Engine("ClearError");
  EXPECT_EQ(python.TextOf("str(kept_tuple)"), "(1, 2)");
}

TEST_F(Parameters, AListStoredInASlotIsTheListItself) {
  Object tuple = Tuple({ListFromPython("kept_list")});
  EXPECT_TRUE(Bool(host_.call(tuple, "IsList", {int64_t{0}})));
  EXPECT_FALSE(Bool(host_.call(tuple, "IsTuple", {int64_t{0}})));
  ASSERT_FALSE(CallObject(python.Function("append_to"), "Invoke", {tuple}).isNil()) << GetError();
  EXPECT_EQ(python.TextOf("str(kept_list)"), "[1, 2, 3]");
}

TEST_F(Parameters, AWrappedObjectThatIsNoTupleHasNoSlots) {
  void* list = xhost::asPtr(host_.call(python.Evaluate("kept_list"), "GetPtr"));
  Object wrapped = host_.newObject("Python3Parameters", {Ptr{list}});
  EXPECT_EQ(Int(host_.getProperty(wrapped, "Count")), -1);
  Engine("ClearError");
  EXPECT_EQ(Int(Get(wrapped, "Int32Value", 0)), 0);
  EXPECT_FALSE(Bool(host_.call(wrapped, "IsInteger", {int64_t{0}})));
  host_.assign(wrapped, "Int32Value", {int64_t{0}}, Int32{1});
  EXPECT_EQ(LastError(wrapped), 2);
  Engine("ClearError");
  EXPECT_EQ(python.TextOf("str(kept_list)"), "[1, 2]");
  EXPECT_TRUE(CallObject(python.Function("count"), "Invoke", {wrapped}).isNil());
  EXPECT_EQ(GetError(), "argument list must be a tuple");
}

}  // namespace
}  // namespace api_tests
