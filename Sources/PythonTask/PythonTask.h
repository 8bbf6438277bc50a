// Python3Task: a Python call run on a thread of the plugin's, whose progress
// and ending come to the application as events on its own thread.
#pragma once

#include "PythonTask/TaskRuns.h"

struct PythonTaskData {
  TaskRunRef* current;  // owned (made by the initializer, freed by the destructor); holds the latest run, or none
  bool inEvent;         // one of the task's events runs now: the next waits until it returns
};

// At every start, with the interpreter lock: python3task is importable and tasks may start.
void StartTasks() noexcept;
// Before Python stops, holding the lock: every task is cancelled, waited for
// up to 2 s, and its events raised (Cancelled for those still running).
void EndTasks() noexcept;
