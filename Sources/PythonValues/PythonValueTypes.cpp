// The library calls behind the value types' conversions, each giving null, 0 or false when the library
// lacks its entry.

#include "PythonValues/PythonValueTypes.h"

#include "PythonLibrary/PythonLoader.h"

PyObjectRef NewPythonInt32(int32_t value) { return EPyLong_FromLong ? EPyLong_FromLong(value) : nullptr; }
PyObjectRef NewPythonInt64(int64_t value) { return EPyLong_FromLongLong ? EPyLong_FromLongLong(value) : nullptr; }
PyObjectRef NewPythonUInt64(uint64_t value) {
  return EPyLong_FromUnsignedLongLong ? EPyLong_FromUnsignedLongLong(value) : nullptr;
}
PyObjectRef NewPythonDouble(double value) { return EPyFloat_FromDouble ? EPyFloat_FromDouble(value) : nullptr; }
PyObjectRef NewPythonBoolean(int8_t value) { return NewPythonBool(value != 0); }

int32_t Int32OfPython(PyObjectRef number) { return EPyLong_AsLong ? static_cast<int32_t>(EPyLong_AsLong(number)) : 0; }
int64_t Int64OfPython(PyObjectRef number) { return EPyLong_AsLongLong ? EPyLong_AsLongLong(number) : 0; }
uint64_t UInt64OfPython(PyObjectRef number) {
  return EPyLong_AsUnsignedLongLong ? EPyLong_AsUnsignedLongLong(number) : 0;
}
double DoubleOfPython(PyObjectRef number) { return EPyFloat_AsDouble ? EPyFloat_AsDouble(number) : 0.0; }
int8_t TruthOfPython(PyObjectRef object) { return EPyObject_IsTrue && EPyObject_IsTrue(object) == 1; }
bool IsPythonObject(PyObjectRef object) { return object != nullptr; }

PyObjectRef WrappedPythonObject(REALobjectStruct* wrapper) {
  return wrapper ? NewReference(PythonEntityObjectOf(wrapper)) : nullptr;
}
