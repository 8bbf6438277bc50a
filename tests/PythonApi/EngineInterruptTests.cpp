// Stopping Python code that runs too long: Python3Engine.Interrupt from any
// thread, and the yields of SetYieldInterval through which the application's
// other threads (a Cancel button) run while a call lasts.
#include <atomic>
#include <chrono>
#include <functional>
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
  // 0.5 s at 20 ms: about 25 yields; the bounds leave room for a loaded machine.
  EXPECT_TRUE(Execute("import time\nend = time.time() + 0.5\nwhile time.time() < end: pass\n"));
  const uint64_t during = host_.yieldCount() - before;
  EXPECT_GE(during, 5u);
  EXPECT_LE(during, 50u);
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

class InterruptsOnASecondHostThread : public Interrupts {
 protected:
  void SetUp() override {
    Interrupts::SetUp();
    InterruptFromAnotherThread();  // looked up on this thread
    StartUsingPythonFromASecondHostThread();
  }
  // Runs `source` on a second host thread of the application (a preemptive
  // thread); this thread waits for it, calling `meanwhile` now and then, and
  // uses no host service meanwhile. True when the call completed.
  bool RunOnASecondThread(const std::string& source, const std::function<void()>& meanwhile = {}) {
    std::atomic<bool> done{false};
    bool completed = false;
    std::thread second([&] {
      completed = Execute(source);
      Engine("ClearError");
      done = true;
    });
    while (!done.load()) {
      if (meanwhile) meanwhile();
      std::this_thread::sleep_for(milliseconds(5));
    }
    second.join();
    return completed;
  }
};

TEST_F(InterruptsOnASecondHostThread, InterruptStopsTheCallOfAnotherHostThread) {
  // Pressed once the loop runs: the Python code tells this thread through ctypes.
  std::atomic<int> looping{0};
  const std::string flag = std::to_string(reinterpret_cast<uintptr_t>(&looping));
  Clock::time_point pressedAt{};
  // Bounded: the loop ends by itself after 5 s.
  EXPECT_FALSE(
      RunOnASecondThread("import ctypes, time\n"
                         "deadline = time.time() + 5\n"
                         "ctypes.c_int.from_address(" +
                             flag +
                             ").value = 1\n"
                             "while time.time() < deadline: pass\n",
                         [&] {
                           if (pressedAt == Clock::time_point{} && looping.load() == 1) {
                             pressedAt = Clock::now();
                             InterruptFromAnotherThread();
                           }
                         }));
  ASSERT_NE(pressedAt, Clock::time_point{});
  EXPECT_LT(Clock::now() - pressedAt, milliseconds(500));
  EXPECT_TRUE(Execute("total = sum(range(1000))"));
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(InterruptsOnASecondHostThread, YieldsComeWhileAnotherHostThreadRunsPython) {
  Engine("SetYieldInterval", {int64_t{10}});
  const uint64_t before = host_.yieldCount();
  EXPECT_TRUE(RunOnASecondThread("import time\nend = time.time() + 0.3\nwhile time.time() < end: pass\n"));
  const uint64_t during = host_.yieldCount() - before;
  EXPECT_GE(during, 10u);
  EXPECT_LE(during, 40u);
  EXPECT_TRUE(python.TruthOf("__import__('sys').gettrace() is None"));
}

TEST_F(InterruptsOnASecondHostThread, AnInterruptTooLateForAnotherThreadsCallDoesNotReachItsNext) {
  // Interrupts keep coming while the call waits in C code; it may get one
  // as it returns, but the next call on that thread never does.
  RunOnASecondThread("import time\ntime.sleep(0.3)\n", [] { InterruptFromAnotherThread(); });
  Engine("ClearError");
  EXPECT_TRUE(RunOnASecondThread("total = 0\nfor i in range(100000): total += i\n"));
}

// The yield interval bounds the yields from below too: one per interval,
// not one per look of the plugin at the running call.
TEST_F(Interrupts, YieldsComeAtTheIntervalAndNoMoreOften) {
  Engine("SetYieldInterval", {int64_t{100}});
  const uint64_t before = host_.yieldCount();
  EXPECT_TRUE(Execute("import time\nend = time.time() + 0.5\nwhile time.time() < end: pass\n"));
  const uint64_t during = host_.yieldCount() - before;
  EXPECT_GE(during, 2u);
  EXPECT_LE(during, 8u);
}

// Cancel pressed as the call's last partial line arrives (whole lines): the
// call has no bytecode left to run; the next, unrelated call runs through.
TEST_F(Interrupts, AnInterruptLeftAfterItsCallDoesNotReachTheNextCall) {
  int presses = 0;
  ListenToConsole("CancellingConsole", [&](const std::string& text) {
    if (text.find("partial") != std::string::npos) {
      ++presses;
      Interrupt();
    }
  });
  Engine("SetConsoleOutput", {host_.newObject("CancellingConsole"), true});
  EXPECT_TRUE(Execute("print('partial', end='')"));
  EXPECT_EQ(presses, 1);
  EXPECT_TRUE(Execute("total = 0\nfor i in range(100000): total += i\n"));
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_TRUE(Execute("import time\nend = time.time() + 0.1\nwhile time.time() < end: pass\n"));
  EXPECT_FALSE(ErrorOccurred());
}

// Ctrl-C as Python code sees it: the handler it set for SIGINT runs.
TEST_F(Interrupts, InterruptRunsTheSigintHandlerThatPythonCodeSet) {
  python.Run(
      "import signal\n"
      "calls = []\n"
      "def on_sigint(signum, frame):\n"
      "    calls.append((signum, type(frame).__name__))\n"
      "    raise ValueError('cancelled by the handler')\n");
  EXPECT_TRUE(python.TruthOf("signal.getsignal(signal.SIGINT) is signal.default_int_handler"));
  PressCancelAfter(milliseconds(50));
  EXPECT_FALSE(
      Execute("import signal, apitest, time\n"
              "previous = signal.signal(signal.SIGINT, apitest.on_sigint)\n"
              "try:\n"
              "    end = time.time() + 5\n"
              "    while time.time() < end: pass\n"
              "finally:\n"
              "    signal.signal(signal.SIGINT, previous)\n"));
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "ValueError");
  Engine("ClearError");
  EXPECT_EQ(python.TextOf("repr(calls)"), "[(2, 'frame')]");
}

TEST_F(Interrupts, InterruptIsIgnoredUnderSigIgnAndRaisesKeyboardInterruptUnderSigDfl) {
  // Each handler is set by a call of its own, so that Cancel cannot come before it.
  ASSERT_TRUE(Execute("import signal, time\nprevious = signal.signal(signal.SIGINT, signal.SIG_IGN)"));
  PressCancelAfter(milliseconds(20));
  EXPECT_TRUE(Execute("end = time.time() + 0.5\nwhile time.time() < end: pass\n")) << GetError();
  EXPECT_NE(pressedAt_, Clock::time_point{}) << "Cancel was never pressed";
  host_.removeCooperativeThread(cancel_);
  ASSERT_TRUE(Execute("signal.signal(signal.SIGINT, signal.SIG_DFL)"));
  PressCancelAfter(milliseconds(20));
  ExpectInterrupted(Execute("end = time.time() + 5\nwhile time.time() < end: pass\n"));
  EXPECT_TRUE(Execute("signal.signal(signal.SIGINT, previous)"));
}

// asyncio.run cancels its main task on Ctrl-C from 3.11 (its Runner sets a
// SIGINT handler), and raises KeyboardInterrupt once the task is cancelled.
TEST_F(Interrupts, AnInterruptedAsyncioRunCancelsItsTask) {
  if (!python.TruthOf("hasattr(__import__('asyncio'), 'Runner')")) GTEST_SKIP() << "no asyncio.Runner before 3.11";
  PressCancelAfter(milliseconds(100));
  ExpectInterrupted(
      Execute("import asyncio, apitest\n"
              "apitest.cancelled = False\n"
              "async def main():\n"
              "    try:\n"
              "        for _ in range(500): await asyncio.sleep(0.01)\n"
              "    except asyncio.CancelledError:\n"
              "        apitest.cancelled = True\n"
              "        raise\n"
              "asyncio.run(main())\n"));
  EXPECT_TRUE(python.TruthOf("cancelled"));
  EXPECT_TRUE(python.TruthOf("__import__('signal').getsignal(2) is __import__('signal').default_int_handler"));
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

// A host function runs its own Execute (a nested entry); Cancel, pressed at
// a yield of that inner call, stops the inner call.
PyPtr RunNestedLoop(PyPtr, PyPtr) {
  const bool completed = Execute("import time\nend = time.time() + 5\nwhile time.time() < end: pass\n");
  const std::string error = Text(Engine("GetErrorTypeName"));
  Engine("ClearError");
  return Returned(Str(completed ? std::string("completed") : error));
}

TEST_F(InterruptFromHostCode, CancelPressedInANestedExecuteStopsIt) {
  Register(NewXojoModule("nesting", {{"run", Address(&RunNestedLoop)}}));
  Start();
  Engine("SetYieldInterval", {int64_t{10}});
  const auto start = Clock::now();
  int cancel = host().addCooperativeThread([&] {
    if (Clock::now() - start > milliseconds(100)) Interrupt();
  });
  EXPECT_TRUE(Execute("import nesting\nnested = nesting.run()\n"));
  host().removeCooperativeThread(cancel);
  Engine("SetYieldInterval", {int64_t{0}});
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(python.TextOf("__import__('__main__').nested"), "KeyboardInterrupt");
}

// Host code run at a yield leaves errors of its own in Python's error state:
// the running code goes on, unaware of them.
TEST_F(InterruptFromHostCode, ErrorsLeftByHostCodeAtAYieldDoNotReachTheRunningCode) {
  Start();
  struct Case {
    const char* what;
    std::function<void()> leave;
  };
  for (const Case& c : {
           Case{"a refused Finalize", [] { Engine("Finalize"); }},
           Case{"SetError",
                [] {
                  Engine("SetError", {int64_t{15}, Str("left by the host")});
                }},
           Case{"a failed GetModule", [] { GetModule("no_module_of_this_name"); }},
       }) {
    SCOPED_TRACE(c.what);
    Engine("SetYieldInterval", {int64_t{10}});
    int runs = 0;
    int left = host().addCooperativeThread([&] {
      ++runs;
      c.leave();
    });
    const bool completed = Execute(
        "import time\n"
        "iterations = 0\n"
        "end = time.time() + 0.4\n"
        "while time.time() < end: iterations += 1\n");
    host().removeCooperativeThread(left);
    Engine("SetYieldInterval", {int64_t{0}});
    EXPECT_TRUE(completed) << Text(Engine("GetError"));
    Engine("ClearError");
    EXPECT_GT(runs, 0);
  }
}

}  // namespace
}  // namespace api_tests
