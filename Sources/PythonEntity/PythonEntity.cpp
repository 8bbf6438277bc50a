#include "PythonEntity/PythonEntity.h"

#include <unordered_set>

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonValueTypes.h"

namespace {

// Every live value wrapper. Host code may hand over an object of its own
// class where an interface is declared; only these have a Python3EntityBase
// block to read.
std::unordered_set<REALobjectStruct*>& liveValueWrappers() {
  static auto* wrappers = new std::unordered_set<REALobjectStruct*>;  // outlives every wrapper
  return *wrappers;
}

// Runs for every value wrapper, so the library is loaded before any value
// conversion calls into it.
void PythonEntity_DefaultConstructor(REALobjectStruct* instance) {
  EnsurePythonLoaded();
  PythonEntityDataOf(instance)->object = nullptr;
  liveValueWrappers().insert(instance);
}

void PythonEntity_Destructor(REALobjectStruct* instance) {
  liveValueWrappers().erase(instance);
  ReleaseOwnedPythonRef(PythonEntityDataOf(instance)->object);
}

void PythonEntity_Constructor(REALobjectStruct*) {}

// str() of the object, cut at its first NUL character.
REALstringStruct* ToString(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityObjectOf(instance);
  if (!object) return nullptr;
  PendingErrorAside pending;
  return HostStringFromStr(object);
}

int64_t Hash(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityObjectOf(instance);
  if (!object || !EPyObject_Hash) return -1;
  PendingErrorAside pending;
  return EPyObject_Hash(object);
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
  bool hostRefused = false;
  PyObjectRef object = T::ToPython(value, &hostRefused);
  return hostRefused ? nullptr : NewEntity(object);
}

REALobjectStruct* PythonEntity_FromObject(REALobjectStruct* value) {
  if (!value || !PythonIsRunning()) return nullptr;
  PyObjectRef capsule = values::Object::ToPython(value);
  return capsule ? NewEntity(capsule) : nullptr;
}

// The entity takes its own reference; the caller keeps any it owns.
REALobjectStruct* PythonEntity_FromPtr(void* value) {
  if (!value || !PythonIsRunning()) return nullptr;
  return NewEntity(NewReference(static_cast<PyObjectRef>(value)));
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
    records::Method<PythonEntity_Constructor>("Constructor()", REALdefaultConstructorFlags),
    records::Method<ToString>("ToString() as String"),
    records::Method<Hash>("Hash() as Int64"),
    records::Method<GetPtr>("GetPtr() as Ptr"),
};

REALproperty PythonEntityProperties[] = {
    records::ReadOnlyProperty<Property<values::Int32>>("Int32Value", "Int32"),
    records::ReadOnlyProperty<Property<values::Double>>("DoubleValue", "Double"),
    records::ReadOnlyProperty<Property<values::String>>("StringValue", "String"),
    records::ReadOnlyProperty<Property<values::Boolean>>("BooleanValue", "Boolean"),
    records::ReadOnlyProperty<Property<values::Object>>("ObjectValue", "Object"),
    records::ReadOnlyProperty<Property<values::Int64>>("Int64Value", "Int64"),
    records::ReadOnlyProperty<Property<values::UInt64>>("UInt64Value", "UInt64"),
    records::ReadOnlyProperty<Property<values::Bytes>>("BytesValue", "Python3Bytes"),
    records::ReadOnlyProperty<Property<values::Tuple>>("TupleValue", "Python3Parameters"),
    records::ReadOnlyProperty<Property<values::List>>("ListValue", "Python3List"),
    records::ReadOnlyProperty<Property<values::Dictionary>>("DictionaryValue", "Python3Dictionary"),
    records::ReadOnlyProperty<TypeProperty<IsPythonInt>>("IsInteger", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonStr>>("IsString", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonFloat>>("IsDouble", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonBytes>>("IsBytes", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonTuple>>("IsTuple", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonBool>>("IsBoolean", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonList>>("IsList", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsHostObjectCapsule>>("IsObject", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<IsPythonDict>>("IsDictionary", "Boolean"),
    records::ReadOnlyProperty<TypeProperty<PythonIntFitsInInt32>>("FitsInInt32", "Boolean"),
};

REALmethodDefinition PythonEntityMethods[] = {
    records::Method<PythonEntity_Constructor>("Constructor()", REALdefaultConstructorFlags),
};

REALmethodDefinition PythonEntitySharedMethods[] = {
    records::Method<From<values::Int32>>("FromInt32(value as Int32) as Python3Entity"),
    records::Method<From<values::Double>>("FromDouble(value as Double) as Python3Entity"),
    records::Method<From<values::String>>("FromString(value as String) as Python3Entity"),
    records::Method<From<values::Boolean>>("FromBoolean(value as Boolean) as Python3Entity"),
    records::Method<PythonEntity_FromObject>("FromObject(value as Object) as Python3Entity"),
    records::Method<From<values::Int64>>("FromInt64(value as Int64) as Python3Entity"),
    records::Method<From<values::UInt64>>("FromUInt64(value as UInt64) as Python3Entity"),
    records::Method<PythonEntity_FromPtr>("FromPtr(value as Ptr) as Python3Entity"),
};

}  // namespace

bool IsValueWrapper(REALobjectStruct* object) { return object && liveValueWrappers().count(object) != 0; }

PyObjectRef PythonEntityObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

PythonEntityData* PythonEntityDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEntityData*>(REALGetClassData(instance, &PythonEntityBaseClass));
}

REALclassDefinition PythonEntityBaseClass =
    records::ClassRecord("Python3EntityBase", nullptr, sizeof(PythonEntityData))
        .initializer<PythonEntity_DefaultConstructor, records::kLockOnDemand>()
        .destructor<PythonEntity_Destructor, records::kLockOnDemand>()
        .methods(PythonEntityBaseMethods);

REALclassDefinition PythonEntityClass = records::ClassRecord("Python3Entity", "Python3EntityBase", 0)
                                            .properties(PythonEntityProperties)
                                            .methods(PythonEntityMethods)
                                            .sharedMethods(PythonEntitySharedMethods);
