// Python3List: a handle of a Python list, shared with Python; items in and
// out, in-place operations and their host exceptions, slices and Extend.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Lists : public RunningPython {
 protected:
  Object Number(int32_t value) { return EntityFrom("Int32", Int32{value}); }
  Object Numbers(std::initializer_list<int32_t> values) {
    std::vector<Object> items;
    for (int32_t value : values) items.push_back(Number(value));
    return ListHolding(items);
  }
  int64_t Count(const Object& list) { return Int(host_.getProperty(list, "Count")); }
  std::string Shown(const Object& wrapper) { return Text(host_.call(wrapper, "ToString")); }
};

TEST_F(Lists, ANewListIsEmptyAndHasNoItemToGive) {
  Object list = host_.newObject("Python3List");
  EXPECT_EQ(Count(list), 0);
  EXPECT_TRUE(CallObject(list, "GetItem", {int64_t{0}}).isNil());
  EXPECT_EQ(GetError(), "list index out of range");
}

TEST_F(Lists, ItemsGoInAndComeOutAsEntities) {
  Object list = Numbers({1, 2, 3});
  host_.call(list, "Insert", {int64_t{-1}, Number(9)});
  EXPECT_EQ(Shown(list), "[1, 2, 9, 3]") << "before the last item";
  host_.call(list, "Insert", {int64_t{1000}, Number(8)});
  EXPECT_EQ(Shown(list), "[1, 2, 9, 3, 8]") << "at the end";
  {
    Object seven = Number(7);
    host_.call(list, "SetItem", {int64_t{0}, seven});
  }
  EXPECT_EQ(Int(host_.getProperty(CallObject(list, "GetItem", {int64_t{0}}), "Int32Value")), 7);
  EXPECT_EQ(Int(host_.getProperty(CallObject(list, "GetItem", {int64_t{4}}), "Int32Value")), 8);
  EXPECT_FALSE(ErrorOccurred());

  for (int64_t outside : {int64_t{-1}, Count(list)}) {
    EXPECT_TRUE(CallObject(list, "GetItem", {outside}).isNil()) << outside;
    EXPECT_EQ(GetError(), "list index out of range");
  }
  host_.call(list, "SetItem", {Count(list), Number(0)});
  EXPECT_EQ(GetError(), "list assignment index out of range");
  EXPECT_EQ(Shown(list), "[7, 2, 9, 3, 8]");
}

TEST_F(Lists, AListFromPythonIsTheListPythonHolds) {
  python.Run("held = [1]");
  Object list = python.ListOf("held");
  host_.call(list, "Append", {Number(2)});
  EXPECT_EQ(python.TextOf("str(held)"), "[1, 2]");
  Object inner = Numbers({5});
  host_.call(list, "Append", {inner});
  host_.call(inner, "Append", {Number(6)});
  EXPECT_EQ(python.TextOf("str(held)"), "[1, 2, [5, 6]]") << "items are shared, not copied";

  host_.call(list, "Clear");
  EXPECT_EQ(Count(list), 0);
  EXPECT_EQ(python.TextOf("str(held)"), "[1, 2, [5, 6]]") << "Clear gives the wrapper a new list";
}

TEST_F(Lists, SortAndReverseWorkInPlace) {
  python.Run("unsorted = [3, 1, 2]");
  Object list = python.ListOf("unsorted");
  host_.call(list, "Sort");
  EXPECT_EQ(python.TextOf("str(unsorted)"), "[1, 2, 3]");
  host_.call(list, "Reverse");
  EXPECT_EQ(python.TextOf("str(unsorted)"), "[3, 2, 1]");
  Object single = Numbers({4});
  host_.call(single, "Reverse");
  EXPECT_EQ(Shown(single), "[4]");
  EXPECT_EQ(RaisedBy([&] { host_.call(host_.newObject("Python3List"), "Sort"); }), "");

  Object mixed = ListHolding({Number(3), EntityFrom("String", Str("a"))});
  EXPECT_EQ(RaisedBy([&] { host_.call(mixed, "Sort"); }), "Could not sort this list (-1)");
  EXPECT_TRUE(ErrorOccurred()) << "the exception leaves Python's error set";
  EXPECT_EQ(GetError(), "'<' not supported between instances of 'str' and 'int'");
}

TEST_F(Lists, SlicesAreNewListsOfTheSameItems) {
  Object list = Numbers({1, 2, 3, 4});
  EXPECT_EQ(Shown(CallObject(list, "GetSlice", {int64_t{1}, int64_t{3}})), "[2, 3]");
  EXPECT_EQ(Shown(CallObject(list, "GetSlice", {int64_t{-5}, int64_t{100}})), "[1, 2, 3, 4]");
  EXPECT_EQ(Shown(CallObject(list, "GetSlice", {int64_t{3}, int64_t{1}})), "[]");
  Object tuple = CallObject(list, "AsTuple");
  EXPECT_EQ(Int(host_.getProperty(tuple, "Count")), 4);
  EXPECT_EQ(Int(host_.getProperty(tuple, "LastError")), 0);
  host_.call(list, "Append", {Number(5)});
  EXPECT_EQ(Int(host_.getProperty(tuple, "Count")), 4) << "a copy of the items";
}

TEST_F(Lists, ExtendAppendsWhatIteratingGives) {
  Object list = Numbers({1});
  Object dict = host_.newObject("Python3Dictionary");
  host_.call(dict, "SetValue", {Str("k"), Number(0)});
  host_.call(list, "Extend", {dict});
  EXPECT_EQ(Shown(list), "[1, 'k']") << "a dictionary's keys";
  host_.call(list, "Extend", {Tuple({Int32{2}, Str("t")})});
  EXPECT_EQ(Shown(list), "[1, 'k', 2, 't']");
  host_.call(list, "Extend", {list});
  EXPECT_EQ(Count(list), 8) << "extended with itself, it doubles";
  host_.call(list, "Extend", {Nil{}});
  EXPECT_EQ(Count(list), 8);
  EXPECT_FALSE(ErrorOccurred());
}

// A host class may implement the interface without holding any Python object.
TEST_F(Lists, ExtendIgnoresAHostClassThatOnlyImplementsTheInterface) {
  host_.defineSubclass("HostIterable", "Object", {}, {"IPython3Iterable"});
  Object list = Numbers({1});
  host_.call(list, "Extend", {host_.newObject("HostIterable")});
  EXPECT_EQ(Shown(list), "[1]");
  EXPECT_FALSE(ErrorOccurred());
}

// Python's list.extend reads a tuple's items without a test.
TEST_F(Lists, ExtendRefusesATupleWithUnsetSlots) {
  python.Run(
      "import ctypes\n"
      "ctypes.pythonapi.PyTuple_New.restype = ctypes.py_object\n"
      "unset = ctypes.pythonapi.PyTuple_New(2)\n");
  Object tuple = CallObject(python.Evaluate("unset"), "TupleValue");
  Object list = Numbers({1});
  host_.call(list, "Extend", {tuple});
  EXPECT_EQ(GetError(), "Extend was given a Python3Parameters with unset items");
  EXPECT_EQ(Shown(list), "[1]");
  python.Run("del unset");
}

// Sort, Reverse, GetSlice and Extend look up their entries on first use,
// whoever made the list.
TEST_F(Lists, ListsNoConstructorMadeHaveEveryMember) {
  python.Run("keys_of = {'b': 1, 'a': 2}");
  Object keys = CallObject(python.DictionaryOf("keys_of"), "GetKeys");
  host_.call(keys, "Sort");
  host_.call(keys, "Reverse");
  host_.call(keys, "Extend", {CallObject(keys, "GetSlice", {int64_t{0}, int64_t{1}})});
  EXPECT_EQ(Shown(keys), "['b', 'a', 'b']");
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Lists, ValuesThatHoldNothingChangeNothing) {
  Object list = Numbers({1});
  Object empty = host_.newObject("Python3Entity");
  host_.call(list, "Append", {empty});
  host_.call(list, "Insert", {int64_t{0}, empty});
  host_.call(list, "SetItem", {int64_t{0}, empty});
  host_.call(list, "Append", {Nil{}});
  host_.call(list, "SetItem", {int64_t{0}, Nil{}});
  EXPECT_EQ(Shown(list), "[1]");
  EXPECT_FALSE(ErrorOccurred());
}

}  // namespace
}  // namespace api_tests
