// The ledger: leaks, over-releases, dead and unknown handles, and the gtest
// listener that checks every test.
#include <unistd.h>

#include <cstdio>
#include <tuple>

#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(Ledger, CleanWhenEverythingWasReleased) {
  Host& host = sampleHost();
  host.ledgerBegin();
  {
    Object base = host.newObject("SampleBase");
    String text = host.newString("transient");
  }
  EXPECT_TRUE(host.ledgerEnd().clean());
}

TEST(Ledger, TotalsCountLiveObjectsStringsAndTheirReferences) {
  Host& host = sampleHost();
  const Host::Totals before = host.totals();
  {
    Object base = host.newObject("SampleBase");
    Object again = base;
    String text = host.newString("counted");
    const Host::Totals during = host.totals();
    EXPECT_EQ(during.objects, before.objects + 1);
    EXPECT_EQ(during.strings, before.strings + 1);
    EXPECT_EQ(during.references, before.references + 3);
  }
  const Host::Totals after = host.totals();
  EXPECT_EQ(after.objects, before.objects);
  EXPECT_EQ(after.strings, before.strings);
  EXPECT_EQ(after.references, before.references);
}

TEST(Ledger, NamesLeakedObjectsAndStrings) {
  Host& host = sampleHost();
  host.ledgerBegin();
  host.callShared("SampleHostUse", "Leak");
  REALstringStruct* kept = host.newString("left behind").release();
  LedgerReport report = host.ledgerEnd();
  EXPECT_THAT(report.text(), HasSubstr("leak: SampleBase #"));
  EXPECT_THAT(report.text(), HasSubstr("leak: string \"left behind\""));
  String::adopt(kept);
  forgetLedger();  // the leaked SampleBase stays; it is no longer this test's
}

TEST(Ledger, HandlesHeldByHostCodeCountUntilDropped) {
  Host& host = sampleHost();
  host.ledgerBegin();
  Object held = host.newObject("SampleBase");
  EXPECT_THAT(host.ledgerEnd().text(), HasSubstr("SampleBase"));
  held = Object();
  EXPECT_TRUE(host.ledgerEnd().clean());
}

TEST(Ledger, OverReleaseShowsAsUseOfADeadObject) {
  Host& host = sampleHost();
  Object base = host.newObject("SampleBase");
  host.callShared("SampleHostUse", "OverRelease", {base});
  EXPECT_EQ(host.refCount(base), -1) << "the plugin dropped the reference the test held";
  base = Object();
  EXPECT_THAT(ledgerText(), HasSubstr("Object handle release: use of the dead object SampleBase #"));
}

TEST(Ledger, DeadHandleUseNamesTheClass) {
  sampleHost().callShared("SampleHostUse", "UseDead");
  EXPECT_THAT(ledgerText(), HasSubstr("REALLockObject: use of the dead object SampleBase #"));
}

// Kept dead handles name what they were; freed ones are no longer known.
TEST(Ledger, DeadHandlesAreKeptUnlessFreedAtOnce) {
  Host& host = sampleHost();
  auto lock = hostEntry<void (*)(REALobjectStruct*)>("REALLockObject");
  auto lockString = hostEntry<void (*)(REALstringStruct*)>("REALLockString");
  for (auto [keep, objectProblem, stringProblem] :
       {std::tuple{true, "REALLockObject: use of the dead object SampleBase #",
                   "REALLockString: use of the dead string #"},
        std::tuple{false, "REALLockObject: unknown object handle", "REALLockString: unknown string handle"}}) {
    host.keepDeadHandles(keep);
    REALobjectStruct* object = host.newObject("SampleBase").get();
    REALstringStruct* string = host.newString("gone").get();
    lock(object);
    lockString(string);
    host.keepDeadHandles(true);
    std::string problems = ledgerText();
    EXPECT_THAT(problems, HasSubstr(objectProblem)) << "kept: " << keep;
    EXPECT_THAT(problems, HasSubstr(stringProblem)) << "kept: " << keep;
  }
}

TEST(Ledger, UnknownHandlesAreReportedNotFollowed) {
  auto lock = hostEntry<void (*)(REALobjectStruct*)>("REALLockObject");
  auto unlockString = hostEntry<void (*)(REALstringStruct*)>("REALUnlockString");
  int notAHandle = 0;
  lock(reinterpret_cast<REALobjectStruct*>(&notAHandle));
  unlockString(reinterpret_cast<REALstringStruct*>(&notAHandle));
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("REALLockObject: unknown object handle"));
  EXPECT_THAT(problems, HasSubstr("REALUnlockString: unknown string handle"));
}

TEST(Ledger, ExpectedRetainedObjectsAreNotLeaks) {
  Host& host = sampleHost();
  host.ledgerBegin();
  Object kept = host.newObject("SampleBase");
  host.callShared("SampleHostUse", "Keep", {kept});
  host.expectRetained(kept);
  kept = Object();
  EXPECT_TRUE(host.ledgerEnd().clean());
  host.clearExpectedRetained();
  EXPECT_THAT(host.ledgerEnd().text(), HasSubstr("leak: SampleBase"));
  host.callShared("SampleHostUse", "Drop");
  EXPECT_TRUE(host.ledgerEnd().clean());
}

TEST(Ledger, AnOlderObjectGainingReferencesIsALeak) {
  Host& host = sampleHost();
  Object older = host.newObject("SampleBase");
  host.ledgerBegin();
  host.callShared("SampleHostUse", "Keep", {older});
  EXPECT_THAT(host.ledgerEnd().text(), HasSubstr("gained 1 reference"));
  host.callShared("SampleHostUse", "Drop");
  EXPECT_TRUE(host.ledgerEnd().clean());
}

TEST(Ledger, MisuseIsReportedOnce) {
  sampleHost().callShared("SampleHostUse", "UseDead");
  EXPECT_THAT(ledgerText(), HasSubstr("dead object"));
  EXPECT_THAT(ledgerText(), Not(HasSubstr("dead object")));
}

TEST(Ledger, FinalReportCoversTheWholeRun) {
  Host& host = sampleHost();
  Object base = host.newObject("SampleBase");
  EXPECT_THAT(host.finalReport().text(), HasSubstr("SampleBase"));
}

// Run only by the next test, in a child process: it leaks on purpose.
TEST(LedgerListener, DISABLED_LeakingTest) { sampleHost().newString("leaked by a test").release(); }

TEST(LedgerListener, FailsATestThatLeaks) {
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  std::string command = std::string("'") + self +
                        "' --gtest_also_run_disabled_tests --gtest_filter=LedgerListener.DISABLED_LeakingTest 2>&1";
  FILE* child = popen(command.c_str(), "r");
  ASSERT_NE(child, nullptr);
  std::string output;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, child)) output.append(buffer, n);
  int status = pclose(child);
  EXPECT_NE(status, 0);
  EXPECT_THAT(output, HasSubstr("the host ledger is not clean after this test"));
  EXPECT_THAT(output, HasSubstr("leak: string \"leaked by a test\""));
  EXPECT_THAT(output, HasSubstr("[  FAILED  ] LedgerListener.DISABLED_LeakingTest"));
}

}  // namespace
}  // namespace xhost::testing
