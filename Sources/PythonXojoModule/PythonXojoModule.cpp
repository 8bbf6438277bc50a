#include "PythonXojoModule/PythonXojoModule.h"

#include <utility>

#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
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

void PythonXojoModule_RegisterFunction(REALobjectStruct* self, REALstringStruct* name, void* fuction) {
  HostModule* module = DataOf(self)->state;
  std::string text = NameToRegister(module, name, "Python3XojoModule.RegisterFunction", module && module->IsFull());
  if (!text.empty()) module->AddFunction(std::move(text), reinterpret_cast<PyCFunction>(fuction));
}

void PythonXojoModule_AddClass(REALobjectStruct* self, REALobjectStruct* classToAdd) {
  if (classToAdd) AppendToObjectArray(DataOf(self)->classList, classToAdd);
}

void* PythonXojoModule_ModuleCreateProc(REALobjectStruct* self) {
  if (!PythonIsRunning()) return nullptr;
  const OwnedObject keptSelf = OwnedObject::Retain(self);  // Python may collect garbage, running __del__s
  PythonXojoModuleData* data = DataOf(self);
  if (!data->state) {
    RaisePythonError(e__PyExc_RuntimeError, "Python3XojoModule.ModuleCreateProc: the module has no name");
    return nullptr;
  }
  PyObjectRef module = data->state->Create();
  if (module && data->classList) {
    const int64_t last = REALGetArrayUBound(data->classList.get());
    for (int64_t index = 0; index <= last; ++index) {
      OwnedObject xojoClass;
      REALGetArrayValueObject(data->classList.get(), index, xojoClass.out());
      if (xojoClass.get()) PublishHostType(xojoClass.get(), module);
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
        .describe("A Python module defined by Xojo code, importable once passed to Python3Engine.RegisterXojoModule.")
        .methods(PythonXojoModuleMethods)
        .destructor<Destructor>();
