#include "PythonResult/PythonResult.h"

#include "Registration/ClassRecords.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonValues/PythonValueTypes.h"
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
  HeldReference object(Held(self));
  return ConvertedValue<T>(object.get());
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
    records::Method<PythonResult_Constructor>("Constructor()",
        "Makes a result holding Python None."),
    records::Method<Construct<values::Int32>>("Constructor(value as Int32)",
        "Makes a result holding a new Python int of the value."),
    records::Method<Construct<values::Int64>>("Constructor(value as Int64)",
        "Makes a result holding a new Python int of the value."),
    records::Method<Construct<values::UInt64>>("Constructor(value as UInt64)",
        "Makes a result holding a new Python int of the value."),
    records::Method<Construct<values::Double>>("Constructor(value as Double)",
        "Makes a result holding a new Python float of the value."),
    records::Method<Construct<values::String>>("Constructor(value as String)",
        "Makes a result holding a new Python str of the value."),
    records::Method<Construct<values::Boolean>>("Constructor(value as Boolean)",
        "Makes a result holding a new Python bool of the value."),
    records::Method<Construct<values::Object>>("Constructor(value as Object)",
        "Makes a result holding a capsule that keeps the Xojo object alive."),
    records::Method<Get<values::Int32>>("Int32Value() as Int32",
        "The result converted by Python to an integer, its low 32 bits; -1 with Python's error set when it cannot be."),
    records::Method<Get<values::Int64>>("Int64Value() as Int64",
        "The result converted by Python to Int64; -1 with Python's error set when it cannot be."),
    records::Method<Get<values::UInt64>>("UInt64Value() as UInt64",
        "The result converted by Python to UInt64; the largest UInt64 with Python's error set when it cannot be."),
    records::Method<Get<values::Double>>("DoubleValue() as Double",
        "The result converted by Python to Double (as float() does); -1.0 with Python's error set when it cannot be."),
    records::Method<Get<values::Boolean>>("BooleanValue() as Boolean",
        "The result's truth value as Python judges it."),
    records::Method<Get<values::String>>("StringValue() as String",
        "The result as a String when it is a str, else empty."),
    records::Method<Get<values::Bytes>>("BytesValue() as Python3Bytes",
        "The result as a Python3Bytes, shared, when it is a bytes object, else Nil."),
    records::Method<Get<values::Object>>("ObjectValue() as Object",
        "The Xojo object the result carries, else Nil."),
    records::Method<TypeTest<IsPythonStr>>("IsString() as Boolean",
        "True when the result is a str."),
    records::Method<TypeTest<IsPythonInt>>("IsInteger() as Boolean",
        "True when the result is an int (True and False included)."),
    records::Method<TypeTest<PythonIntFitsInInt32>>("FitsInInt32() as Boolean",
        "True when the result is an int within the range of Int32."),
    records::Method<TypeTest<IsPythonFloat>>("IsDouble() as Boolean",
        "True when the result is a float."),
    records::Method<TypeTest<IsPythonBool>>("IsBoolean() as Boolean",
        "True when the result is True or False."),
    records::Method<TypeTest<IsHostObjectCapsule>>("IsObject() as Boolean",
        "True when the result is a capsule carrying a Xojo object."),
    records::Method<PythonResult_GetPtr>("GetPtr() as Ptr",
        "The result as a new reference that the caller owns and must release; Nil when none."),
    records::Method<TypeTest<IsPythonTuple>>("IsTuple() as Boolean",
        "True when the result is a tuple."),
    records::Method<TypeTest<IsPythonBytes>>("IsBytes() as Boolean",
        "True when the result is a bytes object."),
    records::Method<Get<values::Tuple>>("TupleValue() as Python3Parameters",
        "The result as a Python3Parameters, shared, when it is a tuple, else Nil."),
    records::Method<TypeTest<IsPythonDict>>("IsDictionary() as Boolean",
        "True when the result is a dict."),
    records::Method<Get<values::Dictionary>>("DictionaryValue() as Python3Dictionary",
        "The result as a Python3Dictionary, shared (changes show in both), when it is a dict, else Nil."),
};

REALmethodDefinition PythonResultSharedMethods[] = {
    records::Method<PythonResult_FromBytes>("FromBytes(bytes as Python3Bytes) as Python3Result",
        "A result sharing the Python3Bytes's object; Nil for Nil or when Python is not running."),
};

}  // namespace



namespace {

// Result and byte string share one Python bytes object.
REALobjectStruct* PythonResult_FromBytes(REALobjectStruct* bytes) {
  if (!bytes || !PythonIsRunning()) return nullptr;
  PyObjectRef object = PythonEntityObjectOf(bytes);
  return object ? NewResultWrapper(NewReference(object)) : nullptr;
}

}  // namespace

REALclassDefinition PythonResultClass = records::ClassRecord("Python3Result", nullptr, sizeof(PythonResultData))
        .describe("What a call or an evaluation returned: one Python object, read as Xojo values.")
                                            .destructor<PythonResult_Destructor, records::kLockOnDemand>()
                                            .methods(PythonResultMethods)
                                            .sharedMethods(PythonResultSharedMethods);
