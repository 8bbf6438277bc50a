// Python3Result: values made by its constructors and by Python, read as the
// library converts them.
#include <limits>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Results : public RunningPython {
 protected:
  Object Made(const Value& value) { return host_.newObject("Python3Result", {value}); }
  Value Read(const Object& result, const std::string& getter) { return host_.call(result, getter); }
};

TEST_F(Results, TheEmptyConstructorHoldsNone) {
  Object none = host_.newObject("Python3Result");
  EXPECT_FALSE(Bool(Read(none, "IsInteger")));
  EXPECT_FALSE(Bool(Read(none, "IsString")));
  EXPECT_FALSE(Bool(Read(none, "BooleanValue")));
  EXPECT_TRUE(xhost::asString(Read(none, "StringValue")).isNil());
  EXPECT_NE(xhost::asPtr(Read(none, "GetPtr")), nullptr);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Results, NumbersReadAsTheLibraryConvertsThem) {
  Object seven = Made(Int32{7});
  EXPECT_EQ(xhost::asDouble(Read(seven, "DoubleValue")), 7.0);
  EXPECT_FALSE(Bool(Read(seven, "IsDouble")));
  EXPECT_EQ(Int(Read(seven, "Int64Value")), 7);
  EXPECT_EQ(std::get<UInt64>(Read(seven, "UInt64Value")).value, 7u);

  Object half = Made(2.5);
  EXPECT_EQ(xhost::asDouble(Read(half, "DoubleValue")), 2.5);
  EXPECT_TRUE(Bool(Read(half, "IsDouble")));
  EXPECT_FALSE(Bool(Read(half, "IsInteger")));
  EXPECT_FALSE(Bool(Read(half, "FitsInInt32")));

  Object yes = Made(true);
  EXPECT_TRUE(Bool(Read(yes, "IsBoolean")));
  EXPECT_TRUE(Bool(Read(yes, "IsInteger")));
  EXPECT_EQ(Int(Read(yes, "Int32Value")), 1);

  Object big = Made(Int64{int64_t{1} << 40});
  EXPECT_EQ(Int(Read(big, "Int32Value")), 0) << "low 32 bits of 2**40";
  EXPECT_FALSE(Bool(Read(big, "FitsInInt32"))) << "only ints in the Int32 range fit";
  EXPECT_FALSE(ErrorOccurred());

  Object minusOne = Made(Int64{-1});
  EXPECT_EQ(std::get<UInt64>(Read(minusOne, "UInt64Value")).value, std::numeric_limits<uint64_t>::max());
  EXPECT_TRUE(ErrorOccurred());
  Engine("ClearError");
  Object huge = Made(UInt64{std::numeric_limits<uint64_t>::max()});
  EXPECT_EQ(Int(Read(huge, "Int64Value")), -1);
  EXPECT_TRUE(ErrorOccurred());
  Engine("ClearError");
  EXPECT_FALSE(Bool(Read(huge, "FitsInInt32")));
}

TEST_F(Results, BooleanValueIsPythonsTruth) {
  EXPECT_FALSE(Bool(Read(Made(Int32{0}), "BooleanValue")));
  EXPECT_TRUE(Bool(Read(Made(Str("x")), "BooleanValue")));
  EXPECT_FALSE(Bool(Read(Made(Str("")), "BooleanValue")));
  EXPECT_FALSE(Bool(Read(python.Evaluate("[]"), "BooleanValue")));
  EXPECT_TRUE(Bool(Read(python.Evaluate("[0]"), "BooleanValue")));
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Results, AFailingTruthTestIsFalseAndLeavesTheError) {
  EXPECT_FALSE(Bool(Read(python.Evaluate("NoTruth()"), "BooleanValue")));
  EXPECT_EQ(GetError(), "no truth value");
}

TEST_F(Results, TextsAndHostObjects) {
  Object text = Made(Str("h\xC3\xA9"));
  EXPECT_TRUE(Bool(Read(text, "IsString")));
  EXPECT_EQ(Text(Read(text, "StringValue")), "h\xC3\xA9");
  EXPECT_EQ(Int(Read(text, "Int64Value")), -1) << "the library's answer for a text";
  EXPECT_TRUE(ErrorOccurred());
  Engine("ClearError");

  Object folder = host_.newFolderItem("/tmp");
  Object wrapped = Made(folder);
  EXPECT_TRUE(Bool(Read(wrapped, "IsObject")));
  EXPECT_EQ(xhost::asObject(Read(wrapped, "ObjectValue")).get(), folder.get());
  EXPECT_TRUE(xhost::asObject(Read(text, "ObjectValue")).isNil());
}

// Capsules made by other code hold no host object: an unnamed one made with
// ctypes (its pointer is no object of the host) and datetime's C API.
TEST_F(Results, OnlyCapsulesOfThePluginAreHostObjects) {
  python.Run(
      "import ctypes, datetime\n"
      "make_capsule = ctypes.pythonapi.PyCapsule_New\n"
      "make_capsule.restype = ctypes.py_object\n"
      "make_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]\n"
      "not_an_object = ctypes.create_string_buffer(64)\n"
      "foreign = [make_capsule(ctypes.addressof(not_an_object), None, None), datetime.datetime_CAPI]\n");
  for (const char* capsule : {"foreign[0]", "foreign[1]"}) {
    EXPECT_TRUE(python.TruthOf("type(" + std::string(capsule) + ").__name__ == 'PyCapsule'"));
    Object result = python.Evaluate(capsule);
    EXPECT_FALSE(Bool(Read(result, "IsObject"))) << capsule;
    EXPECT_TRUE(xhost::asObject(Read(result, "ObjectValue")).isNil()) << capsule;
    Object tuple = xhost::asObject(Read(python.Evaluate("(" + std::string(capsule) + ",)"), "TupleValue"));
    EXPECT_FALSE(Bool(host_.call(tuple, "IsObject", {int64_t{0}}))) << capsule;
    EXPECT_TRUE(xhost::asObject(host_.call(tuple, "ObjectValue", {int64_t{0}})).isNil()) << capsule;
    EXPECT_FALSE(ErrorOccurred()) << capsule << ": " << GetError();
  }
}

TEST_F(Results, ContainersComeBackAsWrappersOfTheSameObject) {
  Object tuple = xhost::asObject(Read(python.Evaluate("(1, 'a')"), "TupleValue"));
  ASSERT_FALSE(tuple.isNil());
  EXPECT_EQ(Int(host_.getProperty(tuple, "Count")), 2);
  EXPECT_EQ(Int(host_.getProperty(tuple, "LastError")), 0);
  Object dict = xhost::asObject(Read(python.Evaluate("{'k': 1}"), "DictionaryValue"));
  ASSERT_FALSE(dict.isNil());
  EXPECT_EQ(Text(host_.call(dict, "ToString")), "{'k': 1}");
  Object list = python.Evaluate("[1]");
  for (const char* getter : {"TupleValue", "DictionaryValue", "BytesValue"})
    EXPECT_TRUE(xhost::asObject(Read(list, getter)).isNil()) << getter;
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Results, FromBytesSharesTheBytesObject) {
  EXPECT_TRUE(xhost::asObject(host_.callShared("Python3Result", "FromBytes", {Nil{}})).isNil());
  python.Run("kept_bytes = b'ab'");
  Object bytes = xhost::asObject(Read(python.Evaluate("kept_bytes"), "BytesValue"));
  Object result = xhost::asObject(host_.callShared("Python3Result", "FromBytes", {bytes}));
  ASSERT_FALSE(result.isNil());
  EXPECT_TRUE(Bool(Read(result, "IsBytes")));
  EXPECT_EQ(xhost::asPtr(Read(result, "GetPtr")), xhost::asPtr(host_.call(bytes, "GetPtr")));
  EXPECT_EQ(Text(host_.call(xhost::asObject(Read(result, "BytesValue")), "ToString")), "ab");
}

}  // namespace
}  // namespace api_tests
