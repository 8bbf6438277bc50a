#include "PythonEngine/PythonErrors.h"

#include <cstring>
#include <string>

#include "HostGlue.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"

namespace {

constexpr int64_t kFirstErrorType = 1;
constexpr int64_t kLastErrorType = 22;

// The text of str(exception) as a new host string, or null.
REALstringStruct* ExceptionText(PyObjectRef exception) {
  if (!EPyObject_Str || !EPyUnicode_AsUTF8AndSize) return nullptr;
  PyObjectRef text = EPyObject_Str(exception);
  if (!text) return nullptr;
  REALstringStruct* result = nullptr;
  Py_ssize_t size = 0;
  if (const char* bytes = EPyUnicode_AsUTF8AndSize(text, &size))
    result = REALBuildStringWithEncoding(bytes, static_cast<int>(strlen(bytes)), kREALTextEncodingUTF8);
  ReleasePythonRef(text);
  return result;
}

}  // namespace

bool Python_ErrorOccurred() { return PythonIsRunning() && EPyErr_Occurred && EPyErr_Occurred() != nullptr; }

REALstringStruct* Python_GetError() {
  if (!PythonIsRunning()) return nullptr;
  if (EPyErr_GetRaisedException) {
    PyObjectRef exception = EPyErr_GetRaisedException();
    if (!exception) return nullptr;
    REALstringStruct* result = ExceptionText(exception);
    ReleasePythonRef(exception);
    return result;
  }
  if (!EPyErr_Fetch) return nullptr;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  REALstringStruct* result = value ? ExceptionText(value) : nullptr;
  for (PyObjectRef fetched : {type, value, traceback})
    if (fetched) ReleasePythonRef(fetched);
  return result;
}

void Python_ClearError() {
  if (PythonIsRunning() && EPyErr_Clear) EPyErr_Clear();
}

void Python_SetTypeError(int64_t errorType, REALstringStruct* message) {
  if (errorType < kFirstErrorType || errorType > kLastErrorType) return;
  if (!PythonIsRunning() || !EPyErr_SetString) return;
  PyObjectRef type = PythonExceptionType(errorType);
  if (!type) return;
  // Python reads up to a terminating zero, which the host's bytes need not have.
  size_t length = 0;
  const char* bytes = REALGetStringContents(message, &length);
  std::string text = !bytes ? std::string() : length ? std::string(bytes, length) : std::string(bytes);
  EPyErr_SetString(type, text.c_str());
}
