// The benchmark: each operation through the plugin (in the replacement host),
// the raw C API and pybind11, in one process against one libpython, then a
// table splitting the plugin's figures into the raw work, the host's share
// and the plugin's own.
//
//   plugin_bench [--python=LIBRARY] [--rss-calls=N] [--benchmark_...]
//
// LIBRARY defaults to $PYTHON3_LIBRARY, then to Debian's libpython3.11.
#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "BenchWays.h"
#include "PluginWays.h"

namespace bench {
namespace {

// Every figure is CPU time per operation; the median of this many runs.
constexpr const char* kDefaultFlags[] = {"--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
                                         "--benchmark_min_time=0.25"};
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
    case Way::Plugin: return "plugin";
    case Way::Raw: return "raw";
    case Way::Pybind11: return "pybind11";
    case Way::Host: return "host";
  }
  return "?";
}

// Median CPU time per operation, in ns, by benchmark name ("Invoke3Prebuilt/raw").
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      Figure& figure = figures_[run.run_name.function_name];
      if (median || !figure.median) figure = {run.GetAdjustedCPUTime(), median};
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // NAN when the benchmark did not run or failed.
  double nanoseconds(const std::string& name) const {
    auto it = figures_.find(name);
    return it == figures_.end() ? NAN : it->second.ns;
  }

 private:
  struct Figure {
    double ns = NAN;
    bool median = false;
  };
  std::map<std::string, Figure> figures_;
};

std::string BenchmarkName(const Row& row, Way way) { return std::string(row.name) + "/" + WayName(way); }

struct Options {
  std::string plugin = PLUGIN_PATH;
  std::string library;
  int64_t rssCalls = 1000000;
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
  auto entry = module ? reinterpret_cast<decltype(&BenchComparisonWays)>(dlsym(module, "BenchComparisonWays")) : nullptr;
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
    case Way::Plugin: return PluginWays().functions[row];
    case Way::Host: return HostWays().functions[row];
    case Way::Raw: return comparison ? comparison->raw.functions[row] : nullptr;
    case Way::Pybind11: return comparison ? comparison->pybind11.functions[row] : nullptr;
  }
  return nullptr;
}

void RegisterAll(const ComparisonWays* comparison) {
  for (const Row& row : Rows()) {
    const size_t index = static_cast<size_t>(row.id);
    for (Way way : {Way::Host, Way::Plugin, Way::Raw, Way::Pybind11}) {
      WayFunction function = FunctionFor(comparison, way, index);
      if (!function) continue;
      auto* benchmark = benchmark::RegisterBenchmark(BenchmarkName(row, way).c_str(), function);
      benchmark->Unit(benchmark::kNanosecond);
      if (row.id == Operation::InitFinalize) benchmark->Iterations(kLifecycleIterations);
    }
  }
}

std::string MachineName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);)
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  return "unknown processor";
}

// Figures are NAN when a way is missing or failed.
std::string Nanoseconds(double ns) {
  if (std::isnan(ns)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, std::fabs(ns) < 100 ? "%.1f" : "%.0f", ns);
  return text;
}

std::string Ratio(double numerator, double denominator) {
  if (std::isnan(numerator) || std::isnan(denominator) || denominator <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", numerator / denominator);
  return text;
}

void PrintSummary(const SummaryReporter& figures, const std::string& version, const std::string& library,
                  int64_t rssCalls, int64_t rssGrowth) {
  std::printf("\n%s, %ld cores; Python %s (%s)\n", MachineName().c_str(), sysconf(_SC_NPROCESSORS_ONLN),
              version.c_str(), library.c_str());
  std::printf("CPU time per operation in ns, medians. host = the host's share of the plugin's figure, "
              "own = plugin - raw - host.\n\n");
  std::printf("| Operation | plugin | raw | pybind11 | host | own | plugin/raw | plugin/pybind11 | "
              "plugin/(pybind11+host) | own/raw |\n|---|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const Row& row : Rows()) {
    if (row.hostRow) continue;
    const double plugin = figures.nanoseconds(BenchmarkName(row, Way::Plugin));
    const double raw = figures.nanoseconds(BenchmarkName(row, Way::Raw));
    const double pybind11 = figures.nanoseconds(BenchmarkName(row, Way::Pybind11));
    double host = 0;
    for (const auto& [hostRow, count] : row.hostShare)
      host += count * figures.nanoseconds(BenchmarkName(Rows()[static_cast<size_t>(hostRow)], Way::Host));
    const double own = plugin - raw - host;
    std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", row.label, Nanoseconds(plugin).c_str(),
                Nanoseconds(raw).c_str(), Nanoseconds(pybind11).c_str(), Nanoseconds(host).c_str(),
                Nanoseconds(own).c_str(), Ratio(plugin, raw).c_str(), Ratio(plugin, pybind11).c_str(),
                Ratio(plugin, pybind11 + host).c_str(), Ratio(own, raw).c_str());
  }
  std::printf("\n| The host's own work | ns |\n|---|--:|\n");
  for (const Row& row : Rows())
    if (row.hostRow) std::printf("| %s | %s |\n", row.label, Nanoseconds(figures.nanoseconds(BenchmarkName(row, Way::Host))).c_str());
  if (rssCalls > 0)
    std::printf("\nResident memory after %lld Invoke calls (3 args, prebuilt), past a warm-up: %+lld KiB\n",
                static_cast<long long>(rssCalls), static_cast<long long>(rssGrowth / 1024));
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
  RegisterAll(LoadComparisonWays(version));
  int benchmarkArgc = static_cast<int>(options.benchmarkArguments.size());
  benchmark::Initialize(&benchmarkArgc, options.benchmarkArguments.data());
  if (benchmark::ReportUnrecognizedArguments(benchmarkArgc, options.benchmarkArguments.data())) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int64_t rssGrowth = options.rssCalls > 0 ? ResidentGrowthOverInvokes(options.rssCalls) : 0;
  PrintSummary(reporter, version, options.library, options.rssCalls, rssGrowth);
  benchmark::Shutdown();
  return 0;
}
