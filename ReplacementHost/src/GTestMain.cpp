// main() of test programs: every test runs under the host ledger.
#include <cstdio>

#include "xhost/GTestLedger.h"
#include "xhost/Host.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  xhost::installLedgerListener();
  xhost::Host& host = xhost::Host::instance();
  host.setExitReport(false);
  int status = RUN_ALL_TESTS();
  // Misuse recorded outside any test (suite set-up and tear-down).
  host.ledgerBegin();
  xhost::LedgerReport rest = host.ledgerEnd();
  if (!rest.clean()) {
    std::fprintf(stderr, "host misuse outside the tests:\n%s\n", rest.text().c_str());
    status = 1;
  }
  return status;
}
