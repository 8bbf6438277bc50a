// The flags of the plugin's interpreter (running, finalizing), and the test for one that runs without the
// plugin's Init.

#include "PythonRuntime/InterpreterState.h"

#include "PythonLibrary/PythonLoader.h"

bool gPythonInitialized = false;
bool gPythonFinalizing = false;

bool PythonRunsWithoutInit() noexcept {
  return gPythonEntryPointsLoaded && EPy_IsInitialized && EPy_IsInitialized() != 0;
}
