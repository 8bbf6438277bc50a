// Any value used as the object it is: attributes, methods, items, calls,
// names; results read as values; references handed out by GetPtr taken back.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class EntityObjects : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "import datetime, collections\n"
        "class Box:\n"
        "    kind = 'box'\n"
        "    def __init__(self): self.items = []\n"
        "    def add(self, item, times=1):\n"
        "        self.items.extend([item] * times)\n"
        "        return len(self.items)\n"
        "box = Box()\n"
        "day = datetime.date(2026, 12, 7)\n");
  }
  Value Property(const Object& entity, const std::string& name) { return host_.getProperty(entity, name); }
  Object Call(const Object& entity, const std::string& member, const std::vector<Value>& arguments = {}) {
    return CallObject(entity, member, arguments);
  }
  std::string PendingTypeName() {
    const std::string name = Text(Engine("GetErrorTypeName"));
    Engine("ClearError");
    return name;
  }
};

TEST_F(EntityObjects, AttributesAreReadWrittenAndTested) {
  Object box = python.EntityOf("box");
  EXPECT_EQ(Text(Property(Call(box, "GetAttribute", {Str("kind")}), "StringValue")), "box");
  EXPECT_TRUE(Bool(host_.call(box, "SetAttribute", {Str("label"), EntityFrom("String", Str("red"))})));
  EXPECT_EQ(python.TextOf("box.label"), "red");
  EXPECT_TRUE(Bool(host_.call(box, "HasAttribute", {Str("label")})));
  EXPECT_FALSE(Bool(host_.call(box, "HasAttribute", {Str("missing")})));
  EXPECT_FALSE(ErrorOccurred()) << "HasAttribute clears the error of its lookup";

  EXPECT_TRUE(Call(box, "GetAttribute", {Str("missing")}).isNil());
  EXPECT_EQ(PendingTypeName(), "AttributeError");
  EXPECT_TRUE(Call(box, "GetAttribute", {Str("")}).isNil());
  EXPECT_EQ(PendingTypeName(), "AttributeError") << "an empty name fails aloud";
  EXPECT_FALSE(Bool(host_.call(python.EntityOf("3"), "SetAttribute", {Str("x"), EntityFrom("Int32", Int32{1})})));
  EXPECT_EQ(PendingTypeName(), "AttributeError");
  EXPECT_FALSE(Bool(host_.call(box, "SetAttribute", {Str("label"), Nil{}})));
  EXPECT_EQ(PendingTypeName(), "TypeError");
  EXPECT_EQ(python.TextOf("box.label"), "red");
}

// The entity GetAttribute returns holds the one reference the lookup gave,
// and gives it back with the entity.
TEST_F(EntityObjects, GetAttributeHoldsOneReferenceToTheAttribute) {
  python.Run("box.thing = object()");
  Object box = python.EntityOf("box");
  const int64_t before = python.RefCount("box.thing");
  {
    Object thing = Call(box, "GetAttribute", {Str("thing")});
    ASSERT_FALSE(thing.isNil());
    EXPECT_EQ(python.RefCount("box.thing"), before + 1);
  }
  for (int round = 0; round < 10; ++round) Call(box, "GetAttribute", {Str("thing")});
  EXPECT_EQ(python.RefCount("box.thing"), before);
}

TEST_F(EntityObjects, MethodsAreCalledWithPositionalAndKeywordArguments) {
  Object day = python.EntityOf("day");
  EXPECT_EQ(Text(host_.call(Call(day, "CallMethod", {Str("isoformat"), Nil{}}), "StringValue")), "2026-12-07");

  Object box = python.EntityOf("box");
  Object keywords = host_.newObject("Python3Dictionary");
  host_.call(keywords, "SetValue", {Str("times"), EntityFrom("Int32", Int32{3})});
  Object count = Call(box, "CallMethod", {Str("add"), Tuple({Str("x")}), keywords});
  EXPECT_EQ(Int(host_.call(count, "Int64Value")), 3);
  EXPECT_EQ(python.TextOf("repr(box.items)"), "['x', 'x', 'x']");

  EXPECT_TRUE(Call(box, "CallMethod", {Str("add"), Nil{}}).isNil());
  EXPECT_EQ(PendingTypeName(), "TypeError") << "add() needs its item";
  EXPECT_TRUE(Call(box, "CallMethod", {Str("absent"), Nil{}}).isNil());
  EXPECT_EQ(PendingTypeName(), "AttributeError");
}

TEST_F(EntityObjects, AValueIsCalledItself) {
  Object makeDate = python.EntityOf("datetime.date");
  Object keywords = host_.newObject("Python3Dictionary");
  host_.call(keywords, "SetValue", {Str("day"), EntityFrom("Int32", Int32{24})});
  Object christmas = Call(makeDate, "Invoke", {Tuple({Int32{2026}, Int32{12}}), keywords});
  ASSERT_FALSE(christmas.isNil()) << GetError();
  Object asEntity = Call(christmas, "EntityValue");
  EXPECT_EQ(Text(Property(asEntity, "Repr")), "datetime.date(2026, 12, 24)");
  EXPECT_TRUE(Bool(Property(makeDate, "IsCallable")));
  EXPECT_FALSE(Bool(Property(asEntity, "IsCallable")));
  EXPECT_TRUE(Call(asEntity, "Invoke", {Nil{}}).isNil());
  EXPECT_EQ(PendingTypeName(), "TypeError");
}

TEST_F(EntityObjects, ItemsLengthAndIterationWorkOnAnyContainer) {
  python.Run("counts = collections.Counter('abracadabra')\nsquares = (n * n for n in range(4))");
  Object counts = python.EntityOf("counts");
  EXPECT_EQ(Int(Property(counts, "Length")), 5);
  EXPECT_EQ(Int(Property(Call(counts, "GetItem", {EntityFrom("String", Str("a"))}), "Int64Value")), 5);
  EXPECT_TRUE(Bool(host_.call(counts, "SetItem", {EntityFrom("String", Str("z")), EntityFrom("Int32", Int32{9})})));
  EXPECT_EQ(python.IntegerOf("counts['z']"), 9);
  EXPECT_EQ(Int(Property(Call(counts, "GetItem", {EntityFrom("String", Str("q"))}), "Int64Value")), 0)
      << "a Counter answers missing keys itself";

  Object squares = Call(python.EntityOf("squares"), "Items");
  EXPECT_EQ(python.Kinds(squares), "int:0,int:1,int:4,int:9");
  EXPECT_EQ(Int(Property(python.EntityOf("squares"), "Length")), -1);
  EXPECT_EQ(PendingTypeName(), "TypeError") << "a generator has no len()";

  EXPECT_TRUE(Call(python.EntityOf("[1, 2]"), "GetItem", {EntityFrom("Int32", Int32{5})}).isNil());
  EXPECT_EQ(PendingTypeName(), "IndexError");
  EXPECT_TRUE(Call(python.EntityOf("[1, 2]"), "GetItem", {Nil{}}).isNil());
  EXPECT_EQ(PendingTypeName(), "TypeError");
  EXPECT_TRUE(Call(python.EntityOf("42"), "Items").isNil());
  EXPECT_EQ(PendingTypeName(), "TypeError");
}

TEST_F(EntityObjects, TypeNameReprNoneAndInstanceValue) {
  EXPECT_EQ(Text(Property(python.EntityOf("day"), "TypeName")), "datetime.date");
  EXPECT_EQ(Text(Property(python.EntityOf("box"), "TypeName")), "apitest.Box");
  EXPECT_EQ(Text(Property(python.EntityOf("'x'"), "TypeName")), "str");
  EXPECT_EQ(Text(Property(python.EntityOf("'x'"), "Repr")), "'x'");
  EXPECT_TRUE(Bool(Property(python.EntityOf("None"), "IsNone")));
  EXPECT_FALSE(Bool(Property(python.EntityOf("0"), "IsNone")));

  Object instance = xhost::asObject(Property(python.EntityOf("box"), "InstanceValue"));
  ASSERT_FALSE(instance.isNil());
  EXPECT_EQ(Text(host_.getProperty(instance, "Name")), "apitest.Box");
  EXPECT_EQ(Text(host_.call(instance, "StringField", {Str("kind")})), "box");
  Object add = Call(instance, "GetFunction", {Str("add")});
  EXPECT_EQ(Int(host_.call(Call(add, "Invoke", {Tuple({Str("y")})}), "Int64Value")), 1);

  python.Run("class Loud:\n    def __repr__(self): raise ValueError('no repr')\nloud = Loud()");
  EXPECT_EQ(Text(Property(python.EntityOf("loud"), "Repr")), "");
  EXPECT_EQ(PendingTypeName(), "ValueError");
}

TEST_F(EntityObjects, ResultsAreReadAsListsEntitiesAndNone) {
  Object list = python.Evaluate("[3, 'a']");
  EXPECT_TRUE(Bool(host_.call(list, "IsList")));
  Object shared = Call(list, "ListValue");
  host_.call(shared, "Append", {EntityFrom("Int32", Int32{7})});
  EXPECT_EQ(python.Kinds(shared), "int:3,str:'a',int:7");
  EXPECT_TRUE(Call(python.Evaluate("(1,)"), "ListValue").isNil()) << "a tuple is no list";

  Object none = python.Evaluate("None");
  EXPECT_TRUE(Bool(host_.call(none, "IsNone")));
  EXPECT_FALSE(Bool(host_.call(python.Evaluate("0"), "IsNone")));
  EXPECT_TRUE(Bool(Property(Call(none, "EntityValue"), "IsNone")));
  EXPECT_FALSE(ErrorOccurred());
}

// A reference that GetPtr hands out is owned by the caller; FromNewPtr takes
// it over, so a thousand round trips leave the count where it was.
TEST_F(EntityObjects, FromNewPtrTakesOverWhatGetPtrHandedOut) {
  python.Run("kept = object()");
  Object entity = python.EntityOf("kept");
  const int64_t before = python.RefCount("kept");
  for (int round = 0; round < 1000; ++round) {
    Value pointer = host_.call(python.Evaluate("kept"), "GetPtr");
    Object back = xhost::asObject(host_.callShared("Python3Entity", "FromNewPtr", {pointer}));
    ASSERT_FALSE(back.isNil());
  }
  EXPECT_EQ(python.RefCount("kept"), before);
  EXPECT_TRUE(xhost::asObject(host_.callShared("Python3Entity", "FromNewPtr", {Ptr{nullptr}})).isNil());
}

TEST_F(EntityObjects, EveryMemberIsNeutralOnceFinalized) {
  Object box = python.EntityOf("box");
  Object key = EntityFrom("Int32", Int32{0});
  python.KeptPastFinalize("box");
  python.Disconnect();
  FinalizePython();
  EXPECT_TRUE(Call(box, "GetAttribute", {Str("kind")}).isNil());
  EXPECT_FALSE(Bool(host_.call(box, "SetAttribute", {Str("kind"), key})));
  EXPECT_FALSE(Bool(host_.call(box, "HasAttribute", {Str("kind")})));
  EXPECT_TRUE(Call(box, "CallMethod", {Str("add"), Nil{}}).isNil());
  EXPECT_TRUE(Call(box, "Invoke", {Nil{}}).isNil());
  EXPECT_TRUE(Call(box, "GetItem", {key}).isNil());
  EXPECT_TRUE(Call(box, "Items").isNil());
  EXPECT_EQ(Int(Property(box, "Length")), -1);
  EXPECT_EQ(Text(Property(box, "Repr")), "");
  EXPECT_EQ(Text(Property(box, "TypeName")), "");
  EXPECT_TRUE(xhost::asObject(Property(box, "InstanceValue")).isNil());
  EXPECT_FALSE(ErrorOccurred());
  InitPython();
  python.Connect();
}

}  // namespace
}  // namespace api_tests
