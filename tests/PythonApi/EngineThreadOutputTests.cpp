// Text of Python's own threads under strain: threads that print faster than
// the application takes the text, threads printing while Python stops, a
// call that joins a printing thread, and the memory the queue may take.
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The process's peak resident memory so far, in KiB.
int64_t PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  return -1;
}

// Lines "name:number\n" of several writers: each writer's numbers must come
// in order and none may be missing. Events may carry several lines.
class LineTally {
 public:
  void Take(const std::string& text) {
    partial_ += text;
    size_t start = 0;
    for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = partial_.substr(start, end - start);
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string writer = line.substr(0, colon);
      const int64_t number = std::stoll(line.substr(colon + 1));
      auto found = next_.find(writer);
      const int64_t expected = found == next_.end() ? 0 : found->second;
      if (number != expected) inOrder_ = false;
      next_[writer] = number + 1;
      ++lines_;
    }
    partial_.erase(0, start);
  }
  int64_t lines() const { return lines_; }
  bool inOrder() const { return inOrder_; }
  int64_t linesOf(const std::string& writer) const {
    auto found = next_.find(writer);
    return found == next_.end() ? 0 : found->second;
  }

 private:
  std::string partial_;
  std::map<std::string, int64_t> next_;
  int64_t lines_ = 0;
  bool inOrder_ = true;
};

class ThreadOutput : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    DefineWriters();
  }
  void Restart() {
    RunningPython::Restart();
    DefineWriters();
  }
  void DefineWriters() {
    python.Run(
        "import threading, time\n"
        "# Each line one write: the lines of several threads never interleave.\n"
        "stop_threads = False\n"
        "def write_lines(name, count, pause=0):\n"
        "    for n in range(count):\n"
        "        if stop_threads: return\n"
        "        sys.stdout.write('%s:%d\\n' % (name, n))\n"
        "def write_forever(name):\n"
        "    n = 0\n"
        "    while not stop_threads:\n"
        "        sys.stdout.write('%s:%d\\n' % (name, n))\n"
        "        n += 1\n");
  }
  void TearDown() override {
    if (!python.module().isNil()) python.Run("stop_threads = True");
    RunningPython::TearDown();
  }
};

// A daemon thread that waits for room in a full queue while Python stops
// used to end the process (its forced exit was swallowed inside the plugin).
TEST_F(ThreadOutput, FinalizeWhileADaemonThreadWaitsForRoomEndsNeitherProcessNorText) {
  // Python abandons the frames of daemon threads at Finalize, and with them
  // what only those frames refer to: leaks are looked for before they start.
  CheckLeaksNowNotAtExit();
  for (bool withReceiver : {false, true}) {
    SCOPED_TRACE(withReceiver ? "with a receiver" : "without a receiver");
    int64_t events = 0;
    if (withReceiver) ListenToConsole("DaemonConsole", [&](const std::string&) { ++events; });
    python.Run(
        "big = 'x' * 65536\n"
        "def flood():\n"
        "    while True: sys.stdout.write(big)\n"
        "threading.Thread(target=flood, daemon=True).start()\n");
    std::this_thread::sleep_for(milliseconds(200));  // no call, no tick: the queue fills and the writer waits
    FinalizePython();
    EXPECT_FALSE(ErrorOccurred());
    if (withReceiver) {
      EXPECT_GT(events, 0);
    }
    Restart();
  }
}

// Ordinary threads still printing when Finalize comes are joined as Python
// does, in about the time their writes take, and everything they wrote is
// delivered, in order, before Finalize returns.
TEST_F(ThreadOutput, FinalizeJoinsPrintingThreadsQuicklyAndDeliversAllTheyWrote) {
  LineTally tally;
  ListenToConsole("FinalizeConsole", [&](const std::string& text) {
    tally.Take(text);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  });
  constexpr int kLines = 5000;
  python.Run("writers = [threading.Thread(target=write_lines, args=('w%d' % i, " + std::to_string(kLines) +
             ")) for i in range(4)]\n"
             "for thread in writers: thread.start()\n");
  const Clock::time_point start = Clock::now();
  FinalizePython();
  const double seconds = SecondsSince(start);
  std::printf("Finalize with 4 threads printing %d lines each, 0.1 ms handler: %.2f s, %lld lines delivered\n", kLines,
              seconds, static_cast<long long>(tally.lines()));
  EXPECT_EQ(tally.lines(), 4 * kLines) << "text lost or delivered after Finalize returned";
  EXPECT_TRUE(tally.inOrder());
  EXPECT_LT(seconds, 30.0) << "the writers were slowed by waiting";
  Restart();
}

// A call that joins a thread printing thousands of lines is not slowed by
// the plugin: past the memory bound the text goes to a file, not a wait.
TEST_F(ThreadOutput, AJoinedThreadPrintingThousandsOfLinesIsNotSlowedDown) {
  LineTally tally;
  ListenToConsole("JoinedConsole", [&](const std::string& text) { tally.Take(text); });
  constexpr int kLines = 20000;
  const Clock::time_point start = Clock::now();
  python.Run("worker = threading.Thread(target=write_lines, args=('w', " + std::to_string(kLines) +
             "))\n"
             "begun = time.monotonic()\n"
             "worker.start(); worker.join()\n"
             "joined_after = time.monotonic() - begun\n");
  const double joined = std::stod(python.TextOf("'%.6f' % joined_after"));
  for (int tick = 0; tick < 200 && tally.lines() < kLines; ++tick) host_.idle(milliseconds(10));
  std::printf("join of a thread printing %d lines: %.3f s; all delivered after %.3f s\n", kLines, joined,
              SecondsSince(start));
  EXPECT_LT(joined, 5.0) << "the writer waited inside the call";
  EXPECT_EQ(tally.lines(), kLines);
  EXPECT_TRUE(tally.inOrder());
}

// While a call runs, threads writing large texts take no more memory than
// the queue's bound: the rest waits in a temporary file. (No receiver while
// measuring: the replacement host keeps every string it made.)
TEST_F(ThreadOutput, LargeTextsWrittenDuringACallKeepMemoryBounded) {
  python.Run(
      "big = 'y' * 65536\n"
      "def write_big():\n"
      "    for _ in range(200): sys.stdout.write(big)\n"
      "def write_all():\n"
      "    writers = [threading.Thread(target=write_big) for _ in range(4)]\n"
      "    for thread in writers: thread.start()\n"
      "    for thread in writers: thread.join()\n");
  const int64_t before = PeakResidentKiB();
  python.Run("write_all()");
  const int64_t growth = PeakResidentKiB() - before;
  std::printf("4 threads x 200 writes of 64 KiB inside a call: peak memory grew %lld KiB\n",
              static_cast<long long>(growth));
  if (!UnderAddressSanitizer()) {  // its quarantine keeps what Python freed
    EXPECT_LT(growth, 24 * 1024) << "the queue grew with the text";
  }
  int64_t bytes = 0;
  ListenToConsole("LargeConsole", [&](const std::string& text) { bytes += static_cast<int64_t>(text.size()); });
  python.Run("write_all()");
  for (int tick = 0; tick < 500 && bytes < 4 * 200 * 65536; ++tick) host_.idle(milliseconds(10));
  EXPECT_EQ(bytes, 4 * 200 * 65536) << "text was lost";
}

// With threads printing faster than a slow handler takes the text, a trivial
// call and a turn of the run loop each spend about 50 ms delivering, then return.
TEST_F(ThreadOutput, ACallOrATickDeliversForAboutFiftyMillisecondsAtMost) {
  LineTally tally;
  ListenToConsole("SlowConsole", [&](const std::string& text) {
    tally.Take(text);
    std::this_thread::sleep_for(milliseconds(2));
  });
  python.Run(
      "writers = [threading.Thread(target=write_forever, args=('w%d' % i,), daemon=True) for i in range(4)]\n"
      "for thread in writers: thread.start()\n");
  double longestCall = 0, longestTick = 0;
  for (int round = 0; round < 5; ++round) {
    std::this_thread::sleep_for(milliseconds(100));  // the writers fill the queue
    Clock::time_point start = Clock::now();
    Engine("ErrorOccurred");
    longestCall = std::max(longestCall, SecondsSince(start));
    std::this_thread::sleep_for(milliseconds(20));
    start = Clock::now();
    host_.runBackgroundTasks();
    longestTick = std::max(longestTick, SecondsSince(start));
  }
  Engine("SetConsoleOutput", {Nil{}});
  python.Run("stop_threads = True\nfor thread in writers: thread.join()");
  std::printf("longest call %.1f ms, longest tick %.1f ms, %lld lines delivered\n", longestCall * 1000,
              longestTick * 1000, static_cast<long long>(tally.lines()));
  EXPECT_TRUE(tally.inOrder());
  EXPECT_GT(tally.lines(), 0);
  EXPECT_LT(longestCall, 0.5) << "a trivial call was trapped delivering text";
  EXPECT_LT(longestTick, 0.5) << "a turn of the run loop was trapped delivering text";
}

// A thread printing while the application idles: what is left over after a
// tick's budget comes at the next turns of the run loop, soon after.
TEST_F(ThreadOutput, TextLeftOverByATickComesAtTheNextTurnsOfTheRunLoop) {
  LineTally tally;
  ListenToConsole("IdleConsole", [&](const std::string& text) { tally.Take(text); });
  constexpr int kLines = 50000;
  python.Run("writer = threading.Thread(target=write_lines, args=('w', " + std::to_string(kLines) +
             "))\n"
             "writer.start()\n");
  const Clock::time_point start = Clock::now();
  while (tally.lines() < kLines && SecondsSince(start) < 20) host_.idle(milliseconds(5));
  const double seconds = SecondsSince(start);
  python.Run("writer.join()");
  std::printf("%d lines of a thread while the application idles: %.3f s (%.0f lines/s)\n", kLines, seconds,
              kLines / seconds);
  EXPECT_EQ(tally.lines(), kLines);
  EXPECT_TRUE(tally.inOrder());
  EXPECT_LT(seconds, 10.0);
}

// A console handler run by the background task while the application idles
// may end Python: no Python code runs then.
TEST_F(ThreadOutput, AHandlerRunByTheIdleTaskMayFinalize) {
  bool finalized = false;
  ListenToConsole("IdleFinalizeConsole", [&](const std::string& text) {
    if (finalized || text.find("stop") == std::string::npos) return;
    FinalizePython();
    finalized = !ErrorOccurred();
  });
  python.Run("threading.Thread(target=lambda: (time.sleep(0.1), print('stop'))).start()");
  for (int tick = 0; tick < 100 && !finalized; ++tick) host_.idle(milliseconds(10));
  EXPECT_TRUE(finalized) << GetError();
  EXPECT_FALSE(Bool(Engine("ErrorOccurred")));
  Restart();
}

}  // namespace
}  // namespace api_tests
