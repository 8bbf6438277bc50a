// sys.executable set to the interpreter found beside the loaded library (bin/python3.X under its folder or
// those above it), and a sys.argv of [''] where Python left none.

#include "PythonRuntime/PythonSysSetup.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonLibrary/VirtualEnvironment.h"

namespace {

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// The folder of the loaded library's real file.
std::optional<std::string> LibraryFolder() {
  Dl_info info{};
  if (!EPy_Initialize || !dladdr(reinterpret_cast<void*>(EPy_Initialize), &info) || !info.dli_fname)
    return std::nullopt;
  std::unique_ptr<char, decltype(&std::free)> real(realpath(info.dli_fname, nullptr), std::free);
  if (!real) return std::nullopt;
  return ParentOf(real.get());
}

// sys.version_info.minor of the running interpreter; -1 when it cannot be read.
long RunningMinorVersion() {
  PyObjectRef versionInfo = EPySys_GetObject ? EPySys_GetObject("version_info") : nullptr;
  PyObjectRef minor = versionInfo && EPyTuple_GetItem ? EPyTuple_GetItem(versionInfo, 1) : nullptr;
  return minor && IsPythonInt(minor) && EPyLong_AsLong ? EPyLong_AsLong(minor) : -1;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// bin/python3.X, else bin/python3, under the library's folder, the folder
// above it (<prefix>/lib) or the one above that (<prefix>/lib/<multiarch>):
// the Python home derived from a chosen library is one of them.
std::optional<std::string> LibraryInterpreter() {
  const std::optional<std::string> folder = LibraryFolder();
  const long minor = RunningMinorVersion();
  if (!folder || minor < 0) return std::nullopt;
  const std::string prefixes[] = {*folder, ParentOf(*folder), ParentOf(ParentOf(*folder))};
  for (const std::string& name : {"python3." + std::to_string(minor), std::string("python3")}) {
    for (const std::string& prefix : prefixes) {
      const std::string candidate = (prefix == "/" ? "" : prefix) + "/bin/" + name;
      if (IsExecutableFile(candidate)) return candidate;
    }
  }
  return std::nullopt;
}

void SetExecutable() {
  const std::optional<std::string> interpreter = LibraryInterpreter();
  if (!interpreter || !HasPythonEntries(EPySys_SetObject, EPySys_GetObject)) return;
  const ScopedReference path = ScopedReference::Adopt(NewPythonPath(interpreter->data(), interpreter->size()));
  if (!path) return;
  EPySys_SetObject("executable", path.Get());
  if (EPySys_GetObject("_base_executable")) EPySys_SetObject("_base_executable", path.Get());
}

// 3.6 embedded has no sys.argv, which multiprocessing reads; 3.7 has an
// empty one, where code reading sys.argv[0] (argparse) fails.
void EnsureArgv() {
  if (!HasPythonEntries(EPySys_GetObject, EPySys_SetObject, EPy_BuildValue, EPyList_Size)) return;
  PyObjectRef existing = EPySys_GetObject("argv");
  if (existing && (!IsPythonList(existing) || EPyList_Size(existing) > 0)) return;
  if (const ScopedReference argv = ScopedReference::Adopt(EPy_BuildValue("[s]", "")))
    EPySys_SetObject("argv", argv.Get());
}

}  // namespace

void CompleteSysForChildProcesses() noexcept {
  if (!ChosenVirtualEnvironment()) SetExecutable();  // Python made the environment's interpreter sys.executable
  EnsureArgv();
  if (EPyErr_Clear) EPyErr_Clear();  // nothing here is worth an error left for the application
}
