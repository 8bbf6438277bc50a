#include "xhost/GTestLedger.h"

#include "xhost/Host.h"

namespace xhost {

void LedgerListener::OnTestStart(const ::testing::TestInfo&) { Host::instance().ledgerBegin(); }

void LedgerListener::OnTestEnd(const ::testing::TestInfo&) {
  // Runs before gtest prints the result, while the test is still current,
  // so the failure is reported on this test.
  LedgerReport report = Host::instance().ledgerEnd();
  if (!report.clean()) ADD_FAILURE() << "the host ledger is not clean after this test:\n" << report.text();
}

void installLedgerListener() { ::testing::UnitTest::GetInstance()->listeners().Append(new LedgerListener); }

}  // namespace xhost
