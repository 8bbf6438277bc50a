// The host services as ordinary functions. Each wrapper finds its host entry
// through the resolver on first use, keeps it and forwards to it; a missing
// entry makes it return zero (see HostWrappers.def).
#pragma once

#include "REALplugin.h"

#define REAL_EXPORT __attribute__((visibility("default")))

extern "C" {
REAL_EXPORT void REALPluginMain(REALResolver resolver);
REAL_EXPORT void* HCallResolver(const char* entryName);

#define HOST_WRAPPER(name, cache, result, params, args) REAL_EXPORT result name params;
#define HOST_WRAPPER_BOOL(name, cache, params, args) REAL_EXPORT bool name params;
#include "HostWrappers.def"

// Members that combine host entries or compute without the host.
REAL_EXPORT bool REALGetPropValueBoolean(REALobjectStruct* object, const char* name, bool* outValue);
REAL_EXPORT void* REALGetClassData(REALobjectStruct* instance, REALclassDefinition* record);
REAL_EXPORT REALobjectStruct* REALnewInstanceWithClass(REALclassRefStruct* classRef);
REAL_EXPORT REALproc REALGetEventInstance(REALobjectStruct* object, REALevent* event);
REAL_EXPORT const char* REALGetStringContents(REALstringStruct* string, size_t* outLength);
REAL_EXPORT int64_t REALStringLength(REALstringStruct* string);
REAL_EXPORT REALproc REALLoadFrameworkMethod(const char* declaration);
REAL_EXPORT REALproc REALLoadGlobalMethod(const char* module, const char* declaration);
REAL_EXPORT void REALInsertArrayValueObject(REALarrayStruct* array, int64_t index, REALobjectStruct* value);
REAL_EXPORT void REALGetArrayValueObject(REALarrayStruct* array, int64_t index, REALobjectStruct** outValue);
REAL_EXPORT void SetClassConsoleSafe(REALclassDefinition* record);
REAL_EXPORT void SetClassWebOnly(REALclassDefinition* record);
}

// Overloads of the C interface, sharing the caches of the named wrappers.
REAL_EXPORT REALstringStruct* REALBuildString(const char* bytes, int length, unsigned int encoding);
REAL_EXPORT REALobjectStruct* REALnewInstance(REALclassRefStruct* classRef);

// Clears the cached host methods; called once at plugin start.
void LoadEntryPoints();
