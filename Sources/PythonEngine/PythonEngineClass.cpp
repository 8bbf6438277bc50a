// Python3Engine's class record: the shared methods defined in the files beside it, the parameter error
// constants and the preferred versions, gathered in one place.

#include "PythonEngine/ConsoleReceiver.h"
#include "PythonEngine/PythonEngine.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonSource.h"
#include "PythonRuntime/Interrupts.h"
#include "PythonXojoModule/RegisteredModules.h"
#include "Registration/ClassRecords.h"

namespace {

// Python3Engine has no instances worth the name; its record still declares one byte.
constexpr size_t kPythonEngineDataSize = 1;

constexpr uint32_t kEnumerationFlags = 32;

REALmethodDefinition PythonEngineSharedMethods[] = {
    records::Method<Python_InitWithName>(
        "Init(applicationName as String)",
        "Starts Python with this program name, loading the library first if needed; does nothing when it is running."),
    records::Method<Python_Init>(
        "Init()",
        "Starts Python, loading the library first when PythonIsFound has not; does nothing when it is running."),
    records::ErrorStateMethod<Python_Finalize>(
        "Finalize()",
        "Stops Python and frees its objects; refused, with a RuntimeError set, when called from Python code."),
    records::Method<Python_SetConsoleOutput>(
        "SetConsoleOutput(output as Python3EngineConsoleOutput)",
        "Sends what Python writes to sys.stdout and sys.stderr to this object's events, one per write; Nil stops it."),
    records::Method<Python_SetConsoleOutputLines>(
        "SetConsoleOutput(output as Python3EngineConsoleOutput, wholeLines as Boolean)",
        "As SetConsoleOutput(output); with True, events carry whole lines, a partial one at flush or as the call "
        "ends."),
    records::Method<Python_AddSearchPath>("AddSearchPath(f as FolderItem)",
                                          "Appends the folder's path to sys.path, where imports look for modules."),
    records::Method<Python_GetModule>(
        "GetModule(name as String) as Python3Module",
        "Imports the module of this name; Nil with Python's error set when it cannot be imported."),
    records::ErrorStateMethod<Python_ErrorOccurred>("ErrorOccurred() as Boolean",
                                                    "True when a Python error is pending."),
    records::ErrorStateMethod<Python_GetError>(
        "GetError() as String", "The pending Python error's message, clearing it; empty when none is pending."),
    records::ErrorStateMethod<Python_ClearError>("ClearError()", "Clears the pending Python error, if any."),
    records::Method<Python_RegisterXojoModule>(
        "RegisterXojoModule(xojoModule as Python3XojoModule, moduleCreatorFunction as Ptr)",
        "Makes a module importable while the object lives, through restarts; before Init or after Finalize; 64 names "
        "at most."),
    records::ErrorStateMethod<Python_SetTypeError>(
        "SetError(errorType as Integer, message as String)",
        "Sets a pending Python error of a Python3ErrorTypes type with this message; other numbers are ignored."),
    records::Method<Python_IsFound>(
        "PythonIsFound(preferredVersion as Python3Engine.PreferredVersionValues = "
        "Python3Engine.PreferredVersionValues.PREFERRED_VERSION_LATESTKNOWN) as Boolean",
        "Loads the Python library, trying the preferred version first, once per process; True when one was loaded."),
    records::Method<Python_SetPythonPath>(
        "SetPythonPath(path as FolderItem)",
        "Chooses the Python library file to load; ignored once one is loaded, or for a folder or a missing file."),
    records::Method<Python_Execute>(
        "Execute(source as String) as Boolean",
        "Runs the statements in __main__'s namespace (kept until Finalize); False with Python's error set on failure."),
    records::Method<Python_Evaluate>(
        "Evaluate(expression as String) as Python3Result",
        "The value of one expression in __main__'s namespace; Nil with Python's error set when it raises."),
    records::ErrorStateMethod<Python_GetErrorTypeName>(
        "GetErrorTypeName() as String",
        "The qualified name of the pending error's type (\"ValueError\"), empty when none; does not clear it."),
    records::FreeThreadedMethod<RequestInterrupt>(
        "Interrupt()",
        "Interrupts the Python code that the application's current call runs with KeyboardInterrupt; any thread."),
    records::Method<SetYieldInterval>(
        "SetYieldInterval(milliseconds as Integer)",
        "While a call runs Python code longer, yields to the application's other threads about this often; 0: never."),
    records::Method<Python_SetVirtualEnvironment>(
        "SetVirtualEnvironment(folder as FolderItem) as Boolean",
        "Before Init: Python starts as this venv's own interpreter, from its base library; False when the folder is no "
        "usable venv or its pyvenv.cfg is one Python cannot read (32 KB or more, not UTF-8)."),
    records::Method<Python_IsRunning, records::PendingError::Untouched>(
        "IsRunning() as Boolean",
        "True from a successful Init to Finalize: Python runs and the members can use it; never loads the library."),
    records::Method<Python_LibraryPath>("LibraryPath() as String",
                                        "The file of the loaded Python library; empty before one is loaded."),
    records::Method<Python_Version>(
        "Version() as String", "The version of the loaded Python library (\"3.12.1\"); empty before one is loaded."),
    records::ErrorStateMethod<Python_GetErrorTraceback>(
        "GetErrorTraceback() as String",
        "The pending error formatted as Python prints it, with files and lines; empty when none; does not clear it."),
};

REALconstant PythonEngineConstants[] = {
#define PARAMETER_ERROR_CODE(NAME, value, description) records::Constant(#NAME " = " #value, description),
#include "PythonParameters/ParameterErrorCodes.def"
};

const char* PreferredVersionMembers[] = {
    "PREFERRED_VERSION_LATESTKNOWN = 0", "PREFERRED_VERSION_3_4_X = 1",   "PREFERRED_VERSION_3_5_X = 2",
    "PREFERRED_VERSION_3_6_X = 3",       "PREFERRED_VERSION_3_7_X = 4",   "PREFERRED_VERSION_3_8_X = 5",
    "PREFERRED_VERSION_3_9_X = 6",       "PREFERRED_VERSION_3_10_X = 7",  "PREFERRED_VERSION_3_11_X = 8",
    "PREFERRED_VERSION_3_12_X = 9",      "PREFERRED_VERSION_3_13_X = 10", "PREFERRED_VERSION_3_14_X = 11",
};

REALenum PythonEngineEnums[] = {
    records::Enumeration("PreferredVersionValues", "Integer", kEnumerationFlags, PreferredVersionMembers,
                         "The CPython version PythonIsFound tries first; LATESTKNOWN tries the newest first."),
};

}  // namespace

REALclassDefinition PythonEngineClass =
    records::ClassRecord("Python3Engine", nullptr, kPythonEngineDataSize)
        .Describe("The interpreter: starting Python, importing modules, running source text, reading errors.")
        .SharedMethods(PythonEngineSharedMethods)
        .Constants(PythonEngineConstants)
        .Enums(PythonEngineEnums);
