// The members of Python3Dictionary: a Python dict keyed by a String or by any wrapped object, whose values
// are shared, so that changes show in every holder of the dict.

#include "PythonDictionary/PythonDictionary.h"

#include <type_traits>

#include "Exceptions/Exceptions.h"
#include "PythonEntity/PythonEntity.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonValueTypes.h"
#include "Registration/ClassRecords.h"

namespace {

// Every member holds the dict, the key and the value by references of its
// own: hashing and comparing a key may run Python code that calls host code,
// which may drop the last host reference to any of them.

// A key for the length of one member: a str made from a host string (the
// empty string may come as no string at all), or the object a value wrapper
// holds, shared. Null when the host cannot give the text or the wrapper holds
// nothing.
ScopedReference KeyOf(REALstringStruct* text) { return ScopedReference::Adopt(NewPythonText(text)); }
ScopedReference KeyOf(REALobjectStruct* wrapper) {
  return ScopedReference::Borrow(wrapper ? PythonEntityObjectOf(wrapper) : nullptr);
}

// The reference lives in the Python3EntityBase block, whose destructor releases it.
void Destructor(REALobjectStruct*) noexcept {}

void PythonDictionary_Constructor(REALobjectStruct* self) {
  if (LookUpOnFirstUse(PythonEntryId::EPyDict_Copy)) LookUpOnFirstUse(PythonEntryId::EPyDict_DelItem);
  if (PythonIsRunning() && EPyDict_New) ReplaceReferenceField(PythonEntityDataOf(self)->object, EPyDict_New());
}

// The keyword arguments a host function receives (null when there are
// none: the wrapper then holds nothing); the wrapper takes its own reference.
void PythonDictionary_ConstructorPtr(REALobjectStruct* self, void* dictionaryPtr) {
  if (LookUpOnFirstUse(PythonEntryId::EPyDict_Copy)) LookUpOnFirstUse(PythonEntryId::EPyDict_DelItem);
  auto dict = static_cast<PyObjectRef>(dictionaryPtr);
  if (!dict || !PythonIsRunning()) return;
  if (!IsPythonDict(dict))
    return RaisePythonError(e__PyExc_TypeError, "Python3Dictionary.Constructor: the Ptr is no dict");
  ReplaceReferenceField(PythonEntityDataOf(self)->object, NewReference(dict));
}

int64_t PythonDictionary_Count(REALobjectStruct* self, intptr_t) {
  PyObjectRef dict = PythonEntityObjectOf(self);
  return dict && EPyDict_Size ? EPyDict_Size(dict) : 0;
}

// Empties the dict itself: every holder of it sees it empty.
void PythonDictionary_Clear(REALobjectStruct* self) {
  ScopedReference dict = ScopedEntityObject(self);
  if (dict && EPyDict_Clear) EPyDict_Clear(dict.Get());
}

template <typename KeyArgument>
int8_t Contains(REALobjectStruct* self, KeyArgument keyArgument) {
  ScopedReference dict = ScopedEntityObject(self);
  if (!dict || !EPyDict_Contains) return false;
  const ScopedReference key = KeyOf(keyArgument);
  if (!key.Get()) return false;
  const int found = EPyDict_Contains(dict.Get(), key.Get());
  if (found == -1) ThrowPythonException(PythonExceptionCode::ContainsFailed);
  return found == 1;
}

// An absent key is Nil; a key Python cannot look up (unhashable) is Nil with
// its error left set.
template <typename KeyArgument>
REALobjectStruct* GetValue(REALobjectStruct* self, KeyArgument keyArgument) {
  ScopedReference dict = ScopedEntityObject(self);
  if (!dict || !EPyDict_GetItemWithError) return nullptr;
  const ScopedReference key = KeyOf(keyArgument);
  return key.Get() ? CheckedValue<values::Entity>(EPyDict_GetItemWithError(dict.Get(), key.Get())) : nullptr;
}

// The dict takes its own references; a refused entry leaves Python's error set.
template <typename KeyArgument>
void SetValue(REALobjectStruct* self, KeyArgument keyArgument, REALobjectStruct* value) {
  ScopedReference dict = ScopedEntityObject(self);
  ScopedReference item = ScopedArgumentObject(value);
  if (!dict || !item || !EPyDict_SetItem) return;
  const ScopedReference key = KeyOf(keyArgument);
  if (key.Get()) EPyDict_SetItem(dict.Get(), key.Get(), item.Get());
}

// A String key that is absent raises; an entity key leaves the KeyError set.
template <typename KeyArgument>
void Remove(REALobjectStruct* self, KeyArgument keyArgument) {
  ScopedReference dict = ScopedEntityObject(self);
  if (!dict || !LookUpOnFirstUse(PythonEntryId::EPyDict_DelItem)) return;
  const ScopedReference key = KeyOf(keyArgument);
  if (!key.Get()) return;
  const int removed = EPyDict_DelItem(dict.Get(), key.Get());
  if constexpr (std::is_same_v<KeyArgument, REALstringStruct*>) {
    if (removed == -1) ThrowPythonException(PythonExceptionCode::RemoveFailed);
  }
}

// A new list of the keys or values, in the dict's order; a snapshot.
template <PyObjectRef (*&Snapshot)(PyObjectRef)>
REALobjectStruct* ListOf(REALobjectStruct* self) {
  ScopedReference dict = ScopedEntityObject(self);
  if (!dict || !Snapshot) return nullptr;
  PyObjectRef list = Snapshot(dict.Get());
  return list ? NewListWrapper(list) : nullptr;
}

// A shallow copy: a new dict of the same keys and values.
REALobjectStruct* PythonDictionary_Copy(REALobjectStruct* self) {
  ScopedReference dict = ScopedEntityObject(self);
  if (!dict || !LookUpOnFirstUse(PythonEntryId::EPyDict_Copy)) return nullptr;
  PyObjectRef copy = EPyDict_Copy(dict.Get());
  return copy ? NewDictionaryWrapper(copy) : nullptr;
}

void Merge(REALobjectStruct* self, REALobjectStruct* other, int8_t overrideExisting) {
  ScopedReference dict = ScopedEntityObject(self);
  ScopedReference otherDict = ScopedArgumentObject(other);
  if (!dict || !otherDict || !LookUpOnFirstUse(PythonEntryId::EPyDict_Merge)) return;
  if (EPyDict_Merge(dict.Get(), otherDict.Get(), overrideExisting ? 1 : 0) == -1)
    ThrowPythonException(PythonExceptionCode::MergeFailed);
}

// The value under the key, which gets the default when it has none.
REALobjectStruct* SetDefault(REALobjectStruct* self, REALstringStruct* keyText, REALobjectStruct* defaultValue) {
  if (!LookUpOnFirstUse(PythonEntryId::EPyDict_SetDefault)) return nullptr;
  ScopedReference dict = ScopedEntityObject(self);
  ScopedReference fallback = ScopedArgumentObject(defaultValue);
  if (!dict || !fallback) return nullptr;
  const ScopedReference key = KeyOf(keyText);
  return key.Get() ? CheckedValue<values::Entity>(EPyDict_SetDefault(dict.Get(), key.Get(), fallback.Get())) : nullptr;
}

REALproperty PythonDictionaryProperties[] = {
    records::ReadOnlyProperty<PythonDictionary_Count>("Count", "Integer",
                                                      "The number of entries; 0 when it holds no dict."),
};

REALmethodDefinition PythonDictionaryMethods[] = {
    records::Method<PythonDictionary_Constructor>("Constructor()", "Makes a new empty Python dict."),
    records::Method<PythonDictionary_ConstructorPtr>(
        "Constructor(dictionaryPtr as Ptr)",
        "Wraps the Python dict at the pointer (as a host function receives its keyword arguments), taking its own "
        "reference; holds nothing for Nil."),
    records::Method<PythonDictionary_Clear>(
        "Clear()", "Removes every entry from the dict itself: every holder of it sees it empty."),
    records::Method<Contains<REALstringStruct*>>(
        "Contains(key as String) as Boolean",
        "True when the dict has an entry for the str key; raises Python3Exception when the lookup fails."),
    records::Method<GetValue<REALstringStruct*>>("GetValue(key as String) as Python3Entity",
                                                 "The value under the str key, shared; Nil when absent."),
    records::Method<SetValue<REALstringStruct*>>(
        "SetValue(key as String, value as Python3EntityBase)",
        "Stores the value's object (shared) under the str key; Nil is ignored."),
    records::Method<ListOf<EPyDict_Keys>>("GetKeys() as Python3List",
                                          "A new list of the keys in the dict's order, a snapshot."),
    records::Method<ListOf<EPyDict_Values>>("GetValues() as Python3List",
                                            "A new list of the values in the dict's order, a snapshot."),
    records::Method<PythonDictionary_Copy>("Copy() as Python3Dictionary",
                                           "A shallow copy: a new dict sharing the same keys and values."),
    records::Method<Remove<REALstringStruct*>>(
        "Remove(key as String)", "Removes the entry of the str key; raises Python3Exception when it is absent."),
    records::Method<Remove<REALobjectStruct*>>(
        "Remove(key as Python3EntityBase)",
        "Removes the entry of the key's object; leaves Python's KeyError set when it is absent."),
    records::Method<Contains<REALobjectStruct*>>(
        "Contains(key as Python3EntityBase) as Boolean",
        "True when the dict has an entry for the key's object; raises Python3Exception when the lookup fails."),
    records::Method<GetValue<REALobjectStruct*>>(
        "GetValue(key as Python3EntityBase) as Python3Entity",
        "The value under the key's object, shared; Nil when absent (with Python's error set when unhashable)."),
    records::Method<SetValue<REALobjectStruct*>>(
        "SetValue(key as Python3EntityBase, value as Python3EntityBase)",
        "Stores the value's object (shared) under the key's object; Python's error is set when unhashable."),
    records::Method<Merge>(
        "Merge(other as Python3Dictionary, override as Boolean)",
        "Adds the other dict's entries; existing keys take the other's value only when override is True."),
    records::Method<SetDefault>(
        "SetDefault(key as String, defaultValue as Python3EntityBase) as Python3Entity",
        "The value under the str key, first storing defaultValue (shared) there when the key is absent."),
};

}  // namespace

REALclassDefinition PythonDictionaryClass =
    records::ClassRecord("Python3Dictionary", "Python3EntityBase", 0)
        .Describe("A Python dict: keys and values are shared Python objects, changes show in every holder of the dict.")
        .Interfaces("IPython3Iterable")
        .DestructorWithoutEntry<Destructor>()
        .Properties(PythonDictionaryProperties)
        .Methods(PythonDictionaryMethods);

void InitDictionaryModule() {
  ResetDictionaryEntryPoints();
  REALRegisterClass(&PythonDictionaryClass);
}
