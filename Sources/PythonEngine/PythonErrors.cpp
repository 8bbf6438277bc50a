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
  HostStringBytes utf8(message, HostStringBytes::Utf8);
  if (utf8.available()) return utf8.text();
  return HostStringBytes(message, HostStringBytes::AsStored).text();
}

}  // namespace

bool Python_ErrorOccurred() { return PythonLoadedAndRunning() && EPyErr_Occurred && EPyErr_Occurred() != nullptr; }

REALstringStruct* Python_GetError() {
  if (!PythonLoadedAndRunning()) return nullptr;
  PyObjectRef exception = TakeRaisedException();
  if (!exception) return nullptr;
  REALstringStruct* result = HostStringFromStr(exception);
  ReleasePythonRef(exception);
  return result;
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
  PyObjectRef value =
      EPyUnicode_DecodeUTF8(text.c_str(), static_cast<Py_ssize_t>(std::strlen(text.c_str())), "replace");
  if (!value) return;  // Python's own error (no memory) is set instead
  EPyErr_SetObject(type, value);
  ReleasePythonRef(value);
}

void PendingErrorAside::SetAside() noexcept {
  if (!HasPythonEntries(EPyErr_Fetch, EPyErr_Restore)) return;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  StoreOwnedPythonRef(type_, type);
  StoreOwnedPythonRef(value_, value);
  StoreOwnedPythonRef(traceback_, traceback);
  active_ = true;
}

void PendingErrorAside::PutBack() noexcept {
  PyObjectRef type = type_, value = value_, traceback = traceback_;
  for (PyObjectRef* field : {&type_, &value_, &traceback_}) StoreOwnedPythonRef(*field, nullptr);
  if (!type) return;  // Finalize ended the interpreter it belonged to
  const bool raised = EPyErr_Occurred && EPyErr_Occurred();
  if (raised && raised_ == Raised::IsDropped && EPyErr_Clear) EPyErr_Clear();
  if ((!raised || raised_ == Raised::IsDropped) && EPyErr_Restore) {
    EPyErr_Restore(type, value, traceback);  // takes over the references
    return;
  }
  for (PyObjectRef replaced : {type, value, traceback})
    if (replaced) ReleasePythonRef(replaced);
}
