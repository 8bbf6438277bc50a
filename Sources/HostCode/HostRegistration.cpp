// What Python3XojoModule and Python3XojoClass share when host code registers: names from the host, and
// the refusal to change what a running interpreter has already read.

#include "HostCode/HostRegistration.h"

#include "HostGlue.h"

std::string NameFromHost(REALstringStruct* name) {
  size_t length = 0;
  const char* bytes = REALGetStringContents(name, &length);
  return bytes ? std::string(bytes, length) : std::string();
}

void AppendToObjectArray(ArrayField& array, REALobjectStruct* object) {
  if (!array) array.Adopt(REALCreateArray(kREALObjectArrayType, -1));
  if (array) REALInsertArrayValueObject(array.Get(), REALGetArrayUBound(array.Get()) + 1, object);
}

bool MayChange(const PythonVisibleState* state, const char* member) {
  if (!state) return false;
  if (!state->SeenByRunningInterpreter()) return true;
  ThrowPythonException(
      PythonExceptionCode::RegistrationRefused,
      (std::string(member) + ": Python already uses this module or class, which therefore cannot change while the "
                             "interpreter runs; register everything before the module is first imported, or after "
                             "Python3Engine.Finalize")
          .c_str());
  return false;
}

std::string NameToRegister(const PythonVisibleState* state, REALstringStruct* name, const char* member, bool full) {
  std::string text = NameFromHost(name);
  if (text.empty()) {
    ThrowPythonException(PythonExceptionCode::RegistrationRefused);
    return std::string();
  }
  if (!MayChange(state, member)) return std::string();
  if (full) {
    ThrowPythonException(
        PythonExceptionCode::RegistrationRefused,
        (std::string(member) + ": a module or class holds at most " + std::to_string(kMaxHostFunctions) + " functions")
            .c_str());
    return std::string();
  }
  return text;
}

void StoreObjectName(REALobjectStruct* self, REALstringStruct* name) { PythonObjectDataOf(self)->name.Borrow(name); }
