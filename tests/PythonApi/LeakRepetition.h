// Leak repetition in the manner of CPython's regrtest -R: an operation runs in
// warm-up rounds, then in measured rounds of a fixed number of calls, and the
// quantities watched are read after every round. One that grew in every
// measured round leaks (a cache that fills up grows once, then stops).
// Always watched: the blocks Python has allocated, sys.stdout's reference
// count, and the host's live objects, strings and their references; only the
// host's while Python is not running.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ApiTestSupport.h"

namespace api_tests {

class LeakRepetition {
 public:
  explicit LeakRepetition(PythonHelper& python);
  LeakRepetition();  // for members called while Python is not running: the host's counts only

  // sys.getrefcount of what the expression names (evaluated in apitest).
  LeakRepetition& WatchRefCount(const std::string& expression);
  LeakRepetition& Calls(int perRound);  // 10 unless changed

  // One line per quantity that grew in every measured round, with its
  // growth per round; empty when nothing did.
  std::vector<std::string> Leaks(const std::function<void()>& operation);

 private:
  struct Quantity {
    std::string name;
    std::function<int64_t()> read;
    bool refCount = false;  // a reference count, which must never fall below its start
    bool shared = false;    // of an object that all code references (None): its count may fall at any time
  };
  std::vector<int64_t> Read() const;
  std::vector<std::string> OverReleases(const std::function<void()>& operation);

  std::vector<Quantity> quantities_;
  PythonHelper* python_ = nullptr;  // not owned; null when Python is not running
  int calls_ = 10;
};

// References to what the expression names that no Python object accounts
// for (its count less gc.get_referrers): held from C, or leaked. A member
// that makes a new object each time leaks it unseen by Leaks; this shows it.
int64_t HiddenReferences(PythonHelper& python, const std::string& expression);

// The lines of LeakRepetition::Leaks, as a test failure message.
std::string Describe(const std::vector<std::string>& leaks);

}  // namespace api_tests
