// The typed attribute members shared by Python3Module and Python3Instance:
// every getter and setter on both receivers, HasAttribute, DeleteAttribute.
#include <cstdint>
#include <functional>
#include <limits>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

constexpr uint64_t kAllBits = std::numeric_limits<uint64_t>::max();

class Fields : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "def set_all(target):\n"
        "    for name, value in (('f_2_32_plus_1', 2**32 + 1), ('f_2_31', 2**31), ('f_huge', 2**70),\n"
        "                        ('f_true', True), ('f_text', 'text'), ('f_minus_one', -1), ('f_three', 3),\n"
        "                        ('f_list', [1]), ('f_zero', 0), ('f_none', None), ('f_empty', ''),\n"
        "                        ('f_no_truth', NoTruth())):\n"
        "        setattr(target, name, value)\n"
        "class Holder:\n"
        "    shared = 'from the class'\n"
        "    def __init__(self):\n"
        "        set_all(self)\n"
        "    @property\n"
        "    def failing(self):\n"
        "        raise ValueError('no value')\n"
        "set_all(sys.modules['apitest'])\n");
    receivers_ = {{"module", python.module()},
                  {"instance", CallObject(CallObject(python.module(), "GetClass", {Str("Holder")}), "CreateInstance")}};
  }
  void TearDown() override {
    receivers_.clear();
    RunningPython::TearDown();
  }
  Value Get(const Object& receiver, const std::string& field, const Value& name) {
    return host_.call(receiver, field, {name});
  }

  std::vector<std::pair<std::string, Object>> receivers_;
};

// What each getter makes of each attribute: the library's conversion, its
// failure value with the error set, or the neutral value without one.
TEST_F(Fields, GettersConvertAsTheLibraryDoes) {
  struct Row {
    const char* field;
    const char* attribute;
    int64_t expected;  // for Int32Field and Int64Field
    bool errorSet;
  };
  const std::vector<Row> rows = {{"Int32Field", "f_2_32_plus_1", 1, false},
                                 {"Int32Field", "f_2_31", -2147483648, false},
                                 {"Int32Field", "f_huge", -1, true},
                                 {"Int32Field", "f_true", 1, false},
                                 {"Int32Field", "missing", 0, true},
                                 {"Int64Field", "f_text", -1, true},
                                 {"Int64Field", "f_2_31", int64_t{1} << 31, false}};
  for (const auto& [receiver, object] : receivers_) {
    for (const Row& row : rows) {
      EXPECT_EQ(Int(Get(object, row.field, Str(row.attribute))), row.expected)
          << receiver << " " << row.field << " " << row.attribute;
      EXPECT_EQ(ErrorOccurred(), row.errorSet) << receiver << " " << row.field << " " << row.attribute;
      Engine("ClearError");
    }
    EXPECT_EQ(std::get<UInt64>(Get(object, "UInt64Field", Str("f_minus_one"))).value, kAllBits);
    EXPECT_EQ(GetError(), "can't convert negative int to unsigned");
    EXPECT_EQ(xhost::asDouble(Get(object, "DoubleField", Str("f_three"))), 3.0);
    EXPECT_EQ(xhost::asDouble(Get(object, "DoubleField", Str("f_text"))), -1.0);
    EXPECT_EQ(GetError(), "must be real number, not str");
    for (const char* truthy : {"f_list", "f_text", "f_true"})
      EXPECT_TRUE(Bool(Get(object, "BooleanField", Str(truthy)))) << receiver << " " << truthy;
    for (const char* falsy : {"f_zero", "f_none", "f_empty"})
      EXPECT_FALSE(Bool(Get(object, "BooleanField", Str(falsy)))) << receiver << " " << falsy;
    EXPECT_FALSE(ErrorOccurred());
    EXPECT_FALSE(Bool(Get(object, "BooleanField", Str("f_no_truth"))));
    EXPECT_EQ(GetError(), "no truth value");
    EXPECT_FALSE(Bool(Get(object, "BooleanField", Str("missing"))));
    EXPECT_TRUE(ErrorOccurred());
    Engine("ClearError");
    EXPECT_TRUE(xhost::asString(Get(object, "StringField", Str("f_three"))).isNil());
    EXPECT_TRUE(xhost::asObject(Get(object, "ObjectField", Str("f_list"))).isNil());
    EXPECT_FALSE(ErrorOccurred()) << receiver << ": other types read neutral without an error";
  }
}

TEST_F(Fields, SettersStoreWhatGettersReadBack) {
  const std::string text("h\xC3\xA9\0!", 5);
  for (const auto& [receiver, object] : receivers_) {
    host_.assign(object, "Int32Field", {Str("g_int32")}, Int32{-7});
    host_.assign(object, "Int64Field", {Str("g_int64")}, Int64{int64_t{1} << 40});
    host_.assign(object, "UInt64Field", {Str("g_uint64")}, UInt64{kAllBits});
    host_.assign(object, "DoubleField", {Str("g_double")}, 2.5);
    host_.assign(object, "BooleanField", {Str("g_boolean")}, true);
    host_.assign(object, "StringField", {Str("g_string")}, Str(text));
    host_.assign(object, "StringField", {Str("g_empty")}, String());
    EXPECT_EQ(Int(Get(object, "Int32Field", Str("g_int32"))), -7) << receiver;
    EXPECT_EQ(Int(Get(object, "Int64Field", Str("g_int64"))), int64_t{1} << 40) << receiver;
    EXPECT_EQ(std::get<UInt64>(Get(object, "UInt64Field", Str("g_uint64"))).value, kAllBits) << receiver;
    EXPECT_EQ(xhost::asDouble(Get(object, "DoubleField", Str("g_double"))), 2.5) << receiver;
    EXPECT_TRUE(Bool(Get(object, "BooleanField", Str("g_boolean")))) << receiver;
    String back = xhost::asString(Get(object, "StringField", Str("g_string")));
    EXPECT_EQ(back.bytes(), text) << receiver << ": non-ASCII and NUL, whole";
    EXPECT_EQ(back.encoding(), kREALTextEncodingUTF8);
    EXPECT_TRUE(Bool(host_.call(object, "HasAttribute", {Str("g_empty")}))) << receiver << ": the empty String is ''";
    EXPECT_FALSE(ErrorOccurred()) << receiver;
  }
  EXPECT_EQ(python.TextOf("type(g_boolean).__name__ + type(g_string).__name__ + repr(g_empty)"), "boolstr''");
}

TEST_F(Fields, ObjectFieldsKeepTheirHostObjectInACapsule) {
  const size_t folders = host_.liveObjects("FolderItem");
  for (const auto& [receiver, object] : receivers_) {
    host_.assign(object, "ObjectField", {Str("g_object")}, host_.newFolderItem("/tmp"));
    EXPECT_EQ(host_.liveObjects("FolderItem"), folders + 1) << receiver << ": Python alone holds it";
    Object back = xhost::asObject(Get(object, "ObjectField", Str("g_object")));
    EXPECT_EQ(back.className(), "FolderItem");
    host_.assign(object, "ObjectField", {Str("g_object")}, Nil{});
    EXPECT_TRUE(ErrorOccurred()) << receiver << ": Python refuses a capsule of Nil";
    Engine("ClearError");
    EXPECT_EQ(xhost::asObject(Get(object, "ObjectField", Str("g_object"))).get(), back.get()) << "unchanged";
    back = Object();
    EXPECT_EQ(Int(host_.call(object, "DeleteAttribute", {Str("g_object")})), 0);
    EXPECT_EQ(host_.liveObjects("FolderItem"), folders) << receiver;
  }
}

TEST_F(Fields, AttributesAreCreatedFoundAndDeleted) {
  for (const auto& [receiver, object] : receivers_) {
    EXPECT_FALSE(Bool(host_.call(object, "HasAttribute", {Str("made_here")})));
    host_.assign(object, "Int32Field", {Str("made_here")}, Int32{1});
    EXPECT_TRUE(Bool(host_.call(object, "HasAttribute", {Str("made_here")})));
    EXPECT_EQ(Int(host_.call(object, "DeleteAttribute", {Str("made_here")})), 0);
    EXPECT_FALSE(Bool(host_.call(object, "HasAttribute", {Str("made_here")})));
    EXPECT_FALSE(ErrorOccurred()) << receiver;
    EXPECT_EQ(Int(host_.call(object, "DeleteAttribute", {Str("made_here")})), -1);
    EXPECT_TRUE(ErrorOccurred()) << receiver << ": AttributeError";
    Engine("ClearError");
  }
  Object instance = receivers_[1].second;
  EXPECT_EQ(Text(Get(instance, "StringField", Str("shared"))), "from the class");
  host_.assign(instance, "StringField", {Str("shared")}, Str("own"));
  EXPECT_EQ(Text(Get(instance, "StringField", Str("shared"))), "own");
  EXPECT_EQ(python.TextOf("Holder.shared"), "from the class");
}

// HasAttribute reports no error of the lookup, neither set nor printed.
TEST_F(Fields, HasAttributeSwallowsLookupErrors) {
  Object instance = receivers_[1].second;
  testing::internal::CaptureStderr();
  const bool has = Bool(host_.call(instance, "HasAttribute", {Str("failing")}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(has);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Fields, MissingOrEmptyNamesAndRefusedTextsChangeNothing) {
  for (const auto& [receiver, object] : receivers_) {
    for (const Value& name : {Value(Str("")), Value(String())}) {
      EXPECT_EQ(Int(Get(object, "Int32Field", name)), 0);
      EXPECT_TRUE(xhost::asString(Get(object, "StringField", name)).isNil());
      host_.assign(object, "Int32Field", {name}, Int32{1});
      EXPECT_FALSE(Bool(host_.call(object, "HasAttribute", {name})));
      EXPECT_EQ(Int(host_.call(object, "DeleteAttribute", {name})), -1);
    }
    EXPECT_FALSE(ErrorOccurred()) << receiver;
    host_.refuseStringConversions(true);
    host_.assign(object, "StringField", {Str("f_text")}, Str("refused"));
    host_.refuseStringConversions(false);
    EXPECT_EQ(Text(Get(object, "StringField", Str("f_text"))), "text") << receiver;
    EXPECT_FALSE(ErrorOccurred()) << receiver;
  }
}

// A name the host cannot give as UTF-8 text looks nothing up and says why,
// so that Xojo code can tell it from a missing attribute or a real 0.
TEST_F(Fields, ANameTheHostCannotConvertFailsWithAnError) {
  struct Lookup {
    const char* member;
    std::function<Value(const Object&)> call;
  };
  const std::vector<Lookup> lookups = {
      {"Int32Field", [&](const Object& o) { return Get(o, "Int32Field", Str("f_three")); }},
      {"StringField", [&](const Object& o) { return Get(o, "StringField", Str("f_text")); }},
      {"GetFunction", [&](const Object& o) { return host_.call(o, "GetFunction", {Str("set_all")}); }},
      {"DeleteAttribute", [&](const Object& o) { return host_.call(o, "DeleteAttribute", {Str("f_zero")}); }},
      {"Int32Field assigned",
       [&](const Object& o) {
         host_.assign(o, "Int32Field", {Str("f_zero")}, Int32{9});
         return Value();
       }},
  };
  for (const auto& [receiver, object] : receivers_) {
    for (const Lookup& lookup : lookups) {
      host_.refuseStringConversions(true);
      const std::string result = xhost::describe(lookup.call(object));
      host_.refuseStringConversions(false);
      EXPECT_TRUE(ErrorOccurred()) << receiver << " " << lookup.member << " gave " << result;
      EXPECT_EQ(Text(Engine("GetErrorTypeName")), "UnicodeError") << receiver << " " << lookup.member;
      EXPECT_NE(GetError().find("UTF-8"), std::string::npos) << receiver << " " << lookup.member;
    }
    EXPECT_EQ(Int(Get(object, "Int32Field", Str("f_zero"))), 0) << "the assignment changed nothing";
  }
  host_.refuseStringConversions(true);
  const bool imported = !GetModule("colorsys").isNil();
  host_.refuseStringConversions(false);
  EXPECT_FALSE(imported);
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "UnicodeError");
  Engine("ClearError");
}

}  // namespace
}  // namespace api_tests
