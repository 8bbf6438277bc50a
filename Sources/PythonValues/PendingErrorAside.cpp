// Setting Python's error indicator aside and putting it back.
#include "PythonValues/PendingErrorAside.h"

void PendingErrorAside::SetAside() noexcept {
  if (!HasPythonEntries(EPyErr_Fetch, EPyErr_Restore)) return;
  PyObjectRef type = nullptr, value = nullptr, traceback = nullptr;
  EPyErr_Fetch(&type, &value, &traceback);
  StoreReferenceField(type_, type);
  StoreReferenceField(value_, value);
  StoreReferenceField(traceback_, traceback);
  active_ = true;
}

void PendingErrorAside::PutBack() noexcept {
  PyObjectRef type = type_, value = value_, traceback = traceback_;
  for (ReferenceField* field : {&type_, &value_, &traceback_}) StoreReferenceField(*field, nullptr);
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
