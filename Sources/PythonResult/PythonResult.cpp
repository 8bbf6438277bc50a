#include "PythonResult/PythonResult.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonParameters.h"
#include "PythonEntity/PythonEntity.h"
#include "PythonEngine/PythonValues.h"

namespace {

void PythonResult_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonResultDataOf(instance)->object);
}

// Constructors store what `make` returns; nothing while Python is not running.
template <typename Make>
void Construct(REALobjectStruct* instance, Make make) {
  if (!PythonIsRunning()) return;
  PendingErrorAside pending;
  StoreOwnedPythonRef(PythonResultDataOf(instance)->object, make());
}

void PythonResult_Constructor(REALobjectStruct* self) {
  Construct(self, [] { return EPy_BuildValue ? EPy_BuildValue("") : nullptr; });
}
void PythonResult_IntConstructor(REALobjectStruct* self, int32_t value) {
  Construct(self, [&] { return EPyLong_FromLong ? EPyLong_FromLong(value) : nullptr; });
}
void PythonResult_Int64Constructor(REALobjectStruct* self, int64_t value) {
  Construct(self, [&] { return EPyLong_FromLongLong ? EPyLong_FromLongLong(value) : nullptr; });
}
void PythonResult_UInt64Constructor(REALobjectStruct* self, uint64_t value) {
  Construct(self, [&] { return EPyLong_FromUnsignedLongLong ? EPyLong_FromUnsignedLongLong(value) : nullptr; });
}
void PythonResult_DoubleConstructor(REALobjectStruct* self, double value) {
  Construct(self, [&] { return EPyFloat_FromDouble ? EPyFloat_FromDouble(value) : nullptr; });
}
void PythonResult_StringConstructor(REALobjectStruct* self, REALstringStruct* value) {
  Construct(self, [&] { return NewPythonText(value); });
}
void PythonResult_BoolConstructor(REALobjectStruct* self, int8_t value) {
  Construct(self, [&] { return NewPythonBool(value != 0); });
}
void PythonResult_ObjectConstructor(REALobjectStruct* self, REALobjectStruct* value) {
  Construct(self, [&] { return NewHostObjectCapsule(value); });
}

// The stored object, or null when there is none or Python is not running.
PyObjectRef Held(REALobjectStruct* self) {
  PyObjectRef object = PythonResultDataOf(self)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

// The getters leave the conversion to the library: they return what it
// returns. A conversion may run Python code (__index__, __float__, __bool__).
int32_t PythonResult_GetInt32(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  PendingErrorAside pending;
  return object && EPyLong_AsLong ? static_cast<int32_t>(EPyLong_AsLong(object)) : 0;
}
int64_t PythonResult_GetInt64(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  PendingErrorAside pending;
  return object && EPyLong_AsLongLong ? EPyLong_AsLongLong(object) : 0;
}
uint64_t PythonResult_GetUInt64(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  PendingErrorAside pending;
  return object && EPyLong_AsUnsignedLongLong ? EPyLong_AsUnsignedLongLong(object) : 0;
}
double PythonResult_GetDouble(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  PendingErrorAside pending;
  return object && EPyFloat_AsDouble ? EPyFloat_AsDouble(object) : 0.0;
}
// A truth test that fails (-1, the error left set) reads False, not True.
int8_t PythonResult_GetBoolean(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  PendingErrorAside pending;
  return object && EPyObject_IsTrue && EPyObject_IsTrue(object) == 1;
}
REALstringStruct* PythonResult_GetString(REALobjectStruct* self) {
  PendingErrorAside pending;
  return HostStringFromPythonText(Held(self));
}
REALobjectStruct* PythonResult_GetObject(REALobjectStruct* self) { return HostObjectFromPython(Held(self)); }
REALobjectStruct* PythonResult_GetBytes(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  return IsPythonBytes(object) ? NewEntityWrapper(&PythonBytesClass, object) : nullptr;
}
REALobjectStruct* PythonResult_GetDictionary(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  return IsPythonDict(object) ? NewEntityWrapper(&PythonDictionaryClass, object) : nullptr;
}
REALobjectStruct* PythonResult_GetTuple(REALobjectStruct* self) {
  PyObjectRef object = Held(self);
  return IsPythonTuple(object) ? NewParametersWrapper(object) : nullptr;
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
    records::Method<PythonResult_IntConstructor>("Constructor(value as Int32)"),
    records::Method<PythonResult_Int64Constructor>("Constructor(value as Int64)"),
    records::Method<PythonResult_UInt64Constructor>("Constructor(value as UInt64)"),
    records::Method<PythonResult_DoubleConstructor>("Constructor(value as Double)"),
    records::Method<PythonResult_StringConstructor>("Constructor(value as String)"),
    records::Method<PythonResult_BoolConstructor>("Constructor(value as Boolean)"),
    records::Method<PythonResult_ObjectConstructor>("Constructor(value as Object)"),
    records::Method<PythonResult_GetInt32>("Int32Value() as Int32"),
    records::Method<PythonResult_GetInt64>("Int64Value() as Int64"),
    records::Method<PythonResult_GetUInt64>("UInt64Value() as UInt64"),
    records::Method<PythonResult_GetDouble>("DoubleValue() as Double"),
    records::Method<PythonResult_GetBoolean>("BooleanValue() as Boolean"),
    records::Method<PythonResult_GetString>("StringValue() as String"),
    records::Method<PythonResult_GetBytes>("BytesValue() as Python3Bytes"),
    records::Method<PythonResult_GetObject>("ObjectValue() as Object"),
    records::Method<TypeTest<IsPythonStr>>("IsString() as Boolean"),
    records::Method<TypeTest<IsPythonInt>>("IsInteger() as Boolean"),
    records::Method<TypeTest<PythonIntFitsInInt64>>("FitsInInt32() as Boolean"),
    records::Method<TypeTest<IsPythonFloat>>("IsDouble() as Boolean"),
    records::Method<TypeTest<IsPythonBool>>("IsBoolean() as Boolean"),
    records::Method<TypeTest<IsHostObjectCapsule>>("IsObject() as Boolean"),
    records::Method<PythonResult_GetPtr>("GetPtr() as Ptr"),
    records::Method<TypeTest<IsPythonTuple>>("IsTuple() as Boolean"),
    records::Method<TypeTest<IsPythonBytes>>("IsBytes() as Boolean"),
    records::Method<PythonResult_GetTuple>("TupleValue() as Python3Parameters"),
    records::Method<TypeTest<IsPythonDict>>("IsDictionary() as Boolean"),
    records::Method<PythonResult_GetDictionary>("DictionaryValue() as Python3Dictionary"),
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
    ReleasePythonRef(object);
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
  if (!object) return nullptr;
  TakePythonRef(object);
  return NewResultWrapper(object);
}

}  // namespace

REALclassDefinition PythonResultClass = records::ClassRecord("Python3Result", nullptr, sizeof(PythonResultData))
                                            .destructor<PythonResult_Destructor>()
                                            .methods(PythonResultMethods)
                                            .sharedMethods(PythonResultSharedMethods);
