#include "LeakRepetition.h"

#include <algorithm>

namespace api_tests {

namespace {

// regrtest's numbers of rounds: three to warm up, then the measured ones.
// The warm-up also runs long enough to fill Python's free lists, which keep
// up to 100 freed objects of a kind allocated for reuse.
constexpr int kWarmUpRounds = 3;
constexpr int kWarmUpCalls = 120;
constexpr int kMeasuredRounds = 4;

}  // namespace

LeakRepetition::LeakRepetition() {
  quantities_ = {
      {"host objects", [] { return static_cast<int64_t>(host().totals().objects); }},
      {"host strings", [] { return static_cast<int64_t>(host().totals().strings); }},
      {"host references", [] { return host().totals().references; }},
  };
}

LeakRepetition::LeakRepetition(PythonHelper& python) : LeakRepetition() {
  python_ = &python;
  quantities_.insert(quantities_.begin(),
                     {{"sys.getallocatedblocks()", [this] { return python_->IntegerOf("sys.getallocatedblocks()"); }},
                      {"sys.getrefcount(sys.stdout)", [this] { return python_->RefCount("sys.stdout"); }}});
}

LeakRepetition& LeakRepetition::WatchRefCount(const std::string& expression) {
  quantities_.push_back({"sys.getrefcount(" + expression + ")",
                         [this, expression] { return python_->RefCount(expression); }, true, expression == "None"});
  return *this;
}

LeakRepetition& LeakRepetition::Calls(int perRound) {
  calls_ = perRound;
  return *this;
}

std::vector<int64_t> LeakRepetition::Read() const {
  // As regrtest does before it counts: the type attribute cache keeps a name
  // per slot, and a name made anew by each call can fill thousands of slots.
  if (python_) python_->Run("sys._clear_type_cache()");
  std::vector<int64_t> values;
  for (const Quantity& quantity : quantities_) values.push_back(quantity.read());
  return values;
}

std::vector<std::string> LeakRepetition::Leaks(const std::function<void()>& operation) {
  std::vector<std::string> leaks = OverReleases(operation);
  std::vector<std::vector<int64_t>> readings;  // after the last warm-up round, then after each measured one
  const int warmUpRounds = std::max(kWarmUpRounds, (kWarmUpCalls + calls_ - 1) / calls_);
  for (int round = 0; round < warmUpRounds + kMeasuredRounds; ++round) {
    for (int call = 0; call < calls_; ++call) operation();
    if (round >= warmUpRounds - 1) readings.push_back(Read());
  }
  for (size_t q = 0; q < quantities_.size(); ++q) {
    std::string growth;
    bool grewEveryRound = true;
    for (size_t round = 1; round < readings.size(); ++round) {
      const int64_t delta = readings[round][q] - readings[round - 1][q];
      grewEveryRound = grewEveryRound && delta >= 1;
      growth += " " + std::to_string(delta);
    }
    if (grewEveryRound)
      leaks.push_back(quantities_[q].name + " grew by" + growth + " in rounds of " + std::to_string(calls_));
  }
  return leaks;
}

// An object released once too often by a call loses a count that nothing
// gave it; after enough calls it is freed, and its memory may be reused by an
// object of the same kind with a plausible count. So the counts are compared
// across the very first call, before any warm-up.
std::vector<std::string> LeakRepetition::OverReleases(const std::function<void()>& operation) {
  std::vector<size_t> counted;
  for (size_t q = 0; q < quantities_.size(); ++q)
    if (quantities_[q].refCount && !quantities_[q].shared) counted.push_back(q);
  if (counted.empty()) return {};
  std::vector<int64_t> before;
  for (size_t q : counted) before.push_back(quantities_[q].read());
  operation();
  std::vector<std::string> found;
  for (size_t i = 0; i < counted.size(); ++i) {
    const int64_t after = quantities_[counted[i]].read();
    if (after < before[i])
      found.push_back(quantities_[counted[i]].name + " fell from " + std::to_string(before[i]) + " to " +
                      std::to_string(after) + " in the first call: a reference given back that was not taken");
  }
  return found;
}

int64_t HiddenReferences(PythonHelper& python, const std::string& expression) {
  // A container may hold the object more than once (sys.__stdout__ beside sys.stdout).
  python.Run(
      "import gc\n"
      "def _held_by(referrer, target):\n"
      "    items = referrer.values() if isinstance(referrer, dict) else referrer\n"
      "    if isinstance(referrer, (dict, list, tuple)):\n"
      "        return max(1, sum(1 for item in items if item is target))\n"
      "    return 1\n");
  // The 1 is getrefcount's own argument.
  return python.IntegerOf("sys.getrefcount(" + expression + ") - 1 - sum(_held_by(r, " + expression +
                          ") for r in gc.get_referrers(" + expression + "))");
}

std::string Describe(const std::vector<std::string>& leaks) {
  std::string text;
  for (const std::string& leak : leaks) text += "\n  " + leak;
  return text;
}

}  // namespace api_tests
