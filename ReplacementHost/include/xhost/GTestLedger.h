// Runs the host ledger around every test: a test fails when it leaves objects
// or strings referenced or misused the host. The check runs after the test
// body and its fixture are gone, so handles held by the fixture are released.
#pragma once

#include <gtest/gtest.h>

namespace xhost {

class LedgerListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& test) override;
  void OnTestEnd(const ::testing::TestInfo& test) override;
};

// Appends a LedgerListener to gtest's listeners (which then own it).
void installLedgerListener();

}  // namespace xhost
