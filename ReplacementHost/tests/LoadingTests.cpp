// Loading a plugin and the resolver's controls.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

TEST(Loading, MissingFileIsAHostError) {
  EXPECT_THROW(Host::instance().loadPlugin("/nonexistent/plugin.so"), HostError);
}

TEST(Loading, LibraryWithoutPluginEntryIsAHostError) {
  try {
    Host::instance().loadPlugin("libm.so.6");
    FAIL() << "loaded a library without REALPluginMain";
  } catch (const HostError& error) {
    EXPECT_THAT(error.what(), HasSubstr("REALPluginMain"));
  }
}

TEST(Loading, RegistrationsKeepThePluginsOrder) {
  std::vector<std::string> seen;
  for (const Host::Registration& r : sampleHost().registrations()) seen.push_back(r.kind + " " + r.name);
  std::vector<std::string> expected = {"interface ISampleShape", "class SampleBase",    "class SampleDerived",
                                       "class SampleOther",      "class SampleEmitter", "class SampleError",
                                       "class SampleThrower",    "module SampleModule", "class SampleOverloads",
                                       "class SampleHostUse"};
  ASSERT_GE(seen.size(), expected.size());
  seen.resize(expected.size());  // other tests may register more records through the resolver
  EXPECT_EQ(seen, expected);
}

TEST(Loading, SecondLoadOfTheSamePluginDoesNothing) {
  Host& host = sampleHost();
  size_t before = host.registrations().size();
  host.resetLookupCounts();
  host.loadPlugin(SAMPLE_PLUGIN_PATH);
  EXPECT_EQ(host.registrations().size(), before);
  EXPECT_EQ(host.lookupCount("RegisterPluginVersion"), 0u);
}

TEST(Loading, RegistrationRecordsPointAtThePluginsRecords) {
  Host& host = sampleHost();
  for (const Host::Registration& r : host.registrations()) {
    if (r.kind == "class") {
      EXPECT_EQ(r.record, host.classRecord(r.name)) << r.name;
    }
  }
  EXPECT_EQ(host.classRecord("MemoryBlock"), nullptr) << "host classes are not the plugin's";
  EXPECT_EQ(host.classRecord("NoSuchClass"), nullptr);
}

TEST(Resolver, ServesEveryEntryTheGlueNames) {
  const char* names[] = {
#define HOST_CACHE(cache, entry) entry,
#include "HostWrappers.def"
  };
  for (const char* name : names) EXPECT_NE(sampleHost().resolver()(name), nullptr) << name;
}

TEST(Resolver, CountsEveryRequestServedOrNot) {
  Host& host = sampleHost();
  host.resetLookupCounts();
  host.resolver()("REALLockObject");
  host.resolver()("REALLockObject");
  host.resolver()("NoSuchHostEntry");
  EXPECT_EQ(host.lookupCount("REALLockObject"), 2u);
  EXPECT_EQ(host.lookupCount("NoSuchHostEntry"), 1u);
  EXPECT_EQ(host.lookupCount("REALUnlockObject"), 0u);
  host.resetLookupCounts();
  EXPECT_EQ(host.lookupCount("REALLockObject"), 0u);
}

TEST(Resolver, WithheldEntryIsNullUntilRestoredAndStillCounted) {
  Host& host = sampleHost();
  void* own = host.resolver()("RuntimeUBound");
  host.withholdEntry("RuntimeUBound");
  host.resetLookupCounts();
  EXPECT_EQ(host.resolver()("RuntimeUBound"), nullptr);
  EXPECT_EQ(host.lookupCount("RuntimeUBound"), 1u);
  host.restoreEntry("RuntimeUBound");
  EXPECT_EQ(host.resolver()("RuntimeUBound"), own);
}

int64_t fakeUBound(REALarrayStruct*) { return 41; }

TEST(Resolver, ReplacementIsServedUntilRestored) {
  Host& host = sampleHost();
  void* own = host.resolver()("RuntimeUBound");
  host.replaceEntry("RuntimeUBound", reinterpret_cast<void*>(fakeUBound));
  EXPECT_EQ(host.resolver()("RuntimeUBound"), reinterpret_cast<void*>(fakeUBound));
  host.replaceEntry("RuntimeUBound", nullptr);
  EXPECT_EQ(host.resolver()("RuntimeUBound"), own);
  host.replaceEntry("RuntimeUBound", reinterpret_cast<void*>(fakeUBound));
  host.restoreEntry("RuntimeUBound");
  EXPECT_EQ(host.resolver()("RuntimeUBound"), own);
}

TEST(Resolver, ReplacementCanAddAnEntryTheHostLacks) {
  Host& host = sampleHost();
  EXPECT_EQ(host.resolver()("REALGetRBVersion"), nullptr);
  host.replaceEntry("REALGetRBVersion", reinterpret_cast<void*>(fakeUBound));
  EXPECT_EQ(host.resolver()("REALGetRBVersion"), reinterpret_cast<void*>(fakeUBound));
  host.restoreEntry("REALGetRBVersion");
  EXPECT_EQ(host.resolver()("REALGetRBVersion"), nullptr);
}

TEST(Resolver, RegisteringBeforeAnnouncingVersion13IsMisuse) {
  Host& host = sampleHost();
  auto announce = hostEntry<void (*)(int)>("RegisterPluginVersion");
  auto registerInterface = hostEntry<void (*)(REALinterfaceDefinition*)>("PluginRegisterInterface");
  static REALinterfaceDefinition early = {kPluginInterfaceVersion, 0, "IEarlyInterface", {}};
  announce(12);
  registerInterface(&early);
  announce(13);
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("announced version 12"));
  EXPECT_THAT(problems, HasSubstr("PluginRegisterInterface: called before the plugin announced interface version 13"));
  (void)host;
}

}  // namespace
}  // namespace xhost::testing

namespace xhost::testing {
namespace {

int gTaskRuns = 0;
void CountRun(void*) { ++gTaskRuns; }

// The run loop runs a background task once its period has passed; a turn in
// which every task falls due runs one registered a moment ago as well.
TEST(RunLoop, BackgroundTasksRunWhenDueOrWhenEveryTaskFallsDue) {
  Host& host = sampleHost();
  auto registerTask = hostEntry<int32_t (*)(void (*)(void*), uint32_t, void*)>("PluginRegisterBackgroundTask");
  auto unregisterTask = hostEntry<void (*)(int32_t)>("PluginUnregisterBackgroundTask");
  gTaskRuns = 0;
  const int32_t task = registerTask(&CountRun, 60000, nullptr);
  ASSERT_GE(task, 0);
  host.idle(std::chrono::milliseconds(0));
  EXPECT_EQ(gTaskRuns, 0) << "a task ran before its period passed";
  host.runBackgroundTasks();
  EXPECT_EQ(gTaskRuns, 1);
  host.idle(std::chrono::milliseconds(0));
  EXPECT_EQ(gTaskRuns, 1) << "its period starts again from that run";
  unregisterTask(task);
  host.runBackgroundTasks();
  EXPECT_EQ(gTaskRuns, 1) << "an unregistered task ran";
}

}  // namespace
}  // namespace xhost::testing
