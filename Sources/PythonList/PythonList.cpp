// The members of Python3List: a Python list whose items are shared, with the entries for sorting,
// reversing and slicing looked up on first use.

#include "PythonList/PythonList.h"

#include <cstdint>

#include "Exceptions/Exceptions.h"
#include "PythonEntity/PythonEntity.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonValueTypes.h"
#include "Registration/ClassRecords.h"

namespace {

// The wrapper gets a new empty list; any list it held stays as it is for
// whoever else holds it.
void NewEmptyList(REALobjectStruct* self) {
  if (PythonIsRunning() && EPyList_New) ReplaceReferenceField(PythonEntityDataOf(self)->object, EPyList_New(0));
}

void Constructor(REALobjectStruct* self) {
  if (LookUpOnFirstUse(PythonEntryId::EPyList_Sort)) LookUpOnFirstUse(PythonEntryId::EPyList_Reverse);
  NewEmptyList(self);
}

void PythonList_Clear(REALobjectStruct* self) { NewEmptyList(self); }

int64_t PythonList_Count(REALobjectStruct* self, intptr_t) {
  PyObjectRef list = PythonEntityObjectOf(self);
  return list && EPyList_Size ? EPyList_Size(list) : 0;
}

// Every member holds the list, and the values it hands to Python, by
// references of its own: Python code run on the way (a comparison, a __del__,
// a garbage collection) may call host code that drops the last host reference
// to any of them, or replaces the list this wrapper holds.

// Append and Insert: the list takes its own reference to the value's object.
void PythonList_Append(REALobjectStruct* self, REALobjectStruct* value) {
  ScopedReference list = ScopedEntityObject(self);
  ScopedReference item = ScopedArgumentObject(value);
  if (list && item && EPyList_Append) EPyList_Append(list.Get(), item.Get());
}

void PythonList_Insert(REALobjectStruct* self, int64_t index, REALobjectStruct* value) {
  ScopedReference list = ScopedEntityObject(self);
  ScopedReference item = ScopedArgumentObject(value);
  if (list && item && EPyList_Insert) EPyList_Insert(list.Get(), static_cast<Py_ssize_t>(index), item.Get());
}

// Out of range: Nil with Python's IndexError set.
REALobjectStruct* PythonList_GetItem(REALobjectStruct* self, int64_t index) {
  PyObjectRef list = PythonEntityObjectOf(self);
  if (!list || !EPyList_GetItem) return nullptr;
  return CheckedValue<values::Entity>(EPyList_GetItem(list, static_cast<Py_ssize_t>(index)));
}

// The list takes over a new reference, also when it refuses the index; the
// item it replaces is released, which may run its __del__.
void PythonList_SetItem(REALobjectStruct* self, int64_t index, REALobjectStruct* value) {
  ScopedReference list = ScopedEntityObject(self);
  ScopedReference item = ScopedArgumentObject(value);
  if (list && item && EPyList_SetItem)
    EPyList_SetItem(list.Get(), static_cast<Py_ssize_t>(index), NewReference(item.Get()));
}

REALobjectStruct* PythonList_AsTuple(REALobjectStruct* self) {
  ScopedReference list = ScopedEntityObject(self);
  if (!list || !EPyList_AsTuple) return nullptr;
  PyObjectRef tuple = EPyList_AsTuple(list.Get());
  return tuple ? NewParametersWrapper(tuple) : nullptr;
}

// In-place operations through an entry looked up on first use; a library
// without it leaves the list as it is. Sorting compares items with their own
// __lt__, which may Clear this very wrapper.
template <PythonEntryId Entry, int (*&Operation)(PyObjectRef), PythonExceptionCode Code>
void InPlace(REALobjectStruct* self) {
  ScopedReference list = ScopedEntityObject(self);
  if (!list || !LookUpOnFirstUse(Entry)) return;
  if (Operation(list.Get()) == -1) ThrowPythonException(Code);
}

REALobjectStruct* GetSlice(REALobjectStruct* self, int64_t lowIndex, int64_t highIndex) {
  ScopedReference list = ScopedEntityObject(self);
  if (!list || !LookUpOnFirstUse(PythonEntryId::EPyList_GetSlice)) return nullptr;
  PyObjectRef slice =
      EPyList_GetSlice(list.Get(), static_cast<Py_ssize_t>(lowIndex), static_cast<Py_ssize_t>(highIndex));
  return slice ? NewListWrapper(slice) : nullptr;
}

// A tuple made by the library with slots never filled would hand Python a
// null item, which extending a list reads without a test.
bool HasUnsetItems(PyObjectRef tuple) {
  if (!IsPythonTuple(tuple) || !HasPythonEntries(EPyTuple_Size, EPyTuple_GetItem)) return false;
  const Py_ssize_t size = EPyTuple_Size(tuple);
  for (Py_ssize_t index = 0; index < size; ++index)
    if (!EPyTuple_GetItem(tuple, index)) return true;
  return false;
}

// Appends every element that iterating the items' object yields. Only the
// plugin's own value wrappers hold an object; any other host object
// implementing the interface is ignored.
void Extend(REALobjectStruct* self, REALobjectStruct* items) {
  ScopedReference list = ScopedEntityObject(self);
  ScopedReference iterable = ScopedReference::Borrow(HoldsPythonObject(items) ? PythonEntityObjectOf(items) : nullptr);
  if (!list || !iterable) return;
  if (HasUnsetItems(iterable.Get()))
    return RaisePythonError(e__PyExc_ValueError, "Extend was given a Python3Parameters with unset items");
  ExtendPythonList(list.Get(), iterable.Get());
}

REALproperty PythonListProperties[] = {
    records::ReadOnlyProperty<PythonList_Count>("Count", "Integer",
                                                "The number of items in the list; 0 when it holds none."),
};

REALmethodDefinition PythonListMethods[] = {
    records::Method<Constructor>("Constructor()", "Makes a new empty Python list."),
    records::Method<PythonList_Clear>(
        "Clear()", "Gives this wrapper a new empty list; other holders of the old list keep it unchanged."),
    records::Method<PythonList_Append>(
        "Append(value as Python3EntityBase)",
        "Adds the value's object (shared, not copied) at the end of the list; Nil is ignored."),
    records::Method<PythonList_Insert>(
        "Insert(index as Integer, value as Python3EntityBase)",
        "Inserts the value's object (shared) before index, clamped to the list's bounds as Python does."),
    records::Method<PythonList_GetItem>("GetItem(index as Integer) as Python3Entity",
                                        "The item at index, shared; Nil with an IndexError set when out of range."),
    records::Method<PythonList_SetItem>(
        "SetItem(index as Integer, value as Python3EntityBase)",
        "Replaces the item at index with the value's object (shared); an IndexError is set when out of range."),
    records::Method<PythonList_AsTuple>("AsTuple() as Python3Parameters",
                                        "A new tuple of the list's items, shared; Nil on failure."),
    records::Method<InPlace<PythonEntryId::EPyList_Sort, EPyList_Sort, PythonExceptionCode::SortFailed>>(
        "Sort()",
        "Sorts the list in place as Python sorts it; raises Python3Exception when the items cannot be compared."),
    records::Method<InPlace<PythonEntryId::EPyList_Reverse, EPyList_Reverse, PythonExceptionCode::ReverseFailed>>(
        "Reverse()", "Reverses the order of the items in place; raises Python3Exception on failure."),
    records::Method<GetSlice>(
        "GetSlice(lowIndex as Integer, highIndex as Integer) as Python3List",
        "A new list of the items from lowIndex up to but not including highIndex (shared items); bounds are clamped."),
    records::Method<Extend>(
        "Extend(items as IPython3Iterable)",
        "Appends every item of a Python3List, Python3Parameters or Python3Dictionary (its keys); others are ignored."),
};

}  // namespace

REALclassDefinition PythonListClass =
    records::ClassRecord("Python3List", "Python3EntityBase", 0)
        .Describe("A Python list: items are shared Python objects, changes show in every holder of the list.")
        .Interfaces("IPython3Iterable")
        .Properties(PythonListProperties)
        .Methods(PythonListMethods);

void InitListModule() {
  ResetListEntryPoints();
  REALRegisterClass(&PythonListClass);
}
