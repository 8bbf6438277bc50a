// Python3Entity: the shared From... conversions, the typed properties and the
// type tests, at the edges of each conversion.
#include <cstdint>
#include <limits>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

constexpr uint64_t kAllBits = std::numeric_limits<uint64_t>::max();

class Entities : public RunningPython {
 protected:
  Value Property(const Object& entity, const std::string& name) { return host_.getProperty(entity, name); }
  std::string KindOf(const Object& entity) { return python.Kinds(ListHolding({entity})); }
};

TEST_F(Entities, EachConversionGivesPythonItsValue) {
  struct Row {
    const char* kind;
    Value value;
    const char* seen;
  };
  const std::vector<Row> rows = {
      {"Int32", Int32{-5}, "int:-5"},
      {"Int64", Int64{int64_t{1} << 40}, "int:1099511627776"},
      {"UInt64", UInt64{kAllBits}, "int:18446744073709551615"},
      {"Double", 2.5, "float:2.5"},
      {"Boolean", true, "bool:True"},
      {"Boolean", false, "bool:False"},
      {"String", Str("h\xC3\xA9"), "str:'h\xC3\xA9'"},
      {"String", Str(std::string("a\0b", 3)), "str:'a\\x00b'"},
      {"String", String(), "str:''"},  // the host's empty string may come as no string
  };
  for (const Row& row : rows) EXPECT_EQ(KindOf(EntityFrom(row.kind, row.value)), row.seen) << row.kind;
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Entities, PropertiesReadTheirOwnTypeOnly) {
  Object number = EntityFrom("Int32", Int32{-5});
  EXPECT_EQ(Int(Property(number, "Int32Value")), -5);
  EXPECT_EQ(Int(Property(number, "Int64Value")), -5);
  EXPECT_EQ(xhost::asDouble(Property(number, "DoubleValue")), 0.0) << "an int is not a float";
  EXPECT_FALSE(Bool(Property(number, "BooleanValue"))) << "an int is not a bool";
  EXPECT_TRUE(xhost::asString(Property(number, "StringValue")).isNil());
  EXPECT_FALSE(ErrorOccurred());

  Object yes = EntityFrom("Boolean", true);
  EXPECT_TRUE(Bool(Property(yes, "BooleanValue")));
  EXPECT_TRUE(Bool(Property(yes, "IsInteger"))) << "a bool is an int";
  EXPECT_EQ(Int(Property(yes, "Int32Value")), 1);
  EXPECT_FALSE(Bool(Property(yes, "IsDouble")));

  Object half = EntityFrom("Double", 2.5);
  EXPECT_EQ(xhost::asDouble(Property(half, "DoubleValue")), 2.5);
  EXPECT_EQ(Int(Property(half, "Int32Value")), 0) << "a float is not an int";
  EXPECT_FALSE(Bool(Property(half, "IsInteger")));

  String text = xhost::asString(Property(EntityFrom("String", Str(std::string("h\xC3\xA9\0!", 5))), "StringValue"));
  EXPECT_EQ(text.bytes(), std::string("h\xC3\xA9\0!", 5)) << "the whole text, NUL included";
  EXPECT_EQ(text.encoding(), kREALTextEncodingUTF8);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Entities, IntegersAtTheEdgesOfTheirTypes) {
  EXPECT_EQ(Int(Property(EntityFrom("Int64", Int64{(int64_t{1} << 32) + 5}), "Int32Value")), 5) << "low 32 bits";
  EXPECT_EQ(Int(Property(EntityFrom("Int64", Int64{int64_t{1} << 40}), "Int32Value")), 0);
  EXPECT_FALSE(ErrorOccurred());

  Object minusFive = EntityFrom("Int32", Int32{-5});
  EXPECT_EQ(std::get<UInt64>(Property(minusFive, "UInt64Value")).value, kAllBits);
  EXPECT_EQ(GetError(), "can't convert negative int to unsigned");

  Object huge = EntityFrom("UInt64", UInt64{kAllBits});
  EXPECT_EQ(Int(Property(huge, "Int64Value")), -1);
  EXPECT_TRUE(ErrorOccurred()) << "beyond Int64";
  Engine("ClearError");
  EXPECT_FALSE(Bool(Property(huge, "FitsInInt32")));
  EXPECT_EQ(Int(Property(python.EntityOf("2**70"), "Int32Value")), -1);
  EXPECT_TRUE(ErrorOccurred()) << "beyond the C long";
}

// True exactly in the Int32 range, for entities, tuple slots and results alike.
TEST_F(Entities, FitsInInt32IsTheInt32Range) {
  const std::vector<std::pair<std::string, bool>> rows = {
      {"-2**31 - 1", false}, {"-2**31", true}, {"2**31 - 1", true}, {"2**31", false}, {"2**40", false},
      {"2**70", false},      {"True", true},   {"IntSub(3)", true}, {"2.5", false},   {"'7'", false}};
  for (const auto& [expression, fits] : rows) {
    EXPECT_EQ(Bool(Property(python.EntityOf(expression), "FitsInInt32")), fits) << "entity " << expression;
    Object slot = CallObject(python.Evaluate("(" + expression + ",)"), "TupleValue");
    EXPECT_EQ(Bool(host_.call(slot, "FitsInInt32", {int64_t{0}})), fits) << "slot " << expression;
    EXPECT_EQ(Bool(host_.call(python.Evaluate(expression), "FitsInInt32")), fits) << "result " << expression;
  }
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Entities, TypeTestsAcceptSubclassesOfNumbersAndTextsOnly) {
  const std::vector<std::string> tests = {"IsInteger", "IsString", "IsDouble", "IsBytes",     "IsTuple",
                                          "IsBoolean", "IsList",   "IsObject", "IsDictionary"};
  const std::vector<std::pair<std::string, std::string>> rows = {{"IntSub(3)", "100000000"},
                                                                 {"StrSub('s')", "010000000"},
                                                                 {"FloatSub(1.5)", "001000000"},
                                                                 {"BytesSub(b'x')", "000000000"},
                                                                 {"TupleSub()", "000000000"},
                                                                 {"ListSub()", "000000000"},
                                                                 {"DictSub()", "000000000"},
                                                                 {"b''", "000100000"},
                                                                 {"()", "000010000"},
                                                                 {"False", "100001000"},
                                                                 {"[]", "000000100"},
                                                                 {"{}", "000000001"},
                                                                 {"None", "000000000"}};
  for (const auto& [expression, answers] : rows) {
    Object entity = python.EntityOf(expression);
    std::string seen;
    for (const std::string& test : tests) seen += Bool(Property(entity, test)) ? '1' : '0';
    EXPECT_EQ(seen, answers) << expression;
  }
  EXPECT_EQ(Int(Property(python.EntityOf("IntSub(3)"), "Int32Value")), 3);
  EXPECT_EQ(Text(Property(python.EntityOf("StrSub('s')"), "StringValue")), "s");
  EXPECT_EQ(xhost::asDouble(Property(python.EntityOf("FloatSub(1.5)"), "DoubleValue")), 1.5);
  for (const auto& [expression, getter] : {std::pair{"ListSub()", "ListValue"},
                                           {"DictSub()", "DictionaryValue"},
                                           {"TupleSub()", "TupleValue"},
                                           {"BytesSub(b'x')", "BytesValue"}})
    EXPECT_TRUE(xhost::asObject(Property(python.EntityOf(expression), getter)).isNil()) << expression;
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Entities, ContainerPropertiesShareTheObject) {
  python.Run("shared = [1]");
  Object entity = python.EntityOf("shared");
  Object list = xhost::asObject(Property(entity, "ListValue"));
  ASSERT_FALSE(list.isNil());
  host_.call(list, "Append", {EntityFrom("Int32", Int32{2})});
  EXPECT_EQ(Text(host_.call(entity, "ToString")), "[1, 2]");
  EXPECT_EQ(python.TextOf("str(shared)"), "[1, 2]");
  for (const char* other : {"TupleValue", "DictionaryValue", "BytesValue"})
    EXPECT_TRUE(xhost::asObject(Property(entity, other)).isNil()) << other;

  python.Run("shared_dict = {}; shared_tuple = (1,); shared_bytes = b'ab'");
  Object dict = xhost::asObject(Property(python.EntityOf("shared_dict"), "DictionaryValue"));
  host_.call(dict, "SetValue", {Str("k"), EntityFrom("Int32", Int32{1})});
  EXPECT_EQ(python.TextOf("str(shared_dict)"), "{'k': 1}");
  for (const auto& [name, getter] : {std::pair{"shared_tuple", "TupleValue"}, {"shared_bytes", "BytesValue"}}) {
    const int64_t before = python.RefCount(name);
    Object entity = python.EntityOf(name);
    Object wrapper = xhost::asObject(Property(entity, getter));
    ASSERT_FALSE(wrapper.isNil()) << getter;
    EXPECT_EQ(python.RefCount(name), before + 2) << "the entity and the " << getter << " hold one object";
  }
}

TEST_F(Entities, HostObjectsTravelInCapsules) {
  EXPECT_TRUE(EntityFrom("Object", Nil{}).isNil());
  EXPECT_FALSE(ErrorOccurred());
  Object folder = host_.newFolderItem("/tmp");
  Object entity = EntityFrom("Object", folder);
  EXPECT_EQ(KindOf(entity).substr(0, 10), "PyCapsule:");
  EXPECT_TRUE(Bool(Property(entity, "IsObject")));
  EXPECT_EQ(xhost::asObject(Property(entity, "ObjectValue")).get(), folder.get());
  const size_t folders = host_.liveObjects("FolderItem");
  folder = Object();
  EXPECT_EQ(host_.liveObjects("FolderItem"), folders) << "the capsule keeps it";
  entity = Object();
  EXPECT_EQ(host_.liveObjects("FolderItem"), folders - 1);
}

TEST_F(Entities, FromPtrTakesAReferenceOfItsOwn) {
  EXPECT_TRUE(EntityFrom("Ptr", Ptr{nullptr}).isNil());
  python.Run("pointed = [7]");
  Object list = python.ListOf("pointed");
  const int64_t before = python.RefCount("pointed");
  void* pointer = xhost::asPtr(host_.call(list, "GetPtr"));
  {
    Object entity = EntityFrom("Ptr", Ptr{pointer});
    EXPECT_EQ(python.RefCount("pointed"), before + 2);
    EXPECT_EQ(Text(host_.call(entity, "ToString")), "[7]");
  }
  EXPECT_EQ(python.RefCount("pointed"), before + 1);
  EXPECT_EQ(KindOf(EntityFrom("Ptr", Ptr{pointer})), "list:[7]");
  python.Run("import ctypes; ctypes.pythonapi.Py_DecRef(ctypes.py_object(pointed))");  // the GetPtr reference
}

TEST_F(Entities, ATextTheHostCannotGiveMakesNoEntity) {
  host_.refuseStringConversions(true);
  Object refused = EntityFrom("String", Str("x"));
  host_.refuseStringConversions(false);
  EXPECT_TRUE(refused.isNil());
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Entities, AnEntityHoldingNothingReadsNeutral) {
  Object empty = host_.newObject("Python3Entity");
  for (const char* name : {"Int32Value", "Int64Value"}) EXPECT_EQ(Int(Property(empty, name)), 0) << name;
  for (const char* name : {"IsInteger", "IsString", "IsDouble", "IsBytes", "IsTuple", "IsBoolean", "IsList", "IsObject",
                           "IsDictionary", "FitsInInt32", "BooleanValue"})
    EXPECT_FALSE(Bool(Property(empty, name))) << name;
  EXPECT_EQ(std::get<UInt64>(Property(empty, "UInt64Value")).value, 0u);
  EXPECT_EQ(xhost::asDouble(Property(empty, "DoubleValue")), 0.0);
  EXPECT_TRUE(xhost::asString(Property(empty, "StringValue")).isNil());
  for (const char* getter : {"ObjectValue", "BytesValue", "TupleValue", "ListValue", "DictionaryValue"})
    EXPECT_TRUE(xhost::asObject(Property(empty, getter)).isNil()) << getter;
  EXPECT_FALSE(ErrorOccurred());
}

}  // namespace
}  // namespace api_tests
