// Python3Dictionary: a handle of a Python dict, shared with Python; String
// and entity keys, the host exceptions and the errors left set.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Dictionaries : public RunningPython {
 protected:
  Object Number(int32_t value) { return EntityFrom("Int32", Int32{value}); }
  int64_t Count(const Object& dict) { return Int(host_.getProperty(dict, "Count")); }
  std::string Shown(const Object& wrapper) { return Text(host_.call(wrapper, "ToString")); }
  int64_t ValueOf(const Object& dict, const Value& key) {
    Object value = CallObject(dict, "GetValue", {key});
    return value.isNil() ? -1 : Int(host_.getProperty(value, "Int32Value"));
  }
};

TEST_F(Dictionaries, ANewDictionaryIsEmpty) {
  Object dict = host_.newObject("Python3Dictionary");
  EXPECT_EQ(Count(dict), 0);
  EXPECT_FALSE(Bool(host_.call(dict, "Contains", {Str("x")})));
  EXPECT_TRUE(CallObject(dict, "GetValue", {Str("x")}).isNil());
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Dictionaries, StringKeysAndEntityKeysAreDifferentKeys) {
  Object dict = host_.newObject("Python3Dictionary");
  host_.call(dict, "SetValue", {Str("1"), Number(10)});
  EXPECT_TRUE(Bool(host_.call(dict, "Contains", {Str("1")})));
  EXPECT_EQ(ValueOf(dict, Str("1")), 10);
  EXPECT_EQ(Count(dict), 1);
  host_.call(dict, "SetValue", {Number(1), Number(20)});
  EXPECT_EQ(Count(dict), 2);
  EXPECT_EQ(ValueOf(dict, Number(1)), 20);
  EXPECT_TRUE(Bool(host_.call(dict, "Contains", {Number(1)})));
  EXPECT_EQ(Shown(dict), "{'1': 10, 1: 20}");
  host_.call(dict, "Remove", {Number(1)});
  host_.call(dict, "Remove", {Str("1")});
  EXPECT_EQ(Count(dict), 0);
  EXPECT_FALSE(ErrorOccurred());
}

// The host may hand the empty String over as no string at all: it is the
// key '' like any empty String.
TEST_F(Dictionaries, TheEmptyStringIsAKeyLikeAnyOther) {
  python.Run("with_empty = {'': 1}");
  Object dict = python.DictionaryOf("with_empty");
  EXPECT_TRUE(Bool(host_.call(dict, "Contains", {String()})));
  EXPECT_EQ(ValueOf(dict, String()), 1);
  host_.call(dict, "SetValue", {String(), Number(2)});
  EXPECT_EQ(python.IntegerOf("with_empty['']"), 2);
  EXPECT_EQ(Int(host_.getProperty(CallObject(dict, "SetDefault", {String(), Number(3)}), "Int32Value")), 2);
  host_.call(dict, "Remove", {String()});
  EXPECT_EQ(python.IntegerOf("len(with_empty)"), 0);
}

TEST_F(Dictionaries, AKeyTheHostCannotGiveDoesNothing) {
  Object dict = host_.newObject("Python3Dictionary");
  host_.call(dict, "SetValue", {Str("k"), Number(1)});
  host_.refuseStringConversions(true);
  host_.call(dict, "SetValue", {Str("x"), Number(2)});
  const bool contained = Bool(host_.call(dict, "Contains", {Str("k")}));
  const bool found = !CallObject(dict, "GetValue", {Str("k")}).isNil();
  const std::string raised = RaisedBy([&] { host_.call(dict, "Remove", {Str("k")}); });
  host_.refuseStringConversions(false);
  EXPECT_FALSE(contained);
  EXPECT_FALSE(found);
  EXPECT_EQ(raised, "");
  EXPECT_EQ(Shown(dict), "{'k': 1}");
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Dictionaries, HostExceptionsAndErrorsLeftSet) {
  Object dict = host_.newObject("Python3Dictionary");
  EXPECT_EQ(RaisedBy([&] { host_.call(dict, "Remove", {Str("missing")}); }), "Failed to delete item (-4)");
  EXPECT_EQ(GetError(), "'missing'");
  EXPECT_EQ(RaisedBy([&] { host_.call(dict, "Remove", {Number(5)}); }), "");
  EXPECT_EQ(GetError(), "5") << "an entity key leaves the KeyError set";

  Object unhashable = python.EntityOf("[]");
  EXPECT_EQ(RaisedBy([&] { host_.call(dict, "Contains", {unhashable}); }), "Failed to call contains function (-5)");
  EXPECT_EQ(GetError(), "unhashable type: 'list'");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(CallObject(dict, "GetValue", {unhashable}).isNil());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no \"Exception ignored\" on standard error";
  EXPECT_EQ(GetError(), "unhashable type: 'list'") << "GetValue leaves the TypeError set";
  host_.call(dict, "SetValue", {unhashable, Number(1)});
  EXPECT_EQ(GetError(), "unhashable type: 'list'");
  EXPECT_EQ(Count(dict), 0);

  Object clashing = python.DictionaryOf("{Clashing(): 1}");
  Object other = python.DictionaryOf("{Clashing(): 2}");
  EXPECT_EQ(RaisedBy([&] { host_.call(clashing, "Merge", {other, true}); }), "Failed to merge (-3)");
  EXPECT_EQ(GetError(), "no comparison");
}

TEST_F(Dictionaries, MergeKeepsOrReplacesExistingValues) {
  python.Run("mine = {'a': 1, 'b': 2}; theirs = {'b': 20, 'c': 30}");
  Object mine = python.DictionaryOf("mine");
  Object theirs = python.DictionaryOf("theirs");
  host_.call(mine, "Merge", {theirs, false});
  EXPECT_EQ(python.TextOf("str(mine)"), "{'a': 1, 'b': 2, 'c': 30}");
  host_.call(mine, "Merge", {theirs, true});
  EXPECT_EQ(python.TextOf("str(mine)"), "{'a': 1, 'b': 20, 'c': 30}");
  host_.call(mine, "Merge", {Nil{}, true});
  EXPECT_EQ(Count(mine), 3);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Dictionaries, SetDefaultStoresOnlyTheFirstValue) {
  Object dict = host_.newObject("Python3Dictionary");
  EXPECT_EQ(Int(host_.getProperty(CallObject(dict, "SetDefault", {Str("k"), Number(1)}), "Int32Value")), 1);
  EXPECT_EQ(Int(host_.getProperty(CallObject(dict, "SetDefault", {Str("k"), Number(2)}), "Int32Value")), 1);
  EXPECT_EQ(Shown(dict), "{'k': 1}");
  EXPECT_TRUE(CallObject(dict, "SetDefault", {Str("k"), Nil{}}).isNil());
  EXPECT_TRUE(CallObject(dict, "SetDefault", {Str("k"), host_.newObject("Python3Entity")}).isNil());
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Dictionaries, CopiesAndSnapshotsAreNewContainersOfTheSameItems) {
  python.Run("source = {'list': [1], 'n': 2}");
  Object source = python.DictionaryOf("source");
  Object copy = CallObject(source, "Copy");
  host_.call(copy, "SetValue", {Str("new"), Number(3)});
  EXPECT_EQ(python.IntegerOf("len(source)"), 2);
  host_.call(xhost::asObject(host_.getProperty(CallObject(copy, "GetValue", {Str("list")}), "ListValue")), "Append",
             {Number(9)});
  EXPECT_EQ(python.TextOf("str(source['list'])"), "[1, 9]") << "a shallow copy";

  Object keys = CallObject(source, "GetKeys");
  Object values = CallObject(source, "GetValues");
  EXPECT_EQ(Shown(keys), "['list', 'n']");
  EXPECT_EQ(Shown(values), "[[1, 9], 2]");
  host_.call(keys, "Append", {Number(0)});
  EXPECT_EQ(python.IntegerOf("len(source)"), 2);
}

TEST_F(Dictionaries, ClearEmptiesTheDictEveryHolderSees) {
  python.Run("module_dict = {'a': 1}");
  host_.call(python.DictionaryOf("module_dict"), "Clear");
  EXPECT_EQ(python.TextOf("str(module_dict)"), "{}");
}

// Copy and Remove look up their entries on first use, whoever made the dict.
TEST_F(Dictionaries, DictsNoConstructorMadeHaveEveryMember) {
  python.Run("plain = {'a': 1, 'b': 2}");
  Object dict = python.DictionaryOf("plain");
  host_.call(dict, "Remove", {Str("a")});
  EXPECT_EQ(Shown(CallObject(dict, "Copy")), "{'b': 2}");
  EXPECT_EQ(Int(host_.getProperty(CallObject(dict, "SetDefault", {Str("c"), Number(3)}), "Int32Value")), 3);
  host_.call(dict, "Merge", {python.DictionaryOf("{'d': 4}"), false});
  EXPECT_EQ(python.TextOf("str(plain)"), "{'b': 2, 'c': 3, 'd': 4}");
}

}  // namespace
}  // namespace api_tests
