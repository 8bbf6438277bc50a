// Calls by declaration: overloads, conversions, defaults, results and their ownership.
#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

class Calls : public ::testing::Test {
 protected:
  std::string pick(const Value& v) { return text(host.call(overloads, "Pick", {v})); }
  std::string hostErrorOf(const std::function<void()>& call) {
    try {
      call();
    } catch (const HostError& error) {
      return error.what();
    }
    return "(no HostError)";
  }

  Host& host = sampleHost();
  Object overloads = host.newObject("SampleOverloads");
};

TEST_F(Calls, ExactTypesChooseTheirOverload) {
  EXPECT_EQ(pick(Int32{1}), "Int32");
  EXPECT_EQ(pick(int64_t{1}), "Int64") << "Integer is Int64";
  EXPECT_EQ(pick(Int64{1}), "Int64");
  EXPECT_EQ(pick(UInt64{1}), "UInt64");
  EXPECT_EQ(pick(1.5), "Double");
  EXPECT_EQ(pick(true), "Boolean");
  EXPECT_EQ(pick(host.newString("x")), "String");
  EXPECT_EQ(pick(String()), "String") << "the empty string";
  int local = 0;
  EXPECT_EQ(pick(Ptr{&local}), "Ptr");
}

TEST_F(Calls, ObjectsMatchTheirClassOrAnAncestor) {
  EXPECT_EQ(pick(host.newObject("SampleBase")), "SampleBase");
  EXPECT_EQ(pick(host.newObject("SampleDerived")), "SampleBase");
  EXPECT_EQ(pick(host.newMemoryBlock("ab")), "Ptr") << "a MemoryBlock converts to Ptr";
  EXPECT_THAT(hostErrorOf([&] { pick(host.newObject("SampleEmitter")); }),
              AllOf(HasSubstr("SampleOverloads.Pick"), HasSubstr("no overload accepts (SampleEmitter)")));
}

TEST_F(Calls, NilFittingSeveralOverloadsEquallyIsAmbiguous) {
  EXPECT_THAT(
      hostErrorOf([&] { pick(Nil{}); }),
      AllOf(HasSubstr("ambiguous call with (Nil)"), HasSubstr("Pick(v as SampleBase)"), HasSubstr("Pick(v as Ptr)")));
}

TEST_F(Calls, AnInterfaceAcceptsOnlyClassesThatImplementIt) {
  EXPECT_EQ(text(host.call(overloads, "Shape", {host.newObject("SampleDerived")})), "shape");
  EXPECT_EQ(text(host.call(overloads, "Shape", {Nil{}})), "shape");
  EXPECT_THROW(host.call(overloads, "Shape", {host.newObject("SampleBase")}), HostError);
  EXPECT_THROW(host.call(overloads, "Shape", {host.newObject("SampleOther", {host.newString("")})}), HostError);
}

TEST_F(Calls, AHostClassMayImplementAnInterfaceOfThePlugin) {
  host.defineSubclass("HostShape", "Object", {}, {"ISampleShape"});
  Object shape = host.newObject("HostShape");
  EXPECT_TRUE(shape.isA("ISampleShape"));
  EXPECT_EQ(text(host.call(overloads, "Shape", {shape})), "shape");
  EXPECT_THROW(host.defineSubclass("NoShape", "Object", {}, {"INoSuchInterface"}), HostError);
  EXPECT_THROW(host.defineSubclass("HostShape", "Object"), HostError) << "another set of interfaces";
}

TEST_F(Calls, NumbersConvertWhereXojoConvertsThem) {
  EXPECT_EQ(asInteger(host.call(overloads, "Widen", {Int32{-7}})), -7);
  EXPECT_EQ(asInteger(host.call(overloads, "Widen", {2.9})), 2);
  EXPECT_EQ(text(host.callShared("SampleBase", "Describe", {int64_t{3}})), "Int32:3");
  EXPECT_DOUBLE_EQ(asDouble(host.callShared("SampleOverloads", "Twice", {int64_t{2}})), 4.0);
  EXPECT_THROW(host.call(overloads, "Widen", {true}), HostError);
  EXPECT_THROW(host.call(overloads, "Widen", {host.newString("1")}), HostError);
  EXPECT_THROW(host.call(overloads, "Negate", {int64_t{1}}), HostError);
}

TEST_F(Calls, ResultsComeBackInTheirDeclaredTypes) {
  EXPECT_EQ(asBoolean(host.call(overloads, "Negate", {true})), false);
  EXPECT_DOUBLE_EQ(asDouble(host.call(overloads, "Half", {3.0})), 1.5);
  EXPECT_EQ(std::get<UInt64>(host.call(overloads, "Big")).value, (uint64_t{1} << 63) + 5);
  EXPECT_EQ(std::get<Int32>(host.call(overloads, "Doubled", {Int32{-21}})).value, -42);
  EXPECT_EQ(std::get<Int64>(host.call(overloads, "LongValue", {Int64{5}})).value, 4);
  int local = 0;
  EXPECT_EQ(asPtr(host.call(overloads, "Address", {Ptr{&local}})), &local);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(host.callShared("SampleHostUse", "Drop")));
}

TEST_F(Calls, OmittedArgumentsTakeTheirDefaults) {
  EXPECT_EQ(asInteger(host.call(overloads, "Sum", {int64_t{5}})), 15);
  EXPECT_EQ(asInteger(host.call(overloads, "Sum", {int64_t{5}, int64_t{1}})), 6);
  EXPECT_THROW(host.call(overloads, "Sum"), HostError);
  EXPECT_THROW(host.call(overloads, "Sum", {int64_t{1}, int64_t{2}, int64_t{3}}), HostError);
}

TEST_F(Calls, EnumerationsPassAsTheirBaseType) {
  EXPECT_EQ(asInteger(host.call(overloads, "LevelOf")), 10) << "the default, SampleBase.Levels.High";
  EXPECT_EQ(asInteger(host.call(overloads, "LevelOf", {host.constant("SampleBase.Levels.Medium")})), 2);
}

TEST_F(Calls, ConstantsOfClassesModulesAndEnumerations) {
  EXPECT_EQ(host.constant("SampleBase.ANSWER"), 42);
  EXPECT_EQ(host.constant("SampleBase.Levels.Low"), 1);
  EXPECT_EQ(host.constant("SampleBase.Levels.Medium"), 2) << "follows the member before it";
  EXPECT_EQ(host.constant("SampleModule.LIMIT"), 100);
  EXPECT_EQ(host.constant("SampleModule.MASK"), 255);
  EXPECT_THROW(host.constant("SampleModule.RATIO"), HostError) << "not an integer";
  EXPECT_THROW(host.constant("SampleBase.GREETING"), HostError);
  EXPECT_THROW(host.constant("SampleBase.NOSUCH"), HostError);
  EXPECT_THROW(host.constant("NoSuchClass.ANSWER"), HostError);
}

TEST_F(Calls, InheritedAndOverriddenMethods) {
  EXPECT_EQ(asInteger(host.call(host.newObject("SampleDerived", {int64_t{4}}), "Value")), 4);
  EXPECT_EQ(text(host.call(host.newObject("SampleDerived"), "Kind")), "SampleDerived");
  EXPECT_EQ(text(host.call(host.newObject("SampleOther", {host.newString("")}), "Kind")), "SampleBase");
}

TEST_F(Calls, SharedMethodsOfClassesAndModules) {
  EXPECT_EQ(asInteger(host.callShared("SampleModule", "Triple", {int64_t{4}})), 12);
  EXPECT_EQ(text(host.callShared("SampleBase", "Describe", {Int32{3}})), "Int32:3");
  EXPECT_THROW(host.callShared("SampleBase", "Value"), HostError) << "an instance method";
  EXPECT_THROW(host.call(overloads, "Twice", {1.0}), HostError) << "a shared method";
}

TEST_F(Calls, AssignmentsCallTheSetterWithTheValueLast) {
  Object base = host.newObject("SampleBase");
  host.assign(base, "Item", {int64_t{2}}, int64_t{10});
  EXPECT_EQ(asInteger(host.call(base, "Value")), 8);
  EXPECT_EQ(asInteger(host.call(base, "Item", {int64_t{2}})), 10);
  host.assignShared("SampleOverloads", "Counter", {}, int64_t{5});
  EXPECT_EQ(asInteger(host.callShared("SampleOverloads", "Counter")), 5);
  host.assignShared("SampleOverloads", "Scaled", {int64_t{3}}, int64_t{4});
  EXPECT_EQ(asInteger(host.callShared("SampleOverloads", "Counter")), 12);
  EXPECT_THROW(host.callShared("SampleOverloads", "Scaled", {int64_t{3}, int64_t{4}}), HostError)
      << "an Assigns method is only assigned to";
  EXPECT_THROW(host.assign(base, "Value", {}, int64_t{1}), HostError) << "not assignable";
}

TEST_F(Calls, PropertyGettersReceiveTheirParameterWord) {
  Object base = host.newObject("SampleBase");
  EXPECT_EQ(asInteger(host.getProperty(base, "Tag")), 0x7A6);
  EXPECT_EQ(asInteger(host.getProperty(base, "ParamWord")), 77);
  EXPECT_EQ(asInteger(host.getProperty(host.newObject("SampleDerived"), "ParamWord")), 77) << "inherited";
  EXPECT_THROW(host.getProperty(base, "NoSuchProperty"), HostError);
}

TEST_F(Calls, ReturnedStringsAndObjectsBelongToTheCaller) {
  String s = host.newString("abc");
  {
    Value echoed = host.call(overloads, "Echo", {s});
    EXPECT_EQ(host.refCount(s), 2);
    EXPECT_EQ(asString(echoed).get(), s.get());
  }
  EXPECT_EQ(host.refCount(s), 1) << "the argument was only borrowed";
  Object made = asObject(host.call(overloads, "MakeBase", {int64_t{6}}));
  EXPECT_EQ(host.refCount(made), 1);
  EXPECT_EQ(made.className(), "SampleBase");
  EXPECT_EQ(asInteger(host.call(made, "Value")), 6);
  Object same = asObject(host.call(overloads, "Same", {made}));
  EXPECT_EQ(host.refCount(made), 2);
  EXPECT_EQ(text(host.call(overloads, "Concat", {host.newString("ab"), host.newString("cd")})), "abcd");
}

TEST_F(Calls, ADeadResultIsReportedAndReadsAsEmpty) {
  Value result = host.call(overloads, "DeadResult");
  EXPECT_TRUE(asString(result).isNil());
  EXPECT_THAT(ledgerText(), HasSubstr("use of the dead string"));
}

// Compiled host code binds a member once and calls its function directly.
TEST_F(Calls, MemberFunctionsFoundByDeclarationAreTheRecordsOwn) {
  Object base = host.newObject("SampleDerived", {int64_t{4}});
  auto value = host.memberFunctions("SampleDerived", "value() AS integer");  // inherited; case ignored
  EXPECT_EQ(reinterpret_cast<int64_t (*)(REALobjectStruct*)>(value.function)(base.get()), 4);
  EXPECT_EQ(value.setter, nullptr);

  auto item = host.memberFunctions("SampleBase", "Item(i as Int64) as Integer");  // parameter names do not count
  reinterpret_cast<void (*)(REALobjectStruct*, int64_t, int64_t)>(item.setter)(base.get(), 2, 10);
  EXPECT_EQ(reinterpret_cast<int64_t (*)(REALobjectStruct*, int64_t)>(item.function)(base.get(), 2), 10);

  auto describe = host.memberFunctions("SampleBase", "Describe(v as Int32) as String");  // shared
  EXPECT_EQ(String::adopt(reinterpret_cast<REALstringStruct* (*)(int32_t)>(describe.function)(3)).bytes(), "Int32:3");

  auto paramWord = host.memberFunctions("SampleDerived", "ParamWord as Integer");  // a property
  EXPECT_EQ(paramWord.paramWord, 77);
  EXPECT_EQ(
      reinterpret_cast<int64_t (*)(REALobjectStruct*, intptr_t)>(paramWord.function)(base.get(), paramWord.paramWord),
      77);

  for (const char* wrong : {"Value() as String", "Value(v as Integer) as Integer", "Extra() as Integer", "Value(("})
    EXPECT_THAT(hostErrorOf([&] { host.memberFunctions("SampleBase", wrong); }), HasSubstr("SampleBase.")) << wrong;
  EXPECT_THROW(host.memberFunctions("NoSuchClass", "Value() as Integer"), HostError);
}

TEST_F(Calls, MissingMembersAndBadReceivers) {
  EXPECT_THAT(hostErrorOf([&] { host.call(overloads, "NoSuchMethod"); }), HasSubstr("SampleOverloads.NoSuchMethod"));
  EXPECT_THROW(host.callShared("SampleBase", "NoSuchMethod"), HostError);
  EXPECT_THROW(host.callShared("NoSuchClass", "Describe"), HostError);
  EXPECT_THROW(host.call(Object(), "Value"), HostError);
  EXPECT_THROW(host.call(overloads, "Constructor"), HostError);
}

}  // namespace
}  // namespace xhost::testing
