#include "PythonEngine/PythonParameters.h"

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonErrors.h"
#include "PythonEngine/PythonLifecycle.h"
#include "PythonEngine/PythonLoader.h"
#include "PythonEngine/PythonValues.h"
#include "PythonEntity/PythonEntity.h"

namespace {

enum ParameterError : int32_t {
  PY_NO_ERROR = 0,
  PY_ERROR_COULD_NOT_CONVERT = 1,
  PY_ERROR_INDEX_OUT_OF_BOUNDS = 2,
  PY_NIL_PARAM_ERROR = 3,
};

// The Python3EntityBase destructor releases the tuple.
void PythonParameters_Destructor(REALobjectStruct*) {}

void SetLastError(REALobjectStruct* self, int32_t code) { PythonParametersDataOf(self)->lastError = code; }

// A new tuple of None: Python must never meet an empty slot, which it reads
// without a test, whether the tuple is a call's arguments or an item of one.
PyObjectRef NewTupleOfNone(int64_t size) {
  if (!EPyTuple_New || !EPyTuple_SetItem || !EPy_BuildValue) return nullptr;
  PyObjectRef tuple = EPyTuple_New(static_cast<Py_ssize_t>(size));
  for (int64_t index = 0; tuple && index < size; ++index) {
    PyObjectRef none = EPy_BuildValue("");
    if (!none || EPyTuple_SetItem(tuple, static_cast<Py_ssize_t>(index), none) != 0) {
      ReleasePythonRef(tuple);
      tuple = nullptr;
    }
  }
  return tuple;
}

void PythonParameters_Constructor(REALobjectStruct* self, int64_t parameterCount) {
  if (PythonIsRunning()) StoreOwnedPythonRef(PythonEntityDataOf(self)->object, NewTupleOfNone(parameterCount));
  SetLastError(self, PY_NO_ERROR);
}

void PythonParameters_ConstructorPtr(REALobjectStruct* self, void* paramPtr) {
  if (paramPtr && PythonIsRunning()) {
    auto tuple = static_cast<PyObjectRef>(paramPtr);
    TakePythonRef(tuple);
    StoreOwnedPythonRef(PythonEntityDataOf(self)->object, tuple);
  }
  SetLastError(self, PY_NO_ERROR);
}

int64_t PythonParameters_Count(REALobjectStruct* self, intptr_t) {
  PyObjectRef tuple = PythonEntityObjectOf(self);
  return tuple && EPyTuple_Size ? EPyTuple_Size(tuple) : 0;
}

int64_t PythonParameters_LastError(REALobjectStruct* self, intptr_t) { return PythonParametersDataOf(self)->lastError; }

void PythonParameters_ClearError(REALobjectStruct* self) { SetLastError(self, PY_NO_ERROR); }

bool IndexInRange(PyObjectRef tuple, int64_t index) {
  return tuple && EPyTuple_Size && index >= 0 && index < EPyTuple_Size(tuple);
}

// The item at index, borrowed; null when out of range.
PyObjectRef Item(REALobjectStruct* self, int64_t index) {
  PyObjectRef tuple = PythonEntityObjectOf(self);
  if (!IndexInRange(tuple, index) || !EPyTuple_GetItem) return nullptr;
  return EPyTuple_GetItem(tuple, static_cast<Py_ssize_t>(index));
}

// Stores what `makeItem` returns (a reference the tuple takes over) at index.
template <typename MakeItem>
void Store(REALobjectStruct* self, int64_t index, MakeItem makeItem) {
  PyObjectRef tuple = PythonEntityObjectOf(self);
  if (!IndexInRange(tuple, index) || !EPyTuple_SetItem) return SetLastError(self, PY_ERROR_INDEX_OUT_OF_BOUNDS);
  PendingErrorAside pending;
  PyObjectRef item = makeItem();
  if (!item) return SetLastError(self, PY_ERROR_COULD_NOT_CONVERT);
  EPyTuple_SetItem(tuple, static_cast<Py_ssize_t>(index), item);
}

// The integer getters raise OverflowError for a value out of range.
int32_t GetInt32(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  PendingErrorAside pending;
  return IsPythonInt(item) && EPyLong_AsLong ? static_cast<int32_t>(EPyLong_AsLong(item)) : 0;
}
int64_t GetInt64(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  PendingErrorAside pending;
  return IsPythonInt(item) && EPyLong_AsLongLong ? EPyLong_AsLongLong(item) : 0;
}
uint64_t GetUInt64(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  PendingErrorAside pending;
  return IsPythonInt(item) && EPyLong_AsUnsignedLongLong ? EPyLong_AsUnsignedLongLong(item) : 0;
}
double GetDouble(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  return IsPythonFloat(item) && EPyFloat_AsDouble ? EPyFloat_AsDouble(item) : 0.0;
}
int8_t GetBoolean(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  return IsPythonBool(item) && EPyObject_IsTrue ? EPyObject_IsTrue(item) == 1 : 0;
}
REALstringStruct* GetString(REALobjectStruct* self, int64_t index) {
  PendingErrorAside pending;
  return HostStringFromPythonText(Item(self, index));
}
REALobjectStruct* GetObject(REALobjectStruct* self, int64_t index) { return HostObjectFromPython(Item(self, index)); }
REALobjectStruct* GetDictionary(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  return IsPythonDict(item) ? NewEntityWrapper(&PythonDictionaryClass, item) : nullptr;
}
REALobjectStruct* GetTuple(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  return IsPythonTuple(item) ? NewParametersWrapper(item) : nullptr;
}
REALobjectStruct* GetList(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  return IsPythonList(item) ? NewEntityWrapper(&PythonListClass, item) : nullptr;
}
REALobjectStruct* GetBytes(REALobjectStruct* self, int64_t index) {
  PyObjectRef item = Item(self, index);
  return IsPythonBytes(item) ? NewEntityWrapper(&PythonBytesClass, item) : nullptr;
}

void SetInt32(REALobjectStruct* self, int64_t index, int32_t value) {
  Store(self, index, [&] { return EPyLong_FromLong ? EPyLong_FromLong(value) : nullptr; });
}
void SetInt64(REALobjectStruct* self, int64_t index, int64_t value) {
  Store(self, index, [&] { return EPyLong_FromLongLong ? EPyLong_FromLongLong(value) : nullptr; });
}
void SetUInt64(REALobjectStruct* self, int64_t index, uint64_t value) {
  Store(self, index,
        [&] { return EPyLong_FromUnsignedLongLong ? EPyLong_FromUnsignedLongLong(value) : nullptr; });
}
void SetDouble(REALobjectStruct* self, int64_t index, double value) {
  Store(self, index, [&] { return EPyFloat_FromDouble ? EPyFloat_FromDouble(value) : nullptr; });
}
void SetBoolean(REALobjectStruct* self, int64_t index, int8_t value) {
  Store(self, index, [&] { return NewPythonBool(value != 0); });
}
void SetString(REALobjectStruct* self, int64_t index, REALstringStruct* value) {
  Store(self, index, [&] { return NewPythonText(value); });
}
void SetObject(REALobjectStruct* self, int64_t index, REALobjectStruct* value) {
  Store(self, index, [&] { return NewHostObjectCapsule(value); });
}
// Stores the value wrapper's own object, whatever its Python type. Nil is
// reported as such by every wrapper setter, byte strings included.
void SetEntity(REALobjectStruct* self, int64_t index, REALobjectStruct* value) {
  if (!value) return SetLastError(self, PY_NIL_PARAM_ERROR);
  Store(self, index, [&] {
    PyObjectRef object = PythonEntityObjectOf(value);
    if (object) TakePythonRef(object);
    return object;
  });
}

template <bool (*Test)(PyObjectRef)>
int8_t ItemTest(REALobjectStruct* self, int64_t index) {
  return Test(Item(self, index));
}

REALproperty PythonParametersProperties[] = {
    records::ReadOnlyProperty<PythonParameters_Count>("Count", "Integer"),
    records::ReadOnlyProperty<PythonParameters_LastError>("LastError", "Integer"),
};

REALmethodDefinition PythonParametersMethods[] = {
    records::Method<PythonParameters_Constructor>("Constructor(parameterCount as Integer)"),
    records::Method<PythonParameters_ConstructorPtr>("Constructor(paramPtr as Ptr)"),
    records::AssignableMethod<GetInt32, SetInt32>("Int32Value(index as Integer) as Int32"),
    records::AssignableMethod<GetString, SetString>("StringValue(index as Integer) as String"),
    records::AssignableMethod<GetDouble, SetDouble>("DoubleValue(index as Integer) as Double"),
    records::AssignableMethod<GetBoolean, SetBoolean>("BooleanValue(index as Integer) as Boolean"),
    records::AssignableMethod<GetObject, SetObject>("ObjectValue(index as Integer) as Object"),
    records::AssignableMethod<GetInt64, SetInt64>("Int64Value(index as Integer) as Int64"),
    records::AssignableMethod<GetUInt64, SetUInt64>("UInt64Value(index as Integer) as UInt64"),
    records::AssignableMethod<GetDictionary, SetEntity>("DictionaryValue(index as Integer) as Python3Dictionary"),
    records::AssignableMethod<GetTuple, SetEntity>("TupleValue(index as Integer) as Python3Parameters"),
    records::AssignableMethod<GetList, SetEntity>("ListValue(index as Integer) as Python3List"),
    records::AssignableMethod<GetBytes, SetEntity>("BytesValue(index as Integer) as Python3Bytes"),
    records::Method<PythonParameters_ClearError>("ClearError()"),
    records::Method<ItemTest<IsPythonBool>>("IsBoolean(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonInt>>("IsInteger(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonFloat>>("IsDouble(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonStr>>("IsString(index as Integer) as Boolean"),
    records::Method<ItemTest<IsHostObjectCapsule>>("IsObject(index as Integer) as Boolean"),
    records::Method<ItemTest<PythonIntFitsInInt64>>("FitsInInt32(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonDict>>("IsDictionary(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonTuple>>("IsTuple(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonBytes>>("IsBytes(index as Integer) as Boolean"),
    records::Method<ItemTest<IsPythonList>>("IsList(index as Integer) as Boolean"),
};

}  // namespace

PythonParametersData* PythonParametersDataOf(REALobjectStruct* instance) {
  return static_cast<PythonParametersData*>(REALGetClassData(instance, &PythonParametersClass));
}

REALobjectStruct* NewParametersWrapper(PyObjectRef tuple) {
  REALobjectStruct* wrapper = NewEntityWrapper(&PythonParametersClass, tuple);
  if (wrapper) SetLastError(wrapper, PY_NO_ERROR);
  return wrapper;
}

REALclassDefinition PythonParametersClass =
    records::ClassRecord("Python3Parameters", "Python3EntityBase", sizeof(PythonParametersData))
        .interfaces("IPython3Iterable")
        .destructor<PythonParameters_Destructor>()
        .properties(PythonParametersProperties)
        .methods(PythonParametersMethods);
