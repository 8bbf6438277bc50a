// Python3Engine.Init and Finalize, in the order a start sets things up and a stop takes them down, and
// AddSearchPath and GetModule.

#include "PythonEngine/PythonLifecycle.h"

#include <algorithm>
#include <cwchar>
#include <exception>
#include <list>
#include <string>

#include "Exceptions/Exceptions.h"
#include "HostHandles.h"
#include "PythonEngine/ConsoleStreams.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEntity/EntityDataTools.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/VirtualEnvironment.h"
#include "PythonRuntime/DeferredWork.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonRuntime/Interrupts.h"
#include "PythonRuntime/OutlivingThreads.h"
#include "PythonRuntime/PythonSysSetup.h"
#include "PythonRuntime/VisibleState.h"
#include "PythonTask/PythonTask.h"
#include "PythonValues/PythonValues.h"
#include "PythonValues/PythonWrappers.h"
#include "PythonXojoModule/RegisteredModules.h"
#include "Registration/ClassRecords.h"

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

// The name is cosmetic to Python, but some versions stop the process at
// start when it is longer than a path may be, and others spend minutes on a
// huge one: only its first bytes count, up to a whole character.
constexpr size_t kMaxProgramNameBytes = 255;

// Converts in the process's locale up to the first sequence it cannot read.
std::wstring DecodeProgramName(const char* bytes, size_t length) {
  std::wstring name;
  std::mbstate_t state{};
  size_t at = 0;
  length = std::min(length, kMaxProgramNameBytes);
  while (at < length) {
    wchar_t character;
    size_t used = std::mbrtowc(&character, bytes + at, length - at, &state);
    if (used == 0 || used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) break;
    name.push_back(character);
    at += used;
  }
  return name;
}

// Python finds a virtual environment from its interpreter's path, which an
// embedded interpreter takes from the program name.
void StartAsTheVirtualEnvironment() {
  const VirtualEnvironment* environment = ChosenVirtualEnvironment();
  if (!environment || !EPy_SetProgramName) return;
  // Python computes its paths once and keeps them through restarts: a null
  // path forgets them. A home (of a library chosen by SetPythonPath) would
  // name the base's prefix instead.
  if (EPy_SetPath) EPy_SetPath(nullptr);
  if (EPy_SetPythonHome) EPy_SetPythonHome(nullptr);
  // The library keeps reading the name for the process: the names and the
  // list are never freed, not even by static destruction at exit.
  static auto* decoded = new std::list<std::pair<std::string, wchar_t*>>;
  for (const auto& [path, name] : *decoded)
    if (path == environment->interpreter) return EPy_SetProgramName(name);
  if (wchar_t* name = DecodePathForLibrary(environment->interpreter)) {
    try {
      decoded->emplace_back(environment->interpreter, name);
    } catch (const std::exception&) {
      return;  // no memory to keep it: Python starts under its own name (the few bytes stay lost)
    }
    EPy_SetProgramName(name);
  }
}

void StartInterpreter() {
  if (!HasPythonEntries(EPy_IsInitialized, EPy_Initialize) || EPy_IsInitialized()) return;
  std::string refusal;
  if (!OutlivingThreadsEnded(&refusal))
    return ThrowPythonException(PythonExceptionCode::RestartRefused, refusal.c_str());
  StartAsTheVirtualEnvironment();
  InitializeWithoutSignalHandlers();
  if (!EPy_IsInitialized()) return;
  NoteInterpreterStarted();
  NoteThreadsAtStart();
  InstallConsoleStreams();
  InstallInterruptHooks();
  InstallDataTools();
  CompleteSysForChildProcesses();
  KeepRegisteredModulesForThisStart();
  StartTasks();
  gPythonInitialized = true;
  AcceptWaitingWriters();
  AcceptInterrupts();
  StartBackgroundDelivery();
}

}  // namespace

void Python_InitWithName(REALstringStruct* applicationName) {
  if (!EnsurePythonLoaded()) return;
  HostStringBytes name(applicationName, HostStringBytes::kAsStored);
  if (EPy_SetProgramName) EPy_SetProgramName(KeepProgramName(DecodeProgramName(name.Data(), name.Size())));
  StartInterpreter();
}

void Python_Init() {
  if (EnsurePythonLoaded()) StartInterpreter();
}

void Python_Finalize() {
  if (!PythonLoadedAndRunning()) return;
  // Called back from Python (an event, a host function): tearing the
  // interpreter down under frames that are still running would crash them.
  if (HostCallDepth() > 1) {
    RaisePythonError(e__PyExc_RuntimeError,
                     "Python3Engine.Finalize was refused: Python code is running; "
                     "call it after the call into Python has returned");
    return;
  }
  // Tasks end first: their events run host code, and their values are wrappers like any other.
  EndTasks();
  if (EPyErr_Clear) EPyErr_Clear();
  ReleaseReferenceFields();
  if (EPyErr_Clear) EPyErr_Clear();  // what a release ran may have raised
  NoteThreadsOutlivingInterpreter();
  ReleaseWaitingWriters();
  RefuseInterrupts();
  StopBackgroundDelivery();
  gPythonFinalizing = true;
  if (EPy_Finalize) EPy_Finalize();
  RestoreSigintDisposition();
  gPythonFinalizing = false;
  gPythonInitialized = false;
  NoteInterpreterFinalized();
  DeliverEveryQueuedText();  // what the joined threads wrote
  LetOutlivingThreadsEnd();
  ForgetReferenceFields();
  EndInterpreter();
  ReleaseRegisteredModules();
}

// The path's bytes as the host holds them, decoded as Python decodes file
// names, so that a folder whose name is not UTF-8 is still searched.
void Python_AddSearchPath(REALobjectStruct* folder) {
  if (!folder || !PythonLoadedAndRunning()) return;
  if (!EnsurePythonEntries(EPySys_GetObject, EPyList_Append)) return;
  ScopedString nativePath;
  if (!REALGetPropValueString(folder, "NativePath", nativePath.Out())) return;
  HostStringBytes bytes(nativePath.Get(), HostStringBytes::kAsStored);
  PyObjectRef searchPath = EPySys_GetObject("path");
  if (searchPath && nativePath.Get() && bytes.Available()) {
    if (const ScopedReference path = ScopedReference::Adopt(NewPythonPath(bytes.Data(), bytes.Size())))
      EPyList_Append(searchPath, path.Get());
  }
}

namespace {}  // namespace

REALobjectStruct* Python_GetModule(REALstringStruct* name) {
  if (!PythonLoadedAndRunning() || !EnsurePythonEntries(EPyImport_Import)) return nullptr;
  PyObjectRef module = nullptr;
  {
    const ScopedReference text = ScopedReference::Adopt(NewPythonName(name));
    if (!text) return nullptr;
    if (PythonTextHoldsNul(text.Get()))
      RaiseModuleNotFound(text.Get());  // import cuts a name at a NUL (3.11 finds "os" for "os\0evil")
    else
      module = EPyImport_Import(text.Get());
  }
  return module ? NewNamedObjectWrapper(&PythonModuleClass, name, module) : nullptr;
}
