// The records of Python3EntityBase and Python3Entity: their own members, the properties and factories of
// every value type, and the members of the other Python3Entity files gathered in.

#include "PythonEntity/PythonEntity.h"

#include <type_traits>
#include <vector>

#include "PythonEntity/EntityBuffers.h"
#include "PythonEntity/EntityDataTools.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonValueTypes.h"
#include "Registration/ClassRecords.h"

namespace {

// Runs for every value wrapper, so the library is loaded before any value
// conversion calls into it.
void PythonEntity_DefaultConstructor(REALobjectStruct*) {
  if (!gPythonEntryPointsLoaded) EnsurePythonLoaded();
}

void PythonEntity_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonEntityDataOf(instance)->object);
}

void PythonEntity_Constructor(REALobjectStruct*) {}

// str() of the object, cut at its first NUL character.
REALstringStruct* ToString(REALobjectStruct* instance) {
  ScopedReference object = ScopedEntityObject(instance);
  return object ? HostStringFromStr(object.Get()) : nullptr;
}

int64_t Hash(REALobjectStruct* instance) {
  ScopedReference object = ScopedEntityObject(instance);
  if (!object || !EPyObject_Hash) return -1;
  return EPyObject_Hash(object.Get());
}

// A new reference for the caller, who owns it.
void* GetPtr(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityObjectOf(instance);
  if (object) TakePythonRef(object);
  return object;
}

// The shared conversions: an entity holding the new object, or one holding
// nothing when Python refuses the value; Nil when the host cannot give it.
template <typename T>
REALobjectStruct* From(typename T::Type value) {
  if (!PythonIsRunning()) return nullptr;
  if constexpr (std::is_same_v<T, values::Object>) {
    if (!value) return nullptr;  // no capsule for Nil
  }
  bool hostRefused = false;
  PyObjectRef object = T::ToPython(value, &hostRefused);
  return hostRefused ? nullptr : NewEntity(object);
}

// The entity takes its own reference; the caller keeps any it owns.
REALobjectStruct* PythonEntity_FromPtr(void* value) {
  if (!value || !PythonIsRunning()) return nullptr;
  return NewEntity(NewReference(static_cast<PyObjectRef>(value)));
}

// Takes over the reference (one that GetPtr handed out): nothing leaks.
// While Python is not running the reference belongs to no interpreter and
// is left alone.
REALobjectStruct* PythonEntity_FromNewPtr(void* value) {
  if (!value || !PythonIsRunning()) return nullptr;
  return NewEntity(static_cast<PyObjectRef>(value));
}

template <typename T>
typename T::Type Property(REALobjectStruct* self, intptr_t) {
  return CheckedValue<T>(PythonEntityObjectOf(self));
}

template <bool (*Test)(PyObjectRef)>
int8_t TypeProperty(REALobjectStruct* self, intptr_t) {
  return Test(PythonEntityObjectOf(self));
}

REALmethodDefinition PythonEntityBaseMethods[] = {
    records::Method<PythonEntity_Constructor>("Constructor()", "Makes a value that holds no Python object.",
                                              REALdefaultConstructorFlags),
    records::Method<ToString>(
        "ToString() as String",
        "Python's str() of the held object, cut at its first NUL character; empty when it holds none."),
    records::Method<Hash>("Hash() as Int64",
                          "Python's hash() of the held object; -1 when it holds none or the object cannot be hashed."),
    records::Method<GetPtr, records::PendingError::Untouched>(
        "GetPtr() as Ptr",
        "The held Python object as a new reference that the caller owns and must release; Nil when none."),
};

// XValue and IsX of every type the value-type list gives them.
std::vector<REALproperty>& PythonEntityProperties() {
  static std::vector<REALproperty> table = [] {
    using namespace values;
    std::vector<REALproperty> properties;
#define PYTHON_VALUE_TYPE(Name, CType, XojoType, toPython, fromPython, test, neutral, converts, familySet, kind, \
                          neutralText, failureText)                                                              \
  if ((familySet)&kEntityValue)                                                                                  \
    properties.push_back(records::ReadOnlyProperty<Property<values::Name>>(                                      \
        #Name "Value", XojoType, "The held object as " XojoType " when it is " kind ", else " neutralText "."));
#include "PythonValues/PythonValueTypes.def"
#define PYTHON_TYPE_TEST(Name, test, familySet, kind) \
  if ((familySet)&kEntityValue)                       \
    properties.push_back(                             \
        records::ReadOnlyProperty<TypeProperty<test>>(#Name, "Boolean", "True when the held object is " kind "."));
#include "PythonValues/PythonValueTypes.def"
    for (const REALproperty& property : EntityObjectProperties()) properties.push_back(property);
    for (const REALproperty& property : EntityBufferProperties()) properties.push_back(property);
    return properties;
  }();
  return table;
}

std::vector<REALmethodDefinition>& PythonEntityMethods() {
  static std::vector<REALmethodDefinition> table = [] {
    std::vector<REALmethodDefinition> methods = {records::Method<PythonEntity_Constructor>(
        "Constructor()", "Makes a value that holds no Python object.", REALdefaultConstructorFlags)};
    for (const REALmethodDefinition& method : EntityObjectMethods()) methods.push_back(method);
    for (const REALmethodDefinition& method : EntityBufferMethods()) methods.push_back(method);
    for (const REALmethodDefinition& method : EntityDataToolMethods()) methods.push_back(method);
    return methods;
  }();
  return table;
}

// FromX of every type the value-type list gives one, and FromPtr.
std::vector<REALmethodDefinition>& PythonEntitySharedMethods() {
  static std::vector<REALmethodDefinition> table = [] {
    using namespace values;
    std::vector<REALmethodDefinition> methods;
#define PYTHON_VALUE_TYPE(Name, CType, XojoType, toPython, fromPython, test, neutral, converts, familySet, kind,    \
                          neutralText, failureText)                                                                 \
  if ((familySet)&kEntityFactory)                                                                                   \
    methods.push_back(records::Method<From<values::Name>>("From" #Name "(value as " XojoType ") as Python3Entity",  \
                                                          "A new Python3Entity holding the value as " kind          \
                                                          "; Nil for a value the host cannot give, or when Python " \
                                                          "is not running."));
#include "PythonValues/PythonValueTypes.def"
    methods.push_back(records::Method<PythonEntity_FromPtr>(
        "FromPtr(value as Ptr) as Python3Entity",
        "A new Python3Entity sharing the Python object at the pointer (it takes its own reference); Nil for Nil."));
    methods.push_back(records::Method<PythonEntity_FromNewPtr>(
        "FromNewPtr(value as Ptr) as Python3Entity",
        "A new Python3Entity that takes over the reference at the pointer (as GetPtr hands out); Nil for Nil."));
    for (const REALmethodDefinition& method : EntityBufferSharedMethods()) methods.push_back(method);
    for (const REALmethodDefinition& method : EntityDataToolSharedMethods()) methods.push_back(method);
    return methods;
  }();
  return table;
}

}  // namespace

REALclassDefinition PythonEntityBaseClass =
    records::ClassRecord("Python3EntityBase", nullptr, sizeof(PythonEntityData))
        .Describe("The base of every Python value wrapper: holds one Python object, released when the wrapper goes.")
        .Initializer<PythonEntity_DefaultConstructor, records::kLockOnDemand>()
        .Destructor<PythonEntity_Destructor, records::kLockOnDemand>()
        .Methods(PythonEntityBaseMethods);

REALclassDefinition PythonEntityClass =
    records::ClassRecord("Python3Entity", "Python3EntityBase", sizeof(EntityBufferData))
        .Describe("Any Python value: tests of its type, conversions to Xojo values, and factories from Xojo values.")
        .Destructor<EntityBuffersDestructor, records::kLockOnDemand>()
        .Properties(PythonEntityProperties())
        .Methods(PythonEntityMethods())
        .SharedMethods(PythonEntitySharedMethods());
