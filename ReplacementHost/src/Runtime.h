// The application's run loop as the replacement host keeps it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

namespace xhost::detail {

struct BackgroundTask {
  void (*function)(void* data);  // the plugin's
  std::chrono::milliseconds period;
  void* data;
  std::chrono::steady_clock::time_point lastRun;
};

struct RuntimeState {
  std::map<int32_t, BackgroundTask> tasks;  // by the id registration returned
  int32_t nextTaskId = 1;
  std::map<int, std::function<void()>> cooperativeThreads;  // run by every yield, by id
  int nextThreadId = 1;
  uint64_t yields = 0;    // REALYieldToRB calls
  bool yielding = false;  // the cooperative threads are running
};

RuntimeState& runtime();

// Runs each background task whose period has passed since it last ran.
void runBackgroundTasksDue(bool all = false);  // all: as if every task fell due now

}  // namespace xhost::detail
