// PluginEntry, which the host calls as it loads the plugin: it forgets what an earlier start left behind
// and registers every class, interface and module, in the order the host needs.

#include "HostGlue.h"

#include "EntryPoints/EntryPoints.h"
#include "PythonDictionary/PythonDictionary.h"
#include "PythonEngine/ConsoleReceiver.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonList/PythonList.h"
#include "PythonValues/PythonReferences.h"
#include "PythonValues/RegisteredRecords.h"
#include "PythonXojoModule/RegisteredModules.h"
#include "Registration/ClassRecords.h"

// The order matters to the host: interfaces before their implementers, every
// superclass before its subclasses, and the classes Python3Engine's
// declarations name before Python3Engine.
void PluginEntry() {
  ResetPythonLoaderState();
  LoadEntryPoints();
  consoleOutputInstance.HandOver();  // held by an earlier start of the plugin, if any
  gPythonInitialized = false;
  gRegisteredModules.HandOver();

  REALRegisterInterface(&PythonIterableInterface);
  REALRegisterClass(&PythonEntityBaseClass);
  REALRegisterClass(&PythonEntityClass);
  REALRegisterClass(&PythonBytesClass);
  InitListModule();
  REALRegisterClass(&PythonEngineConsoleOutputClass);
  REALRegisterClass(&PythonObjectClass);
  REALRegisterClass(&PythonResultClass);
  REALRegisterClass(&PythonParametersClass);
  InitDictionaryModule();
  REALRegisterClass(&PythonFunctionClass);
  REALRegisterClass(&PythonClassClass);
  REALRegisterClass(&PythonInstanceClass);
  REALRegisterClass(&PythonModuleClass);
  REALRegisterClass(&PythonXojoClassClass);
  REALRegisterClass(&PythonXojoModuleClass);
  REALRegisterClass(&PythonTaskClass);
  REALRegisterClass(&PythonEngineClass);
  REALRegisterModule(&PythonErrorTypesModule);
  REALRegisterClass(&PythonExceptionClass);
}
