// Python3Task: calls run on the plugin's threads, their events on the
// application's thread in every order they can come, Cancel before, while
// and after a task runs, tasks let go of while they run, many at once, and
// Finalize with tasks in pure Python, in time.sleep and in C code.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What every RecordingTask raised, per task object, in order; "nested" when
// an event came inside another of the same task's.
std::map<REALobjectStruct*, std::vector<std::string>> taskEvents;
std::map<REALobjectStruct*, int> eventDepth;
// Run inside each event after it was recorded (a test's own reaction).
std::function<void(const Object& task, const std::string& event)> onTaskEvent;

std::string Number(double value) {
  std::string text = std::to_string(value);
  return text.substr(0, text.find('.') + 3);
}

// "Nil", "None", an int's digits or a str's text.
std::string ValueOf(const Object& result) {
  if (result.isNil()) return "Nil";
  if (Bool(host().call(result, "IsInteger"))) return std::to_string(Int(host().call(result, "Int64Value")));
  if (Bool(host().call(result, "IsString"))) return Text(host().call(result, "StringValue"));
  return "None";
}

xhost::EventHandler Recorder(std::function<std::string(const std::vector<Value>&)> describe) {
  return [describe](const Object& self, const std::vector<Value>& arguments) -> Value {
    const std::string event = describe(arguments);
    if (eventDepth[self.get()]++ > 0) taskEvents[self.get()].push_back("nested");
    taskEvents[self.get()].push_back(event);
    if (onTaskEvent) onTaskEvent(self, event);
    --eventDepth[self.get()];
    return {};
  };
}

void DefineRecordingTask() {
  host().defineSubclass("RecordingTask", "Python3Task",
                        {{"Progress", Recorder([](const std::vector<Value>& a) {
                            return "progress " + Number(xhost::asDouble(a.at(0))) + " " + Text(a.at(1));
                          })},
                         {"Finished", Recorder([](const std::vector<Value>& a) {
                            const Object result = xhost::asObject(a.at(0));
                            return "finished " + ValueOf(result);
                          })},
                         {"Failed", Recorder([](const std::vector<Value>& a) {
                            return "failed " + Text(a.at(0)) + ": " + Text(a.at(1));
                          })},
                         {"Cancelled", Recorder([](const std::vector<Value>&) { return std::string("cancelled"); })}});
}

class Tasks : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    DefineRecordingTask();
    DefineTaskCode();
  }
  void TearDown() override {
    onTaskEvent = nullptr;
    if (!python.module().isNil()) python.Run("stop_tasks = True");
    for (const Object& task : tasks_) {
      host_.call(task, "Cancel");
      EXPECT_TRUE(Bool(host_.call(task, "Wait", {int64_t{10000}})));
    }
    tasks_.clear();
    taskEvents.clear();
    eventDepth.clear();
    RunningPython::TearDown();
  }
  void DefineTaskCode() {
    python.Run(
        "import python3task, threading, time\n"
        "stop_tasks = False\n"
        "started = threading.Event()\n"
        "ended = threading.Event()\n"
        "def add(a, b=0):\n"
        "    return a + b\n"
        "def spin(*_):\n"
        "    try:\n"
        "        started.set()\n"
        "        while not stop_tasks: pass\n"
        "    finally:\n"
        "        ended.set()\n"
        "def sleep_in_steps(seconds):\n"
        "    started.set()\n"
        "    for _ in range(int(seconds * 100)): time.sleep(0.01)\n"
        "def block_in_c(seconds):\n"
        "    lock = threading.Lock()\n"
        "    lock.acquire()\n"
        "    started.set()\n"
        "    lock.acquire(timeout=seconds)\n"
        "    return 'woke'\n"
        "def note_cancel():\n"
        "    global seen_cancelled\n"
        "    try:\n"
        "        started.set()\n"
        "        while not stop_tasks: time.sleep(0.001)\n"
        "    except KeyboardInterrupt:\n"
        "        seen_cancelled = python3task.cancelled()\n"
        "        raise\n"
        "gate = threading.Event()\n"
        "def report(count, gated=False):\n"
        "    for n in range(count):\n"
        "        python3task.progress(n / count, 'step %d' % n)\n"
        "        if gated and n == 0: gate.wait(10)\n"
        "    return count\n"
        "def raise_value():\n"
        "    raise ValueError('bad value')\n"
        "ran = []\n"
        "def mark(name):\n"
        "    ran.append(name)\n"
        "def meet():\n"
        "    barrier.wait()\n"
        "    return 'met'\n"
        "def shout(text):\n"
        "    print(text)\n"
        "    return len(text)\n");
  }
  Object NewTask() {
    tasks_.push_back(host_.newObject("RecordingTask"));
    return tasks_.back();
  }
  bool Start(const Object& task, const std::string& function, const std::vector<Value>& arguments = {}) {
    return Bool(host_.call(task, "Start", {python.Function(function), Tuple(arguments)}));
  }
  bool Wait(const Object& task, int64_t milliseconds = 10000) { return Bool(host_.call(task, "Wait", {milliseconds})); }
  bool IsRunning(const Object& task) { return Bool(host_.getProperty(task, "IsRunning")); }
  std::vector<std::string> EventsOf(const Object& task) { return taskEvents[task.get()]; }
  // Until the Python condition holds; each look is a host call, which delivers events.
  bool Eventually(const std::string& condition) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (!python.TruthOf(condition)) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
  }

  std::vector<Object> tasks_;
};

using Events = std::vector<std::string>;

TEST_F(Tasks, FinishedCarriesTheValueOfEveryKindOfStart) {
  Object task = NewTask();
  EXPECT_FALSE(IsRunning(task));
  ASSERT_TRUE(Start(task, "add", {int64_t{2}, int64_t{3}}));
  EXPECT_TRUE(Wait(task));
  EXPECT_FALSE(IsRunning(task));
  EXPECT_EQ(EventsOf(task), Events({"finished 5"}));

  // The same object again, with keywords; then a callable entity; then source text.
  ASSERT_TRUE(
      Bool(host_.call(task, "Start", {python.Function("add"), Tuple({int64_t{2}}), python.DictionaryOf("{'b': 40}")})));
  EXPECT_TRUE(Wait(task));
  ASSERT_TRUE(Bool(host_.call(task, "Start", {python.EntityOf("add"), Tuple({Str("a"), Str("b")})})));
  EXPECT_TRUE(Wait(task));
  ASSERT_TRUE(
      Bool(host_.call(task, "Start", {python.EntityOf("str.upper"), Tuple({Str("x")}), python.DictionaryOf("{}")})));
  EXPECT_TRUE(Wait(task));
  ASSERT_TRUE(Bool(host_.call(task, "StartSource", {Str("task_source_ran = 7 * 6")})));
  EXPECT_TRUE(Wait(task));
  EXPECT_EQ(EventsOf(task), Events({"finished 5", "finished 42", "finished ab", "finished X", "finished None"}));
  const Object value = xhost::asObject(Engine("Evaluate", {Str("task_source_ran")}));
  EXPECT_EQ(Int(host_.call(value, "Int64Value")), 42);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Tasks, ArgumentsAreTakenAtStart) {
  Object task = NewTask();
  Object arguments = Tuple({int64_t{1}, int64_t{2}});
  Object keywords = python.DictionaryOf("{'b': 10}");
  python.Run("gate = threading.Event()\ndef gated_add(a, b=0):\n    gate.wait(10)\n    return a + b\n");
  ASSERT_TRUE(Bool(host_.call(task, "Start", {python.Function("gated_add"), Tuple({int64_t{1}}), keywords})));
  // The application changes both while the call waits: the call sees neither.
  host_.assign(arguments, "Int64Value", {int64_t{0}}, Int64{100});
  python.Run("globals()['gate'].set()");
  EXPECT_TRUE(Wait(task));
  Object second = NewTask();
  python.Run("gate.clear()");
  ASSERT_TRUE(Bool(host_.call(second, "Start", {python.Function("gated_add"), arguments})));
  host_.assign(arguments, "Int64Value", {int64_t{1}}, Int64{1000});
  python.Run("gate.set()");
  EXPECT_TRUE(Wait(second));
  EXPECT_EQ(EventsOf(task), Events({"finished 11"}));
  EXPECT_EQ(EventsOf(second), Events({"finished 102"}));
}

TEST_F(Tasks, FailedCarriesTheTypeMessageAndTraceback) {
  Object task = NewTask();
  std::string traceback;
  onTaskEvent = [&](const Object&, const std::string&) {};
  host_.defineSubclass("TracebackTask", "Python3Task",
                       {{"Failed", [&](const Object&, const std::vector<Value>& a) -> Value {
                           traceback = Text(a.at(2));
                           return {};
                         }}});
  Object traced = host_.newObject("TracebackTask");
  ASSERT_TRUE(Start(traced, "raise_value"));
  EXPECT_TRUE(Bool(host_.call(traced, "Wait", {int64_t{10000}})));
  EXPECT_NE(traceback.find("raise_value"), std::string::npos) << traceback;
  EXPECT_NE(traceback.find("ValueError: bad value"), std::string::npos) << traceback;

  ASSERT_TRUE(Start(task, "raise_value"));
  EXPECT_TRUE(Wait(task));
  // Not callable: the call itself raises, as the task runs.
  ASSERT_TRUE(Bool(host_.call(task, "Start", {python.EntityOf("42"), Tuple({})})));
  EXPECT_TRUE(Wait(task));
  ASSERT_TRUE(Bool(host_.call(task, "StartSource", {Str("1 +")})));
  EXPECT_TRUE(Wait(task));
  const Events events = EventsOf(task);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "failed ValueError: bad value");
  EXPECT_EQ(events[1].rfind("failed TypeError: ", 0), 0u) << events[1];
  EXPECT_EQ(events[2].rfind("failed SyntaxError: ", 0), 0u) << events[2];
  EXPECT_FALSE(ErrorOccurred());  // a task's error is its event's, never the application's pending error
}

TEST_F(Tasks, BadStartsAreRefusedWithAReadableErrorAndNothingLost) {
  Object task = NewTask();
  ASSERT_TRUE(Start(task, "spin"));
  EXPECT_TRUE(IsRunning(task));                    // until its ending event, which cannot come before Cancel
  EXPECT_FALSE(Start(task, "add", {int64_t{1}}));  // already running
  EXPECT_NE(GetError().find("already running"), std::string::npos);
  EXPECT_FALSE(Bool(host_.call(task, "StartSource", {Str("pass")})));
  EXPECT_NE(GetError().find("already running"), std::string::npos);
  host_.call(task, "Cancel");
  host_.call(task, "Cancel");  // twice: one ending all the same
  EXPECT_TRUE(Wait(task));
  EXPECT_EQ(EventsOf(task), Events({"cancelled"}));

  Object idle = NewTask();
  const auto startEntity = host_.memberFunctions(
      "Python3Task", "Start(callable as Python3Entity, parameters as Python3Parameters) as Boolean");
  using StartFunction = bool (*)(REALobjectStruct*, REALobjectStruct*, REALobjectStruct*);
  EXPECT_FALSE(reinterpret_cast<StartFunction>(startEntity.function)(idle.get(), nullptr, nullptr));
  EXPECT_NE(GetError().find("Nil"), std::string::npos);
  EXPECT_FALSE(reinterpret_cast<StartFunction>(startEntity.function)(idle.get(), python.EntityOf("len").get(),
                                                                     python.ListOf("[1]").get()));
  EXPECT_NE(GetError().find("tuple"), std::string::npos);
  EXPECT_FALSE(Bool(host_.call(idle, "StartSource", {Str(std::string("x = 1\0y", 7))})));
  EXPECT_NE(GetError().find("null bytes"), std::string::npos);
  EXPECT_FALSE(IsRunning(idle));
  EXPECT_TRUE(Wait(idle, 0));  // nothing runs: ended at once
  host_.call(idle, "Cancel");  // nothing to cancel
  EXPECT_EQ(EventsOf(idle), Events({}));
}

TEST_F(Tasks, ProgressComesInOrderCoalescedAndBeforeTheEnding) {
  Object task = NewTask();
  // Inside the first Progress event the task runs to its end: every later
  // report waits, and only the latest of them comes.
  onTaskEvent = [&](const Object& self, const std::string& event) {
    if (EventsOf(self).size() == 1) {
      python.Run("gate.set()");
      EXPECT_TRUE(Bool(host_.call(self, "Wait", {int64_t{10000}})));
      EXPECT_TRUE(IsRunning(self)) << event;  // its ending is not raised inside its own event
    }
  };
  ASSERT_TRUE(Start(task, "report", {int64_t{1000}, true}));
  EXPECT_TRUE(Wait(task));
  const Events events = EventsOf(task);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0], "progress 0.00 step 0");
  EXPECT_EQ(events[1], "progress 0.99 step 999");
  EXPECT_EQ(events[2], "finished 1000");
  // Outside a task both do nothing; a bad report is a TypeError in the code that made it.
  EXPECT_TRUE(python.TruthOf("python3task.progress(0.5, 'x') is None and python3task.cancelled() is False"));
  EXPECT_TRUE(python.TruthOf("python3task.progress(fraction=1) is None"));
  python.Run("try:\n    python3task.progress('half')\nexcept TypeError:\n    bad_progress = True\n");
  EXPECT_TRUE(python.TruthOf("bad_progress"));
}

TEST_F(Tasks, CancelWhileRunningEndsPurePythonSleepsAndLoopsThatCheck) {
  Object spinning = NewTask();
  ASSERT_TRUE(Start(spinning, "spin"));
  ASSERT_TRUE(Eventually("started.is_set()"));
  EXPECT_EQ(python.IntegerOf("6 * 7"), 42);  // the application's own calls go on meanwhile
  host_.call(spinning, "Cancel");
  EXPECT_TRUE(Wait(spinning));
  EXPECT_EQ(EventsOf(spinning), Events({"cancelled"}));

  python.Run("started.clear()");
  Object checking = NewTask();
  ASSERT_TRUE(Start(checking, "note_cancel"));
  ASSERT_TRUE(Eventually("started.is_set()"));
  host_.call(checking, "Cancel");
  EXPECT_TRUE(Wait(checking));
  EXPECT_EQ(EventsOf(checking), Events({"cancelled"}));
  EXPECT_TRUE(python.TruthOf("seen_cancelled"));

  // From another thread of the application, as compiled code calls it there.
  python.Run("started.clear()");
  Object elsewhere = NewTask();
  ASSERT_TRUE(Start(elsewhere, "spin"));
  ASSERT_TRUE(Eventually("started.is_set()"));
  const auto cancel =
      reinterpret_cast<void (*)(REALobjectStruct*)>(host_.memberFunctions("Python3Task", "Cancel()").function);
  std::thread([&] { cancel(elsewhere.get()); }).join();
  EXPECT_TRUE(Wait(elsewhere));
  EXPECT_EQ(EventsOf(elsewhere), Events({"cancelled"}));
}

TEST_F(Tasks, CancelBeforeItBeginsMeansItNeverRuns) {
  // Start and Cancel inside one host call, which keeps the interpreter lock:
  // no worker can have begun the call in between.
  Object task = NewTask();
  ListenToConsole("StartingConsole", [&](const std::string& text) {
    if (text != "go") return;
    EXPECT_TRUE(Start(task, "mark", {Str("early")}));
    host_.call(task, "Cancel");
  });
  python.Run("print('go')");
  EXPECT_TRUE(Wait(task));
  EXPECT_EQ(EventsOf(task), Events({"cancelled"}));
  EXPECT_TRUE(python.TruthOf("ran == []"));
}

TEST_F(Tasks, CancelAfterTheEndChangesNothing) {
  Object task = NewTask();
  ASSERT_TRUE(Start(task, "add", {int64_t{1}, int64_t{1}}));
  ASSERT_TRUE(Eventually("True") && Wait(task));
  host_.call(task, "Cancel");
  host_.call(task, "Cancel");
  EXPECT_TRUE(Wait(task, 0));
  EXPECT_EQ(EventsOf(task), Events({"finished 2"}));
}

TEST_F(Tasks, EventsComeAtTheNextCallOrTickNeverNested) {
  Object task = NewTask();
  ASSERT_TRUE(Start(task, "add", {int64_t{20}, int64_t{1}}));
  // No Wait: the background task's ticks deliver while the application idles.
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (EventsOf(task).empty() && Clock::now() < deadline) host_.idle(milliseconds(20));
  EXPECT_EQ(EventsOf(task), Events({"finished 21"}));
  // A new start from the ending event of the same task: its own events come after that one returns.
  int restarts = 0;
  onTaskEvent = [&](const Object& self, const std::string& event) {
    if (event.rfind("finished", 0) == 0 && restarts++ < 2) {
      EXPECT_TRUE(Start(self, "report", {int64_t{3}})) << GetError();
    }
  };
  ASSERT_TRUE(Start(task, "add", {int64_t{1}, int64_t{1}}));
  while (IsRunning(task) && Clock::now() < deadline) EXPECT_TRUE(Wait(task));
  const Events events = EventsOf(task);
  EXPECT_EQ(std::count(events.begin(), events.end(), "nested"), 0);
  EXPECT_EQ(events.back(), "finished 3");
  EXPECT_EQ(std::count(events.begin(), events.end(), "finished 3"), 2);
  // From a Progress event the task still runs: refused.
  onTaskEvent = [&](const Object& self, const std::string& event) {
    if (event.rfind("progress", 0) == 0) {
      EXPECT_FALSE(Start(self, "add", {int64_t{1}}));
      EXPECT_NE(GetError().find("already running"), std::string::npos);
    }
  };
  ASSERT_TRUE(Start(task, "report", {int64_t{1}}));
  EXPECT_TRUE(Wait(task));
  EXPECT_FALSE(ErrorOccurred());  // what a handler left is not the application's call's error
}

TEST_F(Tasks, ATaskLetGoWhileRunningIsCancelledAndRaisesNothing) {
  // Its worker gives back the references of the call as the call ends.
  const int64_t before = python.RefCount("spin");
  {
    Object task = host_.newObject("RecordingTask");
    ASSERT_TRUE(Start(task, "spin"));
    ASSERT_TRUE(Eventually("started.is_set()"));
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (python.RefCount("spin") > before && Clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
  EXPECT_EQ(python.RefCount("spin"), before);
  // One that finishes with a value nobody takes any more: it waits at a gate until it has been let go of.
  python.Run("gate.clear()\ndef gated_value():\n    gate.wait(10)\n    return 'lost value'\n");
  const int64_t gatedBefore = python.RefCount("gated_value");
  {
    Object task = host_.newObject("RecordingTask");
    ASSERT_TRUE(Start(task, "gated_value"));
  }
  python.Run("gate.set()");
  while (python.RefCount("gated_value") > gatedBefore && Clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(1));
  host_.idle(milliseconds(100));
  EXPECT_TRUE(taskEvents.empty()) << taskEvents.begin()->second.front();
}

TEST_F(Tasks, ManyTasksRunAtOnceAndEachGetsItsOwnValue) {
  constexpr int kTasks = 24;
  std::vector<Object> many;
  for (int i = 0; i < kTasks; ++i) {
    many.push_back(NewTask());
    ASSERT_TRUE(Start(many.back(), "add", {int64_t{i}, int64_t{1000}}));
  }
  for (int i = 0; i < kTasks; ++i) {
    EXPECT_TRUE(Wait(many[i]));
    EXPECT_EQ(EventsOf(many[i]), Events({"finished " + std::to_string(i + 1000)}));
  }
  // Four tasks that wait for each other: they only end when all four run at the same time.
  python.Run("barrier = threading.Barrier(4, timeout=10)");
  std::vector<Object> four;
  for (int i = 0; i < 4; ++i) {
    four.push_back(NewTask());
    ASSERT_TRUE(Bool(host_.call(four.back(), "Start", {python.Function("meet"), Tuple({})})));
  }
  for (const Object& task : four) {
    EXPECT_TRUE(Wait(task));
    EXPECT_EQ(EventsOf(task), Events({"finished met"}));
  }
}

int ThreadsOfTheProcess() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// A burst of tasks makes a worker each; once idle, all but four of them end.
TEST_F(Tasks, AfterABurstOnlyAFewIdleWorkersStay) {
  const int before = ThreadsOfTheProcess();
  ASSERT_GT(before, 0);
  python.Run("burst = threading.Barrier(12, timeout=10)\ndef gather():\n    burst.wait()\n    return 'met'\n");
  std::vector<Object> burst;
  for (int i = 0; i < 12; ++i) {
    burst.push_back(NewTask());
    ASSERT_TRUE(Bool(host_.call(burst.back(), "Start", {python.Function("gather"), Tuple({})})));
  }
  for (const Object& task : burst) {
    EXPECT_TRUE(Wait(task));
    EXPECT_EQ(EventsOf(task), Events({"finished met"}));
  }
  const int busiest = ThreadsOfTheProcess();
  EXPECT_GE(busiest, before + 8) << "twelve tasks that wait for each other ran on workers of their own";
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
  int now = busiest;
  while ((now = ThreadsOfTheProcess()) > before + 4 && Clock::now() < deadline)
    std::this_thread::sleep_for(milliseconds(100));
  EXPECT_LE(now, before + 4) << "threads before the burst " << before << ", during " << busiest << ", 20 s after "
                             << now;
  // The workers that stayed still run tasks.
  Object after = NewTask();
  ASSERT_TRUE(Start(after, "add", {int64_t{1}, int64_t{2}}));
  EXPECT_TRUE(Wait(after));
  EXPECT_EQ(EventsOf(after), Events({"finished 3"}));
}

TEST_F(Tasks, WhatATaskPrintsIsThreadOutput) {
  std::string printed;
  ListenToConsole("TaskConsole", [&](const std::string& text) { printed += text; });
  Object task = NewTask();
  ASSERT_TRUE(Start(task, "shout", {Str("from the task")}));
  EXPECT_TRUE(Wait(task));
  Engine("ClearError");  // one more call: the text is delivered by now
  EXPECT_EQ(printed, "from the task\n");
  EXPECT_EQ(EventsOf(task), Events({"finished 13"}));
}

// Finalize cancels every task, waits for them, and raises their Cancelled
// events before it returns; one in C code past the wait is left to end as
// Python ends a daemon thread, and the next start waits for it.
TEST_F(Tasks, FinalizeEndsTasksInPurePythonSleepAndCCode) {
  CheckLeaksNowNotAtExit();
  for (const char* function : {"spin", "sleep_in_steps", "block_in_c"}) {
    SCOPED_TRACE(function);
    python.Run("started.clear()");
    Object running = NewTask();
    Object queuedBehind = NewTask();
    const bool stuck = std::string(function) == "block_in_c";
    ASSERT_TRUE(Start(running, function, {stuck ? 3.0 : 30.0}));
    ASSERT_TRUE(Eventually("started.is_set()"));
    const Clock::time_point before = Clock::now();
    FinalizePython();
    const double seconds = std::chrono::duration<double>(Clock::now() - before).count();
    EXPECT_EQ(EventsOf(running), Events({"cancelled"}));
    EXPECT_FALSE(Bool(host_.getProperty(running, "IsRunning")));
    EXPECT_LT(seconds, stuck ? 10.0 : 2.0) << "Finalize took " << seconds << " s";
    EXPECT_FALSE(Bool(host_.call(queuedBehind, "StartSource", {Str("pass")})));  // Python is not running
    python.Disconnect();
    InitPython();
    python.Connect();
    DefineTaskCode();
    Object after = NewTask();
    ASSERT_TRUE(Start(after, "add", {int64_t{2}, int64_t{2}}));
    EXPECT_TRUE(Wait(after));
    EXPECT_EQ(EventsOf(after), Events({"finished 4"}));
    EXPECT_EQ(EventsOf(running), Events({"cancelled"}));  // nothing more of the old interpreter's
    tasks_.clear();
  }
}

// Python counts a thread as one of its daemon threads once its code asked
// threading.current_thread(): an idle worker must not hold up the next start.
TEST_F(Tasks, IdleWorkersLetTheNextStartGoAhead) {
  CheckLeaksNowNotAtExit();
  python.Run("def named():\n    return threading.current_thread().name\n");
  std::vector<Object> named;
  for (int i = 0; i < 3; ++i) {
    named.push_back(NewTask());
    ASSERT_TRUE(Start(named.back(), "named"));
  }
  for (const Object& task : named) EXPECT_TRUE(Wait(task));
  python.Disconnect();
  FinalizePython();
  EXPECT_EQ(RaisedBy([] { InitPython(); }), "");
  python.Connect();
  DefineTaskCode();
  Object after = NewTask();
  ASSERT_TRUE(Start(after, "add", {int64_t{1}, int64_t{2}}));
  EXPECT_TRUE(Wait(after));
  EXPECT_EQ(EventsOf(after), Events({"finished 3"}));
}

}  // namespace
}  // namespace api_tests
