// The wrappers' fields and factories, and the call of a Python callable with the arguments of a
// Python3Parameters and the keywords of a Python3Dictionary.

#include "PythonValues/PythonWrappers.h"

#include "HostGlue.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonValues/PythonValues.h"

// The field's address is computed, never read. The block lies at the same
// offset in every object, so the address is that of a known field only in
// the wrapper that holds it.
bool HoldsPythonObject(REALobjectStruct* object) {
  return object && IsReferenceField(&PythonEntityDataOf(object)->object);
}

PyObjectRef& EntityField(REALobjectStruct* wrapper) { return PythonEntityDataOf(wrapper)->object; }
PyObjectRef& ResultField(REALobjectStruct* wrapper) { return PythonResultDataOf(wrapper)->object; }
PyObjectRef& NamedObjectField(REALobjectStruct* wrapper) { return PythonObjectDataOf(wrapper)->object; }

REALobjectStruct* NewNamedObjectWrapper(REALclassDefinition* record, REALstringStruct* name, PyObjectRef object) {
  REALobjectStruct* wrapper = NewWrapper<NamedObjectField>(record, object);
  if (wrapper) PythonObjectDataOf(wrapper)->name.Borrow(name);
  return wrapper;
}

// Named as GetErrorTypeName names types; a name that cannot be made leaves it empty.
REALobjectStruct* NewInstanceOfValue(PyObjectRef object) {
  ScopedString name;
  {
    const ScopedReference typeName =
        ScopedReference::Adopt(object ? NewTypeName(reinterpret_cast<PyObjectRef>(object->ob_type)) : nullptr);
    name = ScopedString::Adopt(typeName ? HostStringFromStr(typeName.Get()) : nullptr);
  }
  return NewNamedObjectWrapper(&PythonInstanceClass, name.Get(), object);
}

PyObjectRef CallWithWrappers(PyObjectRef callable, REALobjectStruct* parameters, REALobjectStruct* keywords) {
  if (!callable || !HasPythonEntries(EPyObject_Call, EPyTuple_New)) return nullptr;
  ScopedReference heldCallable = ScopedReference::Borrow(callable);
  const ScopedReference arguments =
      parameters ? ScopedReference::Borrow(PythonEntityObjectOf(parameters)) : ScopedReference::Adopt(EPyTuple_New(0));
  // A dictionary that holds nothing (made from the null Ptr a host function
  // receives when called without keywords) means no keywords, as Nil does.
  ScopedReference keywordDict = ScopedArgumentObject(keywords);
  PyObjectRef result = nullptr;
  if (arguments) {
    if (!IsPythonTuple(arguments.Get()))
      RaisePythonError(e__PyExc_TypeError, "argument list must be a tuple");
    else if (keywordDict && !IsPythonDict(keywordDict.Get()))
      RaisePythonError(e__PyExc_TypeError, "keyword list must be a dictionary");
    else
      result = EPyObject_Call(callable, arguments.Get(), keywordDict.Get());
  }
  return result;
}

// 0 is PY_NO_ERROR, which PythonParameters.cpp asserts.
REALobjectStruct* NewParametersWrapper(PyObjectRef tuple) {
  REALobjectStruct* wrapper = NewEntityWrapper(&PythonParametersClass, tuple);
  if (wrapper) PythonParametersDataOf(wrapper)->lastError = 0;
  return wrapper;
}
