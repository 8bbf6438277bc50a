// The Python3Task rows: round trips, responsiveness while a task runs, and tasks that sleep at the same time.
#include "TaskRows.h"

#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

#include "BenchWays.h"
#include "xhost/Host.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
using xhost::Object;
using xhost::Value;

xhost::Host& Host() { return xhost::Host::instance(); }

constexpr int kRoundTrips = 2000;  // tasks per run, one after the other
constexpr int kBatch = 64;         // tasks started together, then waited for
constexpr double kBusySeconds = 2.0;
constexpr auto kSyncCallEvery = std::chrono::milliseconds(10);
constexpr int kSleepers = 4;
constexpr double kSleepSeconds = 1.0;

// The process's CPU time: the workers' included.
double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

Object Function(const char* name) {
  Object module = xhost::asObject(Host().callShared("Python3Engine", "GetModule", {Host().newString(kPythonModule)}));
  return module.isNil() ? Object() : xhost::asObject(Host().call(module, "GetFunction", {Host().newString(name)}));
}

Object OneArgument(const Value& value) {
  Object arguments = Host().newObject("Python3Parameters", {int64_t{1}});
  if (std::holds_alternative<double>(value))
    Host().assign(arguments, "DoubleValue", {int64_t{0}}, value);
  else
    Host().assign(arguments, "Int64Value", {int64_t{0}}, value);
  return arguments;
}

int64_t finished = 0;  // Finished events raised, on the host's thread

bool Start(const Object& task, const Object& function, const Object& arguments) {
  return xhost::asBoolean(Host().call(task, "Start", {function, arguments}));
}

bool Wait(const Object& task, int64_t milliseconds) {
  return xhost::asBoolean(Host().call(task, "Wait", {milliseconds}));
}

void RoundTrip(benchmark::State& state) {
  const Object function = Function("f1");
  const Object arguments = OneArgument(int64_t{7});
  const auto invoke =
      Host().memberFunctions("Python3Function", "Invoke(parameters as Python3Parameters) as Python3Result");
  using InvokeFunction = REALobjectStruct* (*)(REALobjectStruct*, REALobjectStruct*);
  double taskCpu = 0, taskSeconds = 0, batchCpu = 0, batchSeconds = 0, invokeCpu = 0;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    finished = 0;
    Object task = Host().newObject("BenchTask");
    double cpu = ProcessCpuSeconds();
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i)
      if (!Start(task, function, arguments) || !Wait(task, 10000)) return state.SkipWithError("a task failed");
    taskSeconds += SecondsSince(start);
    taskCpu += ProcessCpuSeconds() - cpu;

    std::vector<Object> tasks;
    for (int i = 0; i < kBatch; ++i) tasks.push_back(Host().newObject("BenchTask"));
    cpu = ProcessCpuSeconds();
    start = Clock::now();
    for (int round = 0; round < kRoundTrips / kBatch; ++round) {
      for (const Object& each : tasks)
        if (!Start(each, function, arguments)) return state.SkipWithError("a task failed to start");
      for (const Object& each : tasks)
        if (!Wait(each, 10000)) return state.SkipWithError("a task did not end");
    }
    batchSeconds += SecondsSince(start);
    batchCpu += ProcessCpuSeconds() - cpu;
    if (finished != kRoundTrips + kRoundTrips / kBatch * kBatch) return state.SkipWithError("events were lost");

    cpu = ProcessCpuSeconds();
    const auto call = reinterpret_cast<InvokeFunction>(invoke.function);
    for (int i = 0; i < kRoundTrips; ++i) Object::adopt(call(function.get(), arguments.get()));
    invokeCpu += ProcessCpuSeconds() - cpu;
    state.SetIterationTime(SecondsSince(begin));
  }
  const double runs = static_cast<double>(state.iterations());
  const double batched = static_cast<double>(kRoundTrips / kBatch * kBatch);
  state.counters["task_cpu_us"] = taskCpu * 1e6 / (runs * kRoundTrips);
  state.counters["tasks_per_s"] = runs * kRoundTrips / taskSeconds;
  state.counters["batch_cpu_us"] = batchCpu * 1e6 / (runs * batched);
  state.counters["batch_tasks_per_s"] = runs * batched / batchSeconds;
  state.counters["invoke_cpu_us"] = invokeCpu * 1e6 / (runs * kRoundTrips);
}

// While a task runs pure Python, the host's thread turns its run loop (a
// slice of 1 ms each) and makes a trivial call every 10 ms.
void Responsiveness(benchmark::State& state) {
  const Object busy = Function("busy");
  const Object arguments = OneArgument(kBusySeconds);
  double worstGap = 0, worstCall = 0, turns = 0, calls = 0;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    Object task = Host().newObject("BenchTask");
    if (!Start(task, busy, arguments)) return state.SkipWithError("the task did not start");
    Clock::time_point last = Clock::now(), lastCall = last;
    while (xhost::asBoolean(Host().getProperty(task, "IsRunning"))) {
      Host().idle(std::chrono::milliseconds(1));
      const Clock::time_point now = Clock::now();
      worstGap = std::max(worstGap, std::chrono::duration<double>(now - last).count());
      last = now;
      ++turns;
      if (now - lastCall >= kSyncCallEvery) {
        const Clock::time_point called = Clock::now();
        Host().callShared("Python3Engine", "Evaluate", {Host().newString("1")});
        worstCall = std::max(worstCall, SecondsSince(called));
        lastCall = Clock::now();
        ++calls;
      }
    }
    state.SetIterationTime(SecondsSince(begin));
  }
  state.counters["worst_gap_ms"] = worstGap * 1e3;
  state.counters["worst_call_ms"] = worstCall * 1e3;
  state.counters["turns_per_s"] = turns / (kBusySeconds * static_cast<double>(state.iterations()));
  state.counters["calls"] = calls;
}

void Sleepers(benchmark::State& state) {
  const Object nap = Function("nap");
  const Object arguments = OneArgument(kSleepSeconds);
  double longest = 0;
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    std::vector<Object> tasks;
    for (int i = 0; i < kSleepers; ++i) {
      tasks.push_back(Host().newObject("BenchTask"));
      if (!Start(tasks.back(), nap, arguments)) return state.SkipWithError("a task did not start");
    }
    for (const Object& task : tasks)
      if (!Wait(task, 10000)) return state.SkipWithError("a task did not end");
    const double seconds = SecondsSince(begin);
    longest = std::max(longest, seconds);
    state.SetIterationTime(seconds);
  }
  state.counters["all_ended_s"] = longest;
}

std::string Fixed(double value, const char* format) {
  if (std::isnan(value)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

void RegisterTaskBenchmarks() {
  Host().defineSubclass("BenchTask", "Python3Task",
                        {{"Finished", [](const Object&, const std::vector<Value>&) -> Value {
                            ++finished;
                            return {};
                          }}});
  // One iteration per repetition: each is a whole run, and callgrind has no use for wall-clock rows.
  for (const auto& [name, function] :
       {std::pair<const char*, void (*)(benchmark::State&)>{"Tasks/roundtrip", &RoundTrip},
        {"Tasks/responsiveness", &Responsiveness},
        {"Tasks/sleepers", &Sleepers}})
    benchmark::RegisterBenchmark(name, function)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
}

void PrintTaskSummary(const std::function<double(const std::string& benchmark, const std::string& counter)>& counter) {
  const auto roundTrip = [&](const char* name) { return counter("Tasks/roundtrip", name); };
  std::printf(
      "\nPython3Task, median of the repetitions. Round trip: Start of f1(7) on a worker, then Wait, which raises "
      "Finished (%d tasks one after the other; then %d at a time); CPU of the whole process (workers included) per "
      "task, beside a synchronous Invoke of the same function.\n\n"
      "| Way | CPU per task, us | tasks/s |\n|---|--:|--:|\n"
      "| Start, then Wait (one at a time) | %s | %s |\n"
      "| Start %d, then Wait for each | %s | %s |\n"
      "| Invoke (synchronous) | %s | - |\n",
      kRoundTrips, kBatch, Fixed(roundTrip("task_cpu_us"), "%.1f").c_str(),
      Fixed(roundTrip("tasks_per_s"), "%.0f").c_str(), kBatch, Fixed(roundTrip("batch_cpu_us"), "%.1f").c_str(),
      Fixed(roundTrip("batch_tasks_per_s"), "%.0f").c_str(), Fixed(roundTrip("invoke_cpu_us"), "%.2f").c_str());
  std::printf(
      "\nWhile a task runs pure Python for %.0f s: the run loop (1 ms slices, IsRunning between them) and a trivial "
      "Evaluate every 10 ms.\n\n| worst gap between turns, ms | turns/s | worst wait of a synchronous call, ms |\n"
      "|--:|--:|--:|\n| %s | %s | %s |\n",
      kBusySeconds, Fixed(counter("Tasks/responsiveness", "worst_gap_ms"), "%.1f").c_str(),
      Fixed(counter("Tasks/responsiveness", "turns_per_s"), "%.0f").c_str(),
      Fixed(counter("Tasks/responsiveness", "worst_call_ms"), "%.1f").c_str());
  std::printf("\n%d tasks each sleeping %.0f s (time.sleep): all ended after %s s.\n", kSleepers, kSleepSeconds,
              Fixed(counter("Tasks/sleepers", "all_ended_s"), "%.2f").c_str());
}

}  // namespace bench
