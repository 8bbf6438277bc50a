// Python3Engine's members for the pending error: whether there is one, its message, clearing it, and
// setting one of a Python3ErrorTypes type from Xojo code.

#include "PythonEngine/PythonErrors.h"

#include <cstring>
#include <string>

#include "HostGlue.h"
#include "HostHandles.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/HostEntry.h"
#include "PythonValues/PythonValues.h"

namespace {

// Python reads a message as UTF-8 up to a terminating zero; the host's bytes
// need have neither. Bytes the host cannot convert go as they are held.
std::string MessageText(REALstringStruct* message) {
  HostStringBytes utf8(message, HostStringBytes::kUtf8);
  if (utf8.Available()) return utf8.Text();
  return HostStringBytes(message, HostStringBytes::kAsStored).Text();
}

}  // namespace

bool Python_ErrorOccurred() { return PythonLoadedAndRunning() && EPyErr_Occurred && EPyErr_Occurred() != nullptr; }

REALstringStruct* Python_GetError() {
  if (!PythonLoadedAndRunning()) return nullptr;
  const ScopedReference exception = ScopedReference::Adopt(TakeRaisedException());
  return exception ? HostStringFromStr(exception.Get()) : nullptr;
}

void Python_ClearError() {
  if (PythonLoadedAndRunning() && EPyErr_Clear) EPyErr_Clear();
}

// The message is read up to its first zero, as a C text; bytes that are not
// UTF-8 become replacement characters, so the chosen type is what is raised.
void Python_SetTypeError(int64_t errorType, REALstringStruct* message) {
  if (!IsPythonErrorType(errorType)) return;
  if (!PythonLoadedAndRunning() || !HasPythonEntries(EPyUnicode_DecodeUTF8, EPyErr_SetObject)) return;
  PyObjectRef type = PythonExceptionType(errorType);
  if (!type) return;
  const std::string text = MessageText(message);
  const ScopedReference value = ScopedReference::Adopt(
      EPyUnicode_DecodeUTF8(text.c_str(), static_cast<Py_ssize_t>(std::strlen(text.c_str())), "replace"));
  if (!value) return;  // Python's own error (no memory) is set instead
  EPyErr_SetObject(type, value.Get());
}
