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

// PyObject_HasAttrString reports errors other than AttributeError as
// "Exception ignored" on standard error from 3.13 on; a lookup does not.
bool HasPythonAttribute(PyObjectRef object, REALstringStruct* name) {
  if (!object || !EPyObject_GetAttrString || !EPyErr_Clear) return false;
  const std::string text = AttributeName(name);
  if (text.empty()) return false;
  PyObjectRef attribute = EPyObject_GetAttrString(object, text.c_str());
  if (!attribute) {
    EPyErr_Clear();
    return false;
  }
  ReleasePythonRef(attribute);
  return true;
}

int SetPythonAttribute(PyObjectRef object, REALstringStruct* name, PyObjectRef value) {
  if (!object || !EPyObject_SetAttrString) return -1;
  const std::string text = AttributeName(name);
  return text.empty() ? -1 : EPyObject_SetAttrString(object, text.c_str(), value);
}
