#include "ThreadOutput.h"

#include <benchmark/benchmark.h>
#include <time.h>

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

xhost::Host& Host() { return xhost::Host::instance(); }

// What the receiver's handler saw of the current run; on the host's thread only.
struct Delivery {
  int64_t lines = 0;     // line ends received
  int64_t expected = 0;  // lines the thread prints
  Clock::time_point last{};
} delivery;

Object gReceiver;  // a Python3EngineConsoleOutput whose handler only counts line ends

// The host's thread turns the run loop in slices this short, so that the end
// of the delivery is seen within about a slice.
constexpr auto kIdleSlice = std::chrono::milliseconds(1);
constexpr auto kGiveUp = std::chrono::seconds(120);

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool Run(const std::string& code) {
  return xhost::asBoolean(Host().callShared("Python3Engine", "Execute", {Host().newString(code)}));
}

double Evaluated(const std::string& expression) {
  Object result = xhost::asObject(Host().callShared("Python3Engine", "Evaluate", {Host().newString(expression)}));
  return result.isNil() ? NAN : xhost::asDouble(Host().call(result, "DoubleValue"));
}

bool StartPrinting(int64_t lines, bool standalone) {
  return Run(std::string("import ") + kPythonModule + "\n" + kPythonModule + ".start_printing(" +
             std::to_string(lines) + (standalone ? ", True)" : ", False)"));
}

struct PrintingRun {
  double seconds = NAN;        // standalone: the loop's; idle: to the last line delivered
  double threadSeconds = NAN;  // the printing thread's loop, by its own clock
  double threadCpu = NAN;      // the printing thread's CPU time in its loop
  double hostCpu = NAN;        // the host thread's CPU time while it turned the run loop
};

// Joins the printing thread and reads its loop's wall and CPU time.
void JoinPrinting(PrintingRun& run) {
  run.threadSeconds = Evaluated(std::string(kPythonModule) + ".join_printing()");
  run.threadCpu = Evaluated(std::string(kPythonModule) + ".printing_cpu");
}

// Standalone: the thread prints to a text file on /dev/null; its loop's own
// time (time.perf_counter around it) is the figure.
PrintingRun Standalone(int64_t lines) {
  PrintingRun run;
  if (!StartPrinting(lines, true)) return run;
  JoinPrinting(run);
  run.seconds = run.threadSeconds;
  return run;
}

// The same thread printing to the plugin's sys.stdout while the host's
// thread does nothing but turn the run loop; timed from just before the call
// that starts the thread to the last line's event.
PrintingRun Idle(int64_t lines, bool wholeLines) {
  if (wholeLines)
    Host().callShared("Python3Engine", "SetConsoleOutput", {gReceiver, true});
  else
    Host().callShared("Python3Engine", "SetConsoleOutput", {gReceiver});
  delivery = Delivery{0, lines, {}};
  PrintingRun run;
  const Clock::time_point start = Clock::now();
  const bool started = StartPrinting(lines, false);
  const double cpu = ThreadCpuSeconds();
  while (started && delivery.lines < lines && Clock::now() - start < kGiveUp) Host().idle(kIdleSlice);
  run.hostCpu = ThreadCpuSeconds() - cpu;
  const bool complete = delivery.lines >= lines;
  if (started) JoinPrinting(run);
  Host().callShared("Python3Engine", "SetConsoleOutput", {xhost::Nil{}});
  if (complete) run.seconds = std::chrono::duration<double>(delivery.last - start).count();
  return run;
}

void ThreadOutputIdle(benchmark::State& state, int64_t lines) {
  PrintingRun sum[3] = {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}};  // standalone, idle, idle in whole lines
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    const PrintingRun runs[3] = {Standalone(lines), Idle(lines, false), Idle(lines, true)};
    for (const PrintingRun& run : runs)
      if (std::isnan(run.seconds) || std::isnan(run.threadSeconds) || std::isnan(run.threadCpu)) {
        state.SkipWithError("a printing thread failed, or its lines did not all arrive");
        return;
      }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    for (int way = 0; way < 3; ++way) {
      sum[way].seconds += runs[way].seconds;
      sum[way].threadSeconds += runs[way].threadSeconds;
      sum[way].threadCpu += runs[way].threadCpu;
      if (way > 0) sum[way].hostCpu += runs[way].hostCpu;
    }
  }
  const double printed = static_cast<double>(lines) * static_cast<double>(state.iterations());
  const char* names[3] = {"standalone", "idle", "idle_lines"};
  for (int way = 0; way < 3; ++way) {
    const std::string name = names[way];
    state.counters[name] = printed / sum[way].seconds;
    state.counters[name + "_thread_loop"] = printed / sum[way].threadSeconds;
    state.counters[name + "_thread_cpu_ns"] = sum[way].threadCpu * 1e9 / printed;
    if (way > 0) {
      state.counters[name + "/standalone"] = sum[0].seconds / sum[way].seconds;
      state.counters[name + "_host_cpu_ns"] = sum[way].hostCpu * 1e9 / printed;
    }
  }
}

std::string Rate(double linesPerSecond) {
  if (std::isnan(linesPerSecond)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", linesPerSecond);
  // Thousands separated, as the tables write large figures.
  std::string digits = text, grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::string Fixed(double value, const char* format) {
  if (std::isnan(value)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

void RegisterThreadOutputBenchmarks(int64_t lines) {
  if (lines <= 0) return;
  Host().defineSubclass("BenchThreadConsole", "Python3EngineConsoleOutput",
                        {{"ConsoleOutput", [](const Object&, const std::vector<xhost::Value>& arguments) {
                            const auto* text = arguments.empty() ? nullptr : std::get_if<xhost::String>(&arguments[0]);
                            if (!text) return xhost::Value{};
                            for (char byte : text->bytes())
                              if (byte == '\n' && ++delivery.lines == delivery.expected) delivery.last = Clock::now();
                            return xhost::Value{};
                          }}});
  gReceiver = Host().newObject("BenchThreadConsole");
  // One iteration per repetition whatever --iterations says: each prints
  // `lines` three times, and callgrind has no use for wall-clock rows.
  benchmark::RegisterBenchmark("ThreadOutput/idle",
                               [lines](benchmark::State& state) { ThreadOutputIdle(state, lines); })
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
}

void PrintThreadOutputSummary(const std::function<double(const std::string& counter)>& counter, int64_t lines) {
  if (lines <= 0) return;
  std::printf(
      "\nThread output while the application idles: a Python thread prints %lld short lines (print(i)). Wall-clock "
      "lines per second (not CPU time), median of the repetitions. standalone: sys.stdout a text file on /dev/null, "
      "Python's clock around the loop; plugin: its sys.stdout, a ConsoleOutput handler that does nothing, the host's "
      "thread only turning the run loop, from the call that starts the thread to the last line delivered. CPU "
      "columns: the printing thread's in its loop and the host thread's while it idled, per line.\n\n"
      "| Way | lines/s | / standalone | thread's loop, lines/s | thread CPU, ns/line | host CPU, ns/line |\n"
      "|---|--:|--:|--:|--:|--:|\n",
      static_cast<long long>(lines));
  const struct {
    const char* name;
    const char* label;
  } ways[] = {{"standalone", "standalone, to /dev/null"},
              {"idle", "plugin, idle, an event per write"},
              {"idle_lines", "plugin, idle, whole lines (SetConsoleOutput(receiver, True))"}};
  for (const auto& way : ways) {
    const std::string name = way.name;
    const bool standalone = name == "standalone";
    std::printf("| %s | %s | %s | %s | %s | %s |\n", way.label, Rate(counter(name)).c_str(),
                standalone ? "1.00" : Fixed(counter(name + "/standalone"), "%.2f").c_str(),
                Rate(counter(name + "_thread_loop")).c_str(), Fixed(counter(name + "_thread_cpu_ns"), "%.0f").c_str(),
                standalone ? "-" : Fixed(counter(name + "_host_cpu_ns"), "%.0f").c_str());
  }
}

}  // namespace bench
