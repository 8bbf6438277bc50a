// The members of Python3Result: a constructor, a getter and a type test for each value type, the
// conversions left to the library, and FromBytes.

#include "PythonResult/PythonResult.h"

#include <vector>

#include "PythonEntity/PythonEntity.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PendingErrorAside.h"
#include "PythonValues/PythonValueTypes.h"
#include "Registration/ClassRecords.h"

namespace {

void PythonResult_Destructor(REALobjectStruct* instance) {
  ReleaseOwnedPythonRef(PythonResultDataOf(instance)->object);
}

// Each constructor stores a new object of its value type; nothing while
// Python is not running.
template <typename T>
void Construct(REALobjectStruct* self, typename T::Type value) {
  if (!PythonIsRunning()) return;
  StoreReferenceField(PythonResultDataOf(self)->object, T::ToPython(value));
}

void PythonResult_Constructor(REALobjectStruct* self) {
  if (PythonIsRunning()) StoreReferenceField(PythonResultDataOf(self)->object, NewPythonNone());
}

// The stored object, or null when there is none or Python is not running.
__attribute__((always_inline)) inline PyObjectRef Held(REALobjectStruct* self) {
  PyObjectRef object = PythonResultDataOf(self)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

// The getters leave the conversion to the library: they return what it
// returns. A conversion may run Python code (__index__, __float__, __bool__).
template <typename T>
typename T::Type Get(REALobjectStruct* self) {
  ScopedReference object = ScopedReference::Borrow(Held(self));
  return ConvertedValue<T>(object.Get());
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

// Constructor(), then a constructor, XValue() and IsX() for every type the
// value-type list gives them, and GetPtr().
std::vector<REALmethodDefinition>& PythonResultMethods() {
  static std::vector<REALmethodDefinition> table = [] {
    using namespace values;
    std::vector<REALmethodDefinition> methods = {
        records::Method<PythonResult_Constructor>("Constructor()", "Makes a result holding Python None.")};
#define PYTHON_VALUE_TYPE(Name, CType, XojoType, toPython, fromPython, test, neutral, converts, familySet, kind,       \
                          neutralText, failureText)                                                                    \
  if ((familySet)&kResultConstructor)                                                                                  \
    methods.push_back(                                                                                                 \
        records::Method<Construct<values::Name>, records::UntouchedWhen(kConvertsWithoutPythonCode<values::Name>)>(    \
            "Constructor(value as " XojoType ")", "Makes a result holding the value as " kind "."));                    \
  if ((familySet)&kResultValue)                                                                                        \
    methods.push_back(records::Method<Get<values::Name>>(                                                              \
        #Name "Value() as " XojoType, (converts) ? "The result converted by Python to " XojoType "; " failureText      \
                                                   " with Python's error set when it cannot be."                       \
                                                 : "The result as " XojoType " when it is " kind ", else " neutralText \
                                                   "."));
#include "PythonValues/PythonValueTypes.def"
#define PYTHON_TYPE_TEST(Name, test, familySet, kind) \
  if ((familySet)&kResultValue)                       \
    methods.push_back(records::Method<TypeTest<test>>(#Name "() as Boolean", "True when the result is " kind "."));
#include "PythonValues/PythonValueTypes.def"
    methods.push_back(records::Method<PythonResult_GetPtr, records::PendingError::Untouched>(
        "GetPtr() as Ptr", "The result as a new reference that the caller owns and must release; Nil when none."));
    return methods;
  }();
  return table;
}

REALmethodDefinition PythonResultSharedMethods[] = {
    records::Method<PythonResult_FromBytes>(
        "FromBytes(bytes as Python3Bytes) as Python3Result",
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

REALclassDefinition PythonResultClass =
    records::ClassRecord("Python3Result", nullptr, sizeof(PythonResultData))
        .Describe("What a call or an evaluation returned: one Python object, read as Xojo values.")
        .Destructor<PythonResult_Destructor, records::kLockOnDemand>()
        .Methods(PythonResultMethods())
        .SharedMethods(PythonResultSharedMethods);
