// Events implemented by host-side subclasses and called by the plugin.
#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

struct Notification {
  std::string selfClass;
  std::string message;
  int32_t count = 0;
};

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    host.defineSubclass(
        "LoudEmitter", "SampleEmitter",
        {{"Notify",
          [this](const Object& self, const std::vector<Value>& args) -> Value {
            received.push_back({self.className(), text(args.at(0)), std::get<Int32>(args.at(1)).value});
            return true;
          }},
         {"Name", [this](const Object&, const std::vector<Value>&) -> Value { return host.newString("loud"); }},
         {"Measure", [](const Object&, const std::vector<Value>& args) -> Value { return asDouble(args.at(0)) * 3; }}});
  }

  Host& host = sampleHost();
  std::vector<Notification> received;
};

TEST_F(Events, WithoutAHandlerThePluginGetsNull) {
  Object plain = host.newObject("SampleEmitter");
  EXPECT_FALSE(asBoolean(host.call(plain, "HasHandler")));
  EXPECT_FALSE(asBoolean(host.call(plain, "Fire", {host.newString("unheard"), Int32{1}})));
  EXPECT_TRUE(asString(host.call(plain, "AskName")).isNil());
}

TEST_F(Events, TheHandlerRunsWithTheInstanceAndTheDeclaredArguments) {
  Object loud = host.newObject("LoudEmitter");
  EXPECT_TRUE(asBoolean(host.call(loud, "HasHandler")));
  EXPECT_TRUE(asBoolean(host.call(loud, "Fire", {host.newString("hello"), Int32{3}})));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].selfClass, "LoudEmitter");
  EXPECT_EQ(received[0].message, "hello");
  EXPECT_EQ(received[0].count, 3);
  EXPECT_DOUBLE_EQ(asDouble(host.call(loud, "Measure", {1.5})), 4.5);
}

// As the host hands any argument: the handler's instance and arguments carry
// no reference of their own, and copies the handler keeps take their own.
TEST_F(Events, AHandlerGetsItsInstanceAndArgumentsBorrowed) {
  Object kept;
  String keptText;
  int64_t referencesDuringEvent = -1;
  host.defineSubclass("CountingEmitter", "SampleEmitter",
                      {{"Notify", [&](const Object& self, const std::vector<Value>& args) -> Value {
                          referencesDuringEvent = host.refCount(self);
                          kept = self;
                          keptText = asString(args.at(0));
                          return true;
                        }}});
  Object counting = host.newObject("CountingEmitter");
  String message = host.newString("counted");
  EXPECT_TRUE(asBoolean(host.call(counting, "Fire", {message, Int32{1}})));
  EXPECT_EQ(referencesDuringEvent, 1) << "the caller's own handle only";
  EXPECT_EQ(host.refCount(counting), 2);
  EXPECT_EQ(host.refCount(message), 2);
}

TEST_F(Events, AStringResultOfAHandlerBelongsToThePlugin) {
  Object loud = host.newObject("LoudEmitter");
  String name = asString(host.call(loud, "AskName"));
  EXPECT_EQ(name.bytes(), "loud");
  EXPECT_EQ(host.refCount(name), 1);
}

TEST_F(Events, HandlersAreFoundThroughTheClassChain) {
  host.defineSubclass("QuietEmitter", "LoudEmitter");
  Object quiet = host.newObject("QuietEmitter");
  EXPECT_TRUE(asBoolean(host.call(quiet, "Fire", {host.newString("inherited"), Int32{1}})));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].selfClass, "QuietEmitter");
}

TEST_F(Events, RedefiningASubclassReplacesItsHandlers) {
  host.defineSubclass("ChangingEmitter", "SampleEmitter",
                      {{"Measure", [](const Object&, const std::vector<Value>&) -> Value { return 1.0; }}});
  Object changing = host.newObject("ChangingEmitter");
  EXPECT_DOUBLE_EQ(asDouble(host.call(changing, "Measure", {0.0})), 1.0);
  host.defineSubclass("ChangingEmitter", "SampleEmitter",
                      {{"Measure", [](const Object&, const std::vector<Value>&) -> Value { return 2.0; }}});
  EXPECT_DOUBLE_EQ(asDouble(host.call(changing, "Measure", {0.0})), 2.0);
  EXPECT_THROW(host.defineSubclass("ChangingEmitter", "SampleBase"), HostError) << "another superclass";
}

TEST_F(Events, DefiningASubclassChecksItsSuperclassAndEvents) {
  EXPECT_THROW(host.defineSubclass("Stray", "NoSuchClass"), HostError);
  EXPECT_THROW(host.defineSubclass("Stray", "ISampleShape"), HostError);
  EXPECT_THROW(
      host.defineSubclass("Stray", "SampleEmitter",
                          {{"NoSuchEvent", [](const Object&, const std::vector<Value>&) -> Value { return {}; }}}),
      HostError);
  EXPECT_THROW(host.defineSubclass("SampleBase", "SampleEmitter"), HostError) << "the name is taken";
}

TEST_F(Events, AnExceptionRaisedInAHandlerReachesTheCallerOfThePlugin) {
  host.defineSubclass("FailingEmitter", "SampleEmitter",
                      {{"Notify", [this](const Object&, const std::vector<Value>& args) -> Value {
                          host.call(host.newObject("SampleThrower"), "Fail", {args.at(0), int64_t{5}});
                          return true;
                        }}});
  Object failing = host.newObject("FailingEmitter");
  try {
    host.call(failing, "Fire", {host.newString("from the handler"), Int32{1}});
    FAIL() << "no exception";
  } catch (const XojoException& raised) {
    EXPECT_EQ(raised.message, "from the handler");
    EXPECT_EQ(raised.errorNumber, 5);
  }
}

TEST_F(Events, AHostErrorInAHandlerReachesTheCallerOfThePlugin) {
  host.defineSubclass(
      "BrokenEmitter", "SampleEmitter",
      {{"Notify", [](const Object&, const std::vector<Value>&) -> Value { throw HostError("broken handler"); }}});
  Object broken = host.newObject("BrokenEmitter");
  EXPECT_THROW(host.call(broken, "Fire", {host.newString("x"), Int32{1}}), HostError);
}

TEST_F(Events, AResultOfTheWrongTypeIsReported) {
  host.defineSubclass("WrongEmitter", "SampleEmitter",
                      {{"Measure", [](const Object&, const std::vector<Value>&) -> Value { return true; }}});
  Object wrong = host.newObject("WrongEmitter");
  EXPECT_DOUBLE_EQ(asDouble(host.call(wrong, "Measure", {1.0})), 0.0);
  EXPECT_THAT(ledgerText(), HasSubstr("handler returned Boolean for a Double result"));
}

TEST_F(Events, AskingForAnEventTheObjectDoesNotHaveIsMisuse) {
  auto getEvent = hostEntry<REALproc (*)(REALobjectStruct*, uintptr_t)>("GetEventInstance");
  uintptr_t notify = host.classRecord("SampleEmitter")->events[0].hostIdentifier;
  Object base = host.newObject("SampleBase");
  EXPECT_EQ(getEvent(base.get(), notify), nullptr);
  EXPECT_EQ(getEvent(host.newObject("LoudEmitter").get(), 12345), nullptr);
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("SampleBase has no event SampleEmitter.Notify"));
  EXPECT_THAT(problems, HasSubstr("12345 is not an event identifier"));
}

TEST_F(Events, ADestructorRunsOnceTheLastReferenceGoes) {
  int ran = 0;
  host.defineSubclass("CountedObject", "Object",
                      {{"Destructor", [&ran](const Object& self, const std::vector<Value>&) -> Value {
                          EXPECT_TRUE(self.isNil());
                          ++ran;
                          return {};
                        }}});
  Object first = host.newObject("CountedObject");
  Object second = first;
  first = Object();
  EXPECT_EQ(ran, 0);
  second = Object();
  EXPECT_EQ(ran, 1);
}

TEST_F(Events, AFailingDestructorIsReported) {
  host.defineSubclass(
      "FailingDestructor", "Object",
      {{"Destructor", [](const Object&, const std::vector<Value>&) -> Value { throw HostError("gone wrong"); }}});
  host.newObject("FailingDestructor");
  EXPECT_THAT(ledgerText(), HasSubstr("the Destructor of FailingDestructor failed: gone wrong"));
}

}  // namespace
}  // namespace xhost::testing
