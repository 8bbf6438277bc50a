// Python3Module: an imported module, its functions, classes and typed attributes, and its reload. Its
// object and name live in the Python3Object block, its record in PythonValues/RegisteredRecords.h.

#include "HostHandles.h"
#include "PythonClass/PythonClass.h"
#include "PythonFields/PythonFields.h"
#include "PythonFunction/PythonFunction.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonAttributes.h"
#include "PythonValues/PythonValues.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

// Declared by the record but never read or written: the module lives in the
// Python3Object block.
constexpr size_t kPythonModuleDataSize = 4;

// The Python3Object destructor releases the module and the name.
void Destructor(REALobjectStruct*) noexcept {}

// The attribute `name` of the module, a new reference; null when there is
// none (Python's error then set), no module or no name.
PyObjectRef Attribute(REALobjectStruct* self, REALstringStruct* name) {
  return GetPythonAttribute(PythonObjectOf(self), name);
}

REALobjectStruct* PythonModule_GetFunction(REALobjectStruct* self, REALstringStruct* name) {
  return NewFunctionOfAttribute(PythonObjectOf(self), name, self, nullptr);
}

// The members that use their wrapper after running Python code hold it: that
// code (a __getattr__, a __del__ of what the reload replaces) may call host
// code that drops the last host reference to it.

REALobjectStruct* PythonModule_GetClass(REALobjectStruct* self, REALstringStruct* name) {
  const ScopedObject keptSelf = ScopedObject::Borrow(self);
  const ScopedString keptName = ScopedString::Borrow(name);
  PyObjectRef attribute = Attribute(self, name);
  if (!attribute) return nullptr;
  REALobjectStruct* pythonClass = NewNamedObjectWrapper(&PythonClassClass, name, attribute);
  if (pythonClass) PythonClassDataOf(pythonClass)->ownerModule.Borrow(self);
  return pythonClass;
}

int8_t PythonModule_Reload(REALobjectStruct* self) {
  const ScopedObject keptSelf = ScopedObject::Borrow(self);
  ScopedReference module = ScopedReference::Borrow(PythonObjectOf(self));
  if (!module || !EPyImport_ReloadModule) return false;
  PyObjectRef reloaded = EPyImport_ReloadModule(module.Get());
  if (!reloaded) {
    if (EPyErr_Clear) EPyErr_Clear();
    return false;
  }
  ReplaceReferenceField(PythonObjectDataOf(self)->object, reloaded);
  return true;
}

REALmethodDefinition PythonModuleOwnMethods[] = {
    records::Method<PythonModule_GetFunction>(
        "GetFunction(name as String) as Python3Function",
        "The module's callable attribute of this name; Nil with Python's error set when it is missing."),
    records::Method<PythonModule_GetClass>(
        "GetClass(name as String) as Python3Class",
        "The module's class of this name; Nil with Python's error set when it is missing."),
    records::Method<PythonModule_Reload>(
        "Reload() as Boolean",
        "Reloads the module from its source as importlib.reload does; False on failure, leaving no error of its own."),
};
auto PythonModuleMethods = records::Join(PythonModuleOwnMethods, AttributeMethods());

}  // namespace

REALclassDefinition PythonModuleClass =
    records::ClassRecord("Python3Module", "Python3Object", kPythonModuleDataSize)
        .Describe("An imported Python module: its functions, classes and attributes.")
        .DestructorWithoutEntry<Destructor>()
        .Methods(PythonModuleMethods);
