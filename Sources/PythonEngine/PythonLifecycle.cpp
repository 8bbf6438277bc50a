#include "PythonEngine/PythonLifecycle.h"

#include <cwchar>
#include <list>
#include <string>

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/ConsoleOutput.h"
#include "PythonEngine/HostEntry.h"
#include "PythonEngine/HostHandles.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonObject.h"
#include "PythonEngine/PythonValues.h"
#include "PythonXojoModule/RegisteredModules.h"

bool gPythonInitialized = false;

namespace {

// The library may keep reading a program name it was given, so every name
// handed over stays alive for the process.
const wchar_t* KeepProgramName(std::wstring name) {
  static std::list<std::wstring> names;
  for (const std::wstring& kept : names)
    if (kept == name) return kept.c_str();
  names.push_back(std::move(name));
  return names.back().c_str();
}

// Converts in the process's locale up to the first sequence it cannot read.
std::wstring DecodeProgramName(const char* bytes, size_t length) {
  std::wstring name;
  std::mbstate_t state{};
  size_t at = 0;
  while (at < length) {
    wchar_t character;
    size_t used = std::mbrtowc(&character, bytes + at, length - at, &state);
    if (used == 0 || used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) break;
    name.push_back(character);
    at += used;
  }
  return name;
}

void StartInterpreter() {
  if (!EPy_IsInitialized || !EPy_Initialize || EPy_IsInitialized()) return;
  // Signals stay the application's: no SIGINT handler, SIGPIPE not ignored.
  if (EPy_InitializeEx)
    EPy_InitializeEx(0);
  else
    EPy_Initialize();
  if (!EPy_IsInitialized()) return;
  if (EPyEval_InitThreads) EPyEval_InitThreads();
  NoteInterpreterStarted();
  if (PyObjectRef console = CreateConsoleOutputModule()) {
    if (EPySys_SetObject) EPySys_SetObject("stdout", console);
    ReleasePythonRef(console);  // sys keeps its own reference
  }
  gPythonInitialized = true;
}

}  // namespace

bool PythonIsRunning() noexcept { return EnsurePythonEntries(EPy_IsInitialized) && EPy_IsInitialized() != 0; }

void Python_InitWithName(REALstringStruct* applicationName) {
  if (!EnsurePythonLoaded()) return;
  HostStringBytes name(applicationName, HostStringBytes::AsStored);
  if (EPy_SetProgramName) EPy_SetProgramName(KeepProgramName(DecodeProgramName(name.data(), name.size())));
  StartInterpreter();
}

void Python_Init() {
  if (EnsurePythonLoaded()) StartInterpreter();
}

void Python_Finalize() {
  if (!PythonIsRunning()) return;
  // Called back from Python (an event, a host function): tearing the
  // interpreter down under frames that are still running would crash them.
  if (HostEntryDepth() > 1) {
    if (e__PyExc_RuntimeError && *e__PyExc_RuntimeError && EPyErr_SetString)
      EPyErr_SetString(*e__PyExc_RuntimeError,
                       "Python3Engine.Finalize was refused: Python code is running; "
                       "call it after the call into Python has returned");
    return;
  }
  if (EPyErr_Clear) EPyErr_Clear();
  if (EPy_Finalize) EPy_Finalize();
  gPythonInitialized = false;
  NoteInterpreterFinalized();
  ForgetOwnedPythonRefs();
  if (gRegisteredModules) {
    REALUnlockObject(reinterpret_cast<REALobjectStruct*>(gRegisteredModules));
    gRegisteredModules = nullptr;
  }
}

void Python_AddSearchPath(REALobjectStruct* folder) {
  if (!folder || !PythonIsRunning()) return;
  if (!EnsurePythonEntries(EPySys_GetObject, EPyUnicode_FromStringAndSize, EPyList_Append)) return;
  OwnedString nativePath;
  if (!REALGetPropValueString(folder, "NativePath", nativePath.out())) return;
  HostStringBytes path(nativePath.get(), HostStringBytes::AsStored);
  PyObjectRef searchPath = EPySys_GetObject("path");
  if (searchPath && nativePath.get() && path.available()) {
    if (PyObjectRef text = EPyUnicode_FromStringAndSize(path.data(), static_cast<Py_ssize_t>(path.size()))) {
      EPyList_Append(searchPath, text);
      ReleasePythonRef(text);
    }
  }
}

REALobjectStruct* Python_GetModule(REALstringStruct* name) {
  if (!PythonIsRunning() || !EnsurePythonEntries(EPyImport_Import)) return nullptr;
  PyObjectRef text = NewPythonText(name);
  if (!text) return nullptr;
  PyObjectRef module = EPyImport_Import(text);
  ReleasePythonRef(text);
  return module ? NewNamedObjectWrapper(&PythonModuleClass, name, module) : nullptr;
}
