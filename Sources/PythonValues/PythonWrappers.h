// The wrappers through which host code holds Python objects: the data blocks
// that hold their one owned reference, and the factories of the wrappers the
// plugin returns to host code.
//
// The factory rule: every factory takes over the reference it is given: the
// new wrapper owns it, and it is released when the host makes no wrapper. A
// null reference makes a wrapper that holds nothing. To share an object the
// caller does not own (an item, another wrapper's object), pass
// NewReference(object).
#pragma once

#include <cstdint>

#include "HostGlue.h"
#include "HostHandles.h"
#include "PythonValues/PythonReferences.h"
#include "PythonValues/RegisteredRecords.h"

// Python3EntityBase: the base of every value wrapper.
struct PythonEntityData {
  ReferenceField object;  // owned reference, or null when the wrapper holds nothing
};
// Python3Result.
struct PythonResultData {
  ReferenceField object;  // owned reference, or null after a failed constructor
};
// Python3Parameters: the tuple itself lives in the Python3EntityBase block.
struct PythonParametersData {
  int32_t lastError;  // one of the PY_... codes of Python3Engine (ParameterErrorCodes.def)
};
// Python3Object: the base of every named program-object wrapper.
struct PythonObjectData {
  StringField name;       // given back by Python3Object's destructor; may be empty
  ReferenceField object;  // owned reference, or null
};

// Inline, as every member of a wrapper reads its block.
inline PythonEntityData* PythonEntityDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEntityData*>(ClassDataOf(instance, PythonEntityBaseClass));
}
inline PythonResultData* PythonResultDataOf(REALobjectStruct* instance) {
  return static_cast<PythonResultData*>(ClassDataOf(instance, PythonResultClass));
}
inline PythonParametersData* PythonParametersDataOf(REALobjectStruct* instance) {
  return static_cast<PythonParametersData*>(ClassDataOf(instance, PythonParametersClass));
}
inline PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance) {
  return static_cast<PythonObjectData*>(ClassDataOf(instance, PythonObjectClass));
}

// The object a value wrapper or a named wrapper holds; null when it holds
// none or the interpreter is not running.
inline PyObjectRef PythonEntityObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}
inline PyObjectRef PythonObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonObjectDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

// The same, held by a reference of the caller's own for the length of a call
// that can run Python code.
inline ScopedReference ScopedEntityObject(REALobjectStruct* instance) {
  return ScopedReference::Borrow(PythonEntityObjectOf(instance));
}
// The object an argument wrapper holds, held the same way; none for Nil.
inline ScopedReference ScopedArgumentObject(REALobjectStruct* wrapper) {
  return ScopedReference::Borrow(wrapper ? PythonEntityObjectOf(wrapper) : nullptr);
}

// True for a Python3EntityBase of any class that holds an object of the
// running interpreter; false for Nil, for one that holds nothing, and for any
// other host object (host code may pass its own class where an interface is
// declared).
bool HoldsPythonObject(REALobjectStruct* object);

// The one factory: a new instance of `record` whose field `FieldOf` gives
// takes over `object`.
template <PyObjectRef& (*FieldOf)(REALobjectStruct*)>
REALobjectStruct* NewWrapper(REALclassDefinition* record, PyObjectRef object) {
  REALobjectStruct* wrapper = REALnewInstanceOfClass(record);
  if (!wrapper) {
    if (object) ReleasePythonRef(object);
    return nullptr;
  }
  StoreReferenceField(FieldOf(wrapper), object);
  return wrapper;
}
PyObjectRef& EntityField(REALobjectStruct* wrapper);
PyObjectRef& ResultField(REALobjectStruct* wrapper);
PyObjectRef& NamedObjectField(REALobjectStruct* wrapper);

// A value wrapper of `record` (Python3EntityBase or a subclass).
inline REALobjectStruct* NewEntityWrapper(REALclassDefinition* record, PyObjectRef object) {
  return NewWrapper<EntityField>(record, object);
}
inline REALobjectStruct* NewEntity(PyObjectRef object) { return NewEntityWrapper(&PythonEntityClass, object); }
inline REALobjectStruct* NewBytesWrapper(PyObjectRef bytes) { return NewEntityWrapper(&PythonBytesClass, bytes); }
inline REALobjectStruct* NewListWrapper(PyObjectRef list) { return NewEntityWrapper(&PythonListClass, list); }
inline REALobjectStruct* NewDictionaryWrapper(PyObjectRef dict) {
  return NewEntityWrapper(&PythonDictionaryClass, dict);
}
// A Python3Parameters with LastError 0.
REALobjectStruct* NewParametersWrapper(PyObjectRef tuple);
inline REALobjectStruct* NewResultWrapper(PyObjectRef object) {
  return NewWrapper<ResultField>(&PythonResultClass, object);
}
// A Python3Instance of any object, named after its type.
REALobjectStruct* NewInstanceOfValue(PyObjectRef object);
// A Python3Object subclass named `name`, which it locks.
REALobjectStruct* NewNamedObjectWrapper(REALclassDefinition* record, REALstringStruct* name, PyObjectRef object);

// Calls `callable` with the items of a Python3Parameters as positional
// arguments and a Python3Dictionary as keyword arguments; Nil for either
// means none, and so does a dictionary that holds nothing. A new reference,
// or null: the call raised (Python's error set), or a parameters wrapper that
// holds nothing was given (no error).
PyObjectRef CallWithWrappers(PyObjectRef callable, REALobjectStruct* parameters, REALobjectStruct* keywords);
