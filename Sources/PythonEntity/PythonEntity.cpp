#include "PythonEntity/PythonEntity.h"

#include "Registration/ClassRecords.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PythonValueTypes.h"

namespace {

// Runs for every value wrapper, so the library is loaded before any value
// conversion calls into it.
void PythonEntity_DefaultConstructor(REALobjectStruct*) { EnsurePythonLoaded(); }

void PythonEntity_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonEntityDataOf(instance)->object);
}

void PythonEntity_Constructor(REALobjectStruct*) {}

// str() of the object, cut at its first NUL character.
REALstringStruct* ToString(REALobjectStruct* instance) {
  HeldReference object = HeldEntityObject(instance);
  return object ? HostStringFromStr(object.get()) : nullptr;
}

int64_t Hash(REALobjectStruct* instance) {
  HeldReference object = HeldEntityObject(instance);
  if (!object || !EPyObject_Hash) return -1;
  return EPyObject_Hash(object.get());
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
    records::Method<PythonEntity_Constructor>("Constructor()", "Makes a value that holds no Python object.",
                                              REALdefaultConstructorFlags),
    records::Method<ToString>("ToString() as String",
        "Python's str() of the held object, cut at its first NUL character; empty when it holds none."),
    records::Method<Hash>("Hash() as Int64",
        "Python's hash() of the held object; -1 when it holds none or the object cannot be hashed."),
    records::Method<GetPtr>("GetPtr() as Ptr",
        "The held Python object as a new reference that the caller owns and must release; Nil when none."),
};

REALproperty PythonEntityProperties[] = {
    records::ReadOnlyProperty<Property<values::Int32>>("Int32Value", "Int32",
        "The low 32 bits of the held object when it is a Python int, else 0."),
    records::ReadOnlyProperty<Property<values::Double>>("DoubleValue", "Double",
        "The held object as Double when it is a Python float, else 0.0."),
    records::ReadOnlyProperty<Property<values::String>>("StringValue", "String",
        "The held object as a String when it is a Python str, else empty."),
    records::ReadOnlyProperty<Property<values::Boolean>>("BooleanValue", "Boolean",
        "True when the held object is Python True; False for any other object."),
    records::ReadOnlyProperty<Property<values::Object>>("ObjectValue", "Object",
        "The Xojo object the held capsule carries (made by FromObject), else Nil."),
    records::ReadOnlyProperty<Property<values::Int64>>("Int64Value", "Int64",
        "The held object as Int64 when it is a Python int, else 0."),
    records::ReadOnlyProperty<Property<values::UInt64>>("UInt64Value", "UInt64",
        "The held object as UInt64 when it is a Python int, else 0."),
    records::ReadOnlyProperty<Property<values::Bytes>>("BytesValue", "Python3Bytes",
        "A Python3Bytes sharing the held object when it is a bytes object, else Nil."),
    records::ReadOnlyProperty<Property<values::Tuple>>("TupleValue", "Python3Parameters",
        "A Python3Parameters sharing the held object when it is a tuple, else Nil."),
    records::ReadOnlyProperty<Property<values::List>>("ListValue", "Python3List",
        "A Python3List sharing the held list (changes show in both) when it is a list, else Nil."),
    records::ReadOnlyProperty<Property<values::Dictionary>>("DictionaryValue", "Python3Dictionary",
        "A Python3Dictionary sharing the held dict (changes show in both) when it is a dict, else Nil."),
    records::ReadOnlyProperty<TypeProperty<IsPythonInt>>("IsInteger", "Boolean",
        "True when the held object is an int (True and False included)."),
    records::ReadOnlyProperty<TypeProperty<IsPythonStr>>("IsString", "Boolean",
        "True when the held object is a str."),
    records::ReadOnlyProperty<TypeProperty<IsPythonFloat>>("IsDouble", "Boolean",
        "True when the held object is a float."),
    records::ReadOnlyProperty<TypeProperty<IsPythonBytes>>("IsBytes", "Boolean",
        "True when the held object is a bytes object."),
    records::ReadOnlyProperty<TypeProperty<IsPythonTuple>>("IsTuple", "Boolean",
        "True when the held object is a tuple."),
    records::ReadOnlyProperty<TypeProperty<IsPythonBool>>("IsBoolean", "Boolean",
        "True when the held object is True or False."),
    records::ReadOnlyProperty<TypeProperty<IsPythonList>>("IsList", "Boolean",
        "True when the held object is a list."),
    records::ReadOnlyProperty<TypeProperty<IsHostObjectCapsule>>("IsObject", "Boolean",
        "True when the held object is a capsule carrying a Xojo object."),
    records::ReadOnlyProperty<TypeProperty<IsPythonDict>>("IsDictionary", "Boolean",
        "True when the held object is a dict."),
    records::ReadOnlyProperty<TypeProperty<PythonIntFitsInInt32>>("FitsInInt32", "Boolean",
        "True when the held object is an int within the range of Int32."),
};

REALmethodDefinition PythonEntityMethods[] = {
    records::Method<PythonEntity_Constructor>("Constructor()", "Makes a value that holds no Python object.",
                                              REALdefaultConstructorFlags),
};

REALmethodDefinition PythonEntitySharedMethods[] = {
    records::Method<From<values::Int32>>("FromInt32(value as Int32) as Python3Entity",
        "A new Python3Entity holding a new Python int of the value; Nil when Python is not running."),
    records::Method<From<values::Double>>("FromDouble(value as Double) as Python3Entity",
        "A new Python3Entity holding a new Python float of the value; Nil when Python is not running."),
    records::Method<From<values::String>>("FromString(value as String) as Python3Entity",
        "A new Python3Entity holding a new Python str of the value; Nil when Python is not running."),
    records::Method<From<values::Boolean>>("FromBoolean(value as Boolean) as Python3Entity",
        "A new Python3Entity holding a new Python bool of the value; Nil when Python is not running."),
    records::Method<PythonEntity_FromObject>("FromObject(value as Object) as Python3Entity",
        "A new Python3Entity holding a capsule keeping the Xojo object alive; Nil for Nil or when Python is stopped."),
    records::Method<From<values::Int64>>("FromInt64(value as Int64) as Python3Entity",
        "A new Python3Entity holding a new Python int of the value; Nil when Python is not running."),
    records::Method<From<values::UInt64>>("FromUInt64(value as UInt64) as Python3Entity",
        "A new Python3Entity holding a new Python int of the value; Nil when Python is not running."),
    records::Method<PythonEntity_FromPtr>("FromPtr(value as Ptr) as Python3Entity",
        "A new Python3Entity sharing the Python object at the pointer (it takes its own reference); Nil for Nil."),
};

}  // namespace




REALclassDefinition PythonEntityBaseClass =
    records::ClassRecord("Python3EntityBase", nullptr, sizeof(PythonEntityData))
        .describe("The base of every Python value wrapper: holds one Python object, released when the wrapper goes.")
        .initializer<PythonEntity_DefaultConstructor, records::kLockOnDemand>()
        .destructor<PythonEntity_Destructor, records::kLockOnDemand>()
        .methods(PythonEntityBaseMethods);

REALclassDefinition PythonEntityClass = records::ClassRecord("Python3Entity", "Python3EntityBase", 0)
        .describe("Any Python value: tests of its type, conversions to Xojo values, and factories from Xojo values.")
                                            .properties(PythonEntityProperties)
                                            .methods(PythonEntityMethods)
                                            .sharedMethods(PythonEntitySharedMethods);
