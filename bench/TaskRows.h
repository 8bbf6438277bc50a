// The rows of Python3Task: a trivial task's whole round trip beside a
// synchronous Invoke of the same function, the application's run loop and
// its own calls while a task runs pure Python, and four tasks that sleep
// together. Wall-clock and CPU figures of whole runs.
#pragma once

#include <functional>
#include <string>

namespace bench {

// Registers "Tasks/roundtrip", "Tasks/responsiveness" and "Tasks/sleepers";
// the plugin must be started (StartPlugin).
void RegisterTaskBenchmarks();

// The table of those rows from their counters (NAN when missing).
void PrintTaskSummary(const std::function<double(const std::string& benchmark, const std::string& counter)>& counter);

}  // namespace bench
