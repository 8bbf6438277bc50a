// Finding the daemon threads a Finalize leaves running, from threading.enumerate() and the process's
// task list, and the wait for them to end before the next start.

#include "PythonRuntime/OutlivingThreads.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <exception>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"

namespace {

using ThreadIds = std::set<long>;

ThreadIds gThreadsAtStart;  // the process's threads when the interpreter started
ThreadIds gOutliving;       // system ids of threads left running by Finalize
bool gOutlivingPending = false;
std::mutex gPluginThreadsMutex;
ThreadIds* gPluginThreads = nullptr;  // under gPluginThreadsMutex; made on first use, never freed

bool IsPluginThread(long id) {
  std::lock_guard<std::mutex> lock(gPluginThreadsMutex);
  return gPluginThreads && gPluginThreads->count(id) > 0;
}

ThreadIds ProcessThreads() {
  ThreadIds ids;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ids.insert(std::strtol(entry->d_name, nullptr, 10));
    closedir(tasks);
  }
  return ids;
}

long CurrentThreadId() { return static_cast<long>(syscall(SYS_gettid)); }

// Calls threading.enumerate() and reports each live daemon thread: its system
// id when the library knows it (native_id, from 3.8), else -1. Only a
// threading module that Python code imported can have started any, so it is
// never imported here (which would cost an idle interpreter's Finalize more
// than the rest of it).
template <typename Report>
void ForEachDaemonThread(Report report) {
  if (!EnsurePythonEntries(EPySys_GetObject, EPyDict_GetItem, EPyUnicode_FromStringAndSize, EPyObject_GetAttrString,
                           EPyObject_CallObject, EPyList_Size, EPyList_GetItem, EPyObject_IsTrue, EPyLong_AsLong,
                           EPyErr_Clear))
    return;
  {
    PyObjectRef modules = EPySys_GetObject("modules");  // borrowed
    const ScopedReference name = ScopedReference::Adopt(EPyUnicode_FromStringAndSize("threading", 9));
    const ScopedReference threading =
        ScopedReference::Borrow(name && modules ? EPyDict_GetItem(modules, name.Get()) : nullptr);
    const ScopedReference enumerate =
        ScopedReference::Adopt(threading ? NewPythonAttributeOrNull(threading.Get(), "enumerate") : nullptr);
    const ScopedReference threads =
        ScopedReference::Adopt(enumerate ? EPyObject_CallObject(enumerate.Get(), nullptr) : nullptr);
    for (Py_ssize_t i = 0, count = threads ? EPyList_Size(threads.Get()) : 0; i < count; ++i) {
      PyObjectRef thread = EPyList_GetItem(threads.Get(), i);
      const ScopedReference daemon = ScopedReference::Adopt(NewPythonAttributeOrNull(thread, "daemon"));
      if (!daemon || EPyObject_IsTrue(daemon.Get()) != 1) continue;
      const ScopedReference nativeId = ScopedReference::Adopt(NewPythonAttributeOrNull(thread, "native_id"));
      report(nativeId ? EPyLong_AsLong(nativeId.Get()) : -1);
    }
  }
  EPyErr_Clear();
}

}  // namespace

void NoteThreadsAtStart() noexcept {
  try {
    gThreadsAtStart = ProcessThreads();
  } catch (const std::exception&) {
  }
}

void NoteThreadsOutlivingInterpreter() noexcept {
  try {
    bool anyDaemon = false, unnamed = false;
    ForEachDaemonThread([&](long id) {
      if (id > 0 && IsPluginThread(id)) return;  // a task's worker: its runs are ended already
      anyDaemon = true;
      if (id > 0)
        gOutliving.insert(id);
      else
        unnamed = true;
    });
    // Without system ids, every thread begun since the start may be one.
    if (unnamed)
      for (long id : ProcessThreads())
        if (!gThreadsAtStart.count(id) && id != CurrentThreadId() && !IsPluginThread(id)) gOutliving.insert(id);
    gOutlivingPending = gOutlivingPending || anyDaemon;  // a task's worker may be noted already
  } catch (const std::exception&) {
    gOutlivingPending = true;
  }
}

void NotePluginThread(long systemId, bool alive) noexcept {
  try {
    std::lock_guard<std::mutex> lock(gPluginThreadsMutex);
    if (!gPluginThreads) gPluginThreads = new ThreadIds;
    if (alive)
      gPluginThreads->insert(systemId);
    else
      gPluginThreads->erase(systemId);
  } catch (const std::exception&) {
  }
}

void NoteOutlivingThread(long systemId) noexcept {
  try {
    if (systemId > 0) gOutliving.insert(systemId);
    gOutlivingPending = true;
  } catch (const std::exception&) {
    gOutlivingPending = true;
  }
}

// Up to 3.8 the finalizing thread keeps the lock, and threads waiting for it
// never learn that they should end; from 3.9 they stop waiting by themselves,
// and PyEval_ReleaseLock would need a thread state that is gone.
void LetOutlivingThreadsEnd() noexcept {
  const int minor = PythonMinorVersion();
  if (gOutlivingPending && EPyEval_ReleaseLock && minor >= 0 && minor < 9) EPyEval_ReleaseLock();
}

bool OutlivingThreadsEnded(std::string* why) noexcept {
  if (!gOutlivingPending) return true;
  try {
    constexpr auto kPatience = std::chrono::seconds(2);
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      ThreadIds running = ProcessThreads();
      size_t left = 0;
      for (long id : gOutliving) left += running.count(id);
      if (left == 0) break;
      if (std::chrono::steady_clock::now() >= deadline) {
        *why = "Python3Engine.Init was refused: " + std::to_string(left) +
               " thread(s) of the finalized interpreter are still running; "
               "a new interpreter cannot start until they have ended";
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    gOutliving.clear();
    gOutlivingPending = false;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
