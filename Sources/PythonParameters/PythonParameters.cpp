// Python3Parameters: a tuple of arguments, each None until assigned, read and written by index, with
// LastError telling a failed assignment. Its data block is in PythonValues/PythonWrappers.h.

#include <cstdint>
#include <vector>

#include "PythonEntity/PythonEntity.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonValueTypes.h"
#include "PythonValues/PythonWrappers.h"
#include "Registration/ClassRecords.h"

namespace {

enum ParameterError : int32_t {
#define PARAMETER_ERROR_CODE(NAME, value, description) NAME = value,
#include "PythonParameters/ParameterErrorCodes.def"
};
static_assert(PY_NO_ERROR == 0, "NewParametersWrapper starts LastError at 0");

// The Python3EntityBase destructor releases the tuple.
void PythonParameters_Destructor(REALobjectStruct*) noexcept {}

void SetLastError(REALobjectStruct* self, int32_t code) { PythonParametersDataOf(self)->lastError = code; }

// A new tuple of None: Python must never meet an empty slot, which it reads
// without a test, whether the tuple is a call's arguments or an item of one.
PyObjectRef NewTupleOfNone(int64_t size) {
  if (!HasPythonEntries(EPyTuple_New, EPyTuple_SetItem)) return nullptr;
  ScopedReference tuple = ScopedReference::Adopt(EPyTuple_New(static_cast<Py_ssize_t>(size)));
  for (int64_t index = 0; tuple && index < size; ++index) {
    PyObjectRef none = NewPythonNone();
    if (!none || EPyTuple_SetItem(tuple.Get(), static_cast<Py_ssize_t>(index), none) != 0) tuple = ScopedReference();
  }
  return tuple.HandOver();
}

void PythonParameters_Constructor(REALobjectStruct* self, int64_t parameterCount) {
  if (PythonIsRunning()) StoreReferenceField(PythonEntityDataOf(self)->object, NewTupleOfNone(parameterCount));
  SetLastError(self, PY_NO_ERROR);
}

void PythonParameters_ConstructorPtr(REALobjectStruct* self, void* paramPtr) {
  if (paramPtr && PythonIsRunning()) {
    auto tuple = static_cast<PyObjectRef>(paramPtr);
    TakePythonRef(tuple);
    StoreReferenceField(PythonEntityDataOf(self)->object, tuple);
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

// The item at index, borrowed; null when out of range. An exact tuple (what
// a host function receives) is read in place with one test of its type.
__attribute__((always_inline)) inline PyObjectRef Item(REALobjectStruct* self, int64_t index) {
  PyObjectRef tuple = PythonEntityObjectOf(self);
  if (!tuple || index < 0) return nullptr;
  if (tuple->ob_type == e__PyTuple_Type) return index < AsTuple(tuple)->ob_size ? AsTuple(tuple)->ob_item[index] : nullptr;
  if (index >= TupleSize(tuple)) return nullptr;
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
  if constexpr (values::kIsWrapperType<T>) {
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
    records::ReadOnlyProperty<PythonParameters_Count>("Count", "Integer", "The number of parameters."),
    records::ReadOnlyProperty<PythonParameters_LastError>(
        "LastError", "Integer",
        "The PY_ constant of Python3Engine for the last failed assignment; PY_NO_ERROR when none failed."),
};

// The list setter is the tuple setter: it stores whatever object it is given.
template <typename T>
struct SetterOf {
  using Type = T;
};
template <>
struct SetterOf<values::List> {
  using Type = values::Tuple;
};

// The constructors, ClearError, then XValue(index) and IsX(index) for every
// type the value-type list gives them.
std::vector<REALmethodDefinition>& PythonParametersMethods() {
  static std::vector<REALmethodDefinition> table = [] {
    using namespace values;
    std::vector<REALmethodDefinition> methods = {
        records::Method<PythonParameters_Constructor>(
            "Constructor(parameterCount as Integer)",
            "Makes a tuple of parameterCount parameters, each None until assigned."),
        records::Method<PythonParameters_ConstructorPtr, records::PendingError::Untouched>(
            "Constructor(paramPtr as Ptr)",
            "Wraps the Python tuple at the pointer (as a host function "
            "receives its arguments), taking its own reference."),
        records::Method<PythonParameters_ClearError>("ClearError()", "Sets LastError back to PY_NO_ERROR."),
    };
#define PYTHON_VALUE_TYPE(Name, CType, XojoType, toPython, fromPython, test, neutral, converts, familySet, kind, \
                          neutralText, failureText)                                                              \
  if ((familySet)&kParameter)                                                                                    \
    methods.push_back(records::AssignableMethod<Get<values::Name>, Set<SetterOf<values::Name>::Type>,            \
                                                records::UntouchedWhen(kConvertsWithoutPythonCode<values::Name>)>( \
        #Name "Value(index as Integer) as " XojoType,                                                            \
        "The parameter at index as " XojoType " when it is " kind ", else " neutralText                          \
        " (also out of range); assigning stores the value as " kind "."));
#include "PythonValues/PythonValueTypes.def"
#define PYTHON_TYPE_TEST(Name, test, familySet, kind)                                             \
  if ((familySet)&kParameter)                                                                     \
    methods.push_back(records::Method<ItemTest<test>>(#Name "(index as Integer) as Boolean",      \
                                                      "True when the parameter at index is " kind \
                                                      "; False when out of range."));
#include "PythonValues/PythonValueTypes.def"
    return methods;
  }();
  return table;
}

}  // namespace

REALclassDefinition PythonParametersClass =
    records::ClassRecord("Python3Parameters", "Python3EntityBase", sizeof(PythonParametersData))
        .Describe("A Python tuple: the positional arguments of a call, or the arguments a host function receives.")
        .Interfaces("IPython3Iterable")
        .DestructorWithoutEntry<PythonParameters_Destructor>()
        .Properties(PythonParametersProperties)
        .Methods(PythonParametersMethods());
