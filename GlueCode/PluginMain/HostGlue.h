// The host services as ordinary functions, declared from HostWrappers.def and
// HostFamilies.def. Each wrapper finds its host entry through the resolver on
// first use, keeps it and forwards to it; a missing entry makes it return
// zero (or the value its line names) and is asked for again on the next call.
#pragma once

#include "REALplugin.h"

#define REAL_EXPORT __attribute__((visibility("default")))

// The shapes of the family members; `name` is the member's or the overload's.
#define HOST_GETTER_SHAPE(name, type) \
  bool name(REALobjectStruct* object, const char* propertyName, type* outValue) noexcept
#define HOST_SETTER_SHAPE(name, type) bool name(REALobjectStruct* object, const char* propertyName, type value) noexcept
#define HOST_ARRAY_PUT_SHAPE(name, type) void name(REALarrayStruct* array, int64_t index, type value) noexcept
#define HOST_ARRAY_GET_SHAPE(name, type) void name(REALarrayStruct* array, int64_t index, type* outValue) noexcept
#define HOST_VARIANT_SHAPE(name, type) REALobjectStruct* name(type value) noexcept

extern "C" {
REAL_EXPORT void REALPluginMain(REALResolver resolver) noexcept;
REAL_EXPORT void* HCallResolver(const char* entryName) noexcept;

#define HOST_WRAPPER(name, entry, result, params, args, missing) REAL_EXPORT result name params noexcept;
#define HOST_PROCEDURE(name, entry, params, args) REAL_EXPORT void name params noexcept;
#define HOST_WRAPPER_BOOL(name, entry, params, args) REAL_EXPORT bool name params noexcept;
#define HOST_WRAPPER_BYTE(name, entry, params, args) REAL_EXPORT RBBoolean name params noexcept;
#define HOST_GRAPHICS(name, entry, threshold, result, params, args) REAL_EXPORT result name params noexcept;
#define HOST_CUSTOM(result, name, params) REAL_EXPORT result name params noexcept;
#include "HostWrappers.def"

#define HOST_PROPERTY(T, type, getterEntry, setterEntry)    \
  REAL_EXPORT HOST_GETTER_SHAPE(REALGetPropValue##T, type); \
  REAL_EXPORT HOST_SETTER_SHAPE(REALSetPropValue##T, type);
#define HOST_ARRAY(T, type)                                        \
  REAL_EXPORT HOST_ARRAY_PUT_SHAPE(REALInsertArrayValue##T, type); \
  REAL_EXPORT HOST_ARRAY_GET_SHAPE(REALGetArrayValue##T, type);    \
  REAL_EXPORT HOST_ARRAY_PUT_SHAPE(REALSetArrayValue##T, type);
#define HOST_VARIANT(T, type) REAL_EXPORT HOST_VARIANT_SHAPE(REALNewVariant##T, type);
#include "HostFamilies.def"
}

// C++ overloads of the interface, each calling the member that holds its cache.
#define HOST_GET_PROPERTY_OVERLOAD(T, type) REAL_EXPORT HOST_GETTER_SHAPE(REALGetPropValue, type);
#define HOST_SET_PROPERTY_OVERLOAD(T, type) REAL_EXPORT HOST_SETTER_SHAPE(REALSetPropValue, type);
#define HOST_INSERT_ARRAY_OVERLOAD(T, type) REAL_EXPORT HOST_ARRAY_PUT_SHAPE(REALInsertArrayValue, type);
#define HOST_GET_ARRAY_OVERLOAD(T, type) REAL_EXPORT HOST_ARRAY_GET_SHAPE(REALGetArrayValue, type);
#define HOST_SET_ARRAY_OVERLOAD(T, type) REAL_EXPORT HOST_ARRAY_PUT_SHAPE(REALSetArrayValue, type);
#define HOST_OVERLOAD(name, member, result, params, args) REAL_EXPORT result name params noexcept;
#include "HostFamilies.def"

// REALGetClassData for the plugin's own code: the data block of the class of
// `record` inside `instance`, at the offset the host wrote into the record when
// it registered it. Inline: nearly every member reads a block.
inline void* ClassDataOf(REALobjectStruct* instance, const REALclassDefinition& record) noexcept {
  return reinterpret_cast<char*>(instance) + record.forSystemUse;
}

// The plugin's registration, which REALPluginMain calls once the host's
// services can be resolved: it resets the process-wide state and registers
// every record with the host. Defined by the plugin (Sources/Plugin).
void PluginEntry();
