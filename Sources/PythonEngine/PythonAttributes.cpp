#include "PythonEngine/PythonAttributes.h"

#include <string>

#include "PythonEngine/HostHandles.h"
#include "PythonEngine/PythonLoader.h"

namespace {

// Python reads the name up to its terminating zero.
std::string AttributeName(REALstringStruct* name) { return HostStringBytes(name, HostStringBytes::AsStored).text(); }

}  // namespace

PyObjectRef GetPythonAttribute(PyObjectRef object, REALstringStruct* name) {
  if (!object || !EPyObject_GetAttrString) return nullptr;
  const std::string text = AttributeName(name);
  return text.empty() ? nullptr : EPyObject_GetAttrString(object, text.c_str());
}

int SetPythonAttribute(PyObjectRef object, REALstringStruct* name, PyObjectRef value) {
  if (!object || !EPyObject_SetAttrString) return -1;
  const std::string text = AttributeName(name);
  return text.empty() ? -1 : EPyObject_SetAttrString(object, text.c_str(), value);
}
