// Who owns what: every Python reference a wrapper takes is given back once
// while the interpreter runs and never after Finalize; GetPtr hands out one
// reference per call; a capsule keeps its host object until Python frees it.
// Counts are read from Python (sys.getrefcount) and from the host's ledger.
#include <functional>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Ownership : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "kept_list = [1, 2]\n"
        "kept_dict = {'a': 1}\n"
        "kept_bytes = b'xy'\n"
        "kept_tuple = (1, 2)\n"
        "holder = (kept_list, kept_dict, kept_bytes, kept_tuple)\n"
        "def keep(value):\n"
        "    global kept_value\n"
        "    kept_value = value\n");
  }

  Object ResultOf(const std::string& expression) { return python.Evaluate(expression); }
  // A Python3Parameters of the tuple the expression gives; nothing else holds it.
  Object TupleOf(const std::string& expression) { return CallObject(ResultOf(expression), "TupleValue"); }
  Object ItemOf(const std::string& getter, int64_t index) { return CallObject(TupleOf("holder"), getter, {index}); }
};

TEST_F(Ownership, EveryWrapperHoldsOneReferenceAndGivesItBackOnce) {
  struct Row {
    const char* wrapper;
    const char* held;  // the Python object the wrapper holds
    std::function<Object()> make;
  };
  const std::vector<Row> rows = {
      {"Python3Result of Invoke", "kept_list", [&] { return ResultOf("kept_list"); }},
      {"Python3Result.TupleValue", "kept_tuple", [&] { return TupleOf("kept_tuple"); }},
      {"Python3Result.BytesValue", "kept_bytes", [&] { return CallObject(ResultOf("kept_bytes"), "BytesValue"); }},
      {"Python3Result.DictionaryValue", "kept_dict",
       [&] { return CallObject(ResultOf("kept_dict"), "DictionaryValue"); }},
      {"Python3Parameters.ListValue", "kept_list", [&] { return ItemOf("ListValue", 0); }},
      {"Python3Parameters.DictionaryValue", "kept_dict", [&] { return ItemOf("DictionaryValue", 1); }},
      {"Python3Parameters.BytesValue", "kept_bytes", [&] { return ItemOf("BytesValue", 2); }},
      {"Python3Parameters.TupleValue", "kept_tuple", [&] { return ItemOf("TupleValue", 3); }},
      {"Python3Result.FromBytes", "kept_bytes",
       [&] { return xhost::asObject(host_.callShared("Python3Result", "FromBytes", {ItemOf("BytesValue", 2)})); }},
      {"Python3Module of GetModule", "sys.modules['apitest']", [&] { return GetModule("apitest"); }},
      {"Python3Function of GetFunction", "echo", [&] { return python.Function("echo"); }},
      {"Python3Parameters holding an item", "kept_list", [&] { return Tuple({ItemOf("ListValue", 0)}); }},
  };
  for (const Row& row : rows) {
    const int64_t before = python.RefCount(row.held);
    {
      Object wrapper = row.make();
      ASSERT_FALSE(wrapper.isNil()) << row.wrapper;
      EXPECT_EQ(python.RefCount(row.held), before + 1) << row.wrapper;
    }
    EXPECT_EQ(python.RefCount(row.held), before) << row.wrapper;
  }
}

TEST_F(Ownership, GetClassHoldsOneReference) {
  const int64_t before = python.RefCount("Made");
  {
    String name = Str("Made");
    Object made = CallObject(python.module(), "GetClass", {name});
    ASSERT_FALSE(made.isNil());
    EXPECT_EQ(python.RefCount("Made"), before + 1);
  }
  EXPECT_EQ(python.RefCount("Made"), before);
}

TEST_F(Ownership, ReplacingAnItemGivesBackTheOldOne) {
  const int64_t before = python.RefCount("kept_list");
  Object tuple = Tuple({ItemOf("ListValue", 0)});
  EXPECT_EQ(python.RefCount("kept_list"), before + 1);
  host_.assign(tuple, "Int32Value", {int64_t{0}}, Int32{7});
  EXPECT_EQ(python.RefCount("kept_list"), before);
  host_.assign(tuple, "ListValue", {int64_t{0}}, ItemOf("ListValue", 0));
  host_.assign(tuple, "ListValue", {int64_t{0}}, ItemOf("ListValue", 0));
  EXPECT_EQ(python.RefCount("kept_list"), before + 1);
}

TEST_F(Ownership, GetPtrHandsOutOneOwnedReferencePerCall) {
  const int64_t before = python.RefCount("kept_tuple");
  Object tuple = TupleOf("kept_tuple");
  void* first = xhost::asPtr(host_.call(tuple, "GetPtr"));
  void* second = xhost::asPtr(host_.call(tuple, "GetPtr"));
  EXPECT_EQ(first, second);
  tuple = Object();
  EXPECT_EQ(python.RefCount("kept_tuple"), before + 2);
  {
    Object wrapped = host_.newObject("Python3Parameters", {Ptr{first}});
    EXPECT_EQ(python.RefCount("kept_tuple"), before + 3);
    EXPECT_EQ(Int(host_.getProperty(wrapped, "Count")), 2);
  }
  EXPECT_EQ(python.RefCount("kept_tuple"), before + 2);

  Object result = ResultOf("kept_list");
  const int64_t listBefore = python.RefCount("kept_list");
  host_.call(result, "GetPtr");
  EXPECT_EQ(python.RefCount("kept_list"), listBefore + 1);
}

TEST_F(Ownership, ACapsuleKeepsItsHostObjectUntilPythonFreesIt) {
  const size_t before = host_.liveObjects("FolderItem");
  {
    Object folder = host_.newFolderItem("/tmp");
    python.Call("keep", {folder});
    EXPECT_EQ(host_.refCount(folder), 2);
    Object back = CallObject(ResultOf("kept_value"), "ObjectValue");
    EXPECT_EQ(back.get(), folder.get());
  }
  EXPECT_EQ(host_.liveObjects("FolderItem"), before + 1);
  python.Run("kept_value = [kept_value]");  // the capsule, now held by a list
  EXPECT_EQ(host_.liveObjects("FolderItem"), before + 1);
  python.Run("del kept_value");
  EXPECT_EQ(host_.liveObjects("FolderItem"), before);
}

// Python frees the capsule of a wrapper as it finalizes; the wrapper then
// gives back its tuple, whose capsule in turn frees its host object.
TEST_F(Ownership, FinalizeFreesWhatPythonHeldOfTheHost) {
  const size_t folders = host_.liveObjects("FolderItem");
  const size_t tuples = host_.liveObjects("Python3Parameters");
  {
    Object arguments = host_.newObject("Python3Parameters", {int64_t{1}});
    host_.assign(arguments, "ObjectValue", {int64_t{0}}, Tuple({host_.newFolderItem("/tmp")}));
    EXPECT_FALSE(CallObject(python.Function("keep"), "Invoke", {arguments}).isNil());
  }
  EXPECT_EQ(host_.liveObjects("FolderItem"), folders + 1);
  EXPECT_EQ(host_.liveObjects("Python3Parameters"), tuples + 1);
  python.Disconnect();
  FinalizePython();
  EXPECT_EQ(host_.liveObjects("FolderItem"), folders);
  EXPECT_EQ(host_.liveObjects("Python3Parameters"), tuples);
  InitPython();
}

// Wrappers that outlive the interpreter hold nothing afterwards: what they
// held of the host is given back when it stops, not kept for the process.
TEST_F(Ownership, FinalizeGivesBackTheHostObjectsOfLiveWrappers) {
  Object folder = host_.newFolderItem("/tmp");
  Object result = host_.newObject("Python3Result", {folder});
  Object tuple = Tuple({folder, Tuple({folder})});
  EXPECT_EQ(host_.refCount(folder), 4);
  Restart();
  EXPECT_EQ(host_.refCount(folder), 1);
  EXPECT_TRUE(CallObject(result, "ObjectValue").isNil());
}

TEST_F(Ownership, ACapsuleInAResultOrASlotIsFreedWithIt) {
  Object folder = host_.newFolderItem("/tmp");
  {
    Object result = host_.newObject("Python3Result", {folder});
    EXPECT_EQ(host_.refCount(folder), 2);
  }
  EXPECT_EQ(host_.refCount(folder), 1);
  Object tuple = Tuple({folder});
  EXPECT_EQ(host_.refCount(folder), 2);
  host_.assign(tuple, "ObjectValue", {int64_t{0}}, folder);
  EXPECT_EQ(host_.refCount(folder), 2);
  host_.assign(tuple, "BooleanValue", {int64_t{0}}, true);
  EXPECT_EQ(host_.refCount(folder), 1);
}

// True outlives every interpreter at one address, so a release that reached
// it after a restart would show in its count.
TEST_F(Ownership, WrappersOfAFinalizedInterpreterReleaseNothingInTheNextOne) {
  Object result = host_.newObject("Python3Result", {true});
  Object tuple = Tuple({true, Str("text")});
  Object function = python.Function("echo");
  Object list = ItemOf("ListValue", 0);
  KeptPastFinalize(tuple);
  python.KeptPastFinalize("echo");
  python.KeptPastFinalize("kept_list");
  Restart();
  const int64_t trueCount = python.RefCount("True");
  result = Object();
  tuple = Object();
  function = Object();
  list = Object();
  EXPECT_EQ(python.RefCount("True"), trueCount);
  EXPECT_EQ(python.IntegerOf("sum(range(100))"), 4950);
}

// Wrappers come and go in any order and in any number; each gives its
// reference back once, and none of those left at a restart gives one back after it.
TEST_F(Ownership, ManyWrappersGiveBackTheirReferencesInAnyOrder) {
  const int64_t listBefore = python.RefCount("kept_list");
  const int64_t tupleBefore = python.RefCount("kept_tuple");
  std::vector<Object> wrappers;
  for (int i = 0; i < 1500; ++i) wrappers.push_back(ResultOf("kept_tuple"));
  for (int i = 0; i < 1500; ++i) wrappers.push_back(ResultOf("kept_list"));
  EXPECT_EQ(python.RefCount("kept_list"), listBefore + 1500);
  EXPECT_EQ(python.RefCount("kept_tuple"), tupleBefore + 1500);
  // Every 7th, then the rest from the middle outwards: runs of neighbours break up everywhere.
  for (size_t i = 0; i < wrappers.size(); i += 7) wrappers[i] = Object();
  for (size_t i = wrappers.size() / 2, j = i; i > 0 || j < wrappers.size(); ++j) {
    if (i > 0) wrappers[--i] = Object();
    if (j < wrappers.size()) wrappers[j] = Object();
  }
  EXPECT_EQ(python.RefCount("kept_list"), listBefore);
  EXPECT_EQ(python.RefCount("kept_tuple"), tupleBefore);
  for (int i = 0; i < 600; ++i) wrappers[static_cast<size_t>(i)] = host_.newObject("Python3Result", {true});
  Restart();
  const int64_t trueAfterRestart = python.RefCount("True");
  wrappers.clear();
  EXPECT_EQ(python.RefCount("True"), trueAfterRestart);
}

TEST_F(Ownership, ReleasedWhileRunningTrueIsGivenBackToo) {
  const int64_t before = python.RefCount("True");
  {
    Object result = host_.newObject("Python3Result", {true});
    Object tuple = Tuple({true, true});
  }
  EXPECT_EQ(python.RefCount("True"), before);
}

// From 3.12 on, None is immortal: Python never changes its count, and a
// wrapper holding it must not either (before, it holds one reference).
TEST_F(Ownership, AWrapperLeavesAnImmortalObjectImmortal) {
  const bool immortal = python.TruthOf("sys.version_info >= (3, 12)");
  const int64_t before = python.RefCount("None");
  Object none = host_.newObject("Python3Result");
  EXPECT_EQ(python.RefCount("None"), before + (immortal ? 0 : 1));
  none = Object();
  EXPECT_EQ(python.RefCount("None"), before);
}

}  // namespace
}  // namespace api_tests
