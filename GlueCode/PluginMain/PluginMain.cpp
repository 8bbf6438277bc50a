// Host call glue: the plugin's entry, the resolver pass-through and the
// members of HostWrappers.def written by hand (HOST_CUSTOM), which compute
// without the host or combine several entries.
#include <cstring>

#include "HostCache.h"
#include "HostGlue.h"

REALResolver gResolver = nullptr;

namespace {

#define HOST_CACHE(cache, entry) HostCache cache{entry};
#include "HostWrappers.def"

// The data block of a class inside `instance`: at the offset the host wrote
// into the description record's word at `hostWord` when it registered it.
void* DataBlock(REALobjectStruct* instance, const void* record, size_t hostWord) noexcept {
  uintptr_t offset;
  std::memcpy(&offset, static_cast<const char*>(record) + hostWord, sizeof offset);
  return reinterpret_cast<char*>(instance) + offset;
}

using LenBFn = int64_t (*)(REALstringStruct*);
const char kLenBDeclaration[] = "LenB( s as string ) as integer";

// The host's LenB, looked up through the framework-method entry; stays null
// (and is asked for again) while either lookup fails.
LenBFn LookUpLenB(LenBFn& cache) noexcept {
  if (!cache) cache = reinterpret_cast<LenBFn>(REALLoadGlobalMethod(nullptr, kLenBDeclaration));
  return cache;
}

// Class-property introspection goes through a second resolver, the host's
// script resolver. Each wrapper asks for it once, in the initialiser of a
// function-local static, which C++ runs exactly once even when first calls race.
REALResolver AskForScriptResolver() noexcept {
  return gResolver ? reinterpret_cast<REALResolver>(gResolver("GetRBScriptResolver")) : nullptr;
}

// `member` applied to the class of `object`, both entries found through the
// script resolver; the zero of the result whenever a step finds nothing.
template <typename HostResult, typename... Args>
HostResult OnClassOf(REALResolver scriptResolver, HostCache& member, HostCache& classOf, REALobjectStruct* object,
                     Args... args) noexcept {
  if (!scriptResolver) return HostResult{};
  auto memberFunction = member.ResolveThrough<HostResult (*)(REALclassRefStruct*, Args...)>(scriptResolver);
  auto classOfFunction = classOf.ResolveThrough<REALclassRefStruct* (*)(REALobjectStruct*)>(scriptResolver);
  if (!memberFunction || !classOfFunction) return HostResult{};
  REALclassRefStruct* classRef = classOfFunction(object);
  return classRef ? memberFunction(classRef, args...) : HostResult{};
}

}  // namespace

extern "C" {

void REALPluginMain(REALResolver resolver) noexcept {
  gResolver = resolver;
  auto registerPluginVersion = pRegisterPluginVersion.Resolve<void (*)(int)>();
  // A host that cannot take our interface version cannot take our records either.
  if (!registerPluginVersion) return;
  registerPluginVersion(static_cast<int>(kPluginInterfaceVersion));
  PluginEntry();
}

void* HCallResolver(const char* entryName) noexcept { return gResolver ? gResolver(entryName) : nullptr; }

void* REALGetClassData(REALobjectStruct* instance, REALclassDefinition* record) noexcept {
  return DataBlock(instance, record, offsetof(REALclassDefinition, forSystemUse));
}

void* REALGetControlData(REALobjectStruct* instance, REALcontrol* record) noexcept {
  return DataBlock(instance, record, kControlRecordHostOffset);
}

void* REALGetMobileControlData(REALobjectStruct* instance, REALmobileControl* record) noexcept {
  return DataBlock(instance, record, kControlRecordHostOffset);
}

REALobjectStruct* REALnewInstanceWithClass(REALclassRefStruct* classRef) noexcept {
  auto host = pNewInstance.Resolve<REALobjectStruct* (*)(REALclassRefStruct*)>();
  if (!host || !classRef) return nullptr;
  return host(classRef);
}

REALproc REALGetEventInstance(REALobjectStruct* object, REALevent* event) noexcept {
  auto host = pGetEventInstance.Resolve<REALproc (*)(REALobjectStruct*, uintptr_t)>();
  if (!host) return nullptr;
  return host(object, event->hostIdentifier);
}

REALproc REALLoadGlobalMethod(const char* /*module*/, const char* declaration) noexcept {
  auto host = pLoadGlobalMethod.Resolve<REALproc (*)(const char*, const char*)>();
  return host ? host(nullptr, declaration) : nullptr;
}

REALproc REALLoadFrameworkMethod(const char* declaration) noexcept {
  return REALLoadGlobalMethod(nullptr, declaration);
}

const char* REALGetStringContents(REALstringStruct* string, size_t* outLength) noexcept {
  static LenBFn pLenB = nullptr;
  if (!string) {
    if (outLength) *outLength = 0;
    return nullptr;
  }
  auto cString = pCString.Resolve<const char* (*)(REALstringStruct*)>();
  LenBFn lenB = LookUpLenB(pLenB);
  if (outLength) *outLength = lenB ? static_cast<size_t>(lenB(string)) : 0;
  return cString ? cString(string) : nullptr;
}

int64_t REALStringLength(REALstringStruct* string) noexcept {
  static LenBFn pLenB = nullptr;
  LenBFn lenB = LookUpLenB(pLenB);
  return lenB ? lenB(string) : 0;
}

int64_t REALCountClassProperties(REALobjectStruct* object) noexcept {
  static const REALResolver pRBScriptResolver = AskForScriptResolver();
  static HostCache pCountClassProperties{"REALCountClassProperties"}, pClassOf{"RuntimeClassOf"};
  return OnClassOf<int64_t>(pRBScriptResolver, pCountClassProperties, pClassOf, object);
}

bool REALGetClassProperty(REALobjectStruct* object, int64_t index, void* out1, void* out2, void* out3,
                          void* out4) noexcept {
  static const REALResolver pRBScriptResolver = AskForScriptResolver();
  static HostCache pGetClassProperty{"REALGetClassProperty"}, pClassOf{"RuntimeClassOf"};
  return OnClassOf<RBBoolean>(pRBScriptResolver, pGetClassProperty, pClassOf, object, index, out1, out2, out3, out4) !=
         0;
}

void SetClassConsoleSafe(REALclassDefinition* record) noexcept { record->mFlags |= REALconsoleSafe; }

void SetClassWebOnly(REALclassDefinition* record) noexcept {
  record->mFlags = (record->mFlags & ~REALwebOnlyClearMask) | REALwebOnly;
}

}  // extern "C"
