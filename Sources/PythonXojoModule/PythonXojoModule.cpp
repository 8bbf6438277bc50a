// The members of Python3XojoModule: registering functions, values and classes, and ModuleCreateProc,
// which makes the module object when Python imports it.

#include "PythonXojoModule/PythonXojoModule.h"

#include <utility>

#include "HostCode/HostRegistration.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonReferences.h"
#include "PythonValues/PythonWrappers.h"
#include "PythonXojoClass/PythonXojoClass.h"
#include "PythonXojoModule/HostModule.h"
#include "Registration/ClassRecords.h"

namespace {

PythonXojoModuleData* DataOf(REALobjectStruct* instance) {
  return static_cast<PythonXojoModuleData*>(REALGetClassData(instance, &PythonXojoModuleClass));
}

void PythonXojoModule_Constructor(REALobjectStruct* self, REALstringStruct* name) {
  ConstructHostState(self, name, DataOf(self)->state);
}

void PythonXojoModule_RegisterFunctionWithKeywords(REALobjectStruct* self, REALstringStruct* name, void* fuction,
                                                   int8_t keywords) {
  RegisterHostFunction(DataOf(self)->state, name, fuction, keywords != 0, "Python3XojoModule.RegisterFunction");
}

void PythonXojoModule_RegisterFunction(REALobjectStruct* self, REALstringStruct* name, void* fuction) {
  PythonXojoModule_RegisterFunctionWithKeywords(self, name, fuction, false);
}

void PythonXojoModule_SetDocumentation(REALobjectStruct* self, REALstringStruct* name, REALstringStruct* text) {
  DocumentHostMember(DataOf(self)->state, name, text, "Python3XojoModule.SetDocumentation");
}

// Kept as marshal data: every module object the creator makes, in this
// interpreter or a later one, gets a value of its own.
void PythonXojoModule_AddValue(REALobjectStruct* self, REALstringStruct* name, REALobjectStruct* value) {
  constexpr const char* kMember = "Python3XojoModule.AddValue";
  constexpr int kMarshalVersion = 4;
  HostModule* module = DataOf(self)->state;
  std::string text = NameToRegister(module, name, kMember, false);
  if (text.empty()) return;
  ScopedReference object = ScopedArgumentObject(value);
  if (!object)
    return ThrowPythonException(PythonExceptionCode::RegistrationRefused,
                                "Python3XojoModule.AddValue: the value holds no Python object (values are made "
                                "while Python runs)");
  ScopedReference data = ScopedReference::Adopt(
      EPyMarshal_WriteObjectToString ? EPyMarshal_WriteObjectToString(object.Get(), kMarshalVersion) : nullptr);
  if (!data || !IsPythonBytes(data.Get()) || !HasPythonEntries(EPyBytes_AsString, EPyBytes_Size)) {
    if (EPyErr_Clear) EPyErr_Clear();
    return ThrowPythonException(
        PythonExceptionCode::RegistrationRefused,
        (std::string(kMember) + ": a module value is None, a bool, a number, a str, bytes, or a tuple, list, set or "
                                "dict of such values")
            .c_str());
  }
  module->AddValue(std::move(text),
                   std::string(EPyBytes_AsString(data.Get()), static_cast<size_t>(EPyBytes_Size(data.Get()))));
}

void PythonXojoModule_AddClass(REALobjectStruct* self, REALobjectStruct* classToAdd) {
  if (classToAdd) AppendToObjectArray(DataOf(self)->classList, classToAdd);
}

void* PythonXojoModule_ModuleCreateProc(REALobjectStruct* self) {
  if (!PythonIsRunning()) return nullptr;
  const ScopedObject keptSelf = ScopedObject::Borrow(self);  // Python may collect garbage, running __del__s
  PythonXojoModuleData* data = DataOf(self);
  if (!data->state) {
    RaisePythonError(e__PyExc_RuntimeError, "Python3XojoModule.ModuleCreateProc: the module has no name");
    return nullptr;
  }
  PyObjectRef module = data->state->Create();
  if (module && data->classList) {
    const int64_t last = REALGetArrayUBound(data->classList.Get());
    for (int64_t index = 0; index <= last; ++index) {
      ScopedObject xojoClass;
      REALGetArrayValueObject(data->classList.Get(), index, xojoClass.Out());
      if (xojoClass.Get()) PublishHostType(xojoClass.Get(), module);
    }
  }
  return module;
}

void Destructor(REALobjectStruct* self) {
  PythonXojoModuleData* data = DataOf(self);
  DestroyHostState(data->state);
  data->classList.Reset();
}

REALmethodDefinition PythonXojoModuleMethods[] = {
    records::Method<PythonXojoModule_Constructor>("Constructor(name as String)",
                                                  "Starts a Python module of this name, defined by Xojo code."),
    records::Method<PythonXojoModule_RegisterFunction>(
        "RegisterFunction(name as String, fuction as Ptr)",
        "Adds a function (at most 256 per module), a Xojo function taking (self, args) Ptrs and returning a Ptr."),
    records::Method<PythonXojoModule_RegisterFunctionWithKeywords>(
        "RegisterFunction(name as String, fuction as Ptr, keywords as Boolean)",
        "As RegisterFunction(name, fuction); with True the Xojo function takes (self, args, kwargs) Ptrs, kwargs Nil "
        "when none."),
    records::Method<PythonXojoModule_SetDocumentation>(
        "SetDocumentation(name as String, text as String)",
        "Sets the __doc__ of the function of this name, or of the module for an empty name; before it is imported."),
    records::Method<PythonXojoModule_AddValue>(
        "AddValue(name as String, value as Python3EntityBase)",
        "Adds a constant (None, bool, number, str, bytes, or containers of them) to every module object the creator "
        "makes."),
    records::Method<PythonXojoModule_AddClass>(
        "AddClass(classToAdd as Python3XojoClass)",
        "Adds a Python3XojoClass, published in the module when Python creates it."),
    records::Method<PythonXojoModule_ModuleCreateProc>(
        "ModuleCreateProc() as Ptr",
        "Creates the Python module with its functions and classes; call it from the RegisterXojoModule function."),
};

}  // namespace

HostModule* HostModuleOf(REALobjectStruct* xojoModule) { return DataOf(xojoModule)->state; }

static_assert(sizeof(PythonXojoModuleData) <= kPythonXojoModuleDataSize, "Python3XojoModule data block");

REALclassDefinition PythonXojoModuleClass =
    records::ClassRecord("Python3XojoModule", "Python3Object", kPythonXojoModuleDataSize)
        .Describe("A Python module defined by Xojo code, importable once passed to Python3Engine.RegisterXojoModule.")
        .Methods(PythonXojoModuleMethods)
        .Destructor<Destructor>();
