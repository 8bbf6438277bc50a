// The typed attribute members, made once from the value-type list, with HasAttribute and DeleteAttribute.

#include "PythonFields/PythonFields.h"

#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PythonAttributes.h"
#include "PythonValues/PythonValueTypes.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

// A missing attribute reads as the neutral value with Python's error left
// set; otherwise the library converts, and reports its own failures.
template <typename T>
typename T::Type GetField(REALobjectStruct* self, REALstringStruct* name) {
  const ScopedReference attribute = ScopedReference::Adopt(GetPythonAttribute(PythonObjectOf(self), name));
  if (!attribute) return T::Neutral();
  return ConvertedValue<T>(attribute.Get());
}

// A value that cannot be made leaves the attribute as it was; a refused
// assignment leaves Python's error set.
template <typename T>
void SetField(REALobjectStruct* self, REALstringStruct* name, typename T::Type value) {
  PyObjectRef owner = PythonObjectOf(self);
  if (!owner) return;
  const ScopedReference item = ScopedReference::Adopt(T::ToPython(value));
  if (item) SetPythonAttribute(owner, name, item.Get());
}

// Never leaves an error of the lookup set.
int8_t PythonModule_HasAttribute(REALobjectStruct* self, REALstringStruct* name) {
  return HasPythonAttribute(PythonObjectOf(self), name);
}

// 0 when deleted; -1 when Python refused, with its error set.
int64_t PythonModule_DeleteAttribute(REALobjectStruct* self, REALstringStruct* name) {
  return SetPythonAttribute(PythonObjectOf(self), name, nullptr);
}

}  // namespace

const std::vector<REALmethodDefinition>& AttributeMethods() {
  static const std::vector<REALmethodDefinition> methods = [] {
    using namespace values;
    std::vector<REALmethodDefinition> table;
#define PYTHON_VALUE_TYPE(Name, CType, XojoType, toPython, fromPython, test, neutral, converts, familySet, kind, \
                          neutralText, failureText)                                                              \
  if ((familySet)&kField)                                                                                        \
    table.push_back(records::AssignableMethod<GetField<values::Name>, SetField<values::Name>>(                   \
        #Name "Field(name as String) as " XojoType, "The named attribute as " XojoType " (" neutralText          \
                                                    ", Python's error set, when missing); assigning sets it."));
#include "PythonValues/PythonValueTypes.def"
    table.push_back(records::Method<PythonModule_HasAttribute>(
        "HasAttribute(name as String) as Boolean",
        "True when the object has an attribute of this name; never leaves an error set."));
    table.push_back(records::Method<PythonModule_DeleteAttribute>(
        "DeleteAttribute(name as String) as Integer",
        "Deletes the named attribute: 0 when done, -1 with Python's error set when refused."));
    return table;
  }();
  return methods;
}
