// The members of Python3Class: a Python class taken from a module, and the instances it makes, which keep
// the class and its module alive.

#include "PythonClass/PythonClass.h"

#include "HostHandles.h"
#include "PythonFunction/PythonFunction.h"
#include "PythonInstance/PythonInstance.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

void Destructor(REALobjectStruct* instance) { PythonClassDataOf(instance)->ownerModule.Reset(); }

// Calls the class (or whatever object it wraps) and wraps what the call
// returns, whatever its type, under the class's name.
REALobjectStruct* CreateInstanceWithKeywords(REALobjectStruct* self, REALobjectStruct* parameters,
                                             REALobjectStruct* keywords) {
  // The class's code may call host code that drops the last host reference to
  // this wrapper, which is read afterwards.
  const ScopedObject keptSelf = ScopedObject::Borrow(self);
  PyObjectRef made = CallWithWrappers(PythonObjectOf(self), parameters, keywords);
  if (!made) return nullptr;
  REALobjectStruct* instance = NewNamedObjectWrapper(&PythonInstanceClass, PythonObjectDataOf(self)->name.Get(), made);
  if (!instance) return nullptr;
  PythonInstanceData* data = PythonInstanceDataOf(instance);
  data->ownerClass.Borrow(self);
  data->ownerModule.Borrow(PythonClassDataOf(self)->ownerModule.Get());
  return instance;
}

REALobjectStruct* CreateInstanceWithParameters(REALobjectStruct* self, REALobjectStruct* parameters) {
  return CreateInstanceWithKeywords(self, parameters, nullptr);
}

REALobjectStruct* CreateInstance(REALobjectStruct* self) { return CreateInstanceWithKeywords(self, nullptr, nullptr); }

REALmethodDefinition PythonClassMethods[] = {
    records::Method<CreateInstance>("CreateInstance() as Python3Instance",
                                    "Calls the class with no arguments; Nil with Python's error set when it raises."),
    records::Method<CreateInstanceWithParameters>(
        "CreateInstance(parameters as Python3Parameters) as Python3Instance",
        "Calls the class with the parameters as positional arguments; Nil with Python's error set when it raises."),
    records::Method<CreateInstanceWithKeywords>(
        "CreateInstance(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Instance",
        "Calls the class with positional and keyword arguments; Nil with Python's error set when it raises."),
};

}  // namespace

PythonClassData* PythonClassDataOf(REALobjectStruct* instance) {
  return static_cast<PythonClassData*>(REALGetClassData(instance, &PythonClassClass));
}

REALclassDefinition PythonClassClass = records::ClassRecord("Python3Class", "Python3Object", sizeof(PythonClassData))
                                           .Describe("A Python class taken from a module, which makes instances.")
                                           .Destructor<Destructor, records::kLockOnDemand>()
                                           .Methods(PythonClassMethods);
