// The members of Python3Function: calling it with or without keywords, the module it came from, and making
// one of a callable attribute.

#include "PythonFunction/PythonFunction.h"

#include "HostHandles.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonAttributes.h"
#include "PythonValues/PythonValues.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

void Destructor(REALobjectStruct* instance) {
  PythonFunctionData* data = PythonFunctionDataOf(instance);
  data->ownerModule.Reset();
  data->ownerInstance.Reset();
}

REALobjectStruct* PythonFunction_InvokeWithKeywords(REALobjectStruct* self, REALobjectStruct* parameters,
                                                    REALobjectStruct* keywords) {
  PyObjectRef result = CallWithWrappers(PythonObjectOf(self), parameters, keywords);
  return result ? NewResultWrapper(result) : nullptr;
}

REALobjectStruct* PythonFunction_Invoke(REALobjectStruct* self, REALobjectStruct* parameters) {
  return PythonFunction_InvokeWithKeywords(self, parameters, nullptr);
}

REALobjectStruct* PythonFunction_Module(REALobjectStruct* self, intptr_t) {
  return PythonFunctionDataOf(self)->ownerModule.NewReference();
}

REALproperty PythonFunctionProperties[] = {
    records::ReadOnlyProperty<PythonFunction_Module>(
        "OwnerModule", "Python3Module",
        "The module the function, or the class of its instance, was taken from; Nil when none is known."),
};

REALmethodDefinition PythonFunctionMethods[] = {
    records::Method<PythonFunction_Invoke>(
        "Invoke(parameters as Python3Parameters) as Python3Result",
        "Calls the function with the parameters as positional arguments; Nil with Python's error set when it raises."),
    records::Method<PythonFunction_InvokeWithKeywords>(
        "Invoke(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result",
        "Calls the function with positional and keyword arguments; Nil with Python's error set when it raises."),
};

}  // namespace

PythonFunctionData* PythonFunctionDataOf(REALobjectStruct* instance) {
  return static_cast<PythonFunctionData*>(REALGetClassData(instance, &PythonFunctionClass));
}

REALobjectStruct* NewFunctionOfAttribute(PyObjectRef owner, REALstringStruct* name, REALobjectStruct* ownerModule,
                                         REALobjectStruct* ownerInstance) {
  // Held before the lookup runs Python code (a __getattr__), which may call
  // host code that drops the last host reference to either owner or the name.
  ScopedObject module = ScopedObject::Borrow(ownerModule);
  ScopedObject instance = ScopedObject::Borrow(ownerInstance);
  const ScopedString keptName = ScopedString::Borrow(name);
  ScopedReference attribute = ScopedReference::Adopt(GetPythonAttribute(owner, name));
  if (!attribute || !EPyCallable_Check || !EPyCallable_Check(attribute.Get())) return nullptr;
  REALobjectStruct* function = NewNamedObjectWrapper(&PythonFunctionClass, name, attribute.HandOver());
  if (!function) return nullptr;
  PythonFunctionData* data = PythonFunctionDataOf(function);
  data->ownerModule.Adopt(module.HandOver());
  data->ownerInstance.Adopt(instance.HandOver());
  return function;
}

// PyObject_Call reads its arguments as a tuple and its keywords as a dict
// without looking: anything else is refused here with Python's TypeError.
REALclassDefinition PythonFunctionClass =
    records::ClassRecord("Python3Function", "Python3Object", sizeof(PythonFunctionData))
        .Describe("A callable Python object taken from a module or an instance.")
        .Destructor<Destructor, records::kLockOnDemand>()
        .Properties(PythonFunctionProperties)
        .Methods(PythonFunctionMethods);
