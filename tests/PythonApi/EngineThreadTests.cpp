// Python's own threads beside the host's, and host code called back from
// Python: the interpreter lock is free between host calls, host code runs
// only on the host's thread, and Finalize never pulls the interpreter from
// under running Python code.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

using Texts = std::vector<std::string>;

class Threads : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run("import threading, time");
  }
  void TearDown() override {
    if (!python.module().isNil()) python.Run("stop_threads = True");
    RunningPython::TearDown();
  }
};

TEST_F(Threads, ConsoleEventsOfOtherThreadsArriveOnTheHostThreadInOrder) {
  const auto hostThread = std::this_thread::get_id();
  Texts received;
  int foreignEvents = 0;
  ListenToConsole("OrderConsole", [&](const std::string& text) {
    if (std::this_thread::get_id() != hostThread) ++foreignEvents;
    if (text != "\n") received.push_back(text);
  });
  python.Run(
      "def shout():\n"
      "    for i in range(200): print(i)\n"
      "worker = threading.Thread(target=shout)\n"
      "worker.start(); worker.join()\n");
  EXPECT_EQ(foreignEvents, 0);
  ASSERT_EQ(received.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(received[static_cast<size_t>(i)], std::to_string(i));
}

TEST_F(Threads, PythonThreadsRunWhileTheHostIsIdle) {
  python.Run(
      "steps = 0\n"
      "stop_threads = False\n"
      "def tick():\n"
      "    global steps\n"
      "    while not stop_threads:\n"
      "        steps += 1\n"
      "        time.sleep(0.001)\n"
      "ticker = threading.Thread(target=tick, daemon=True)\n"
      "ticker.start()\n");
  const int64_t before = python.IntegerOf("steps");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const int64_t after = python.IntegerOf("steps");
  EXPECT_GT(after - before, 30) << "the thread stood still while the host slept";
  python.Run("stop_threads = True\nticker.join()");
}

TEST_F(Threads, TextWrittenWhileTheHostIsIdleArrivesOnceAtTheNextCall) {
  const auto hostThread = std::this_thread::get_id();
  Texts received;
  bool onHostThread = true;
  ListenToConsole("LaterConsole", [&](const std::string& text) {
    onHostThread = onHostThread && std::this_thread::get_id() == hostThread;
    received.push_back(text);
  });
  python.Run(
      "done = threading.Event()\n"
      "def later():\n"
      "    time.sleep(0.05)\n"
      "    for word in ('one', 'two', 'three'): sys.stdout.write(word)\n"
      "    done.set()\n"
      "threading.Thread(target=later).start()\n");
  EXPECT_TRUE(received.empty());
  // Nothing may arrive between calls: the host's thread is elsewhere.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_TRUE(received.empty());
  python.Run("done.wait(5)");
  EXPECT_EQ(received, (Texts{"one", "two", "three"}));
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(received.size(), 3u) << "delivered twice";
  EXPECT_TRUE(onHostThread);
}

// Wrappers destroyed between host calls give their references back holding
// the interpreter lock: a Python thread counting references of the same
// object at that time loses none of its counts.
TEST_F(Threads, WrappersGiveTheirReferencesBackUnderTheLock) {
  python.Run(
      "shared = object()\n"
      "stop_threads = False\n"
      "def churn():\n"
      "    while not stop_threads:\n"
      "        held = [shared] * 64\n"
      "        del held\n"
      "churner = threading.Thread(target=churn, daemon=True)\n");
  const int64_t before = python.RefCount("shared");
  python.Run("churner.start()");
  Object evaluate = python.Function("evaluate");
  for (int round = 0; round < 100; ++round) {
    std::vector<Object> wrappers;
    for (int i = 0; i < 20; ++i) wrappers.push_back(Invoke(evaluate, {Str("shared")}));
  }
  python.Run("stop_threads = True\nchurner.join()");
  EXPECT_EQ(python.RefCount("shared"), before);
}

TEST_F(Threads, HostObjectsDroppedOnAnotherThreadAreUnlockedOnTheHostThread) {
  Object payload = host_.newFolderItem("/tmp");
  python.Run("box = []\ndef keep(item): box.append(item)");
  Invoke(python.Function("keep"), {payload});
  EXPECT_EQ(host_.refCount(payload), 2);
  python.Run("emptier = threading.Thread(target=box.clear); emptier.start(); emptier.join()");
  EXPECT_EQ(host_.refCount(payload), 1);
}

TEST_F(Threads, FinalizeFromInsideAConsoleEventIsRefusedWithARuntimeError) {
  ListenToConsole("FinalizingConsole", [](const std::string&) { FinalizePython(); });
  python.Run(
      "try:\n"
      "    print('stop now')\n"
      "    refusal = None\n"
      "except RuntimeError as error:\n"
      "    refusal = str(error)\n");
  EXPECT_NE(python.TextOf("refusal").find("Finalize"), std::string::npos) << python.TextOf("refusal");
  EXPECT_EQ(python.IntegerOf("number"), 42) << "the interpreter kept running";
  Engine("SetConsoleOutput", {Nil{}});
  python.Run("print('still here')");
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Threads, OtherMembersStayUsableFromInsideAConsoleEvent) {
  std::string seen;
  ListenToConsole("CallingConsole", [&](const std::string& text) {
    if (text == "\n") return;
    Object result = python.Call("evaluate", {Str("number + 1")});
    seen = text + "=" + std::to_string(Int(host().call(result, "Int64Value")));
  });
  python.Run("print('value')");
  EXPECT_EQ(seen, "value=43");
}

// Runs `body` on a thread with a 1 MiB stack, as some applications' threads have.
// The body runs on a thread of its own while this one waits for it, as a
// second host thread of an application that calls Python from both.
void OnSmallStack(const std::function<void()>& body) {
  StartUsingPythonFromASecondHostThread();
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 1 << 20);
  pthread_t thread;
  auto* work = new std::function<void()>(body);
  ASSERT_EQ(pthread_create(
                &thread, &attributes,
                [](void* argument) -> void* {
                  auto* function = static_cast<std::function<void()>*>(argument);
                  (*function)();
                  delete function;
                  return nullptr;
                },
                work),
            0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

TEST_F(Threads, ConsoleEventsThatPrintAgainStopAtAFixedDepthWithRecursionError) {
  int events = 0;
  ListenToConsole("EchoingConsole", [&](const std::string& text) {
    if (text == "\n") return;
    ++events;
    python.Call("run", {Str("print('again')")});  // fails deep down; the error travels up
  });
  OnSmallStack([&] {
    python.Run(
        "try:\n"
        "    print('first')\n"
        "    outcome = 'nothing raised'\n"
        "except RecursionError:\n"
        "    outcome = 'RecursionError'\n");
  });
  EXPECT_EQ(python.TextOf("outcome"), "RecursionError");
  EXPECT_GE(events, 2);
  EXPECT_LE(events, 16);
  Engine("SetConsoleOutput", {Nil{}});
  python.Run("print('calm again')");
}

TEST_F(Threads, RestartWaitsForTheDaemonThreadsOfTheFinalizedInterpreter) {
  // Python abandons the frames of daemon threads at Finalize, and with them
  // what only those frames refer to: leaks are looked for before they start.
  CheckLeaksNowNotAtExit();
  python.Run(
      "def spin():\n"
      "    while True:\n"
      "        time.sleep(0.0005)\n"
      "        print('tick')\n"
      "for _ in range(3): threading.Thread(target=spin, daemon=True).start()\n"
      "time.sleep(0.01)\n");
  Texts ticks;
  ListenToConsole("TickConsole", [&](const std::string& text) { ticks.push_back(text); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Restart();
  EXPECT_EQ(python.IntegerOf("number"), 42);
  python.Run("import threading");
  EXPECT_EQ(python.IntegerOf("threading.active_count()"), 1);
  python.Run("print('fresh')");
}

TEST_F(Threads, RestartIsRefusedWhileAThreadOfTheOldInterpreterCannotEnd) {
  // Blocked on a lock, the thread never asks for the interpreter lock again.
  python.Run(
      "threading.Thread(target=threading.Lock().acquire, args=(), daemon=True).start()\n"
      "stuck = threading.Lock(); stuck.acquire()\n"
      "threading.Thread(target=stuck.acquire, daemon=True).start()\n");
  python.Disconnect();
  FinalizePython();
  try {
    InitPython();
    ADD_FAILURE() << "Init started a new interpreter beside a running thread of the old one";
  } catch (const xhost::XojoException& refusal) {
    EXPECT_TRUE(refusal.isA("Python3Exception"));
    EXPECT_EQ(refusal.errorNumber, -7);
    EXPECT_NE(refusal.message.find("still running"), std::string::npos) << refusal.message;
  }
  EXPECT_TRUE(GetModule("sys").isNil());
  EXPECT_FALSE(Bool(Engine("IsRunning"))) << "a refused Init starts nothing";
  EXPECT_FALSE(ErrorOccurred());
}

// Text that a thread wrote before it was joined comes before what the host's
// thread writes afterwards in the same call.
TEST_F(Threads, AJoinedThreadsTextComesBeforeTheHostThreadsLaterText) {
  Texts received;
  ListenToConsole("JoinConsole", [&](const std::string& text) {
    if (text != "\n") received.push_back(text);
  });
  python.Run(
      "worker = threading.Thread(target=lambda: print('from the thread'))\n"
      "worker.start(); worker.join()\n"
      "print('from the host thread')\n");
  EXPECT_EQ(received, (Texts{"from the thread", "from the host thread"}));
}

// Threads that print faster than the host's handler takes the text: each
// host call delivers for a bounded time only what was queued when it began and
// returns, so the host always gets out; what is written waits, it is never
// lost or reordered (events may join several writes of a backlog).
TEST_F(Threads, ThreadsPrintingFasterThanTheHostTakesTheTextDoNotTrapTheHost) {
  python.Run(
      "stop_threads = False\n"
      "def flood(name):\n"
      "    n = 0\n"
      "    while not stop_threads:\n"
      "        sys.stdout.write('%s:%d\\n' % (name, n))\n"
      "        n += 1\n"
      "flooders = [threading.Thread(target=flood, args=('w%d' % i,), daemon=True) for i in range(4)]\n"
      "for thread in flooders: thread.start()\n");
  std::map<std::string, int64_t> lastSeen;  // per writer, the last number delivered
  int64_t delivered = 0;
  bool inOrder = true;
  std::string partial;
  ListenToConsole("SlowConsole", [&](const std::string& text) {
    partial += text;
    size_t start = 0;
    for (size_t end; (end = partial.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = partial.substr(start, end - start);
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      const std::string writer = line.substr(0, colon);
      const int64_t number = std::stoll(line.substr(colon + 1));
      auto found = lastSeen.find(writer);
      if (found != lastSeen.end() && number != found->second + 1) inOrder = false;
      lastSeen[writer] = number;
      ++delivered;
    }
    partial.erase(0, start);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  });
  double longestCall = 0;
  for (int call = 0; call < 400 && delivered < 4000; ++call) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));  // the application idles; the writers fill the queue
    const auto start = std::chrono::steady_clock::now();
    // Four host calls: two initializers, the constructor, and as the object goes, the destructors.
    host_.newObject("Python3Parameters", {int64_t{1}});
    longestCall =
        std::max(longestCall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  Engine("SetConsoleOutput", {Nil{}});  // the rest is delivered to nobody
  python.Run("stop_threads = True\nfor thread in flooders: thread.join()");
  EXPECT_TRUE(inOrder) << "text was lost or reordered";
  EXPECT_GT(delivered, 0);
  EXPECT_LT(longestCall, 0.5) << "a host call chased text written after it began";
}

// A Python thread's _thread.interrupt_main() interrupts what the host's
// thread runs, without signals, on every version.
TEST_F(Threads, InterruptMainFromAThreadInterruptsTheHostsCall) {
  const auto start = std::chrono::steady_clock::now();
  const bool completed = Bool(Engine("Execute", {Str("import _thread, threading, time\n"
                                                     "threading.Timer(0.05, _thread.interrupt_main).start()\n"
                                                     "deadline = time.time() + 10\n"
                                                     "while time.time() < deadline: pass\n")}));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(completed);
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "KeyboardInterrupt");
  Engine("ClearError");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  EXPECT_EQ(python.IntegerOf("number"), 42) << "the interpreter stays usable";
}

// _thread.interrupt_main as CPython documents it: a signal number from 3.10
// (checked), none before; nothing under SIG_IGN or SIG_DFL; a handler set
// with signal.signal runs instead of KeyboardInterrupt being raised.
TEST_F(Threads, InterruptMainTakesTheArgumentsOfItsVersion) {
  if (python.TruthOf("__import__('sys').version_info >= (3, 10)")) {
    python.Run(
        "try:\n"
        "    _thread_error = None\n"
        "    __import__('_thread').interrupt_main(-1)\n"
        "except BaseException as error:\n"
        "    _thread_error = type(error).__name__\n");
    EXPECT_EQ(python.TextOf("_thread_error"), "ValueError");
  } else {
    python.Run(
        "try:\n"
        "    _thread_error = None\n"
        "    __import__('_thread').interrupt_main(2)\n"
        "except BaseException as error:\n"
        "    _thread_error = type(error).__name__\n");
    EXPECT_EQ(python.TextOf("_thread_error"), "TypeError");
  }
}

TEST_F(Threads, InterruptMainDoesNothingUnderSigIgnAndSigDfl) {
  for (const char* disposition : {"SIG_IGN", "SIG_DFL"}) {
    SCOPED_TRACE(disposition);
    const bool completed = Bool(Engine("Execute", {Str(std::string("import _thread, signal, threading, time\n"
                                                                   "previous = signal.signal(signal.SIGINT, signal.") +
                                                       disposition +
                                                       ")\n"
                                                       "try:\n"
                                                       "    threading.Timer(0.02, _thread.interrupt_main).start()\n"
                                                       "    end = time.time() + 0.3\n"
                                                       "    while time.time() < end: pass\n"
                                                       "finally:\n"
                                                       "    signal.signal(signal.SIGINT, previous)\n")}));
    EXPECT_TRUE(completed) << Text(Engine("GetError"));
    Engine("ClearError");
  }
}

TEST_F(Threads, InterruptMainRunsTheHandlerThatPythonCodeSet) {
  const bool completed = Bool(Engine("Execute", {Str("import _thread, signal, threading, time\n"
                                                     "seen = []\n"
                                                     "def handler(signum, frame):\n"
                                                     "    seen.append(signum)\n"
                                                     "    raise LookupError('handled')\n"
                                                     "previous = signal.signal(signal.SIGINT, handler)\n"
                                                     "try:\n"
                                                     "    threading.Timer(0.02, _thread.interrupt_main).start()\n"
                                                     "    end = time.time() + 5\n"
                                                     "    while time.time() < end: pass\n"
                                                     "finally:\n"
                                                     "    signal.signal(signal.SIGINT, previous)\n")}));
  EXPECT_FALSE(completed);
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "LookupError");
  Engine("ClearError");
  EXPECT_EQ(python.TextOf("repr(__import__('__main__').seen)"), "[2]");
}

TEST_F(Threads, SigintsPythonHandlerIsDefaultIntHandlerAfterEveryStart) {
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start == 0 ? "first start" : "after a restart");
    EXPECT_TRUE(python.TruthOf("__import__('signal').getsignal(2) is __import__('signal').default_int_handler"));
    Restart();
    python.Run("import threading, time");
  }
}

TEST_F(Threads, RaiseSignalOfSigintInterruptsInsteadOfEndingTheProcess) {
  if (!python.TruthOf("hasattr(__import__('signal'), 'raise_signal')")) GTEST_SKIP() << "no signal.raise_signal";
  const bool completed = Bool(Engine("Execute", {Str("import signal\nsignal.raise_signal(signal.SIGINT)\n")}));
  EXPECT_FALSE(completed);
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "KeyboardInterrupt");
  Engine("ClearError");
}

// Every signal disposition of the application is the same after Init.
class Signals : public FreshProcess {};

TEST_F(Signals, InitLeavesEverySignalDispositionAlone) {
  ASSERT_TRUE(Bool(Engine("PythonIsFound")));
  struct sigaction before[NSIG];
  bool known[NSIG] = {};
  for (int signal = 1; signal < NSIG; ++signal) known[signal] = sigaction(signal, nullptr, &before[signal]) == 0;
  InitPython();
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction after;
    if (!known[signal] || sigaction(signal, nullptr, &after) != 0) continue;
    EXPECT_EQ(reinterpret_cast<void*>(after.sa_handler), reinterpret_cast<void*>(before[signal].sa_handler))
        << "signal " << signal << " (" << strsignal(signal) << ")";
  }
}

}  // namespace
}  // namespace api_tests
