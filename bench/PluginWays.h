// The plugin in the replacement host, as the benchmark drives it: its members
// bound once and called directly, and the host's own services measured alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BenchWays.h"

namespace bench {

// Loads the plugin, chooses `library` (the plugin's own search when empty),
// starts Python with `moduleFolder` on its search path and binds every member
// and service the ways call. Throws xhost::HostError or std::runtime_error.
void StartPlugin(const std::string& pluginPath, const std::string& library, const std::string& moduleFolder);

const ComparisonContext& PluginContext();
const WayTable<Way::Plugin>& PluginWays();
const WayTable<Way::PluginHandedOver>& PluginHandedOverWays();

// While one lives, a Python thread waits on an event: the interpreter has a
// thread state besides the host thread's, so the plugin hands the lock over
// at the end of every host call, and a way's own PyGILState_Ensure really
// takes it.
class AnotherPythonThread {
 public:
  AnotherPythonThread();
  ~AnotherPythonThread();
  AnotherPythonThread(const AnotherPythonThread&) = delete;
  AnotherPythonThread& operator=(const AnotherPythonThread&) = delete;
};
const WayTable<Way::Host>& HostWays();

// How much the resident memory of the process grows over `calls` calls of
// each path that programs run most, each made after a warm-up of a tenth as
// many, in bytes.
struct ResidentGrowth {
  const char* path;
  int64_t bytes;
  double seconds;  // of the measured calls
};
std::vector<ResidentGrowth> ResidentGrowthOverCalls(int64_t calls);

}  // namespace bench
