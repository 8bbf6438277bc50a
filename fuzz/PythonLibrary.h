// The few functions of the Python library the fuzzer calls itself, as a Xojo
// program would through declares: whether the interpreter runs, and giving
// back the references that members returning a Ptr hand out, and None for
// host functions to return.
#pragma once

#include <string>

namespace fuzz {

class PythonLibrary {
 public:
  // The library the plugin loaded (already in the process).
  void open(const std::string& path);
  bool running() const;
  // Drops one reference with the interpreter lock held; the interpreter must run.
  void release(void* object) const;
  // A new reference to None; the caller holds the interpreter lock.
  void* none() const;

 private:
  int (*isInitialized_)() = nullptr;
  int (*ensure_)() = nullptr;
  void (*restore_)(int) = nullptr;
  void (*decRef_)(void*) = nullptr;
  void (*incRef_)(void*) = nullptr;
  void* none_ = nullptr;
};

}  // namespace fuzz
