#include "PythonValues/PythonWrappers.h"

#include "HostGlue.h"
#include "PythonRuntime/ErrorText.h"
#include "PythonValues/PythonValues.h"

PythonEntityData* PythonEntityDataOf(REALobjectStruct* instance) {
  return static_cast<PythonEntityData*>(REALGetClassData(instance, &PythonEntityBaseClass));
}

PythonResultData* PythonResultDataOf(REALobjectStruct* instance) {
  return static_cast<PythonResultData*>(REALGetClassData(instance, &PythonResultClass));
}

PythonObjectData* PythonObjectDataOf(REALobjectStruct* instance) {
  return static_cast<PythonObjectData*>(REALGetClassData(instance, &PythonObjectClass));
}

PyObjectRef PythonEntityObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonEntityDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

PyObjectRef PythonObjectOf(REALobjectStruct* instance) {
  PyObjectRef object = PythonObjectDataOf(instance)->object;
  return object && PythonIsRunning() ? object : nullptr;
}

// The field's address is computed, never read. The block lies at the same
// offset in every object, so the address is that of a known field only in
// the wrapper that holds it.
bool HoldsPythonObject(REALobjectStruct* object) {
  return object && IsOwnedPythonRefField(&PythonEntityDataOf(object)->object);
}

PyObjectRef& EntityField(REALobjectStruct* wrapper) { return PythonEntityDataOf(wrapper)->object; }
PyObjectRef& ResultField(REALobjectStruct* wrapper) { return PythonResultDataOf(wrapper)->object; }
PyObjectRef& NamedObjectField(REALobjectStruct* wrapper) { return PythonObjectDataOf(wrapper)->object; }

REALobjectStruct* NewNamedObjectWrapper(REALclassDefinition* record, REALstringStruct* name, PyObjectRef object) {
  REALobjectStruct* wrapper = NewWrapper<NamedObjectField>(record, object);
  if (wrapper) PythonObjectDataOf(wrapper)->name.Retain(name);
  return wrapper;
}

// Named as GetErrorTypeName names types; a name that cannot be made leaves it empty.
REALobjectStruct* NewInstanceOfValue(PyObjectRef object) {
  PyObjectRef typeName = object ? NewTypeName(reinterpret_cast<PyObjectRef>(object->ob_type)) : nullptr;
  OwnedString name(typeName ? HostStringFromStr(typeName) : nullptr);
  if (typeName) ReleasePythonRef(typeName);
  return NewNamedObjectWrapper(&PythonInstanceClass, name.get(), object);
}
