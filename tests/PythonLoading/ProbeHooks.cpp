// Linked with the plugin's own objects into the probe plugin: lets a test
// program read the loader's state and the entry-point table, and call Python
// through the typed entries the way the plugin does.
#include <cstring>
#include <string>

#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"

#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char* const kExceptionSymbols[] = {
#define PYTHON_EXCEPTION(entry, symbol) symbol,
#include "PythonLibrary/PythonEntryPoints.def"
};

int IndexOfSymbol(const char* symbol) {
  for (size_t i = 0; i < kPythonEntryCount; ++i) {
    if (std::strcmp(kPythonEntries[i].symbol, symbol) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string TextOf(PyObjectRef text) {
  if (!text) return "<null>";
  Py_ssize_t length = 0;
  const char* bytes = EPyUnicode_AsUTF8AndSize(text, &length);
  return bytes ? std::string(bytes, static_cast<size_t>(length)) : "<not a text>";
}

PyObjectRef Import(const char* name) {
  PyObjectRef moduleName = EPyUnicode_FromStringAndSize(name, static_cast<Py_ssize_t>(std::strlen(name)));
  PyObjectRef module = EPyImport_Import(moduleName);
  ReleasePythonRef(moduleName);
  return module;
}

// operator.mul(6, 7), through a tuple and a call.
long long MultiplySixBySeven() {
  PyObjectRef operatorModule = Import("operator");
  if (!operatorModule) return -1;
  PyObjectRef mul = EPyObject_GetAttrString(operatorModule, "mul");
  PyObjectRef arguments = EPyTuple_New(2);
  EPyTuple_SetItem(arguments, 0, EPyLong_FromLong(6));
  EPyTuple_SetItem(arguments, 1, EPyLong_FromLongLong(7));
  PyObjectRef product = EPyObject_CallObject(mul, arguments);
  const long long result = product ? EPyLong_AsLongLong(product) : -1;
  if (product) ReleasePythonRef(product);
  ReleasePythonRef(arguments);
  ReleasePythonRef(mul);
  ReleasePythonRef(operatorModule);
  return result;
}

}  // namespace

PROBE_EXPORT int PluginProbe_EntryCount() { return static_cast<int>(kPythonEntryCount); }
PROBE_EXPORT const char* PluginProbe_EntrySymbol(int index) { return kPythonEntries[index].symbol; }
PROBE_EXPORT void* PluginProbe_EntryValue(int index) { return kPythonEntries[index].read(); }
PROBE_EXPORT int PluginProbe_EntryLookup(int index) { return static_cast<int>(kPythonEntries[index].lookup); }

// The entry that holds `symbol`; null when unresolved or not in the table.
PROBE_EXPORT void* PluginProbe_EntryPoint(const char* symbol) {
  const int index = IndexOfSymbol(symbol);
  return index < 0 ? nullptr : kPythonEntries[index].read();
}

PROBE_EXPORT bool PluginProbe_LookUpOnFirstUse(const char* symbol) {
  const int index = IndexOfSymbol(symbol);
  return index >= 0 && LookUpOnFirstUse(static_cast<PythonEntryId>(index));
}

PROBE_EXPORT void PluginProbe_ResetListEntryPoints() { ResetListEntryPoints(); }
PROBE_EXPORT void PluginProbe_ResetDictionaryEntryPoints() { ResetDictionaryEntryPoints(); }

PROBE_EXPORT bool PluginProbe_Found() { return gPythonFound; }
PROBE_EXPORT bool PluginProbe_EntryPointsLoaded() { return gPythonEntryPointsLoaded; }
PROBE_EXPORT REALobjectStruct* PluginProbe_PythonPath() { return gPythonPath.Get(); }
PROBE_EXPORT void* PluginProbe_LibraryHandle() { return PythonDLLHandle; }
PROBE_EXPORT const wchar_t* PluginProbe_PythonHome() { return gPythonHome; }
PROBE_EXPORT bool PluginProbe_EnsurePythonLoaded() { return EnsurePythonLoaded(); }

// 0: every entry the interpreter start needs; 1: one a stub library lacks.
PROBE_EXPORT bool PluginProbe_EnsureEntries(int which) {
  return which == 0 ? EnsurePythonEntries(EPy_Initialize, e__Py_TrueStruct, e__PyExc_TypeError)
                    : EnsurePythonEntries(EPy_Initialize, EPyDict_New);
}

PROBE_EXPORT void* PluginProbe_ExceptionType(int64_t errorType) { return PythonExceptionType(errorType); }
PROBE_EXPORT const char* PluginProbe_ExceptionSymbol(int64_t errorType) {
  return errorType >= 1 && errorType <= kPythonErrorTypeCount ? kExceptionSymbols[errorType - 1] : "";
}

// Starts the interpreter and evaluates a little through the typed table; one
// line per result.
PROBE_EXPORT const char* PluginProbe_RunPython() {
  static std::string report;
  if (!EnsurePythonEntries(EPy_Initialize, EPySys_GetObject, EPyImport_Import, EPyUnicode_FromStringAndSize,
                           EPyUnicode_AsUTF8AndSize, EPyObject_GetAttrString, EPyTuple_New, EPyTuple_SetItem,
                           EPyLong_FromLong, EPyLong_FromLongLong, EPyLong_AsLongLong, EPyObject_CallObject,
                           EPyObject_IsTrue, EPyFloat_FromDouble, EPyErr_SetString, EPyErr_Occurred, EPyErr_Clear,
                           e__Py_TrueStruct, e__Py_FalseStruct, e__PyFloat_Type)) {
    report = "python: entries missing\n";
    return report.c_str();
  }
  EPy_Initialize();
  report = "python: initialized=" + std::to_string(EPy_IsInitialized ? EPy_IsInitialized() : -1) + "\n";
  const std::string version = TextOf(EPySys_GetObject("version"));
  report += "python version: " + version.substr(0, version.find(' ')) + "\n";
  report += "sys.prefix: " + TextOf(EPySys_GetObject("prefix")) + "\n";

  PyObjectRef os = Import("os");
  if (os) {
    PyObjectRef file = EPyObject_GetAttrString(os, "__file__");
    report += "os.__file__: " + TextOf(file) + "\n";
    if (file) ReleasePythonRef(file);
    ReleasePythonRef(os);
  } else {
    report += "os: import failed\n";
  }
  report += "operator.mul(6, 7): " + std::to_string(MultiplySixBySeven()) + "\n";
  report += "True/False: " + std::to_string(EPyObject_IsTrue(e__Py_TrueStruct)) + "/" +
            std::to_string(EPyObject_IsTrue(e__Py_FalseStruct)) + "\n";

  PyObjectRef half = EPyFloat_FromDouble(0.5);
  report += std::string("float type: ") + (half->ob_type == e__PyFloat_Type ? "PyFloat_Type" : "other") + "\n";
  ReleasePythonRef(half);

  PyObjectRef zeroDivision = PythonExceptionType(21);
  if (zeroDivision) {
    EPyErr_SetString(zeroDivision, "probe");
    report += std::string("error set: ") + (EPyErr_Occurred() == zeroDivision ? "ZeroDivisionError" : "other") + "\n";
    EPyErr_Clear();
  }
  return report.c_str();
}
