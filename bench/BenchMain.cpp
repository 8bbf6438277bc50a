// The benchmark: each operation through the plugin (in the replacement host),
// the raw C API and pybind11, in one process against one libpython, then a
// table splitting the plugin's figures into the raw work, the host's share
// and the plugin's own.
//
//   plugin_bench [--python=LIBRARY] [--rss-calls=N] [--iterations=N] [--thread-lines=N] [--benchmark_...]
//   plugin_bench --figures=FILE   (the table of figures counted elsewhere; see instructions.sh)
//
// LIBRARY defaults to $PYTHON3_LIBRARY, then to Debian's libpython3.11.
// --iterations fixes the count of every benchmark (for valgrind --tool=callgrind).
// --thread-lines sets what the printing thread of the ThreadOutput rows prints
// per run (0 leaves the rows out).
#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "BenchWays.h"
#include "BufferWays.h"
#include "PluginWays.h"
#include "TaskRows.h"
#include "ThreadOutput.h"

namespace bench {
namespace {

// Every figure is CPU time per operation, the median of the repetitions.
// Repetitions run interleaved, so that a load that comes and goes spreads over every way.
constexpr const char* kDefaultFlags[] = {"--benchmark_repetitions=5", "--benchmark_report_aggregates_only=true",
                                         "--benchmark_min_time=0.1", "--benchmark_enable_random_interleaving=true"};
constexpr int64_t kLifecycleIterations = 20;

struct Row {
  Operation id;
  const char* name;
  const char* label;
  bool hostRow;
  std::vector<std::pair<Operation, double>> hostShare;  // host rows and how often the operation asks for them
};

namespace host_rows {
#define BENCH_HOST(Id, label) constexpr Operation Id = Operation::Id;
#include "Operations.def"
}  // namespace host_rows

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = [] {
    using namespace host_rows;
    std::vector<Row> all;
#define BENCH_HOST(Id, label) all.push_back(Row{Operation::Id, #Id, label, true, {}});
#define BENCH_OPERATION(Id, label, ...) all.push_back(Row{Operation::Id, #Id, label, false, {__VA_ARGS__}});
#include "Operations.def"
    return all;
  }();
  return rows;
}

const char* WayName(Way way) {
  switch (way) {
    case Way::Plugin:
      return "plugin";
    case Way::PluginHandedOver:
      return "plugin-handed-over";
    case Way::Raw:
      return "raw";
    case Way::RawPerOperation:
      return "raw-per-operation";
    case Way::Pybind11:
      return "pybind11";
    case Way::Host:
      return "host";
    case Way::RawLockHeld:
      return "raw-lock-held";
  }
  return "?";
}

std::string BenchmarkName(const Row& row, Way way) { return std::string(row.name) + "/" + WayName(way); }

// One figure per operation, by benchmark name ("Invoke3Prebuilt/raw"); NAN
// where a way did not run or failed.
class Figures {
 public:
  double operator()(const std::string& name) const {
    auto it = values_.find(name);
    return it == values_.end() ? NAN : it->second;
  }
  void set(const std::string& name, double value) { values_[name] = value; }

 private:
  std::map<std::string, double> values_;
};

// Keeps the median CPU time of every benchmark, in ns, and the medians of its
// counters (the only run when there is one repetition).
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      const std::string& name = run.run_name.function_name;
      if (median || !medianSeen_.count(name)) {
        figures_.set(name, run.GetAdjustedCPUTime());
        for (const auto& [counter, value] : run.counters) counters_.set(name + "#" + counter, value.value);
      }
      if (median) medianSeen_.insert(name);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const Figures& figures() const { return figures_; }
  double counter(const std::string& benchmark, const std::string& counter) const {
    return counters_(benchmark + "#" + counter);
  }

 private:
  Figures figures_;
  Figures counters_;  // by "benchmark#counter"
  std::set<std::string> medianSeen_;
};

// Lines "way operation value", the numbers of the enumerations (as
// instructions.sh writes them from callgrind's names).
Figures ReadFigures(const std::string& file) {
  Figures figures;
  std::ifstream in(file);
  int way = 0, operation = 0;
  double value = 0;
  while (in >> way >> operation >> value)
    if (operation >= 0 && static_cast<size_t>(operation) < kRowCount && way >= 0 && way <= static_cast<int>(Way::RawLockHeld))
      figures.set(BenchmarkName(Rows()[static_cast<size_t>(operation)], static_cast<Way>(way)), value);
  return figures;
}

struct Options {
  std::string plugin = PLUGIN_PATH;
  std::string library;
  int64_t rssCalls = 1000000;
  int64_t iterations = 0;  // 0: as many as the minimum time needs
  int64_t threadLines = 1500000;
  std::string figuresFile;  // print the table of these figures instead of measuring
  std::vector<char*> benchmarkArguments;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  const char* fromEnvironment = std::getenv("PYTHON3_LIBRARY");
  options.library = fromEnvironment && *fromEnvironment ? fromEnvironment : BENCH_DEFAULT_PYTHON;
  options.benchmarkArguments.push_back(argv[0]);
  for (const char* flag : kDefaultFlags) options.benchmarkArguments.push_back(const_cast<char*>(flag));
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument.rfind("--python=", 0) == 0)
      options.library = argument.substr(9);
    else if (argument.rfind("--plugin=", 0) == 0)
      options.plugin = argument.substr(9);
    else if (argument.rfind("--rss-calls=", 0) == 0)
      options.rssCalls = std::atoll(argument.c_str() + 12);
    else if (argument.rfind("--iterations=", 0) == 0)
      options.iterations = std::atoll(argument.c_str() + 13);
    else if (argument.rfind("--thread-lines=", 0) == 0)
      options.threadLines = std::atoll(argument.c_str() + 15);
    else if (argument.rfind("--figures=", 0) == 0)
      options.figuresFile = argument.substr(10);
    else
      options.benchmarkArguments.push_back(argv[i]);
  }
  return options;
}

std::string PythonVersion() {
  auto version = reinterpret_cast<const char* (*)()>(dlsym(RTLD_DEFAULT, "Py_GetVersion"));
  std::string text = version ? version() : "";
  return text.substr(0, text.find(' '));
}

const ComparisonWays* LoadComparisonWays(const std::string& version) {
  const std::string minor = version.substr(0, version.find('.', version.find('.') + 1));
  const std::string path = std::string(BENCH_COMPARISON_DIR) + "/bench_comparison_" + minor + ".so";
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  using Entry = decltype(&BenchComparisonWays);
  auto entry = module ? reinterpret_cast<Entry>(dlsym(module, "BenchComparisonWays")) : nullptr;
  if (!entry) {
    std::fprintf(stderr,
                 "No raw C API or pybind11 figures: %s\n(comparison modules are built for the system's Python; "
                 "configure with -DBENCH_ALL_PYTHONS=ON for every Python of the machine)\n",
                 module ? path.c_str() : dlerror());
    return nullptr;
  }
  return entry(&PluginContext());
}

WayFunction FunctionFor(const ComparisonWays* comparison, Way way, size_t row) {
  switch (way) {
    case Way::Plugin:
      return PluginWays().functions[row];
    case Way::PluginHandedOver:
      return PluginHandedOverWays().functions[row];
    case Way::Host:
      return HostWays().functions[row];
    case Way::Raw:
      return comparison ? comparison->raw.functions[row] : nullptr;
    case Way::RawPerOperation:
      return comparison ? comparison->rawPerOperation.functions[row] : nullptr;
    case Way::Pybind11:
      return comparison ? comparison->pybind11.functions[row] : nullptr;
    case Way::RawLockHeld:
      return comparison ? comparison->rawLockHeld.functions[row] : nullptr;
  }
  return nullptr;
}

void RegisterAll(const ComparisonWays* comparison, int64_t iterations) {
  for (const Row& row : Rows()) {
    const size_t index = static_cast<size_t>(row.id);
    for (Way way : {Way::Host, Way::Plugin, Way::PluginHandedOver, Way::Raw, Way::RawPerOperation, Way::Pybind11,
                    Way::RawLockHeld}) {
      WayFunction function = FunctionFor(comparison, way, index);
      if (!function) continue;
      const bool comparisonWay = way == Way::Raw || way == Way::RawPerOperation || way == Way::Pybind11;
      auto* benchmark = comparisonWay && row.id != Operation::InitFinalize
                            ? benchmark::RegisterBenchmark(BenchmarkName(row, way).c_str(),
                                                           [function](benchmark::State& state) {
                                                             AnotherPythonThread waiting;
                                                             function(state);
                                                           })
                            : benchmark::RegisterBenchmark(BenchmarkName(row, way).c_str(), function);
      benchmark->Unit(benchmark::kNanosecond);
      if (row.id == Operation::InitFinalize)
        benchmark->Iterations(kLifecycleIterations);
      else if (iterations > 0)
        benchmark->Iterations(iterations);
    }
  }
}

std::string MachineName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown processor";
}

std::string Figure(double value) {
  if (std::isnan(value)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(value) < 100 ? "%.1f" : "%.0f", value);
  return text;
}

std::string Ratio(double numerator, double denominator) {
  if (std::isnan(numerator) || std::isnan(denominator) || denominator <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", numerator / denominator);
  return text;
}

// The ratios a row can be held to (`Targets.def`).
enum class TargetRatio { PluginOverRaw, OwnOverRaw, PluginLessHostOverRawHeld, PluginLessRawHeld, HandedOverOwnOverRaw };

// The handed-over path: the plugin's own share beside the exchanges, at most this share of raw, on every row.
constexpr double kHandedOverOwnLimit = 0.3;

struct Target {
  Operation id;
  TargetRatio ratio;
  double limit;
};

constexpr Target kTargets[] = {
#define BENCH_TARGET(Id, ratio, limit) {Operation::Id, TargetRatio::ratio, limit},
#include "Targets.def"
};

const char* RatioName(TargetRatio ratio) {
  switch (ratio) {
    case TargetRatio::PluginOverRaw:
      return "plugin/raw";
    case TargetRatio::OwnOverRaw:
      return "own/raw";
    case TargetRatio::PluginLessHostOverRawHeld:
      return "(plugin-host)/(raw held)";
    case TargetRatio::PluginLessRawHeld:
      return "plugin-(raw held), instructions";
    case TargetRatio::HandedOverOwnOverRaw:
      return "handed-over own/raw";
  }
  return "?";
}

// One operation's figures, and the ratios it can be held to.
struct RowFigures {
  double plugin, handedOver, raw, rawPerOperation, rawLockHeld, pybind11, host;

  RowFigures(const Figures& figures, const Row& row)
      : plugin(figures(BenchmarkName(row, Way::Plugin))),
        handedOver(figures(BenchmarkName(row, Way::PluginHandedOver))),
        raw(figures(BenchmarkName(row, Way::Raw))),
        rawPerOperation(figures(BenchmarkName(row, Way::RawPerOperation))),
        rawLockHeld(figures(BenchmarkName(row, Way::RawLockHeld))),
        pybind11(figures(BenchmarkName(row, Way::Pybind11))),
        host(0) {
    for (const auto& [hostRow, count] : row.hostShare)
      host += count * figures(BenchmarkName(Rows()[static_cast<size_t>(hostRow)], Way::Host));
  }
  double own() const { return plugin - raw - host; }
  static double Divided(double numerator, double denominator) {
    return std::isnan(numerator) || std::isnan(denominator) || denominator <= 0 ? NAN : numerator / denominator;
  }
  double operator()(TargetRatio ratio) const {
    switch (ratio) {
      case TargetRatio::PluginOverRaw:
        return Divided(plugin, raw);
      case TargetRatio::OwnOverRaw:
        return Divided(own(), raw);
      case TargetRatio::PluginLessHostOverRawHeld:
        return Divided(plugin - host, rawLockHeld);
      case TargetRatio::PluginLessRawHeld:
        return plugin - rawLockHeld;
      case TargetRatio::HandedOverOwnOverRaw:
        return Divided(handedOver - raw - host, raw);
    }
    return NAN;
  }
};

// "met", "missed by X" or "-" (not measured, or not in this unit).
std::string Verdict(double value, double limit) {
  if (std::isnan(value)) return "-";
  if (value <= limit) return "met";
  return "missed by " + (limit >= 10 ? Figure(value - limit) : Ratio(value - limit, 1));
}

// `unit` heads the host's table; `what` says what the figures are; the
// absolute target of instructions is judged in instructions only.
void PrintSummary(const Figures& figures, const char* unit, const char* what, const std::string& version,
                  const std::string& library, bool instructions) {
  std::printf("\n%s, %ld cores; Python %s (%s)\n", MachineName().c_str(), sysconf(_SC_NPROCESSORS_ONLN),
              version.c_str(), library.c_str());
  std::printf(
      "%s per operation. plugin: no other thread, the lock kept between calls; handed over: a Python thread "
      "waits, the lock is given back at every call's end. raw: the lock taken per host call of the plugin; "
      "raw/op: once per operation (per item of the 1,000-item rows); raw held: held throughout, no other thread. "
      "host = the host's share of the plugin's figure, own = plugin - raw - host; handed-over own = handed over - "
      "raw - host. Held to: the target of the row and whether this run meets it; every row is held to a "
      "handed-over own/raw of %.1f at most.\n\n",
      what, kHandedOverOwnLimit);
  std::printf(
      "| Operation | plugin | handed over | raw | raw/op | raw held | pybind11 | host | own | plugin/raw | "
      "plugin/pybind11 | plugin/(pybind11+host) | own/raw | (plugin-host)/(raw held) | handed-over own/raw | "
      "held to | met |\n"
      "|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|---|---|\n");
  std::vector<std::string> verdicts;
  int missedHandedOver = 0, judgedHandedOver = 0;
  for (const Row& row : Rows()) {
    if (row.hostRow) continue;
    const RowFigures f(figures, row);
    std::string heldTo, met;
    for (const Target& target : kTargets) {
      if (target.id != row.id) continue;
      const bool judged = instructions || target.ratio != TargetRatio::PluginLessRawHeld;
      const double value = judged ? f(target.ratio) : NAN;
      char limit[32];
      std::snprintf(limit, sizeof limit, "%g", target.limit);
      const std::string verdict = Verdict(value, target.limit);
      heldTo += std::string(heldTo.empty() ? "" : "; ") + RatioName(target.ratio) + " <= " + limit;
      met += std::string(met.empty() ? "" : "; ") + verdict;
      verdicts.push_back(std::string("| ") + row.label + " | " + RatioName(target.ratio) + " <= " + limit + " | " +
                         (target.ratio == TargetRatio::PluginLessRawHeld ? Figure(value) : Ratio(value, 1)) + " | " +
                         verdict + " |");
    }
    const double handedOverOwn = f(TargetRatio::HandedOverOwnOverRaw);
    if (!std::isnan(handedOverOwn)) {
      ++judgedHandedOver;
      if (handedOverOwn > kHandedOverOwnLimit) ++missedHandedOver;
    }
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", row.label,
                Figure(f.plugin).c_str(), Figure(f.handedOver).c_str(), Figure(f.raw).c_str(),
                Figure(f.rawPerOperation).c_str(), Figure(f.rawLockHeld).c_str(), Figure(f.pybind11).c_str(),
                Figure(f.host).c_str(), Figure(f.own()).c_str(), Ratio(f.plugin, f.raw).c_str(),
                Ratio(f.plugin, f.pybind11).c_str(), Ratio(f.plugin, f.pybind11 + f.host).c_str(),
                Ratio(f.own(), f.raw).c_str(), Ratio(f.plugin - f.host, f.rawLockHeld).c_str(),
                Ratio(handedOverOwn, 1).c_str(), heldTo.empty() ? "-" : heldTo.c_str(), met.empty() ? "-" : met.c_str());
  }
  std::printf("\n| Target | held to | figure | met |\n|---|---|--:|---|\n");
  for (const std::string& verdict : verdicts) std::printf("%s\n", verdict.c_str());
  std::printf("| every row: handed-over own/raw | <= %.1f | %d of %d rows above | %s |\n", kHandedOverOwnLimit,
              missedHandedOver, judgedHandedOver, missedHandedOver == 0 ? "met" : "missed");
  std::printf("\n| The host's own work | %s |\n|---|--:|\n", unit);
  for (const Row& row : Rows())
    if (row.hostRow) std::printf("| %s | %s |\n", row.label, Figure(figures(BenchmarkName(row, Way::Host))).c_str());
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
  Options options = ParseOptions(argc, argv);
  try {
    StartPlugin(options.plugin, options.library, BENCH_PYTHON_MODULES);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cannot start the plugin with %s: %s\n", options.library.c_str(), error.what());
    return 1;
  }
  const std::string version = PythonVersion();
  if (!options.figuresFile.empty()) {
    PrintSummary(ReadFigures(options.figuresFile), "instructions", "Instructions", version, options.library, true);
    return 0;
  }
  RegisterAll(LoadComparisonWays(version), options.iterations);
  RegisterBufferBenchmarks(options.iterations);
  RegisterThreadOutputBenchmarks(options.threadLines);
  RegisterTaskBenchmarks();
  int benchmarkArgc = static_cast<int>(options.benchmarkArguments.size());
  benchmark::Initialize(&benchmarkArgc, options.benchmarkArguments.data());
  if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, options.benchmarkArguments.data())) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter.figures(), "ns", "CPU time in ns (median of the repetitions)", version, options.library,
               false);
  PrintBufferSummary([&](const std::string& name) { return reporter.figures()(name); });
  PrintThreadOutputSummary([&](const std::string& counter) { return reporter.counter("ThreadOutput/idle", counter); },
                           options.threadLines);
  PrintTaskSummary(
      [&](const std::string& benchmark, const std::string& counter) { return reporter.counter(benchmark, counter); });
  if (options.rssCalls > 0) {
    std::printf("\n| Resident memory over %lld calls, past a warm-up of a tenth as many | KiB | s |\n|---|--:|--:|\n",
                static_cast<long long>(options.rssCalls));
    for (const ResidentGrowth& growth : ResidentGrowthOverCalls(options.rssCalls))
      std::printf("| %s | %+lld | %.2f |\n", growth.path, static_cast<long long>(growth.bytes / 1024), growth.seconds);
  }
  benchmark::Shutdown();
  return 0;
}
