// The families of HostFamilies.def: property getters and setters, the
// two-step array element procedures and the variants, one template each,
// and the overloads that call them.
#include "HostCache.h"
#include "HostGlue.h"

namespace {

template <typename T>
bool getProperty(HostCache& entry, REALobjectStruct* object, const char* name, T* outValue) noexcept {
  using Form = HostForm<T>;
  auto host = entry.Resolve<RBBoolean (*)(REALobjectStruct*, const char*, typename Form::type*)>();
  if (!host) return false;
  if constexpr (std::is_same_v<typename Form::type, T>) {
    return host(object, name, outValue) != 0;
  } else {
    // The host writes a value of its own form, handed on whatever it returned.
    typename Form::type value{};
    bool read = host(object, name, &value) != 0;
    if (outValue) *outValue = Form::FromHost(value);
    return read;
  }
}

template <typename T>
bool setProperty(HostCache& entry, REALobjectStruct* object, const char* name, T value) noexcept {
  auto host = entry.Resolve<RBBoolean (*)(REALobjectStruct*, const char*, typename HostForm<T>::type)>();
  return host && host(object, name, HostForm<T>::ToHost(value)) != 0;
}

// The host's procedure for one operation on this array; it depends on the
// array, so it is asked for on every call and never kept.
template <typename Procedure>
Procedure ArrayProcedure(HostCache& entry, REALarrayStruct* array) noexcept {
  auto procedureFor = entry.Resolve<Procedure (*)(REALarrayStruct*)>();
  return procedureFor ? procedureFor(array) : nullptr;
}

// Insert and set.
template <typename T>
void putArrayValue(HostCache& entry, REALarrayStruct* array, int64_t index, T value) noexcept {
  using Procedure = void (*)(REALarrayStruct*, int64_t, typename HostForm<T>::type);
  if (Procedure procedure = ArrayProcedure<Procedure>(entry, array))
    procedure(array, index, HostForm<T>::ToHost(value));
}

template <typename T>
void getArrayValue(HostCache& entry, REALarrayStruct* array, int64_t index, T* outValue) noexcept {
  using Procedure = typename HostForm<T>::type (*)(REALarrayStruct*, int64_t);
  Procedure procedure = ArrayProcedure<Procedure>(entry, array);
  if (procedure && outValue) *outValue = HostForm<T>::FromHost(procedure(array, index));
}

template <typename T>
REALobjectStruct* newVariant(HostCache& entry, T value) noexcept {
  auto host = entry.Resolve<REALobjectStruct* (*)(typename HostForm<T>::type)>();
  return host ? host(HostForm<T>::ToHost(value)) : nullptr;
}

}  // namespace

extern "C" {

#define HOST_PROPERTY(T, type, getterEntry, setterEntry)          \
  HOST_GETTER_SHAPE(REALGetPropValue##T, type) {                  \
    static HostCache cache{getterEntry};                          \
    return getProperty(cache, object, propertyName, outValue);    \
  }                                                               \
  HOST_SETTER_SHAPE(REALSetPropValue##T, type) {                  \
    static HostCache cache{setterEntry};                          \
    return setProperty<type>(cache, object, propertyName, value); \
  }
#define HOST_ARRAY(T, type)                                \
  HOST_ARRAY_PUT_SHAPE(REALInsertArrayValue##T, type) {    \
    static HostCache cache{"Plugin" #T "ArrayInsertProc"}; \
    putArrayValue<type>(cache, array, index, value);       \
  }                                                        \
  HOST_ARRAY_GET_SHAPE(REALGetArrayValue##T, type) {       \
    static HostCache cache{"Plugin" #T "ArrayGetProc"};    \
    getArrayValue(cache, array, index, outValue);          \
  }                                                        \
  HOST_ARRAY_PUT_SHAPE(REALSetArrayValue##T, type) {       \
    static HostCache cache{"Plugin" #T "ArraySetProc"};    \
    putArrayValue<type>(cache, array, index, value);       \
  }
#define HOST_VARIANT(T, type)                   \
  HOST_VARIANT_SHAPE(REALNewVariant##T, type) { \
    static HostCache cache{#T "ToVariant"};     \
    return newVariant<type>(cache, value);      \
  }
#include "HostFamilies.def"

}  // extern "C"

#define HOST_GET_PROPERTY_OVERLOAD(T, type) \
  HOST_GETTER_SHAPE(REALGetPropValue, type) { return REALGetPropValue##T(object, propertyName, outValue); }
#define HOST_SET_PROPERTY_OVERLOAD(T, type) \
  HOST_SETTER_SHAPE(REALSetPropValue, type) { return REALSetPropValue##T(object, propertyName, value); }
#define HOST_INSERT_ARRAY_OVERLOAD(T, type) \
  HOST_ARRAY_PUT_SHAPE(REALInsertArrayValue, type) { REALInsertArrayValue##T(array, index, value); }
#define HOST_GET_ARRAY_OVERLOAD(T, type) \
  HOST_ARRAY_GET_SHAPE(REALGetArrayValue, type) { REALGetArrayValue##T(array, index, outValue); }
#define HOST_SET_ARRAY_OVERLOAD(T, type) \
  HOST_ARRAY_PUT_SHAPE(REALSetArrayValue, type) { REALSetArrayValue##T(array, index, value); }
#define HOST_OVERLOAD(name, member, result, params, args) \
  result name params noexcept { return member args; }
#include "HostFamilies.def"
