#include "PythonLibrary.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

template <typename Function>
void Resolve(void* library, const char* name, Function*& function) {
  function = reinterpret_cast<Function*>(dlsym(library, name));
  if (!function) {
    std::fprintf(stderr, "fuzzer: %s missing from the Python library\n", name);
    std::abort();
  }
}

}  // namespace

void PythonLibrary::open(const std::string& path) {
  void* library = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!library) {
    std::fprintf(stderr, "fuzzer: the plugin did not load %s\n", path.c_str());
    std::abort();
  }
  Resolve(library, "Py_IsInitialized", isInitialized_);
  // PyGILState_STATE is an enum: an int in the C calling convention.
  Resolve(library, "PyGILState_Ensure", ensure_);
  Resolve(library, "PyGILState_Release", restore_);
  Resolve(library, "Py_DecRef", decRef_);
  Resolve(library, "Py_IncRef", incRef_);
  none_ = dlsym(library, "_Py_NoneStruct");
  if (!none_) {
    std::fprintf(stderr, "fuzzer: _Py_NoneStruct missing from the Python library\n");
    std::abort();
  }
}

bool PythonLibrary::running() const { return isInitialized_ && isInitialized_(); }

void PythonLibrary::release(void* object) const {
  const int state = ensure_();
  decRef_(object);
  restore_(state);
}

void* PythonLibrary::none() const {
  incRef_(none_);
  return none_;
}

}  // namespace fuzz
