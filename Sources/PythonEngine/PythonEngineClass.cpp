#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/ConsoleOutput.h"
#include "PythonEngine/PythonEngine.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonSource.h"
#include "PythonXojoModule/RegisteredModules.h"

namespace {

// Python3Engine has no instances worth the name; its record still declares one byte.
constexpr size_t kPythonEngineDataSize = 1;

constexpr uint32_t kEnumerationFlags = 32;

REALmethodDefinition PythonEngineSharedMethods[] = {
    records::Method<Python_InitWithName>("Init(applicationName as String)"),
    records::Method<Python_Init>("Init()"),
    records::Method<Python_Finalize>("Finalize()"),
    records::Method<Python_SetConsoleOutput>("SetConsoleOutput(output as Python3EngineConsoleOutput)"),
    records::Method<Python_AddSearchPath>("AddSearchPath(f as FolderItem)"),
    records::Method<Python_GetModule>("GetModule(name as String) as Python3Module"),
    records::Method<Python_ErrorOccurred>("ErrorOccurred() as Boolean"),
    records::Method<Python_GetError>("GetError() as String"),
    records::Method<Python_ClearError>("ClearError()"),
    records::Method<Python_RegisterXojoModule>(
        "RegisterXojoModule(xojoModule as Python3XojoModule, moduleCreatorFunction as Ptr)"),
    records::Method<Python_SetTypeError>("SetError(errorType as Integer, message as String)"),
    records::Method<Python_IsFound>("PythonIsFound(preferredVersion as Python3Engine.PreferredVersionValues = "
                    "Python3Engine.PreferredVersionValues.PREFERRED_VERSION_LATESTKNOWN) as Boolean"),
    records::Method<Python_SetPythonPath>("SetPythonPath(path as FolderItem)"),
    records::Method<Python_Execute>("Execute(source as String) as Boolean"),
    records::Method<Python_Evaluate>("Evaluate(expression as String) as Python3Result"),
    records::Method<Python_GetErrorTypeName>("GetErrorTypeName() as String"),
    records::Method<Python_GetErrorTraceback>("GetErrorTraceback() as String"),
};

REALconstant PythonEngineConstants[] = {
    records::Constant("PY_NO_ERROR = 0"),
    records::Constant("PY_ERROR_COULD_NOT_CONVERT = 1"),
    records::Constant("PY_ERROR_INDEX_OUT_OF_BOUNDS = 2"),
    records::Constant("PY_NIL_PARAM_ERROR = 3"),
};

const char* PreferredVersionMembers[] = {
    "PREFERRED_VERSION_LATESTKNOWN = 0", "PREFERRED_VERSION_3_4_X = 1",  "PREFERRED_VERSION_3_5_X = 2",
    "PREFERRED_VERSION_3_6_X = 3",       "PREFERRED_VERSION_3_7_X = 4",  "PREFERRED_VERSION_3_8_X = 5",
    "PREFERRED_VERSION_3_9_X = 6",       "PREFERRED_VERSION_3_10_X = 7", "PREFERRED_VERSION_3_11_X = 8",
    "PREFERRED_VERSION_3_12_X = 9",      "PREFERRED_VERSION_3_13_X = 10", "PREFERRED_VERSION_3_14_X = 11",
};

REALenum PythonEngineEnums[] = {
    records::Enumeration("PreferredVersionValues", "Integer", kEnumerationFlags, PreferredVersionMembers),
};

}  // namespace

REALclassDefinition PythonEngineClass = records::ClassRecord("Python3Engine", nullptr, kPythonEngineDataSize)
                                            .sharedMethods(PythonEngineSharedMethods)
                                            .constants(PythonEngineConstants)
                                            .enums(PythonEngineEnums);
