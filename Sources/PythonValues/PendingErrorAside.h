// Python's error indicator kept aside while code runs that must start with no
// error set (a Python function would fail with SystemError, a built-in would
// lose it), and put back afterwards.
#pragma once

#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PythonReferences.h"

class PendingErrorAside {
 public:
  // What happens to an error raised while the pending one is aside.
  enum class Raised {
    ReplacesIt,  // a member's own failure: it stays, and the pending error is dropped
    IsDropped,   // host code run where Python hears of no failure (deallocation): it is dropped
  };

  // Active only where this thread may call Python: it holds the interpreter
  // lock through its host entries, or the interpreter was started by someone
  // else. Never loads the library.
  // Always inlined: most member calls set nothing aside.
  __attribute__((always_inline)) explicit PendingErrorAside(Raised raised = Raised::ReplacesIt) noexcept
      : raised_(raised) {
    if (MayReadTheIndicator() && ErrorIsPending()) SetAside();
  }
  __attribute__((always_inline)) ~PendingErrorAside() noexcept {
    if (active_) PutBack();
  }
  PendingErrorAside(const PendingErrorAside&) = delete;
  PendingErrorAside& operator=(const PendingErrorAside&) = delete;

 private:
  // Inline: every member call asks.
  static bool MayReadTheIndicator() noexcept {
    if (gPythonInitialized)
      return !gPythonFinalizing && host_entries::tEntries.lockHeld != host_entries::LockHeld::None;
    return gPythonEntryPointsLoaded && EPy_IsInitialized && EPy_IsInitialized();
  }
  static bool ErrorIsPending() noexcept { return EPyErr_Occurred && EPyErr_Occurred(); }
  void SetAside() noexcept;
  void PutBack() noexcept;

  Raised raised_;
  bool active_ = false;  // an error was set aside (Finalize may have emptied the fields since)
  // The fetched error, owned and known to Finalize, which empties them; each may be null.
  ReferenceField type_ = nullptr;
  ReferenceField value_ = nullptr;
  ReferenceField traceback_ = nullptr;
};
