#include "Invoker.h"

#include <cstring>

#include "Builtins.h"
#include "Core.h"

namespace xhost::detail {
namespace {

constexpr int kExact = 0, kWidening = 1, kConversion = 2, kNarrowing = 3, kTruncation = 4;
constexpr int kInterface = 5, kAnyObject = 10;

bool isIntegerKind(TypeKind kind) {
  return kind == TypeKind::Integer || kind == TypeKind::Int64 || kind == TypeKind::Int32 || kind == TypeKind::UInt64;
}
bool is64BitSigned(TypeKind kind) { return kind == TypeKind::Integer || kind == TypeKind::Int64; }

std::unique_ptr<PreparedCall> prepare(Member& member, bool separateSetter) {
  auto call = std::make_unique<PreparedCall>();
  const ClassRegistry& classes = core().classes;
  call->instance = member.kind != MemberKind::SharedMethod;
  call->paramWord = member.kind == MemberKind::Property;
  try {
    for (const Parameter& p : member.declaration.params)
      call->params.push_back(classes.resolveType(p.type, member.owner));
    XType result;
    if (!member.declaration.resultType.empty())
      result = classes.resolveType(member.declaration.resultType, member.owner);
    if (separateSetter)
      call->params.push_back(result);
    else
      call->result = result;
  } catch (const DeclarationError& error) {
    throw HostError(member.owner->name + "." + member.text + ": " + error.what());
  }
  if (call->instance) call->ffiArgs.push_back(&ffi_type_pointer);
  if (call->paramWord) call->ffiArgs.push_back(&ffi_type_sint64);
  for (const XType& type : call->params) call->ffiArgs.push_back(ffiTypeOf(type.kind));
  if (ffi_prep_cif(&call->cif, FFI_DEFAULT_ABI, static_cast<unsigned>(call->ffiArgs.size()),
                   ffiTypeOf(call->result.kind), call->ffiArgs.data()) != FFI_OK)
    throw HostError(member.owner->name + "." + member.text + ": libffi cannot prepare the call");
  return call;
}

std::optional<int> integerRank(TypeKind from, TypeKind to) {
  if (from == to || (is64BitSigned(from) && is64BitSigned(to))) return kExact;
  if (to == TypeKind::Double) return kConversion;
  if (!isIntegerKind(to)) return std::nullopt;
  if (from == TypeKind::Int32) return is64BitSigned(to) ? kWidening : kConversion;
  if (to == TypeKind::Int32) return kNarrowing;
  return kConversion;  // between signed and unsigned 64-bit
}

std::optional<int> objectRank(const void* handle, const XType& type) {
  if (!handle)
    return type.kind == TypeKind::Object || type.kind == TypeKind::Ptr ? std::optional<int>(kWidening) : std::nullopt;
  ObjectRecord* object = core().objects.find(handle);
  if (!object || object->life == ObjectRecord::Life::Dead) return std::nullopt;
  if (type.kind == TypeKind::Ptr) return isMemoryBlock(handle) ? std::optional<int>(kConversion) : std::nullopt;
  if (type.kind != TypeKind::Object) return std::nullopt;
  const ClassInfo* wanted = type.objectClass;
  if (object->cls == wanted) return kExact;
  if (!wanted || wanted == &core().classes.objectClass()) return kAnyObject;
  int distance = 0;
  for (const ClassInfo* c = object->cls; c; c = c->super, ++distance)
    if (c == wanted) return distance;
  return object->cls->isA(*wanted) ? std::optional<int>(kInterface) : std::nullopt;
}

}  // namespace

const PreparedCall& callFormOf(Member& member) {
  if (!member.callForm) member.callForm = prepare(member, false);
  return *member.callForm;
}

const PreparedCall& assignFormOf(Member& member) {
  if (!member.assignForm) member.assignForm = prepare(member, true);
  return *member.assignForm;
}

std::optional<int> argumentRank(const Value& value, const XType& type) {
  TypeKind to = type.kind;
  auto numeric = [&](TypeKind from) { return integerRank(from, to); };
  return std::visit(
      [&](const auto& v) -> std::optional<int> {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, int64_t> || std::is_same_v<V, Int64>)
          return numeric(TypeKind::Integer);
        else if constexpr (std::is_same_v<V, Int32>)
          return numeric(TypeKind::Int32);
        else if constexpr (std::is_same_v<V, UInt64>)
          return numeric(TypeKind::UInt64);
        else if constexpr (std::is_same_v<V, double>) {
          if (to == TypeKind::Double) return kExact;
          return isIntegerKind(to) ? std::optional<int>(kTruncation) : std::nullopt;
        } else if constexpr (std::is_same_v<V, bool>)
          return to == TypeKind::Boolean ? std::optional<int>(kExact) : std::nullopt;
        else if constexpr (std::is_same_v<V, String>) {
          if (to != TypeKind::String) return std::nullopt;
          StringRecord* record = v.isNil() ? nullptr : core().strings.find(v.get());
          return v.isNil() || (record && record->alive) ? std::optional<int>(kExact) : std::nullopt;
        } else if constexpr (std::is_same_v<V, Object>)
          return objectRank(v.get(), type);
        else if constexpr (std::is_same_v<V, Ptr>)
          return to == TypeKind::Ptr ? std::optional<int>(kExact) : std::nullopt;
        else if constexpr (std::is_same_v<V, Nil>)
          return objectRank(nullptr, type);
        else
          return std::nullopt;  // no value
      },
      value);
}

Slot argumentSlot(const Value& value, const XType& type) {
  Slot slot{};
  auto setNumber = [&](auto number) {
    switch (type.kind) {
      case TypeKind::Int32:
        slot.int32 = static_cast<int32_t>(number);
        break;
      case TypeKind::UInt64:
        slot.uint64 = static_cast<uint64_t>(number);
        break;
      case TypeKind::Double:
        slot.real = static_cast<double>(number);
        break;
      default:
        slot.integer = static_cast<int64_t>(number);
        break;
    }
  };
  std::visit(
      [&](const auto& v) {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, int64_t> || std::is_same_v<V, double>)
          setNumber(v);
        else if constexpr (std::is_same_v<V, Int32> || std::is_same_v<V, Int64> || std::is_same_v<V, UInt64>)
          setNumber(v.value);
        else if constexpr (std::is_same_v<V, bool>)
          slot.boolean = v ? 1 : 0;
        else if constexpr (std::is_same_v<V, String> || std::is_same_v<V, Object>)
          slot.pointer = v.get();
        else if constexpr (std::is_same_v<V, Ptr>)
          slot.pointer = v.value;
        else
          slot.pointer = nullptr;
      },
      value);
  if (type.kind == TypeKind::Ptr) {
    int64_t size = 0;
    if (const Object* block = std::get_if<Object>(&value); block && !block->isNil())
      memoryBlockContents(block->get(), "MemoryBlock as Ptr", &slot.pointer, &size);
  }
  return slot;
}

Value resultValue(const XType& type, const Slot& slot, const std::string& context) {
  switch (type.kind) {
    case TypeKind::Void:
      return std::monostate{};
    case TypeKind::Integer:
      return slot.integer;
    case TypeKind::Int64:
      return Int64{slot.integer};
    case TypeKind::Int32:
      return Int32{static_cast<int32_t>(slot.widened)};
    case TypeKind::UInt64:
      return UInt64{slot.uint64};
    case TypeKind::Double:
      return slot.real;
    case TypeKind::Boolean:
      return static_cast<int8_t>(slot.widened) != 0;
    case TypeKind::Ptr:
      return Ptr{slot.pointer};
    case TypeKind::String: {
      if (!slot.pointer || !core().strings.live(slot.pointer, context + " result")) return String();
      return String::adopt(static_cast<REALstringStruct*>(slot.pointer));
    }
    case TypeKind::Object: {
      if (!slot.pointer) return Object();
      ObjectRecord* object = core().objects.live(slot.pointer, context + " result");
      if (!object) return Object();
      if (type.objectClass && !object->cls->isA(*type.objectClass))
        reportProblem(context + ": returned a " + object->cls->name + " where " + type.text + " is declared");
      return Object::adopt(static_cast<REALobjectStruct*>(slot.pointer));
    }
  }
  return std::monostate{};
}

Value argumentValue(const XType& type, const void* word) {
  Slot slot{};
  std::memcpy(&slot, word, type.kind == TypeKind::Boolean ? 1 : type.kind == TypeKind::Int32 ? 4 : 8);
  switch (type.kind) {
    case TypeKind::Int32:
      return Int32{slot.int32};
    case TypeKind::Boolean:
      return slot.boolean != 0;
    case TypeKind::String:
      if (!slot.pointer || !core().strings.live(slot.pointer, "event argument")) return String();
      return String::adopt(static_cast<REALstringStruct*>(slot.pointer));
    case TypeKind::Object:
      if (!slot.pointer || !core().objects.live(slot.pointer, "event argument")) return Object();
      return Object::adopt(static_cast<REALobjectStruct*>(slot.pointer));
    default:
      return resultValue(type, slot, "event argument");
  }
}

void forgetBorrowed(Value& value) {
  if (auto* string = std::get_if<String>(&value)) string->release();
  if (auto* object = std::get_if<Object>(&value)) object->release();
}

void callFunction(const PreparedCall& call, REALproc function, std::vector<Slot>& args, Slot& result) {
  std::vector<void*> words;
  for (Slot& slot : args) words.push_back(&slot);
  ffi_call(const_cast<ffi_cif*>(&call.cif), FFI_FN(function), &result, words.data());
}

std::string typeNameOf(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, int64_t>)
          return "Integer";
        else if constexpr (std::is_same_v<V, Int32>)
          return "Int32";
        else if constexpr (std::is_same_v<V, Int64>)
          return "Int64";
        else if constexpr (std::is_same_v<V, UInt64>)
          return "UInt64";
        else if constexpr (std::is_same_v<V, double>)
          return "Double";
        else if constexpr (std::is_same_v<V, bool>)
          return "Boolean";
        else if constexpr (std::is_same_v<V, String>)
          return "String";
        else if constexpr (std::is_same_v<V, Object>) {
          if (v.isNil()) return "Nil";
          ObjectRecord* object = core().objects.find(v.get());
          if (!object) return "unknown object";
          return object->life == ObjectRecord::Life::Dead ? "dead " + object->cls->name : object->cls->name;
        } else if constexpr (std::is_same_v<V, Ptr>)
          return "Ptr";
        else if constexpr (std::is_same_v<V, Nil>)
          return "Nil";
        else
          return "no value";
      },
      value);
}

}  // namespace xhost::detail
