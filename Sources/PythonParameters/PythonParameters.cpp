#include "PythonParameters/PythonParameters.h"

#include "Registration/ClassRecords.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PythonValueTypes.h"
#include "PythonEntity/PythonEntity.h"

namespace {

enum ParameterError : int32_t {
#define PARAMETER_ERROR_CODE(NAME, value, description) NAME = value,
#include "PythonParameters/ParameterErrorCodes.def"
};

// The Python3EntityBase destructor releases the tuple.
void PythonParameters_Destructor(REALobjectStruct*) {}

void SetLastError(REALobjectStruct* self, int32_t code) { PythonParametersDataOf(self)->lastError = code; }

// A new tuple of None: Python must never meet an empty slot, which it reads
// without a test, whether the tuple is a call's arguments or an item of one.
PyObjectRef NewTupleOfNone(int64_t size) {
  if (!EPyTuple_New || !EPyTuple_SetItem) return nullptr;
  PyObjectRef tuple = EPyTuple_New(static_cast<Py_ssize_t>(size));
  for (int64_t index = 0; tuple && index < size; ++index) {
    PyObjectRef none = NewPythonNone();
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

// A tuple as every supported version lays it out: the size after the object
// header, then the items.
struct PyTupleHeader {
  PyObjectHeader ob_base;
  int64_t ob_size;
  PyObjectRef ob_item[1];
};

PyTupleHeader* AsTuple(PyObjectRef tuple) { return reinterpret_cast<PyTupleHeader*>(tuple); }

// Read from the object when it is exactly a tuple; anything else is left to
// the library, which refuses it with its error set (-1).
int64_t TupleSize(PyObjectRef tuple) {
  if (IsPythonTuple(tuple)) return AsTuple(tuple)->ob_size;
  return tuple && EPyTuple_Size ? EPyTuple_Size(tuple) : 0;
}

int64_t PythonParameters_Count(REALobjectStruct* self, intptr_t) {
  PyObjectRef tuple = PythonEntityObjectOf(self);
  return tuple ? TupleSize(tuple) : 0;
}

int64_t PythonParameters_LastError(REALobjectStruct* self, intptr_t) { return PythonParametersDataOf(self)->lastError; }

void PythonParameters_ClearError(REALobjectStruct* self) { SetLastError(self, PY_NO_ERROR); }

bool IndexInRange(PyObjectRef tuple, int64_t index) { return tuple && index >= 0 && index < TupleSize(tuple); }

// The item at index, borrowed; null when out of range.
PyObjectRef Item(REALobjectStruct* self, int64_t index) {
  PyObjectRef tuple = PythonEntityObjectOf(self);
  if (!IndexInRange(tuple, index)) return nullptr;
  if (IsPythonTuple(tuple)) return AsTuple(tuple)->ob_item[index];
  return EPyTuple_GetItem ? EPyTuple_GetItem(tuple, static_cast<Py_ssize_t>(index)) : nullptr;
}

template <typename T>
typename T::Type Get(REALobjectStruct* self, int64_t index) {
  return CheckedValue<T>(Item(self, index));
}

// Stores a new object of the value type at index; the tuple takes it over.
// Nil is reported as such by every wrapper setter, byte strings included.
template <typename T>
void Set(REALobjectStruct* self, int64_t index, typename T::Type value) {
  if constexpr (values::IsWrapperType<T>) {
    if (!value) return SetLastError(self, PY_NIL_PARAM_ERROR);
  }
  PyObjectRef tuple = PythonEntityObjectOf(self);
  if (!IndexInRange(tuple, index) || !EPyTuple_SetItem) return SetLastError(self, PY_ERROR_INDEX_OUT_OF_BOUNDS);
  // A text the host cannot give counts as one that could not be converted.
  PyObjectRef item = T::ToPython(value);
  if (!item) return SetLastError(self, PY_ERROR_COULD_NOT_CONVERT);
  // Not held: the library changes only a tuple nothing else references. The
  // item replaced is released last, and its __del__ may drop the tuple: nothing
  // here touches the tuple afterwards.
  EPyTuple_SetItem(tuple, static_cast<Py_ssize_t>(index), item);
}

template <bool (*Test)(PyObjectRef)>
int8_t ItemTest(REALobjectStruct* self, int64_t index) {
  return Test(Item(self, index));
}

REALproperty PythonParametersProperties[] = {
    records::ReadOnlyProperty<PythonParameters_Count>("Count", "Integer",
        "The number of parameters."),
    records::ReadOnlyProperty<PythonParameters_LastError>("LastError", "Integer",
        "The PY_ constant of Python3Engine for the last failed assignment; PY_NO_ERROR when none failed."),
};

REALmethodDefinition PythonParametersMethods[] = {
    records::Method<PythonParameters_Constructor>("Constructor(parameterCount as Integer)",
        "Makes a tuple of parameterCount parameters, each None until assigned."),
    records::Method<PythonParameters_ConstructorPtr>("Constructor(paramPtr as Ptr)",
        "Wraps the Python tuple at the pointer (as a host function receives its arguments), taking its own reference."),
    records::AssignableMethod<Get<values::Int32>, Set<values::Int32>>("Int32Value(index as Integer) as Int32",
        "The parameter at index as Int32 (0 when it is no int or out of range); assigning stores a new Python int."),
    records::AssignableMethod<Get<values::String>, Set<values::String>>("StringValue(index as Integer) as String",
        "The parameter at index as String (empty when no str or out of range); assigning stores a new Python str."),
    records::AssignableMethod<Get<values::Double>, Set<values::Double>>("DoubleValue(index as Integer) as Double",
        "The parameter at index as Double (0.0 when no float or out of range); assigning stores a new Python float."),
    records::AssignableMethod<Get<values::Boolean>, Set<values::Boolean>>("BooleanValue(index as Integer) as Boolean",
        "The parameter at index as Boolean (False when no bool or out of range); assigning stores a new Python bool."),
    records::AssignableMethod<Get<values::Object>, Set<values::Object>>("ObjectValue(index as Integer) as Object",
        "The Xojo object carried by the parameter at index, else Nil; assigning stores a capsule keeping it alive."),
    records::AssignableMethod<Get<values::Int64>, Set<values::Int64>>("Int64Value(index as Integer) as Int64",
        "The parameter at index as Int64 (0 when it is no int or out of range); assigning stores a new Python int."),
    records::AssignableMethod<Get<values::UInt64>, Set<values::UInt64>>("UInt64Value(index as Integer) as UInt64",
        "The parameter at index as UInt64 (0 when it is no int or out of range); assigning stores a new Python int."),
    records::AssignableMethod<Get<values::Dictionary>, Set<values::Dictionary>>(
        "DictionaryValue(index as Integer) as Python3Dictionary",
        "The dict at index, shared, else Nil; assigning stores the dictionary's dict, shared."),
    records::AssignableMethod<Get<values::Tuple>, Set<values::Tuple>>(
        "TupleValue(index as Integer) as Python3Parameters",
        "The tuple at index, shared, else Nil; assigning stores the tuple, shared."),
    // The list setter is the tuple setter: it stores whatever object it is given.
    records::AssignableMethod<Get<values::List>, Set<values::Tuple>>("ListValue(index as Integer) as Python3List",
        "The list at index, shared, else Nil; assigning stores the list, shared."),
    records::AssignableMethod<Get<values::Bytes>, Set<values::Bytes>>("BytesValue(index as Integer) as Python3Bytes",
        "The bytes object at index, shared, else Nil; assigning stores the bytes object, shared."),
    records::Method<PythonParameters_ClearError>("ClearError()",
        "Sets LastError back to PY_NO_ERROR."),
    records::Method<ItemTest<IsPythonBool>>("IsBoolean(index as Integer) as Boolean",
        "True when the parameter at index is True or False; False when out of range."),
    records::Method<ItemTest<IsPythonInt>>("IsInteger(index as Integer) as Boolean",
        "True when the parameter at index is an int (True and False included); False when out of range."),
    records::Method<ItemTest<IsPythonFloat>>("IsDouble(index as Integer) as Boolean",
        "True when the parameter at index is a float; False when out of range."),
    records::Method<ItemTest<IsPythonStr>>("IsString(index as Integer) as Boolean",
        "True when the parameter at index is a str; False when out of range."),
    records::Method<ItemTest<IsHostObjectCapsule>>("IsObject(index as Integer) as Boolean",
        "True when the parameter at index is a capsule carrying a Xojo object; False when out of range."),
    records::Method<ItemTest<PythonIntFitsInInt32>>("FitsInInt32(index as Integer) as Boolean",
        "True when the parameter at index is an int within the range of Int32."),
    records::Method<ItemTest<IsPythonDict>>("IsDictionary(index as Integer) as Boolean",
        "True when the parameter at index is a dict; False when out of range."),
    records::Method<ItemTest<IsPythonTuple>>("IsTuple(index as Integer) as Boolean",
        "True when the parameter at index is a tuple; False when out of range."),
    records::Method<ItemTest<IsPythonBytes>>("IsBytes(index as Integer) as Boolean",
        "True when the parameter at index is a bytes object; False when out of range."),
    records::Method<ItemTest<IsPythonList>>("IsList(index as Integer) as Boolean",
        "True when the parameter at index is a list; False when out of range."),
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
        .describe("A Python tuple: the positional arguments of a call, or the arguments a host function receives.")
        .interfaces("IPython3Iterable")
        .destructor<PythonParameters_Destructor, records::kLockOnDemand>()
        .properties(PythonParametersProperties)
        .methods(PythonParametersMethods);
