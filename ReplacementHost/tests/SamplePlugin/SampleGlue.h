// The sample plugin's way to the host: every service through the resolver it
// was started with, looked up at each use (the sample needs no caching).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "REALplugin.h"

namespace sample {

extern REALResolver gResolver;

template <typename Fn>
Fn hostEntry(const char* name) {
  void* entry = gResolver ? gResolver(name) : nullptr;
  if (!entry) {
    std::fprintf(stderr, "sample plugin: the host lacks %s\n", name);
    std::abort();
  }
  return reinterpret_cast<Fn>(entry);
}

inline void lockObject(REALobjectStruct* o) { hostEntry<void (*)(REALobjectStruct*)>("REALLockObject")(o); }
inline void unlockObject(REALobjectStruct* o) { hostEntry<void (*)(REALobjectStruct*)>("REALUnlockObject")(o); }
inline void lockString(REALstringStruct* s) { hostEntry<void (*)(REALstringStruct*)>("REALLockString")(s); }
inline void unlockString(REALstringStruct* s) { hostEntry<void (*)(REALstringStruct*)>("REALUnlockString")(s); }
inline REALobjectStruct* newInstance(REALclassDefinition* record) {
  return hostEntry<REALobjectStruct* (*)(REALclassDefinition*)>("PluginNewInstanceOfClass")(record);
}
inline REALstringStruct* buildString(const std::string& bytes, uint32_t encoding = kREALTextEncodingUTF8) {
  return hostEntry<REALstringStruct* (*)(const char*, int, uint32_t)>("REALBuildStringWithEncoding")(
      bytes.data(), static_cast<int>(bytes.size()), encoding);
}
// The string's stored bytes, as the host keeps them.
std::string bytesOf(REALstringStruct* s);

template <typename Data>
Data* dataOf(REALobjectStruct* instance, const REALclassDefinition& record) {
  return reinterpret_cast<Data*>(reinterpret_cast<char*>(instance) + record.forSystemUse);
}

void trace(const std::string& step);

// Registration of each group of classes, in the order REALPluginMain calls them.
void registerCoreClasses();
void registerCallClasses();
void registerHostUseClasses();

extern REALclassDefinition gBaseClass;
extern REALclassDefinition gErrorClass;

}  // namespace sample
