#include "PythonEngine/PythonEngine.h"

#include "HostGlue.h"
#include "PythonLibrary/PythonLoader.h"

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
  gPythonPath.Retain(path);
}
