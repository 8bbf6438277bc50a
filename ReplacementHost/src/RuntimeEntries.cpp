// The services of the application's run loop: background tasks, which the
// run loop calls while the application idles, and yielding to the
// application's other (cooperative) threads.
#include <chrono>
#include <thread>

#include "Calls.h"
#include "HostEntries.h"
#include "Runtime.h"

namespace xhost::detail {

RuntimeState& runtime() {
  static RuntimeState state;
  return state;
}

namespace {

int32_t registerBackgroundTask(void (*task)(void*), uint32_t period, void* data) noexcept {
  return shielded("PluginRegisterBackgroundTask", int32_t{-1}, [&]() -> int32_t {
    if (!task) {
      reportProblem("PluginRegisterBackgroundTask: null task");
      return -1;
    }
    RuntimeState& state = runtime();
    const int32_t id = state.nextTaskId++;
    state.tasks[id] =
        BackgroundTask{task, std::chrono::milliseconds(period ? period : 1), data, std::chrono::steady_clock::now()};
    return id;
  });
}

void unregisterBackgroundTask(int32_t id) noexcept {
  shieldedVoid("PluginUnregisterBackgroundTask", [&] {
    if (runtime().tasks.erase(id) == 0)
      reportProblem("PluginUnregisterBackgroundTask: no task " + std::to_string(id) + " is registered");
  });
}

// The plugin yields from inside a call of host code into it: the cooperative
// threads run, each once, on this same thread, as Xojo's threads do.
void yieldToRB() noexcept {
  shieldedVoid("REALYieldToRB", [] {
    RuntimeState& state = runtime();
    ++state.yields;
    if (state.yielding) return;  // a thread that yields again gives way to nobody new
    state.yielding = true;
    const auto threads = state.cooperativeThreads;  // a thread may add or remove threads
    for (const auto& [id, thread] : threads) {
      if (!state.cooperativeThreads.count(id)) continue;
      try {
        thread();
      } catch (...) {
        state.yielding = false;
        throw;
      }
    }
    state.yielding = false;
  });
}

}  // namespace

void runBackgroundTasksDue(bool all) {
  RuntimeState& state = runtime();
  const auto now = std::chrono::steady_clock::now();
  std::vector<int32_t> due;
  for (const auto& [id, task] : state.tasks)
    if (all || now - task.lastRun >= task.period) due.push_back(id);
  for (int32_t id : due) {
    auto found = state.tasks.find(id);
    if (found == state.tasks.end()) continue;  // unregistered by an earlier task
    found->second.lastRun = now;
    const BackgroundTask task = found->second;
    CallScope scope;  // the run loop calls the plugin as host code does
    task.function(task.data);
    scope.deliver();
  }
}

void addRuntimeEntries(EntryTable& table) {
  serve(table, "PluginRegisterBackgroundTask", registerBackgroundTask);
  serve(table, "PluginUnregisterBackgroundTask", unregisterBackgroundTask);
  serve(table, "REALYieldToRB", yieldToRB);
}

}  // namespace xhost::detail
