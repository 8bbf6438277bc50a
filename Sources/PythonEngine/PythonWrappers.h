// The factories of the wrappers the plugin returns to host code.
//
// Every factory takes over the reference it is given: the new wrapper owns
// it, and it is released when the host makes no wrapper. A null reference
// makes a wrapper that holds nothing. To share an object the caller does not
// own (an item, another wrapper's object), pass NewReference(object).
#pragma once

#include "PythonEngine/ClassRecords.h"
#include "PythonEngine/PythonReferences.h"

// A value wrapper of `record` (Python3EntityBase or a subclass).
REALobjectStruct* NewEntityWrapper(REALclassDefinition* record, PyObjectRef object);
inline REALobjectStruct* NewEntity(PyObjectRef object) { return NewEntityWrapper(&PythonEntityClass, object); }
inline REALobjectStruct* NewBytesWrapper(PyObjectRef bytes) { return NewEntityWrapper(&PythonBytesClass, bytes); }
inline REALobjectStruct* NewListWrapper(PyObjectRef list) { return NewEntityWrapper(&PythonListClass, list); }
inline REALobjectStruct* NewDictionaryWrapper(PyObjectRef dict) {
  return NewEntityWrapper(&PythonDictionaryClass, dict);
}
// A Python3Parameters with LastError 0.
REALobjectStruct* NewParametersWrapper(PyObjectRef tuple);
REALobjectStruct* NewResultWrapper(PyObjectRef object);
// A Python3Object subclass named `name`, which it locks.
REALobjectStruct* NewNamedObjectWrapper(REALclassDefinition* record, REALstringStruct* name, PyObjectRef object);
