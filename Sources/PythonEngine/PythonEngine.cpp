// Python3Engine's shared methods about the library: finding it, choosing its file or a virtual environment
// before it loads, and telling which one was loaded.

#include "PythonEngine/PythonEngine.h"

#include <exception>
#include <string>

#include "HostGlue.h"
#include "HostHandles.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/VirtualEnvironment.h"
#include "PythonRuntime/InterpreterState.h"

bool Python_IsFound(int64_t preferredVersion) {
  if (!gPythonEntryPointsLoaded) LoadPythonEntryPoints(preferredVersion);
  return gPythonFound;
}

void Python_SetPythonPath(REALobjectStruct* path) {
  if (gPythonEntryPointsLoaded) return;  // the library is chosen for the rest of the process
  gPythonPath.Reset();
  if (!path) return;
  bool exists = false;
  if (!REALGetPropValueBoolean(path, "Exists", &exists) || !exists) return;
  bool directory = false;
  if (!REALGetPropValueBoolean(path, "Directory", &directory) || directory) return;
  gPythonPath.Borrow(path);
}

bool Python_IsRunning() { return PythonIsRunning(); }

bool Python_SetVirtualEnvironment(REALobjectStruct* folder) {
  if (!folder || PythonIsRunning() || (gPythonEntryPointsLoaded && EPy_IsInitialized && EPy_IsInitialized()))
    return false;
  bool directory = false;
  if (!REALGetPropValueBoolean(folder, "Directory", &directory) || !directory) return false;
  ScopedString nativePath;
  if (!REALGetPropValueString(folder, "NativePath", nativePath.Out()) || !nativePath.Get()) return false;
  HostStringBytes path(nativePath.Get(), HostStringBytes::kAsStored);
  if (!path.Available()) return false;
  try {
    std::optional<VirtualEnvironment> environment = ReadVirtualEnvironment(std::string(path.Data(), path.Size()));
    return environment && ChooseVirtualEnvironment(std::move(*environment));
  } catch (const std::exception&) {
    return false;
  }
}

namespace {

REALstringStruct* HostStringOfPath(const std::string& text) {
  if (text.empty()) return nullptr;
  return REALBuildStringWithEncoding(text.data(), static_cast<int>(text.size()), kREALTextEncodingUTF8);
}

}  // namespace

REALstringStruct* Python_LibraryPath() {
  try {
    return HostStringOfPath(LoadedLibraryPath());
  } catch (const std::exception&) {
    return nullptr;
  }
}

REALstringStruct* Python_Version() {
  try {
    return HostStringOfPath(LoadedLibraryVersion());
  } catch (const std::exception&) {
    return nullptr;
  }
}
