// The members of Python3XojoClass: registering methods, properties, hash and str, the Xojo object kept in
// an instance, and publishing the type in a module.

#include "PythonXojoClass/PythonXojoClass.h"

#include <utility>

#include "HostCode/HostRegistration.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonXojoClass/HostType.h"
#include "Registration/ClassRecords.h"

namespace {

PythonXojoClassData* DataOf(REALobjectStruct* instance) {
  return static_cast<PythonXojoClassData*>(REALGetClassData(instance, &PythonXojoClassClass));
}

void Constructor(REALobjectStruct* self, REALstringStruct* name, void* initMethod) {
  ConstructHostState(self, name, DataOf(self)->state, reinterpret_cast<HostInitFunction>(initMethod));
}

void RegisterFunctionWithKeywords(REALobjectStruct* self, REALstringStruct* name, void* fuction, int8_t keywords) {
  RegisterHostFunction(DataOf(self)->state, name, fuction, keywords != 0, "Python3XojoClass.RegisterFunction");
}

void RegisterFunction(REALobjectStruct* self, REALstringStruct* name, void* fuction) {
  RegisterFunctionWithKeywords(self, name, fuction, false);
}

void SetDocumentation(REALobjectStruct* self, REALstringStruct* name, REALstringStruct* text) {
  DocumentHostMember(DataOf(self)->state, name, text, "Python3XojoClass.SetDocumentation");
}

void RegisterGetterSetter(REALobjectStruct* self, REALstringStruct* name, void* getterPtr, void* setterPtr) {
  HostType* type = DataOf(self)->state;
  std::string text = NameToRegister(type, name, "Python3XojoClass.RegisterGetterSetter", false);
  if (!text.empty())
    type->AddProperty(std::move(text), reinterpret_cast<HostGetter>(getterPtr),
                      reinterpret_cast<HostSetter>(setterPtr));
}

void SetHashFunction(REALobjectStruct* self, void* fuction) {
  HostType* type = DataOf(self)->state;
  if (MayChange(type, "Python3XojoClass.SetHashFunction")) type->SetHash(reinterpret_cast<HostHashFunction>(fuction));
}

void SetToStringFunction(REALobjectStruct* self, void* fuction) {
  HostType* type = DataOf(self)->state;
  if (MayChange(type, "Python3XojoClass.SetToStringFunction"))
    type->SetToString(reinterpret_cast<PyUnaryFunction>(fuction));
}

// The host-object slot of pySelf, when it is an instance of a host-defined
// type in the running interpreter.
ObjectField* DataSlot(void* pySelf) {
  return pySelf && PythonIsRunning() ? HostType::DataSlotOf(static_cast<PyObjectRef>(pySelf)) : nullptr;
}

REALobjectStruct* GetData(void* pySelf) {
  ObjectField* slot = DataSlot(pySelf);
  return slot ? slot->NewReference() : nullptr;
}

void SetData(void* pySelf, REALobjectStruct* value) {
  if (ObjectField* slot = DataSlot(pySelf)) slot->Borrow(value);
}

void Destructor(REALobjectStruct* self) { DestroyHostState(DataOf(self)->state); }

REALmethodDefinition PythonXojoClassMethods[] = {
    records::Method<Constructor>(
        "Constructor(name as String, initMethod as Ptr)",
        "Starts a Python class of this name whose instances run initMethod (a Xojo function) when Python makes them."),
    records::Method<RegisterFunction>(
        "RegisterFunction(name as String, fuction as Ptr)",
        "Adds a method (at most 256 per class), a Xojo function taking (self, args) Ptrs and returning a Ptr."),
    records::Method<RegisterFunctionWithKeywords>(
        "RegisterFunction(name as String, fuction as Ptr, keywords as Boolean)",
        "As RegisterFunction(name, fuction); with True the Xojo function takes (self, args, kwargs) Ptrs, kwargs Nil "
        "when none."),
    records::Method<SetDocumentation>(
        "SetDocumentation(name as String, text as String)",
        "Sets the __doc__ of the method or property of this name, or of the class for an empty name."),
    records::Method<RegisterGetterSetter>(
        "RegisterGetterSetter(name as String, getterPtr as Ptr, setterPtr as Ptr)",
        "Adds a property to the class, read and assigned through Xojo functions; a Nil setter makes it read-only."),
    records::Method<SetHashFunction>("SetHashFunction(fuction as Ptr)",
                                     "Sets the Xojo function Python calls for hash() of an instance."),
    records::Method<SetToStringFunction>("SetToStringFunction(fuction as Ptr)",
                                         "Sets the Xojo function Python calls for str() of an instance."),
};

REALmethodDefinition PythonXojoClassSharedMethods[] = {
    records::Method<GetData>(
        "Data(pySelf as Ptr) as Object",
        "The Xojo object stored in the Python instance pySelf; Nil when none or pySelf is no such instance."),
    records::Method<SetData>(
        "Data(pySelf as Ptr, assigns value as Object)",
        "Stores a Xojo object in the Python instance pySelf, kept alive until replaced or the instance goes."),
};

}  // namespace

void PublishHostType(REALobjectStruct* xojoClass, PyObjectRef module) noexcept {
  HostType* type = DataOf(xojoClass)->state;
  if (!type || !EPyModule_AddObject) return;
  if (PyTypeObjectLayout* ready = type->Ready()) {
    auto* object = reinterpret_cast<PyObjectRef>(ready);
    TakePythonRef(object);
    if (EPyModule_AddObject(module, type->Name().c_str(), object) == 0) return;
    ReleasePythonRef(object);  // not taken by the failed add
  }
  if (EPyErr_Clear) EPyErr_Clear();
}

static_assert(sizeof(PythonXojoClassData) <= kPythonXojoClassDataSize, "Python3XojoClass data block");

REALclassDefinition PythonXojoClassClass =
    records::ClassRecord("Python3XojoClass", "Python3Object", kPythonXojoClassDataSize)
        .Describe("A Python class defined by Xojo code, published in a Python3XojoModule.")
        .Methods(PythonXojoClassMethods)
        .SharedMethods(PythonXojoClassSharedMethods)
        .Destructor<Destructor>();
