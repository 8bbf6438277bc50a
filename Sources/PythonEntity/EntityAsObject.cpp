// Any value used as the Python object it is: its attributes, its methods,
// its items, calling it, and how Python names and shows it.
#include "PythonEntity/PythonEntity.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonLibrary/PythonObjects.h"
#include "PythonValues/PythonAttributes.h"
#include "PythonValues/PythonValueTypes.h"
#include "Registration/ClassRecords.h"

namespace {

// Python's getattr('') raises; the shared attribute lookup stays silent for
// an empty name, which a member that reports its failures must not be.
bool RefuseEmptyName(REALstringStruct* name) {
  HostStringBytes bytes(name, HostStringBytes::kAsStored);
  if (name && bytes.Size() > 0) return false;
  RaisePythonError(e__PyExc_AttributeError, "an attribute name must not be empty");
  return true;
}

bool RefuseNil(REALobjectStruct* wrapper, PyObjectRef object, const char* what) {
  if (wrapper && object) return false;
  RaisePythonError(e__PyExc_TypeError, what);
  return true;
}

REALobjectStruct* GetAttribute(REALobjectStruct* self, REALstringStruct* name) {
  ScopedReference object = ScopedEntityObject(self);
  const ScopedString keptName = ScopedString::Borrow(name);
  if (!object || RefuseEmptyName(name)) return nullptr;
  PyObjectRef attribute = GetPythonAttribute(object.Get(), name);
  return attribute ? NewEntity(attribute) : nullptr;
}

int8_t SetAttribute(REALobjectStruct* self, REALstringStruct* name, REALobjectStruct* value) {
  ScopedReference object = ScopedEntityObject(self);
  ScopedReference item = ScopedArgumentObject(value);
  const ScopedString keptName = ScopedString::Borrow(name);
  if (!object || RefuseEmptyName(name) || RefuseNil(value, item.Get(), "SetAttribute: the value holds no object"))
    return false;
  return SetPythonAttribute(object.Get(), name, item.Get()) == 0;
}

int8_t HasAttribute(REALobjectStruct* self, REALstringStruct* name) {
  ScopedReference object = ScopedEntityObject(self);
  const ScopedString keptName = ScopedString::Borrow(name);
  return object && HasPythonAttribute(object.Get(), name);
}

REALobjectStruct* InvokeWithKeywords(REALobjectStruct* self, REALobjectStruct* parameters, REALobjectStruct* keywords) {
  ScopedReference object = ScopedEntityObject(self);
  const ScopedObject keptParameters = ScopedObject::Borrow(parameters);
  const ScopedObject keptKeywords = ScopedObject::Borrow(keywords);
  PyObjectRef result = object ? CallWithWrappers(object.Get(), parameters, keywords) : nullptr;
  return result ? NewResultWrapper(result) : nullptr;
}

REALobjectStruct* Invoke(REALobjectStruct* self, REALobjectStruct* parameters) {
  return InvokeWithKeywords(self, parameters, nullptr);
}

// The lookup runs Python code (a __getattr__, a descriptor) that may drop the
// last host reference to the arguments: each is held for the whole call.
REALobjectStruct* CallMethodWithKeywords(REALobjectStruct* self, REALstringStruct* name, REALobjectStruct* parameters,
                                         REALobjectStruct* keywords) {
  ScopedReference object = ScopedEntityObject(self);
  const ScopedString keptName = ScopedString::Borrow(name);
  const ScopedObject keptParameters = ScopedObject::Borrow(parameters);
  const ScopedObject keptKeywords = ScopedObject::Borrow(keywords);
  if (!object || RefuseEmptyName(name)) return nullptr;
  ScopedReference method = ScopedReference::Adopt(GetPythonAttribute(object.Get(), name));
  PyObjectRef result = method ? CallWithWrappers(method.Get(), parameters, keywords) : nullptr;
  return result ? NewResultWrapper(result) : nullptr;
}

REALobjectStruct* CallMethod(REALobjectStruct* self, REALstringStruct* name, REALobjectStruct* parameters) {
  return CallMethodWithKeywords(self, name, parameters, nullptr);
}

REALobjectStruct* GetItem(REALobjectStruct* self, REALobjectStruct* keyWrapper) {
  ScopedReference object = ScopedEntityObject(self);
  ScopedReference key = ScopedArgumentObject(keyWrapper);
  if (!object || !EPyObject_GetItem || RefuseNil(keyWrapper, key.Get(), "GetItem: the key holds no object"))
    return nullptr;
  PyObjectRef item = EPyObject_GetItem(object.Get(), key.Get());
  return item ? NewEntity(item) : nullptr;
}

int8_t SetItem(REALobjectStruct* self, REALobjectStruct* keyWrapper, REALobjectStruct* value) {
  ScopedReference object = ScopedEntityObject(self);
  ScopedReference key = ScopedArgumentObject(keyWrapper);
  ScopedReference item = ScopedArgumentObject(value);
  if (!object || !EPyObject_SetItem || RefuseNil(keyWrapper, key.Get(), "SetItem: the key holds no object") ||
      RefuseNil(value, item.Get(), "SetItem: the value holds no object"))
    return false;
  return EPyObject_SetItem(object.Get(), key.Get(), item.Get()) == 0;
}

// list(value): every iterable, generators included, walked once.
REALobjectStruct* Items(REALobjectStruct* self) {
  ScopedReference object = ScopedEntityObject(self);
  if (!object || !EPySequence_List) return nullptr;
  PyObjectRef list = EPySequence_List(object.Get());
  return list ? NewListWrapper(list) : nullptr;
}

int64_t Length(REALobjectStruct* self, intptr_t) {
  ScopedReference object = ScopedEntityObject(self);
  if (!object || !EPyObject_Size) return -1;
  return EPyObject_Size(object.Get());
}

REALstringStruct* Repr(REALobjectStruct* self, intptr_t) {
  ScopedReference object = ScopedEntityObject(self);
  if (!object || !EPyObject_Repr) return nullptr;
  ScopedReference text = ScopedReference::Adopt(EPyObject_Repr(object.Get()));
  return text ? HostStringFromStr(text.Get()) : nullptr;
}

REALstringStruct* TypeName(REALobjectStruct* self, intptr_t) {
  PyObjectRef object = PythonEntityObjectOf(self);
  if (!object) return nullptr;
  ScopedReference name = ScopedReference::Adopt(NewTypeName(reinterpret_cast<PyObjectRef>(object->ob_type)));
  return name ? HostStringFromStr(name.Get()) : nullptr;
}

}  // namespace

std::vector<REALmethodDefinition> EntityObjectMethods() {
  return {
      records::Method<GetAttribute>(
          "GetAttribute(name as String) as Python3Entity",
          "The attribute of this name; Nil with Python's error set when it is missing or the name is empty."),
      records::Method<SetAttribute>(
          "SetAttribute(name as String, value as Python3EntityBase) as Boolean",
          "Sets the attribute to the value's object; False with Python's error set when Python refuses it."),
      records::Method<HasAttribute>("HasAttribute(name as String) as Boolean",
                                    "True when the attribute exists; an error of the lookup is cleared."),
      records::Method<CallMethod>(
          "CallMethod(name as String, parameters as Python3Parameters) as Python3Result",
          "Calls the method of this name with the parameters (Nil: none); Nil with Python's error set when it raises."),
      records::Method<CallMethodWithKeywords>(
          "CallMethod(name as String, parameters as Python3Parameters, keywords as Python3Dictionary) as "
          "Python3Result",
          "Calls the method with positional and keyword arguments; Nil with Python's error set when it raises."),
      records::Method<Invoke>(
          "Invoke(parameters as Python3Parameters) as Python3Result",
          "Calls the value itself with the parameters (Nil: none); Nil with Python's error set when it raises."),
      records::Method<InvokeWithKeywords>(
          "Invoke(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result",
          "Calls the value itself with positional and keyword arguments; Nil with Python's error set when it raises."),
      records::Method<GetItem>("GetItem(key as Python3EntityBase) as Python3Entity",
                               "value[key]; Nil with Python's error set when Python refuses it."),
      records::Method<SetItem>("SetItem(key as Python3EntityBase, value as Python3EntityBase) as Boolean",
                               "value[key] = value; False with Python's error set when Python refuses it."),
      records::Method<Items>("Items() as Python3List",
                             "list(value): a new list of what iterating the value yields; Nil with Python's error set "
                             "when it cannot be iterated."),
  };
}

std::vector<REALproperty> EntityObjectProperties() {
  return {
      records::ReadOnlyProperty<TypeName>(
          "TypeName", "String", "The name of the value's type as GetErrorTypeName names types (\"datetime.date\")."),
      records::ReadOnlyProperty<Repr>("Repr", "String",
                                      "Python's repr() of the value; empty with Python's error set when it raises."),
      records::ReadOnlyProperty<Length>("Length", "Integer",
                                        "Python's len() of the value; -1 with Python's error set when it has none."),
  };
}
