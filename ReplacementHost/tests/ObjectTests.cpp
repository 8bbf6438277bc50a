// Instances: initializers and destructors, constructors, references.
#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

class Objects : public ::testing::Test {
 protected:
  void SetUp() override { clearSampleTrace(); }
  Host& host = sampleHost();
};

TEST_F(Objects, InitializersRunRootToLeafOnZeroedBlocksAndDestructorsLeafToRoot) {
  Object derived = host.newObject("SampleDerived");
  EXPECT_EQ(sampleTrace(), "init:SampleBase init:SampleDerived");
  clearSampleTrace();
  derived = Object();
  EXPECT_EQ(sampleTrace(), "destroy:SampleDerived destroy:SampleBase");
}

TEST_F(Objects, NewRunsTheMatchingConstructorAfterTheInitializers) {
  EXPECT_EQ(asInteger(host.call(host.newObject("SampleBase"), "Value")), 1) << "Constructor()";
  EXPECT_EQ(asInteger(host.call(host.newObject("SampleBase", {int64_t{8}}), "Value")), 8);
}

TEST_F(Objects, PluginNewInstanceRunsInitializersButNoConstructor) {
  auto newInstance = hostEntry<REALobjectStruct* (*)(REALclassDefinition*)>("PluginNewInstanceOfClass");
  Object base = Object::adopt(newInstance(const_cast<REALclassDefinition*>(host.classRecord("SampleBase"))));
  EXPECT_EQ(sampleTrace(), "init:SampleBase");
  EXPECT_EQ(asInteger(host.call(base, "Value")), 0);
  EXPECT_EQ(asInteger(host.getProperty(base, "Tag")), 0x7A6);
  EXPECT_EQ(host.refCount(base), 1);
}

TEST_F(Objects, PluginNewInstanceOfAnUnknownRecordIsMisuse) {
  auto newInstance = hostEntry<REALobjectStruct* (*)(REALclassDefinition*)>("PluginNewInstanceOfClass");
  REALclassDefinition stranger{};
  EXPECT_EQ(newInstance(&stranger), nullptr);
  EXPECT_THAT(ledgerText(), HasSubstr("not that of a registered plugin class"));
}

TEST_F(Objects, SubclassWithoutConstructorsUsesItsSuperclasssConstructors) {
  Object derived = host.newObject("SampleDerived", {int64_t{9}});
  EXPECT_EQ(asInteger(host.call(derived, "Value")), 9);
}

TEST_F(Objects, ConstructorsOfASubclassHideThoseOfItsSuperclass) {
  EXPECT_THROW(host.newObject("SampleOther", {int64_t{9}}), HostError);
  EXPECT_THROW(host.newObject("SampleOther"), HostError);
  Object other = host.newObject("SampleOther", {host.newString("four")});
  EXPECT_EQ(asInteger(host.call(other, "Value")), 4);
}

TEST_F(Objects, ClassWithoutConstructorsTakesNoArguments) {
  EXPECT_NO_THROW(host.newObject("SampleEmitter"));
  EXPECT_THROW(host.newObject("SampleEmitter", {int64_t{1}}), HostError);
}

TEST_F(Objects, OnlyClassesCanBeCreated) {
  EXPECT_THROW(host.newObject("ISampleShape"), HostError);
  EXPECT_THROW(host.newObject("SampleModule"), HostError);
  EXPECT_THROW(host.newObject("NoSuchClass"), HostError);
}

TEST_F(Objects, HandlesCountReferences) {
  size_t before = host.liveObjects("SampleBase");
  Object base = host.newObject("SampleBase");
  EXPECT_EQ(host.refCount(base), 1);
  Object copy = base;
  EXPECT_EQ(host.refCount(base), 2);
  Object moved = std::move(copy);
  EXPECT_EQ(host.refCount(base), 2);
  EXPECT_TRUE(copy.isNil());
  REALobjectStruct* raw = moved.release();
  EXPECT_EQ(host.refCount(base), 2);
  Object::adopt(raw);
  EXPECT_EQ(host.refCount(base), 1);
  EXPECT_EQ(host.liveObjects("SampleBase"), before + 1);
  base = Object();
  EXPECT_EQ(host.liveObjects("SampleBase"), before);
}

TEST_F(Objects, LockAndUnlockThroughTheResolver) {
  auto lock = hostEntry<void (*)(REALobjectStruct*)>("REALLockObject");
  auto unlock = hostEntry<void (*)(REALobjectStruct*)>("REALUnlockObject");
  Object base = host.newObject("SampleBase");
  lock(base.get());
  EXPECT_EQ(host.refCount(base), 2);
  unlock(base.get());
  EXPECT_EQ(host.refCount(base), 1);
  lock(nullptr);
  unlock(nullptr);
}

TEST_F(Objects, ClassNameAndIsAFollowTheChainAndInterfaces) {
  Object derived = host.newObject("SampleDerived");
  EXPECT_EQ(derived.className(), "SampleDerived");
  EXPECT_TRUE(derived.isA("SampleDerived"));
  EXPECT_TRUE(derived.isA("SampleBase"));
  EXPECT_TRUE(derived.isA("ISampleShape"));
  EXPECT_TRUE(derived.isA("Object"));
  EXPECT_FALSE(derived.isA("SampleOther"));
  Object other = host.newObject("SampleOther", {host.newString("")});
  EXPECT_FALSE(other.isA("ISampleShape"));
  EXPECT_FALSE(Object().isA("Object"));
  EXPECT_EQ(Object().className(), "");
}

TEST_F(Objects, ADeadHandleIsNoLongerCounted) {
  Object base = host.newObject("SampleBase");
  REALobjectStruct* raw = base.get();
  base = Object();
  Object stale = Object::adopt(raw);
  EXPECT_EQ(host.refCount(stale), -1);
  EXPECT_THROW(host.call(stale, "Value"), HostError);
  stale.release();
}

TEST_F(Objects, DeadInstancesAreKeptPoisonedSoStaleReadsShow) {
  Object base = host.newObject("SampleBase", {int64_t{5}});
  const auto* block = reinterpret_cast<const unsigned char*>(base.get()) + host.classRecord("SampleBase")->forSystemUse;
  base = Object();
  EXPECT_EQ(block[0], 0xDD) << "quarantined, not freed, until the next ledger period";
}

TEST_F(Objects, WritingPastTheLastBlockIsReportedWhenTheObjectDies) {
  Object base = host.newObject("SampleBase");
  const REALclassDefinition* record = host.classRecord("SampleBase");
  reinterpret_cast<unsigned char*>(base.get())[record->forSystemUse + record->dataSize] = 0;
  base = Object();
  EXPECT_THAT(ledgerText(), HasSubstr("instance data was written past its end"));
}

}  // namespace
}  // namespace xhost::testing
