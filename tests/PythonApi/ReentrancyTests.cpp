// Python code that a member runs (a comparison, a hash, a __del__) may call
// host code, which may call the same member again or drop the last host
// reference to what the member was given: the member holds references of its
// own for as long as it works with them.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "HostCodeSupport.h"

namespace api_tests {
namespace {

// What the host functions below work on: the wrappers a test hands to a
// member, held only here so that dropping them drops the last host reference.
Object gList, gDictionary, gKey, gValue, gModule;

PyPtr ClearList(PyPtr, PyPtr) {
  if (!gList.isNil()) host().call(gList, "Clear");
  return Returned();
}

PyPtr DropKeyAndValue(PyPtr, PyPtr) {
  gKey = Object();
  gValue = Object();
  return Returned();
}

PyPtr DropModule(PyPtr, PyPtr) {
  gModule = Object();
  return Returned();
}

PyPtr DropEverything(PyPtr, PyPtr) {
  gKey = Object();
  gValue = Object();
  gDictionary = Object();
  gList = Object();
  return Returned();
}

const char kPythonSide[] = R"(
import reentry, sys, weakref

class ClearingKey:
    def __init__(self, n):
        self.n = n
    def __lt__(self, other):
        reentry.clear_list()
        return self.n < other.n

class ClearingOnDel:
    def __del__(self):
        reentry.clear_list()

class Token:
    '''A value whose life can be watched.'''

def watched_token():
    global token_ref
    token = Token()
    token_ref = weakref.ref(token)
    return token

class DroppingKey:
    '''Hashing and comparing drop what the member was given.'''
    def __init__(self, drop):
        self.drop = drop
    def __hash__(self):
        self.drop()
        return 1
    def __eq__(self, other):
        self.drop()
        return self is other
)";

class Reentry : public HostCode {
 protected:
  void SetUp() override {
    HostCode::SetUp();
    Register(NewXojoModule("reentry", {{"clear_list", Address(&ClearList)},
                                       {"drop_key_and_value", Address(&DropKeyAndValue)},
                                       {"drop_everything", Address(&DropEverything)},
                                       {"drop_module", Address(&DropModule)}}));
    Start();
    python.Run(kPythonSide);
  }
  void TearDown() override {
    for (Object* held : {&gList, &gDictionary, &gKey, &gValue, &gModule}) *held = Object();
    HostCode::TearDown();
  }

  // A member called as compiled Xojo code calls it: the arguments are the
  // caller's handles, which hold no reference of their own during the call.
  template <typename Result, typename... Arguments>
  Result Direct(const std::string& className, const std::string& declaration, Arguments... arguments) {
    auto function = reinterpret_cast<Result (*)(Arguments...)>(host_.memberFunctions(className, declaration).function);
    return function(arguments...);
  }
};

TEST_F(Reentry, SortReenteredByClearOfTheSameListFinishesOnTheListItBegan) {
  python.Run("sorted_list = [ClearingKey(3), ClearingKey(1), ClearingKey(2)]");
  gList = python.ListOf("sorted_list");
  python.Run("held = sorted_list; del sorted_list");
  python.Run("del held");  // the wrapper holds the only reference to the list being sorted
  REALobjectStruct* list = gList.get();
  Direct<void>("Python3List", "Sort()", list);
  EXPECT_FALSE(ErrorOccurred()) << GetError();
  EXPECT_EQ(Int(host_.getProperty(gList, "Count")), 0) << "the wrapper holds the new list of the last Clear";
}

TEST_F(Reentry, ClearReenteredFromAnItemsDelLeavesNoListBehind) {
  const int64_t blocksBefore = python.IntegerOf("sys.getallocatedblocks()");
  for (int round = 0; round < 200; ++round) {
    gList = python.ListOf("[ClearingOnDel()]");
    host_.call(gList, "Clear");
    EXPECT_EQ(Int(host_.getProperty(gList, "Count")), 0);
  }
  gList = Object();
  EXPECT_LT(python.IntegerOf("sys.getallocatedblocks()") - blocksBefore, 100) << "one list lost per Clear";
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

// The key and value are held by their wrappers only; the key's hashing drops
// both wrappers while the dictionary uses them.
TEST_F(Reentry, DictionaryMembersKeepTheKeyAndValueTheyWereGiven) {
  python.Run("target = {}");
  gDictionary = python.DictionaryOf("target");
  const std::string entity = "Python3EntityBase";
  for (const char* member : {"SetValue", "GetValue", "Contains", "Remove"}) {
    gKey = python.EntityOf("DroppingKey(reentry.drop_key_and_value)");
    gValue = python.EntityOf("watched_token()");
    if (std::string(member) != "SetValue") python.Run("target.clear()");
    REALobjectStruct* dictionary = gDictionary.get();
    REALobjectStruct* key = gKey.get();
    REALobjectStruct* value = gValue.get();
    if (std::string(member) == "SetValue") {
      Direct<void>("Python3Dictionary", "SetValue(key as " + entity + ", value as " + entity + ")", dictionary, key,
                   value);
      EXPECT_TRUE(python.TruthOf("token_ref() is not None and list(target.values()) == [token_ref()]"))
          << "the value was freed while the dict took it";
    } else if (std::string(member) == "GetValue") {
      Object found = Object::adopt(Direct<REALobjectStruct*>(
          "Python3Dictionary", "GetValue(key as " + entity + ") as Python3Entity", dictionary, key));
      EXPECT_TRUE(found.isNil()) << member;
    } else if (std::string(member) == "Contains") {
      EXPECT_FALSE(Direct<int8_t>("Python3Dictionary", "Contains(key as " + entity + ") as Boolean", dictionary, key))
          << member;
    } else {
      Direct<void>("Python3Dictionary", "Remove(key as " + entity + ")", dictionary, key);
      EXPECT_EQ(Text(Engine("GetErrorTypeName")), "KeyError") << member;
      Engine("ClearError");
    }
    EXPECT_FALSE(ErrorOccurred()) << member << ": " << GetError();
  }
}

TEST_F(Reentry, ADictionaryDroppedWhileItHashesAKeyIsNotFreedUnderIt) {
  gDictionary = host_.newObject("Python3Dictionary");
  gKey = python.EntityOf("DroppingKey(reentry.drop_everything)");
  gValue = python.EntityOf("[1, 2]");
  const std::string entity = "Python3EntityBase";
  Direct<void>("Python3Dictionary", "SetValue(key as " + entity + ", value as " + entity + ")", gDictionary.get(),
               gKey.get(), gValue.get());
  EXPECT_FALSE(ErrorOccurred()) << GetError();
  EXPECT_TRUE(gDictionary.isNil());
}

// A task copies the keywords it was given as it starts; hashing a key may drop
// the task, the callable and the dictionary, which it keeps until it is done.
TEST_F(Reentry, ATaskDroppedWhileItCopiesItsKeywordsIsNotUsedAfterwards) {
  python.Run(
      "class ArmedKey:\n"
      "    armed = False\n"
      "    def __hash__(self):\n"
      "        if ArmedKey.armed:\n"
      "            reentry.drop_everything()\n"
      "        return 1\n"
      "    def __eq__(self, other):\n"
      "        return self is other\n");
  gDictionary = python.DictionaryOf("{ArmedKey(): 1}");
  gValue = python.EntityOf("lambda *a, **k: len(k)");
  gList = host_.newObject("Python3Task");  // dropped with the rest
  python.Run("ArmedKey.armed = True");
  Direct<bool>("Python3Task",
               "Start(callable as Python3Entity, parameters as Python3Parameters, keywords as Python3Dictionary) as "
               "Boolean",
               gList.get(), gValue.get(), static_cast<REALobjectStruct*>(nullptr), gDictionary.get());
  python.Run("ArmedKey.armed = False");
  EXPECT_TRUE(gList.isNil() && gDictionary.isNil() && gValue.isNil());
  EXPECT_EQ(python.IntegerOf("1 + 1"), 2) << "Python still runs";
  if (ErrorOccurred()) Engine("ClearError");
}

// Reloading runs the module's code again, which frees what it held before;
// a __del__ there drops the last host reference to the module's wrapper.
TEST_F(Reentry, AModuleWrapperDroppedWhileItReloadsIsNotUsedAfterwards) {
  char folder[] = "/tmp/reentry-reload-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string file = std::string(folder) + "/dropper_module.py";
  std::ofstream(file) << "import reentry\n"
                         "class Dropper:\n"
                         "    def __del__(self):\n"
                         "        reentry.drop_module()\n"
                         "held = Dropper()\n";
  AddSearchPath(folder);
  gModule = GetModule("dropper_module");
  ASSERT_FALSE(gModule.isNil()) << GetError();
  EXPECT_TRUE(Direct<int8_t>("Python3Module", "Reload() as Boolean", gModule.get()));
  EXPECT_TRUE(gModule.isNil()) << "the wrapper was dropped while it reloaded";
  EXPECT_FALSE(ErrorOccurred()) << GetError();
  std::remove(file.c_str());
  rmdir(folder);
}

}  // namespace
}  // namespace api_tests
