// Stopping Python code that runs too long: Python3Engine.Interrupt from any
// thread, and the yields of SetYieldInterval through which the application's
// other threads (a Cancel button) run while a call lasts.
#include <atomic>
#include <chrono>
#include <thread>

#include "HostCodeSupport.h"

namespace api_tests {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

void Interrupt() { Engine("Interrupt"); }

// Interrupt as compiled Xojo code on another thread calls it: the member's
// function itself, with no host call around it.
void InterruptFromAnotherThread() {
  static const auto function =
      reinterpret_cast<void (*)()>(host().memberFunctions("Python3Engine", "Interrupt()").function);
  function();
}

// The call returns as any failing call does, with KeyboardInterrupt to read.
void ExpectInterrupted(bool completed) {
  EXPECT_FALSE(completed);
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "KeyboardInterrupt");
  Engine("ClearError");
}

bool Execute(const std::string& source) { return Bool(Engine("Execute", {Str(source)})); }

class Interrupts : public RunningPython {
 protected:
  void TearDown() override {
    Engine("SetYieldInterval", {int64_t{0}});
    if (cancel_) host_.removeCooperativeThread(cancel_);
    RunningPython::TearDown();
  }
  // A Cancel button pressed `after` into the call: a cooperative thread that
  // runs at the yields and calls Interrupt once the time has come.
  void PressCancelAfter(milliseconds after) {
    Engine("SetYieldInterval", {int64_t{10}});
    start_ = Clock::now();
    pressedAt_ = Clock::time_point{};
    cancel_ = host_.addCooperativeThread([this, after] {
      if (pressedAt_ == Clock::time_point{} && Clock::now() - start_ >= after) {
        pressedAt_ = Clock::now();
        Interrupt();
      }
    });
  }
  milliseconds SincePressed() const { return std::chrono::duration_cast<milliseconds>(Clock::now() - pressedAt_); }

  int cancel_ = 0;
  Clock::time_point start_, pressedAt_;
};

TEST_F(Interrupts, ARunawayLoopStopsSoonAfterCancelIsPressedFromAYield) {
  struct Case {
    const char* what;
    const char* source;
  };
  python.Run("import threading, time");
  for (const Case& c : {
           Case{"a loop of pure Python", "while True: pass\n"},
           Case{"a loop of calls", "while True: sum(range(100))\n"},
           Case{"joining a thread that loops",
                "import threading\n"
                "stop = False\n"
                "def spin():\n"
                "    while not stop: pass\n"
                "worker = threading.Thread(target=spin, daemon=True)\n"
                "worker.start()\n"
                "try:\n"
                "    while worker.is_alive(): worker.join(0.01)\n"
                "finally:\n"
                "    stop = True\n"},
       }) {
    SCOPED_TRACE(c.what);
    PressCancelAfter(milliseconds(50));
    ExpectInterrupted(Execute(c.source));
    ASSERT_NE(pressedAt_, Clock::time_point{}) << "Cancel was never pressed: no yield came";
    EXPECT_LT(SincePressed(), milliseconds(100));
    host_.removeCooperativeThread(cancel_);
    cancel_ = 0;
    EXPECT_EQ(python.IntegerOf("6 * 7"), 42) << "the interpreter stays usable";
  }
  EXPECT_GT(host_.yieldCount(), 0u);
}

TEST_F(Interrupts, YieldsComeOnlyWhileACallRunsPythonLongerThanTheInterval) {
  const uint64_t before = host_.yieldCount();
  python.Run("x = 1");
  std::this_thread::sleep_for(milliseconds(100));  // idle: no call runs Python
  EXPECT_EQ(host_.yieldCount(), before) << "yields without a setting";
  Engine("SetYieldInterval", {int64_t{20}});
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(host_.yieldCount(), before) << "yields while idle";
  EXPECT_TRUE(Execute("import time\nend = time.time() + 0.3\nwhile time.time() < end: pass\n"));
  const uint64_t during = host_.yieldCount() - before;
  EXPECT_GE(during, 5u);
  EXPECT_LE(during, 30u);
}

// A call that took no Python code when Interrupt came (the host was idle, or
// before Init, or after Finalize) is not interrupted later.
TEST_F(Interrupts, AnInterruptWhileNoPythonCodeRunsIsDropped) {
  Interrupt();
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_TRUE(Execute("total = sum(range(100000))"));
  EXPECT_FALSE(ErrorOccurred());
  python.Disconnect();
  FinalizePython();
  Interrupt();
  InitPython();
  python.Connect();
  EXPECT_TRUE(Execute("total = sum(range(100000))"));
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Interrupts, ManyThreadsInterruptingAtOnceStopTheCallOnce) {
  InterruptFromAnotherThread();  // looked up on this thread
  std::atomic<bool> go{false};
  std::vector<std::thread> pressers;
  for (int i = 0; i < 8; ++i)
    pressers.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      for (int n = 0; n < 50; ++n) {
        InterruptFromAnotherThread();
        std::this_thread::sleep_for(milliseconds(1));
      }
    });
  python.Run("import threading\nthreading.Timer(0.05, lambda: None).start()");
  go.store(true);
  ExpectInterrupted(Execute("while True: pass\n"));
  for (std::thread& presser : pressers) presser.join();
  EXPECT_TRUE(Execute("total = sum(range(1000))\nassert total == 499500"));
}

TEST_F(Interrupts, InterruptRacingFinalizeAndInitHarmsNeither) {
  InterruptFromAnotherThread();
  std::atomic<bool> stop{false};
  std::thread presser([&] {
    while (!stop.load()) InterruptFromAnotherThread();
  });
  python.Disconnect();
  for (int round = 0; round < 20; ++round) {
    FinalizePython();
    InitPython();
  }
  stop.store(true);
  presser.join();
  Engine("ClearError");
  python.Connect();
  EXPECT_EQ(python.IntegerOf("6 * 7"), 42);
}

// Host code that Python calls may press Cancel itself.
class InterruptFromHostCode : public HostCode {};

PyPtr PressCancel(PyPtr, PyPtr) {
  Interrupt();
  return Returned();
}

TEST_F(InterruptFromHostCode, AHostFunctionCalledByTheLoopStopsIt) {
  Register(NewXojoModule("cancelling", {{"press", Address(&PressCancel)}}));
  Start();
  ExpectInterrupted(Execute("import cancelling\nwhile True: cancelling.press()\n"));
  EXPECT_EQ(python.IntegerOf("6 * 7"), 42);
}

}  // namespace
}  // namespace api_tests
