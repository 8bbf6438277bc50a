// Python3Exception, the RuntimeException subclass the plugin raises in Xojo code, and its raising with a
// code and a message.

#include "Exceptions/Exceptions.h"

#include <cstring>

#include "HostHandles.h"
#include "Registration/ClassRecords.h"

namespace {

// Message and error code come from RuntimeException's own constructor.
void Constructor(REALobjectStruct*) {}

REALmethodDefinition PythonExceptionMethods[] = {
    records::Method<Constructor>("Constructor()",
                                 "Makes the exception; Message and ErrorNumber are those of RuntimeException.",

                                 REALdefaultConstructorFlags),
};

}  // namespace

REALclassDefinition PythonExceptionClass =
    records::ClassRecord("Python3Exception", "RuntimeException", 0)
        .Describe("Raised by the plugin when a Python operation fails in a way a neutral result cannot report.")
        .Methods(PythonExceptionMethods);

namespace {

const char* MessageOf(PythonExceptionCode code) {
  switch (code) {
#define PYTHON_EXCEPTION_CODE(Name, code, message) \
  case PythonExceptionCode::Name:                  \
    return message;
#include "Exceptions/PythonExceptionCodes.def"
  }
  return "";
}

}  // namespace

void ThrowPythonException(PythonExceptionCode code) { ThrowPythonException(code, MessageOf(code)); }

void ThrowPythonException(PythonExceptionCode code, const char* message) {
  const auto errorCode = static_cast<int64_t>(code);
  ScopedObject exception = ScopedObject::Adopt(REALnewInstanceOfClass(&PythonExceptionClass));
  if (!exception.Get()) return;
  using RuntimeExceptionConstructor = void (*)(REALobjectStruct*, REALstringStruct*, int64_t);
  auto construct = reinterpret_cast<RuntimeExceptionConstructor>(
      REALLoadObjectMethod(exception.Get(), "Constructor(message as String, errorCode as Integer)"));
  if (construct) {
    ScopedString text = ScopedString::Adopt(
        REALBuildStringWithEncoding(message, static_cast<int>(strlen(message)), kREALTextEncodingUTF8));
    construct(exception.Get(), text.Get(), errorCode);
  }
  REALRaiseException(exception.Get());
}
