#include "PythonResult/PythonResult.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonValueTypes.h"
#include "PythonEntity/PythonEntity.h"

namespace {

void PythonResult_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonResultDataOf(instance)->object);
}

// Each constructor stores a new object of its value type; nothing while
// Python is not running.
template <typename T>
void Construct(REALobjectStruct* self, typename T::Type value) {
  if (!PythonIsRunning()) return;
  PendingErrorAside pending;
  StoreOwnedPythonRef(PythonResultDataOf(self)->object, T::ToPython(value));
}

void PythonResult_Constructor(REALobjectStruct* self) {
  if (PythonIsRunning()) StoreOwnedPythonRef(PythonResultDataOf(self)->object, NewPythonNone());
}

// The stored object, or null when there is none or Python is not running.
PyObjectRef Held(REALobjectStruct* self) {
  PyObjectRef object = PythonResultDataOf(self)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

// The getters leave the conversion to the library: they return what it
// returns. A conversion may run Python code (__index__, __float__, __bool__).
template <typename T>
typename T::Type Get(REALobjectStruct* self) {
  PendingErrorAside pending;
  return ConvertedValue<T>(Held(self));
}

template <bool (*Test)(PyObjectRef)>
int8_t TypeTest(REALobjectStruct* self) {
  return Test(Held(self));
}

void* PythonResult_GetPtr(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  if (object) TakePythonRef(object);
  return object;
}

REALobjectStruct* PythonResult_FromBytes(REALobjectStruct* bytes);

REALmethodDefinition PythonResultMethods[] = {
    records::Method<PythonResult_Constructor>("Constructor()"),
    records::Method<Construct<values::Int32>>("Constructor(value as Int32)"),
    records::Method<Construct<values::Int64>>("Constructor(value as Int64)"),
    records::Method<Construct<values::UInt64>>("Constructor(value as UInt64)"),
    records::Method<Construct<values::Double>>("Constructor(value as Double)"),
    records::Method<Construct<values::String>>("Constructor(value as String)"),
    records::Method<Construct<values::Boolean>>("Constructor(value as Boolean)"),
    records::Method<Construct<values::Object>>("Constructor(value as Object)"),
    records::Method<Get<values::Int32>>("Int32Value() as Int32"),
    records::Method<Get<values::Int64>>("Int64Value() as Int64"),
    records::Method<Get<values::UInt64>>("UInt64Value() as UInt64"),
    records::Method<Get<values::Double>>("DoubleValue() as Double"),
    records::Method<Get<values::Boolean>>("BooleanValue() as Boolean"),
    records::Method<Get<values::String>>("StringValue() as String"),
    records::Method<Get<values::Bytes>>("BytesValue() as Python3Bytes"),
    records::Method<Get<values::Object>>("ObjectValue() as Object"),
    records::Method<TypeTest<IsPythonStr>>("IsString() as Boolean"),
    records::Method<TypeTest<IsPythonInt>>("IsInteger() as Boolean"),
    records::Method<TypeTest<PythonIntFitsInInt32>>("FitsInInt32() as Boolean"),
    records::Method<TypeTest<IsPythonFloat>>("IsDouble() as Boolean"),
    records::Method<TypeTest<IsPythonBool>>("IsBoolean() as Boolean"),
    records::Method<TypeTest<IsHostObjectCapsule>>("IsObject() as Boolean"),
    records::Method<PythonResult_GetPtr>("GetPtr() as Ptr"),
    records::Method<TypeTest<IsPythonTuple>>("IsTuple() as Boolean"),
    records::Method<TypeTest<IsPythonBytes>>("IsBytes() as Boolean"),
    records::Method<Get<values::Tuple>>("TupleValue() as Python3Parameters"),
    records::Method<TypeTest<IsPythonDict>>("IsDictionary() as Boolean"),
    records::Method<Get<values::Dictionary>>("DictionaryValue() as Python3Dictionary"),
};

REALmethodDefinition PythonResultSharedMethods[] = {
    records::Method<PythonResult_FromBytes>("FromBytes(bytes as Python3Bytes) as Python3Result"),
};

}  // namespace

PythonResultData* PythonResultDataOf(REALobjectStruct* instance) {
  return static_cast<PythonResultData*>(REALGetClassData(instance, &PythonResultClass));
}

REALobjectStruct* NewResultWrapper(PyObjectRef object) {
  REALobjectStruct* result = REALnewInstanceOfClass(&PythonResultClass);
  if (!result) {
    if (object) ReleasePythonRef(object);
    return nullptr;
  }
  StoreOwnedPythonRef(PythonResultDataOf(result)->object, object);
  return result;
}

namespace {

// Result and byte string share one Python bytes object.
REALobjectStruct* PythonResult_FromBytes(REALobjectStruct* bytes) {
  if (!bytes || !PythonIsRunning()) return nullptr;
  PyObjectRef object = PythonEntityObjectOf(bytes);
  return object ? NewResultWrapper(NewReference(object)) : nullptr;
}

}  // namespace

REALclassDefinition PythonResultClass = records::ClassRecord("Python3Result", nullptr, sizeof(PythonResultData))
                                            .destructor<PythonResult_Destructor, records::kLockOnDemand>()
                                            .methods(PythonResultMethods)
                                            .sharedMethods(PythonResultSharedMethods);
