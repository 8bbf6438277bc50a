// The rows of thread output while the application idles: a Python thread
// printing short lines, standalone (sys.stdout a text file on /dev/null) and
// through the plugin to a ConsoleOutput handler that does nothing while the
// host's thread only turns the run loop. Wall-clock throughput, not CPU time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace bench {

// Registers "ThreadOutput/idle" (one run of each way per iteration, counters
// in lines per second); the plugin must be started (StartPlugin). `lines` is
// what the thread prints in each run.
void RegisterThreadOutputBenchmarks(int64_t lines);

// The table of those rows from the counters of that benchmark (NAN when missing).
void PrintThreadOutputSummary(const std::function<double(const std::string& counter)>& counter, int64_t lines);

}  // namespace bench
