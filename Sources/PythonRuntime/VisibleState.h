// What Python reads of host-defined modules and types lives as long as the
// interpreter that took it: Python keeps pointers into what it was given for
// as long as that interpreter runs, and no longer; a restarted interpreter is
// given everything anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// 1 for the first interpreter, increased by every Finalize.
extern uint64_t gCurrentInterpreter;
inline uint64_t CurrentInterpreter() noexcept { return gCurrentInterpreter; }

// Memory that Python reads. Its owner frees it, unless the running interpreter
// has seen it: then it is kept until that interpreter is finalized.
class PythonVisibleState {
 public:
  virtual ~PythonVisibleState() = default;
  void MarkSeen() noexcept { seenBy_ = CurrentInterpreter(); }
  // The running interpreter holds pointers into this state: it must neither
  // change nor go away until Finalize.
  bool SeenByRunningInterpreter() const noexcept { return seenBy_ == CurrentInterpreter(); }

 private:
  uint64_t seenBy_ = 0;  // the interpreter that saw it last; 0 for none
};

// Frees `state` now, or after the interpreter that saw it is finalized.
void DisposeVisibleState(std::unique_ptr<PythonVisibleState> state) noexcept;

// Zero-filled memory for what Python takes as a static object (a type object,
// a module definition); null when memory is short. It is never freed, and
// each interpreter gets its own: objects that survive Finalize keep pointing
// to it and must keep finding the state they left there (3.6 and 3.7 go on
// collecting them in the next interpreter; 3.11.2 crashes in its next
// Finalize when a type object was reset and readied again).
void* AllocateStaticPythonObject(size_t size) noexcept;

// Once the interpreter has stopped: counts it and frees what only it could
// still read.
void EndInterpreter() noexcept;
