// Every member repeated many times leaves the reference counts of the Python
// objects it touches and Python's count of allocated blocks where they were
// after a warm-up; the host's ledger checks every object and string.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

constexpr int kWarmUp = 50;
constexpr int kRounds = 2;
constexpr int kRepetitionsPerRound = 1000;
// A leak of one block per call grows every round by kRepetitionsPerRound;
// caches and free lists settle once, far below, in some round.
constexpr int64_t kBlockSlack = kRepetitionsPerRound / 10;

struct Repeated {
  const char* member;
  std::function<void()> action;
  std::vector<std::string> involved;  // Python expressions whose reference counts must not move
};

class ReferenceDiscipline : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "kept_list = [3000, 1000, 2000]  # not immortal, unlike small ints from 3.12 on\n"
        "kept_dict = {'a': 1, 'b': [2]}\n"
        "kept_other = {'b': 3, 'c': 4}\n"
        "kept_bytes = b'\\x00ab\\xff'\n"
        "kept_tuple = (1, 'two')\n"
        "kept_text = 'h\\xe9llo'\n"
        "class Kept:\n"
        "    def __init__(self, x=0, y=0):\n"
        "        self.x, self.y = x, y\n"
        "    def method(self, a=0, y=0):\n"
        "        return a + y\n");
  }

  void ExpectFlat(const std::vector<Repeated>& rows) {
    for (const Repeated& row : rows) {
      for (int i = 0; i < kWarmUp; ++i) row.action();
      std::vector<int64_t> counts;
      for (const std::string& expression : row.involved) counts.push_back(python.RefCount(expression));
      int64_t leastGrowth = INT64_MAX;
      for (int round = 0; round < kRounds; ++round) {
        const int64_t blocks = python.IntegerOf("sys.getallocatedblocks()");
        for (int i = 0; i < kRepetitionsPerRound; ++i) row.action();
        leastGrowth = std::min(leastGrowth, python.IntegerOf("sys.getallocatedblocks()") - blocks);
      }
      for (size_t i = 0; i < counts.size(); ++i)
        EXPECT_EQ(python.RefCount(row.involved[i]), counts[i]) << row.member << ": " << row.involved[i];
      EXPECT_LT(leastGrowth, kBlockSlack) << row.member << ": allocated blocks grew in every round";
      EXPECT_FALSE(ErrorOccurred()) << row.member;
    }
  }

  Object Number(int32_t value) { return EntityFrom("Int32", Int32{value}); }
  Value Read(const Object& self, const std::string& property) { return host_.getProperty(self, property); }
  void ClearError() { Engine("ClearError"); }
};

TEST_F(ReferenceDiscipline, Entities) {
  Object folder = host_.newFolderItem("/tmp");
  Object list = python.EntityOf("kept_list");
  Object text = python.EntityOf("kept_text");
  auto rows = std::make_unique<std::vector<Repeated>>();
  for (const auto& [kind, value] : std::vector<std::pair<std::string, Value>>{{"Int32", Int32{-5}},
                                                                              {"Int64", Int64{int64_t{1} << 40}},
                                                                              {"UInt64", UInt64{~uint64_t{0}}},
                                                                              {"Double", 2.5},
                                                                              {"Boolean", true},
                                                                              {"String", Str("h\xC3\xA9")},
                                                                              {"Object", folder}})
    rows->push_back({"From", [&, kind = kind, value = value] { EntityFrom(kind, value); }, {}});
  void* pointer = xhost::asPtr(host_.call(python.ListOf("kept_list"), "GetPtr"));
  rows->push_back({"FromPtr", [&] { EntityFrom("Ptr", Ptr{pointer}); }, {"kept_list"}});
  rows->push_back({"properties and tests",
                   [&] {
                     for (const char* property :
                          {"Int32Value",      "Int64Value",  "UInt64Value", "DoubleValue", "StringValue",
                           "BooleanValue",    "ObjectValue", "BytesValue",  "TupleValue",  "ListValue",
                           "DictionaryValue", "IsInteger",   "IsString",    "IsDouble",    "IsBytes",
                           "IsTuple",         "IsBoolean",   "IsList",      "IsObject",    "IsDictionary",
                           "FitsInInt32"})
                       Read(list, property);
                     Read(text, "StringValue");
                   },
                   {"kept_list", "kept_text"}});
  rows->push_back({"ObjectValue", [&] { Read(EntityFrom("Object", folder), "ObjectValue"); }, {}});
  ExpectFlat(*rows);
  rows.reset();                                                                          // the rows hold the folder too
  python.Run("import ctypes; ctypes.pythonapi.Py_DecRef(ctypes.py_object(kept_list))");  // GetPtr's reference
  EXPECT_EQ(host_.refCount(folder), 1);
}

TEST_F(ReferenceDiscipline, BytesAndResultsAndTuples) {
  Object block = host_.newMemoryBlock(std::string("\x00\xFF", 2));
  Object kept = xhost::asObject(Read(python.EntityOf("kept_bytes"), "BytesValue"));
  ExpectFlat({
      {"Bytes constructors",
       [&] {
         host_.newObject("Python3Bytes", {Str("ab")});
         host_.newObject("Python3Bytes", {block});
       },
       {}},
      {"Bytes readers",
       [&] {
         Read(kept, "Size");
         host_.call(kept, "ToString");
         host_.call(kept, "ToMemoryBlock");
       },
       {"kept_bytes"}},
      {"Result constructors and getters",
       [&] {
         for (const Value& value : {Value(Int32{1}), Value(Int64{2}), Value(UInt64{3}), Value(4.5), Value(true),
                                    Value(Str("s")), Value(Object(block))}) {
           Object result = host_.newObject("Python3Result", {value});
           for (const char* getter : {"Int32Value", "Int64Value", "UInt64Value", "DoubleValue", "BooleanValue",
                                      "StringValue", "ObjectValue"})
             host_.call(result, getter);
           ClearError();
         }
       },
       {}},
      {"Tuple setters and getters",
       [&] {
         Object tuple = Tuple({Int32{1}, Int64{2}, UInt64{3}, 4.5, true, Str("s"), block, kept});
         for (const char* getter : {"Int32Value", "Int64Value", "UInt64Value", "DoubleValue", "BooleanValue",
                                    "StringValue", "ObjectValue", "BytesValue"})
           host_.call(tuple, getter, {int64_t{0}});
       },
       {"kept_bytes"}},
  });
}

TEST_F(ReferenceDiscipline, Lists) {
  Object list = python.ListOf("kept_list");
  Object item = python.EntityOf("kept_tuple");
  Object scratch = host_.newObject("Python3List");
  Object mixed = ListHolding({Number(1), EntityFrom("String", Str("a"))});
  ExpectFlat({
      {"Constructor, Count", [&] { Read(host_.newObject("Python3List"), "Count"); }, {}},
      {"Append, Insert, Clear",
       [&] {
         host_.call(scratch, "Append", {item});
         host_.call(scratch, "Insert", {int64_t{0}, item});
         host_.call(scratch, "Clear");
       },
       {"kept_tuple"}},
      {"GetItem, SetItem",
       [&] {
         host_.call(list, "SetItem", {int64_t{0}, CallObject(list, "GetItem", {int64_t{0}})});
       },
       {"kept_list", "kept_list[0]"}},
      {"GetItem out of range",
       [&] {
         CallObject(list, "GetItem", {int64_t{99}});
         ClearError();
       },
       {"kept_list"}},
      {"AsTuple, GetSlice",
       [&] {
         CallObject(list, "AsTuple");
         CallObject(list, "GetSlice", {int64_t{0}, int64_t{2}});
       },
       {"kept_list", "kept_list[0]"}},
      {"Sort, Reverse",
       [&] {
         host_.call(list, "Sort");
         host_.call(list, "Reverse");
       },
       {"kept_list"}},
      {"Sort raising",
       [&] {
         RaisedBy([&] { host_.call(mixed, "Sort"); });
         ClearError();
       },
       {}},
      {"Extend",
       [&] {
         host_.call(scratch, "Extend", {list});
         host_.call(scratch, "Clear");
       },
       {"kept_list", "kept_list[0]"}},
  });
}

TEST_F(ReferenceDiscipline, Dictionaries) {
  Object dict = python.DictionaryOf("kept_dict");
  Object other = python.DictionaryOf("kept_other");
  Object key = python.EntityOf("'a'");
  Object value = python.EntityOf("kept_tuple");
  Object unhashable = python.EntityOf("kept_list");
  Object scratch = host_.newObject("Python3Dictionary");
  ExpectFlat({
      {"Constructor, Count, Clear",
       [&] {
         Object d = host_.newObject("Python3Dictionary");
         Read(d, "Count");
         host_.call(d, "Clear");
       },
       {}},
      {"Contains, GetValue",
       [&] {
         host_.call(dict, "Contains", {Str("a")});
         host_.call(dict, "Contains", {key});
         CallObject(dict, "GetValue", {Str("b")});
         CallObject(dict, "GetValue", {key});
       },
       {"kept_dict", "kept_dict['b']"}},
      {"SetValue, Remove",
       [&] {
         host_.call(scratch, "SetValue", {Str("k"), value});
         host_.call(scratch, "SetValue", {key, value});
         host_.call(scratch, "Remove", {Str("k")});
         host_.call(scratch, "Remove", {key});
       },
       {"kept_tuple"}},
      {"GetKeys, GetValues, Copy",
       [&] {
         CallObject(dict, "GetKeys");
         CallObject(dict, "GetValues");
         CallObject(dict, "Copy");
       },
       {"kept_dict", "kept_dict['b']"}},
      {"Merge, SetDefault",
       [&] {
         host_.call(scratch, "Merge", {other, true});
         CallObject(scratch, "SetDefault", {Str("d"), value});
         host_.call(scratch, "Clear");
       },
       {"kept_other", "kept_tuple"}},
      {"failures",
       [&] {
         RaisedBy([&] { host_.call(dict, "Contains", {unhashable}); });
         RaisedBy([&] { host_.call(dict, "Remove", {Str("missing")}); });
         CallObject(dict, "GetValue", {unhashable});
         ClearError();
       },
       {"kept_dict", "kept_list"}},
  });
}

TEST_F(ReferenceDiscipline, ClassesInstancesAndFields) {
  Object module = python.module();
  Object kept = CallObject(module, "GetClass", {Str("Kept")});
  Object instance = CallObject(kept, "CreateInstance");
  Object arguments = Tuple({Int32{1}});
  Object keywords = host_.newObject("Python3Dictionary");
  host_.call(keywords, "SetValue", {Str("y"), Number(2)});
  Object folder = host_.newFolderItem("/tmp");
  ExpectFlat({
      {"CreateInstance",
       [&] {
         CallObject(kept, "CreateInstance");
         CallObject(kept, "CreateInstance", {arguments});
         CallObject(kept, "CreateInstance", {arguments, keywords});
       },
       {"Kept"}},
      {"GetFunction, Invoke with keywords",
       [&] {
         CallObject(CallObject(instance, "GetFunction", {Str("method")}), "Invoke", {arguments, keywords});
       },
       {"Kept"}},
      {"fields",
       [&] {
         for (const Object& receiver : {module, instance}) {
           host_.assign(receiver, "Int32Field", {Str("f")}, Int32{1});
           host_.assign(receiver, "Int64Field", {Str("f")}, Int64{2});
           host_.assign(receiver, "UInt64Field", {Str("f")}, UInt64{3});
           host_.assign(receiver, "DoubleField", {Str("f")}, 4.5);
           host_.assign(receiver, "BooleanField", {Str("f")}, true);
           host_.assign(receiver, "StringField", {Str("f")}, Str("text"));
           for (const char* getter :
                {"Int32Field", "Int64Field", "UInt64Field", "DoubleField", "BooleanField", "StringField"})
             host_.call(receiver, getter, {Str("f")});
           host_.assign(receiver, "ObjectField", {Str("f")}, folder);
           host_.call(receiver, "ObjectField", {Str("f")});
           host_.call(receiver, "HasAttribute", {Str("f")});
           host_.call(receiver, "HasAttribute", {Str("missing")});
           host_.call(receiver, "DeleteAttribute", {Str("f")});
           host_.call(receiver, "Int32Field", {Str("missing")});
           ClearError();
         }
       },
       {"Kept"}},
  });
  EXPECT_EQ(host_.refCount(folder), 1);
}

}  // namespace
}  // namespace api_tests
