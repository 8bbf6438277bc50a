// What the host checks in the records, and what it writes into them.
#include <set>
#include <string>

#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

void nothing(REALobjectStruct*) {}
int64_t zero(REALobjectStruct*) { return 0; }

REALclassDefinition validRecord(const char* name) {
  REALclassDefinition record{};
  record.version = kPluginInterfaceVersion;
  record.name = name;
  record.interfaces = "";
  record.mFlags = REALconsoleSafe;
  return record;
}

void registerClassRecord(REALclassDefinition* record) {
  hostEntry<void (*)(REALclassDefinition*)>("PluginRegisterClass")(record);
}

REALmethodDefinition gUnparsable[] = {{reinterpret_cast<REALproc>(zero), nullptr, "Foo(x as) as Integer", 4, 0, {}}};
REALmethodDefinition gFlags5[] = {{reinterpret_cast<REALproc>(zero), nullptr, "Foo() as Integer", 5, 0, {}}};
REALmethodDefinition gFlags132[] = {{reinterpret_cast<REALproc>(zero), nullptr, "Foo() as Integer", 132, 0, {}}};
REALmethodDefinition gNoFunction[] = {{nullptr, nullptr, "Foo() as Integer", 4, 0, {}}};
REALmethodDefinition gSetterWithoutGetter[] = {
    {reinterpret_cast<REALproc>(nothing), reinterpret_cast<REALproc>(nothing), "Foo(x as Integer)", 4, 0, {}}};
REALmethodDefinition gTwice[] = {{reinterpret_cast<REALproc>(zero), nullptr, "Foo(a as Integer) as Integer", 4, 0, {}},
                                 {reinterpret_cast<REALproc>(zero), nullptr, "foo(b as Int64) as Integer", 4, 0, {}}};
REALconstant gNoValue[] = {{"NOVALUE", nullptr, 0, 0, {}}};
REALconstant gConstantFlags[] = {{"A = 1", nullptr, 1, 0, {}}};
const char* gBadMembers[] = {"1BAD = 1"};
const char* gGoodMembers[] = {"A = 1"};
REALenum gBadMember[] = {{"E", "Integer", 32, 0, gBadMembers, 1, {}}};
REALenum gEnumFlags[] = {{"E", "Integer", 0, 0, gGoodMembers, 1, {}}};
REALproperty gPropertyFlags[] = {{nullptr, "P", "Integer", 0, 0, reinterpret_cast<REALproc>(zero), nullptr, 0, {}}};
REALproperty gPropertyType[] = {{nullptr, "P", "Not A Type", 4, 0, reinterpret_cast<REALproc>(zero), nullptr, 0, {}}};
REALproperty gNoGetter[] = {{nullptr, "P", "Integer", 4, 0, nullptr, nullptr, 0, {}}};
REALevent gNullEvent[] = {{nullptr, 0, {0, 0}}};
REALeventInstance gEventInstances[] = {{"E", nullptr}};

struct BadRecord {
  const char* name;
  void (*spoil)(REALclassDefinition&);
  const char* expected;  // in the problem reported
};

const BadRecord kBadRecords[] = {
    {"Version", [](REALclassDefinition& r) { r.version = 12; }, "format version 12, expected 13"},
    {"NullName", [](REALclassDefinition& r) { r.name = nullptr; }, "not an identifier"},
    {"SpaceInName", [](REALclassDefinition& r) { r.name = "Bad Name"; }, "not an identifier"},
    {"DuplicateName", [](REALclassDefinition& r) { r.name = "SampleBase"; }, "exists already"},
    {"UnknownSuper", [](REALclassDefinition& r) { r.superName = "NoSuchClass"; },
     "superclass \"NoSuchClass\" is not registered"},
    {"InterfaceAsSuper", [](REALclassDefinition& r) { r.superName = "ISampleShape"; }, "is not registered"},
    {"UnknownInterface", [](REALclassDefinition& r) { r.interfaces = "NoSuchInterface"; },
     "interface NoSuchInterface is not registered"},
    {"ClassAsInterface", [](REALclassDefinition& r) { r.interfaces = "ISampleShape, SampleBase"; },
     "interface SampleBase is not registered"},
    {"ClassFlags", [](REALclassDefinition& r) { r.mFlags = 0x14; }, "bits other than 4, 8 and 0x100"},
    {"TableWithoutCount", [](REALclassDefinition& r) { r.methods = gFlags5; },
     "method table is set but its count is 0"},
    {"CountWithoutTable", [](REALclassDefinition& r) { r.constantCount = 2; },
     "constant table is null but its count is 2"},
    {"UnparsableDeclaration",
     [](REALclassDefinition& r) {
       r.methods = gUnparsable;
       r.methodCount = 1;
     },
     "expected a type"},
    {"MethodFlags",
     [](REALclassDefinition& r) {
       r.methods = gFlags5;
       r.methodCount = 1;
     },
     "flags 5, expected 4"},
    {"DefaultFlagsOnAMethod",
     [](REALclassDefinition& r) {
       r.methods = gFlags132;
       r.methodCount = 1;
     },
     "flags 132, expected 4"},
    {"MethodWithoutFunction",
     [](REALclassDefinition& r) {
       r.methods = gNoFunction;
       r.methodCount = 1;
     },
     "no function"},
    {"SetterWithoutGetter",
     [](REALclassDefinition& r) {
       r.methods = gSetterWithoutGetter;
       r.methodCount = 1;
     },
     "a setter needs a getter"},
    {"SameSignatureTwice",
     [](REALclassDefinition& r) {
       r.methods = gTwice;
       r.methodCount = 2;
     },
     "declared twice"},
    {"ConstantWithoutValue",
     [](REALclassDefinition& r) {
       r.constants = gNoValue;
       r.constantCount = 1;
     },
     "expected '='"},
    {"ConstantFlags",
     [](REALclassDefinition& r) {
       r.constants = gConstantFlags;
       r.constantCount = 1;
     },
     "flags 1, expected 0"},
    {"EnumerationMember",
     [](REALclassDefinition& r) {
       r.enums = gBadMember;
       r.enumCount = 1;
     },
     "expected a member name"},
    {"EnumerationFlags",
     [](REALclassDefinition& r) {
       r.enums = gEnumFlags;
       r.enumCount = 1;
     },
     "flags 0, expected 32"},
    {"PropertyFlags",
     [](REALclassDefinition& r) {
       r.properties = gPropertyFlags;
       r.propertyCount = 1;
     },
     "flags 0, expected 4"},
    {"PropertyType",
     [](REALclassDefinition& r) {
       r.properties = gPropertyType;
       r.propertyCount = 1;
     },
     "bad type"},
    {"PropertyWithoutGetter",
     [](REALclassDefinition& r) {
       r.properties = gNoGetter;
       r.propertyCount = 1;
     },
     "no getter"},
    {"EventWithoutDeclaration",
     [](REALclassDefinition& r) {
       r.events = gNullEvent;
       r.eventCount = 1;
     },
     "no declaration"},
    {"EventInstances",
     [](REALclassDefinition& r) {
       r.eventInstances = gEventInstances;
       r.eventInstanceCount = 1;
     },
     "not supported"},
};

class BadClassRecord : public ::testing::TestWithParam<BadRecord> {};

TEST_P(BadClassRecord, IsRejectedAndReported) {
  Host& host = sampleHost();
  size_t registered = host.registrations().size();
  REALclassDefinition record = validRecord("RejectedClass");
  GetParam().spoil(record);
  registerClassRecord(&record);
  EXPECT_EQ(host.registrations().size(), registered);
  EXPECT_EQ(host.classRecord("RejectedClass"), nullptr);
  EXPECT_EQ(record.forSystemUse, 0u) << "a rejected record gets no layout";
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("PluginRegisterClass: record rejected"));
  EXPECT_THAT(problems, HasSubstr(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Records, BadClassRecord, ::testing::ValuesIn(kBadRecords),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Registration, BadInterfaceAndModuleRecordsAreRejected) {
  Host& host = sampleHost();
  REALinterfaceDefinition badInterface = {11, 0, "IBadInterface", {}};
  hostEntry<void (*)(REALinterfaceDefinition*)>("PluginRegisterInterface")(&badInterface);
  REALmoduleDefinition badModule = {kPluginInterfaceVersion, 0, "BadModule", nullptr, 0, gNoValue, 0, {}};
  hostEntry<void (*)(REALmoduleDefinition*)>("PluginRegisterModule")(&badModule);
  hostEntry<void (*)(REALclassDefinition*)>("PluginRegisterClass")(nullptr);
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("interface \"IBadInterface\": format version 11"));
  EXPECT_THAT(problems, HasSubstr("module \"BadModule\": constant table and count disagree"));
  EXPECT_THAT(problems, HasSubstr("null record"));
  for (const Host::Registration& r : host.registrations()) EXPECT_NE(r.name, "BadModule");
}

TEST(Registration, EachClassBlockFollowsItsAncestorsBlocks) {
  Host& host = sampleHost();
  const REALclassDefinition* base = host.classRecord("SampleBase");
  const REALclassDefinition* derived = host.classRecord("SampleDerived");
  const REALclassDefinition* other = host.classRecord("SampleOther");
  const REALclassDefinition* error = host.classRecord("SampleError");
  EXPECT_EQ(base->forSystemUse, 16u) << "after the host's header";
  EXPECT_EQ(derived->forSystemUse, base->forSystemUse + base->dataSize);
  EXPECT_EQ(other->forSystemUse, base->forSystemUse + base->dataSize);
  EXPECT_EQ(error->forSystemUse, 32u) << "after RuntimeException's own block";
  for (const REALclassDefinition* record : {base, derived, other, error}) EXPECT_EQ(record->forSystemUse % 8, 0u);
}

TEST(Registration, BlocksAreWhereTheRecordsSay) {
  Host& host = sampleHost();
  Object derived = host.newObject("SampleDerived", {int64_t{5}});
  const char* instance = reinterpret_cast<const char*>(derived.get());
  const int64_t* baseBlock = reinterpret_cast<const int64_t*>(instance + host.classRecord("SampleBase")->forSystemUse);
  EXPECT_EQ(baseBlock[0], 5) << "the value the constructor stored";
  EXPECT_EQ(baseBlock[1], 0x7A6) << "the tag the initializer stored";
}

TEST(Registration, EveryEventGetsItsOwnIdentifier) {
  const REALclassDefinition* emitter = sampleHost().classRecord("SampleEmitter");
  ASSERT_EQ(emitter->eventCount, 3u);
  std::set<uintptr_t> identifiers;
  for (size_t i = 0; i < emitter->eventCount; ++i) {
    EXPECT_NE(emitter->events[i].hostIdentifier, 0u);
    identifiers.insert(emitter->events[i].hostIdentifier);
  }
  EXPECT_EQ(identifiers.size(), 3u);
}

REALmethodDefinition gLateTypeMethods[] = {
    {reinterpret_cast<REALproc>(zero), nullptr, "Make() as NotYetDeclared", 4, 0, {}},
    {reinterpret_cast<REALproc>(zero), nullptr, "Fine() as Integer", 4, 0, {}},
};

TEST(Registration, UnknownTypesAreReportedAndTheirMembersCannotBeCalled) {
  Host& host = sampleHost();
  static REALclassDefinition record = validRecord("LateTypes");
  record.methods = gLateTypeMethods;
  record.methodCount = 2;
  registerClassRecord(&record);
  ASSERT_NE(host.classRecord("LateTypes"), nullptr) << "a type may be declared later, so the record is taken";
  EXPECT_THAT(ledgerText(), HasSubstr("unknown type \"NotYetDeclared\""));
  Object late = host.newObject("LateTypes");
  EXPECT_THROW(host.call(late, "Make"), HostError);
  EXPECT_EQ(asInteger(host.call(late, "Fine")), 0);
}

TEST(Registration, TypesOfClassesRegisteredLaterResolveAfterStart) {
  Host& host = sampleHost();
  Object base = host.newObject("SampleBase");
  EXPECT_TRUE(asObject(host.call(base, "Partner")).isNil());
}

}  // namespace
}  // namespace xhost::testing
