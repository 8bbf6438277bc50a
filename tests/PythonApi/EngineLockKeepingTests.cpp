// The interpreter lock kept by the host's thread between its calls while no
// other thread could want it, and handed over as soon as one does: to a
// Python thread the call started, to a thread of C code that asks for it
// while the application idles, to a second host thread.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Python's own answer to "does this thread hold the interpreter lock?".
bool ThisThreadHoldsTheLock() {
  auto check = reinterpret_cast<int (*)()>(dlsym(RTLD_DEFAULT, "PyGILState_Check"));
  return check && check() == 1;
}

// A thread of C code that takes the lock through PyGILState_Ensure, runs a
// line of Python and gives the lock back, as a C library's callback does.
class CThread {
 public:
  CThread() {
    using Ensure = int (*)();
    using Release = void (*)(int);
    using RunString = int (*)(const char*);
    auto ensure = reinterpret_cast<Ensure>(dlsym(RTLD_DEFAULT, "PyGILState_Ensure"));
    auto release = reinterpret_cast<Release>(dlsym(RTLD_DEFAULT, "PyGILState_Release"));
    auto run = reinterpret_cast<RunString>(dlsym(RTLD_DEFAULT, "PyRun_SimpleString"));
    thread_ = std::thread([=] {
      const int state = ensure();
      ran_ = run("import sys; sys.c_thread_was_here = True") == 0;
      release(state);
      done_ = true;
    });
  }
  ~CThread() {
    if (thread_.joinable()) thread_.join();
  }
  bool done() const { return done_; }
  bool ran() const { return ran_; }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> ran_{false};
  std::thread thread_;
};

// Idles the application until `done` or a second passes; how long it took.
template <typename Done>
milliseconds IdleUntil(xhost::Host& host, Done done) {
  const auto start = Clock::now();
  while (!done() && Clock::now() - start < std::chrono::seconds(1)) host.idle(milliseconds(1));
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class LockKeeping : public RunningPython {};

TEST_F(LockKeeping, TheHostThreadKeepsTheLockBetweenCallsWhileNoOtherThreadExists) {
  EXPECT_EQ(python.IntegerOf("1 + 1"), 2);
  EXPECT_TRUE(ThisThreadHoldsTheLock()) << "the lock was given back with no other thread to take it";
  EXPECT_EQ(python.IntegerOf("2 + 2"), 4);  // the next call goes on with it
  EXPECT_TRUE(ThisThreadHoldsTheLock());
}

TEST_F(LockKeeping, APythonThreadStartedByACallGetsTheLockWhenTheCallEnds) {
  python.Run(
      "import threading, time\n"
      "steps = 0\n"
      "stop_stepping = threading.Event()\n"
      "def step():\n"
      "    global steps\n"
      "    while not stop_stepping.is_set():\n"
      "        steps += 1\n"
      "        time.sleep(0.001)\n"
      "stepper = threading.Thread(target=step, daemon=True)\n"
      "stepper.start()\n");
  EXPECT_FALSE(ThisThreadHoldsTheLock());
  const int64_t before = python.IntegerOf("steps");
  std::this_thread::sleep_for(milliseconds(200));  // not idling: no tick hands anything over
  EXPECT_GT(python.IntegerOf("steps") - before, 20) << "the Python thread stood still while the host slept";
  python.Run("stop_stepping.set(); stepper.join()");
  // With the thread gone, the lock is kept again.
  EXPECT_EQ(python.IntegerOf("steps") > 0, true);
  EXPECT_TRUE(ThisThreadHoldsTheLock());
}

TEST_F(LockKeeping, ACThreadThatAsksForTheLockWhileTheApplicationIdlesGetsItAtTheNextTick) {
  EXPECT_EQ(python.IntegerOf("3"), 3);
  ASSERT_TRUE(ThisThreadHoldsTheLock());
  CThread cThread;
  const milliseconds waited = IdleUntil(host_, [&] { return cThread.done(); });
  ASSERT_TRUE(cThread.done()) << "the C thread never got the lock while the application idled";
  EXPECT_TRUE(cThread.ran());
  std::printf("the C thread waited %lld ms while the application idled\n", static_cast<long long>(waited.count()));
  EXPECT_TRUE(python.TruthOf("sys.c_thread_was_here"));
}

TEST_F(LockKeeping, ACallbackOfAPthreadStartedThroughCtypesRunsWhileTheApplicationIdles) {
  // The thread is made by C code (the C library's pthread_create), so the
  // call that starts it may well end before the thread has a thread state:
  // then only the background task can hand the lock over. The callback
  // writes where the test reads without a host call of its own.
  static std::atomic<int> callbackRuns{0};
  callbackRuns = 0;
  python.Run(
      "import ctypes, ctypes.util\n"
      "libc = ctypes.CDLL(ctypes.util.find_library('c') or 'libc.so.6')\n"
      "runs = ctypes.c_int.from_address(" +
      std::to_string(reinterpret_cast<uintptr_t>(&callbackRuns)) +
      ")\n"
      "START = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p)\n"
      "def started(argument):\n"
      "    runs.value += 1\n"
      "    return None\n"
      "start_routine = START(started)\n"
      "pthread = ctypes.c_ulong()\n"
      "created = libc.pthread_create(ctypes.byref(pthread), None, start_routine, None)\n");
  ASSERT_EQ(python.IntegerOf("created"), 0);
  IdleUntil(host_, [&] { return callbackRuns.load() > 0; });
  EXPECT_EQ(callbackRuns.load(), 1) << "the callback never got the lock while the application idled";
  python.Run("libc.pthread_join(pthread, None)");
}

TEST_F(LockKeeping, ASecondHostThreadGetsTheLockAtTheFirstThreadsNextTickAndNoThreadKeepsItAfterwards) {
  ErrorOccurredFromThisThread();  // looked up before the lock is kept
  EXPECT_EQ(python.IntegerOf("5"), 5);
  ASSERT_TRUE(ThisThreadHoldsTheLock());
  std::atomic<bool> done{false};
  std::thread second([&] {
    ErrorOccurredFromThisThread();
    done = true;
  });
  IdleUntil(host_, [&] { return done.load(); });
  EXPECT_TRUE(done.load()) << "the second host thread never got the lock while the first idled";
  second.join();
  // The application calls Python from two of its threads: the lock is given
  // back at every exit from now on, so no thread waits a tick for it.
  EXPECT_EQ(python.IntegerOf("1"), 1);
  EXPECT_FALSE(ThisThreadHoldsTheLock());
  std::thread third([&] { ErrorOccurredFromThisThread(); });
  third.join();  // without idling: nothing is kept for a tick to hand over
  EXPECT_EQ(python.IntegerOf("2"), 2);
}

TEST_F(LockKeeping, AFinalizeAndInitWithTheLockKeptLeaveItUsable) {
  EXPECT_EQ(python.IntegerOf("7"), 7);
  ASSERT_TRUE(ThisThreadHoldsTheLock());
  Restart();
  EXPECT_EQ(python.IntegerOf("8"), 8);
  EXPECT_TRUE(ThisThreadHoldsTheLock());
  CThread cThread;
  IdleUntil(host_, [&] { return cThread.done(); });
  EXPECT_TRUE(cThread.done() && cThread.ran());
}

}  // namespace
}  // namespace api_tests
