// Property reads by name and the object array services.
#include "Builtins.h"
#include "HostEntries.h"
#include "Invoker.h"

namespace xhost::detail {
namespace {

// Calls the getter of the named property when it has the wanted type; its
// result word (with any reference it carries) goes to `result`.
bool readProperty(const char* entry, REALobjectStruct* object, const char* name, TypeKind wanted,
                  const void* destination, Slot& result) {
  ObjectRecord* record = core().objects.live(object, entry);
  if (!record) return false;
  if (!name || !destination) {
    reportProblem(std::string(entry) + ": null " + (name ? "destination" : "property name"));
    return false;
  }
  Member* property = nullptr;
  for (const ClassInfo* c = record->cls; c && !property; c = c->super)
    for (const auto& member : c->properties)
      if (sameName(member->declaration.name, name)) property = member.get();
  if (!property) {
    reportProblem(std::string(entry) + ": " + record->cls->name + " has no property " + name);
    return false;
  }
  const PreparedCall& call = callFormOf(*property);
  if (call.result.kind != wanted) {
    reportProblem(std::string(entry) + ": property " + name + " of " + record->cls->name + " is a " + call.result.text);
    return false;
  }
  std::vector<Slot> words(2);
  words[0].pointer = object;
  words[1].integer = property->paramWord;
  callFunction(call, property->function, words, result);
  return true;
}

RBBoolean propertyString(REALobjectStruct* object, const char* name, REALstringStruct** out) noexcept {
  return shielded("REALGetPropValueString", RBBoolean{0}, [&]() -> RBBoolean {
    Slot word{};
    if (!readProperty("REALGetPropValueString", object, name, TypeKind::String, out, word)) return 0;
    *out = static_cast<REALstringStruct*>(word.pointer);
    return 1;
  });
}

RBBoolean propertyObject(REALobjectStruct* object, const char* name, REALobjectStruct** out) noexcept {
  return shielded("REALGetPropValueObject", RBBoolean{0}, [&]() -> RBBoolean {
    Slot word{};
    if (!readProperty("REALGetPropValueObject", object, name, TypeKind::Object, out, word)) return 0;
    *out = static_cast<REALobjectStruct*>(word.pointer);
    return 1;
  });
}

RBBoolean propertyBoolean(REALobjectStruct* object, const char* name, RBBoolean* out) noexcept {
  return shielded("REALGetPropValueBool", RBBoolean{0}, [&]() -> RBBoolean {
    Slot word{};
    if (!readProperty("REALGetPropValueBool", object, name, TypeKind::Boolean, out, word)) return 0;
    *out = static_cast<int8_t>(word.widened) != 0;
    return 1;
  });
}

REALarrayStruct* createArray(int32_t elementType, int64_t upperBound) noexcept {
  return shielded(
      "RuntimeArrayCreateSingleDimBoundedArray", static_cast<REALarrayStruct*>(nullptr), [&]() -> REALarrayStruct* {
        if (elementType != kREALObjectArrayType || upperBound < -1) {
          reportProblem("RuntimeArrayCreateSingleDimBoundedArray: element type " + std::to_string(elementType) +
                        " with upper bound " + std::to_string(upperBound) + " is not supported");
          return nullptr;
        }
        REALobjectStruct* array = makeObjectArray();
        arrayElements(array, "RuntimeArrayCreateSingleDimBoundedArray")->resize(upperBound + 1, nullptr);
        return reinterpret_cast<REALarrayStruct*>(array);
      });
}

int64_t arrayUBound(REALarrayStruct* array) noexcept {
  return shielded("RuntimeUBound", int64_t{-1}, [&]() -> int64_t {
    auto* elements = arrayElements(array, "RuntimeUBound");
    return elements ? static_cast<int64_t>(elements->size()) - 1 : -1;
  });
}

std::vector<REALobjectStruct*>* elementsAt(REALarrayStruct* array, int64_t index, bool inserting, const char* entry) {
  auto* elements = arrayElements(array, entry);
  if (!elements) return nullptr;
  int64_t limit = static_cast<int64_t>(elements->size()) - (inserting ? 0 : 1);
  if (index < 0 || index > limit) {
    reportProblem(std::string(entry) + ": index " + std::to_string(index) + " out of bounds (upper bound " +
                  std::to_string(static_cast<int64_t>(elements->size()) - 1) + ")");
    return nullptr;
  }
  return elements;
}

void insertObject(REALarrayStruct* array, int64_t index, REALobjectStruct* value) noexcept {
  shieldedVoid("object array insert", [&] {
    auto* elements = elementsAt(array, index, true, "object array insert");
    if (!elements || (value && !core().objects.live(value, "object array insert"))) return;
    core().objects.lock(value, "object array insert");
    elements->insert(elements->begin() + index, value);
  });
}

REALobjectStruct* getObject(REALarrayStruct* array, int64_t index) noexcept {
  return shielded("object array get", static_cast<REALobjectStruct*>(nullptr), [&]() -> REALobjectStruct* {
    auto* elements = elementsAt(array, index, false, "object array get");
    if (!elements) return nullptr;
    REALobjectStruct* element = (*elements)[index];
    core().objects.lock(element, "object array get");
    return element;
  });
}

using InsertProc = void (*)(REALarrayStruct*, int64_t, REALobjectStruct*);
using GetProc = REALobjectStruct* (*)(REALarrayStruct*, int64_t);

InsertProc objectArrayInsertProc(REALarrayStruct* array) noexcept {
  return shielded("PluginObjectArrayInsertProc", static_cast<InsertProc>(nullptr), [&]() -> InsertProc {
    return arrayElements(array, "PluginObjectArrayInsertProc") ? insertObject : nullptr;
  });
}

GetProc objectArrayGetProc(REALarrayStruct* array) noexcept {
  return shielded("PluginObjectArrayGetProc", static_cast<GetProc>(nullptr),
                  [&]() -> GetProc { return arrayElements(array, "PluginObjectArrayGetProc") ? getObject : nullptr; });
}

}  // namespace

void addPropertyAndArrayEntries(EntryTable& table) {
  serve(table, "REALGetPropValueString", propertyString);
  serve(table, "REALGetPropValueObject", propertyObject);
  serve(table, "REALGetPropValueBool", propertyBoolean);
  serve(table, "RuntimeArrayCreateSingleDimBoundedArray", createArray);
  serve(table, "RuntimeUBound", arrayUBound);
  serve(table, "PluginObjectArrayInsertProc", objectArrayInsertProc);
  serve(table, "PluginObjectArrayGetProc", objectArrayGetProc);
}

}  // namespace xhost::detail
