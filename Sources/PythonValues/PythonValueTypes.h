// One type per line of PythonValueTypes.def, and the two ways a typed family
// reads a Python object: testing it first, or leaving it to the library.
#pragma once

#include <cstdint>
#include <type_traits>

#include "PythonValues/PythonValues.h"
#include "PythonValues/PythonWrappers.h"

// Conversions of the list that PythonValues.h does not already offer.
PyObjectRef NewPythonInt32(int32_t value);  // widened with its sign
PyObjectRef NewPythonInt64(int64_t value);
PyObjectRef NewPythonUInt64(uint64_t value);
PyObjectRef NewPythonDouble(double value);
PyObjectRef NewPythonBoolean(int8_t value);  // any nonzero byte is True
int32_t Int32OfPython(PyObjectRef number);   // the low 32 bits of the C long
int64_t Int64OfPython(PyObjectRef number);
uint64_t UInt64OfPython(PyObjectRef number);
double DoubleOfPython(PyObjectRef number);
int8_t TruthOfPython(PyObjectRef object);  // a failing truth test reads False, its error left set
bool IsPythonObject(PyObjectRef object);   // any object

// A new reference to the object a value wrapper holds; null for Nil or a
// wrapper that holds nothing.
PyObjectRef WrappedPythonObject(REALobjectStruct* wrapper);

// A new wrapper made by Factory, sharing the borrowed object.
template <REALobjectStruct* (*Factory)(PyObjectRef)>
REALobjectStruct* SharingWrapper(PyObjectRef borrowed) {
  return Factory(NewReference(borrowed));
}

namespace values {

template <typename Value>
PyObjectRef ConvertToPython(PyObjectRef (*toPython)(Value), Value value, bool*) {
  return toPython(value);
}
template <typename Value>
PyObjectRef ConvertToPython(PyObjectRef (*toPython)(Value, bool*), Value value, bool* hostRefused) {
  return toPython(value, hostRefused);
}

// The members a type has (the families of PythonValueTypes.def).
enum Family : unsigned {
  kEntityValue = 1 << 0,        // Python3Entity's XValue property (and IsX)
  kEntityFactory = 1 << 1,      // Python3Entity.FromX
  kResultValue = 1 << 2,        // Python3Result's XValue() (and IsX())
  kResultConstructor = 1 << 3,  // Python3Result's Constructor(value as X)
  kParameter = 1 << 4,          // Python3Parameters' XValue(index), assignable (and IsX(index))
  kField = 1 << 5,              // the …Field(name) members of modules and instances, assignable
};
constexpr unsigned kScalarFamilies =
    kEntityValue | kEntityFactory | kResultValue | kResultConstructor | kParameter | kField;
constexpr unsigned kWrapperFamilies = kEntityValue | kResultValue | kParameter;
constexpr unsigned kAllTestFamilies = kEntityValue | kResultValue | kParameter;

#define PYTHON_VALUE_TYPE(Name, CType, XojoType, toPython, fromPython, test, neutral, converts, familySet, kindText, \
                          neutralText, failureText)                                                                  \
  struct Name {                                                                                                      \
    using Type = CType;                                                                                              \
    static constexpr const char* name = #Name;                                                                       \
    static constexpr const char* xojoType = XojoType;                                                                \
    static constexpr bool libraryConverts = converts;                                                                \
    static constexpr unsigned families = familySet;                                                                  \
    static constexpr const char* kind = kindText;                                                                    \
    static constexpr const char* neutralWords = neutralText;                                                         \
    static constexpr const char* failureWords = failureText;                                                         \
    /* hostRefused, when given, tells a value the host could not give from a refusal by Python */                    \
    static PyObjectRef ToPython(Type value, bool* hostRefused = nullptr) {                                           \
      if (hostRefused) *hostRefused = false;                                                                         \
      return ConvertToPython<Type>(toPython, value, hostRefused);                                                    \
    }                                                                                                                \
    static Type FromPython(PyObjectRef object) { return fromPython(object); }                                        \
    static bool Test(PyObjectRef object) { return test(object); }                                                    \
    static Type Neutral() { return neutral; }                                                                        \
  };
#define PYTHON_TYPE_TEST(Name, test, familySet, kindText)         \
  struct Name {                                                   \
    static constexpr const char* name = #Name;                    \
    static constexpr unsigned families = familySet;               \
    static constexpr const char* kind = kindText;                 \
    static bool Test(PyObjectRef object) { return test(object); } \
  };
#include "PythonValues/PythonValueTypes.def"

// What ForEachValueType and ForEachTypeTest hand their visitor: `Type<T>::type` is T.
template <typename T>
struct Type {
  using type = T;
};

// Calls `visit(Type<T>{})` for every value type of the list, in its order.
template <typename Visit>
void ForEachValueType(Visit visit) {
#define PYTHON_VALUE_TYPE(Name, ...) visit(Type<Name>{});
#include "PythonValues/PythonValueTypes.def"
}
// The same for every type test.
template <typename Visit>
void ForEachTypeTest(Visit visit) {
#define PYTHON_TYPE_TEST(Name, ...) visit(Type<Name>{});
#include "PythonValues/PythonValueTypes.def"
}

// The int types, which the library converts both ways without running Python
// code (an object that passes IsPythonInt is read as an int, never through
// __index__), failing only with an error of the conversion's own
// (OverflowError, MemoryError) that replaces a pending one whether that was
// set aside or not. A member that only converts one of them, after its test
// when it reads, leaves a pending error where it is.
template <typename T>
constexpr bool kConvertsWithoutPythonCode =
    std::is_same_v<T, Int32> || std::is_same_v<T, Int64> || std::is_same_v<T, UInt64>;

// The types whose values are the host's Python wrappers.
template <typename T>
constexpr bool kIsWrapperType = std::is_same_v<typename T::Type, REALobjectStruct*> && !std::is_same_v<T, Object>;

}  // namespace values

// Entities and tuple slots: the neutral value unless the object passes the test.
template <typename T>
typename T::Type CheckedValue(PyObjectRef object) {
  return object && T::Test(object) ? T::FromPython(object) : T::Neutral();
}

// Results and attribute fields: what the library's conversion gives, for the
// types whose conversion takes any object.
template <typename T>
typename T::Type ConvertedValue(PyObjectRef object) {
  if (!object || !(T::libraryConverts || T::Test(object))) return T::Neutral();
  return T::FromPython(object);
}
