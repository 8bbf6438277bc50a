// Host call glue: the plugin's entry, the resolver pass-through and one
// wrapper per host service. A wrapper resolves its entry by name on first use,
// keeps it, and forwards to it; a missing entry is asked for again next time.
#include "HostGlue.h"

#include "PythonEngine/PluginEntry.h"

namespace {

REALResolver gResolver = nullptr;

// One cached host entry. Null until the resolver has answered with a function.
struct HostEntry {
  const char* name;
  void* function;

  template <typename Fn>
  Fn resolve() noexcept {
    if (!function && gResolver) function = gResolver(name);
    return reinterpret_cast<Fn>(function);
  }
};

template <typename T>
T zeroOf() noexcept {
  return T{};
}
template <>
void zeroOf<void>() noexcept {}

#define HOST_CACHE(cache, entry) HostEntry cache{entry, nullptr};
#include "HostWrappers.def"

}  // namespace

extern "C" {

void REALPluginMain(REALResolver resolver) {
  gResolver = resolver;
  auto registerPluginVersion = pRegisterPluginVersion.resolve<void (*)(int)>();
  // A host that cannot take our interface version cannot take our records either.
  if (!registerPluginVersion) return;
  registerPluginVersion(static_cast<int>(kPluginInterfaceVersion));
  PluginEntry();
}

void* HCallResolver(const char* entryName) { return gResolver ? gResolver(entryName) : nullptr; }

#define HOST_WRAPPER(wrapper, cache, result, params, args) \
  result wrapper params {                                  \
    auto host = cache.resolve<result(*) params>();         \
    if (!host) return zeroOf<result>();                    \
    return host args;                                      \
  }
#define HOST_WRAPPER_BOOL(wrapper, cache, params, args) \
  bool wrapper params {                                 \
    auto host = cache.resolve<RBBoolean(*) params>();   \
    return host && host args != 0;                      \
  }
#include "HostWrappers.def"

bool REALGetPropValueBoolean(REALobjectStruct* object, const char* name, bool* outValue) {
  auto host = pGetPropValueBoolean.resolve<RBBoolean (*)(REALobjectStruct*, const char*, RBBoolean*)>();
  if (!host) return false;
  // The host writes a byte of its own; it is handed on whatever the host returned.
  RBBoolean value = 0;
  bool read = host(object, name, &value) != 0;
  if (outValue) *outValue = value != 0;
  return read;
}

void* REALGetClassData(REALobjectStruct* instance, REALclassDefinition* record) {
  return reinterpret_cast<char*>(instance) + record->forSystemUse;
}

REALobjectStruct* REALnewInstanceWithClass(REALclassRefStruct* classRef) {
  auto host = pNewInstance.resolve<REALobjectStruct* (*)(REALclassRefStruct*)>();
  if (!host || !classRef) return nullptr;
  return host(classRef);
}

REALproc REALGetEventInstance(REALobjectStruct* object, REALevent* event) {
  auto host = pGetEventInstance.resolve<REALproc (*)(REALobjectStruct*, uintptr_t)>();
  if (!host) return nullptr;
  return host(object, event->hostIdentifier);
}

REALproc REALLoadGlobalMethod(const char* /*module*/, const char* declaration) {
  auto host = pLoadGlobalMethod.resolve<REALproc (*)(const char*, const char*)>();
  return host ? host(nullptr, declaration) : nullptr;
}

REALproc REALLoadFrameworkMethod(const char* declaration) { return REALLoadGlobalMethod(nullptr, declaration); }

}  // extern "C"

namespace {

using LenBFn = int64_t (*)(REALstringStruct*);
const char kLenBDeclaration[] = "LenB( s as string ) as integer";

// The host's LenB, looked up through the framework-method entry; stays null
// (and is asked for again) while either lookup fails.
LenBFn lookUpLenB(LenBFn& cache) noexcept {
  if (!cache) cache = reinterpret_cast<LenBFn>(REALLoadGlobalMethod(nullptr, kLenBDeclaration));
  return cache;
}

}  // namespace

extern "C" {

const char* REALGetStringContents(REALstringStruct* string, size_t* outLength) {
  static LenBFn pLenB = nullptr;
  if (!string) {
    if (outLength) *outLength = 0;
    return nullptr;
  }
  auto cString = pCString.resolve<const char* (*)(REALstringStruct*)>();
  LenBFn lenB = lookUpLenB(pLenB);
  if (outLength) *outLength = lenB ? static_cast<size_t>(lenB(string)) : 0;
  return cString ? cString(string) : nullptr;
}

int64_t REALStringLength(REALstringStruct* string) {
  static LenBFn pLenB = nullptr;
  LenBFn lenB = lookUpLenB(pLenB);
  return lenB ? lenB(string) : 0;
}

void REALInsertArrayValueObject(REALarrayStruct* array, int64_t index, REALobjectStruct* value) {
  using InsertFn = void (*)(REALarrayStruct*, int64_t, REALobjectStruct*);
  auto procFor = pObjectArrayInsertProc.resolve<InsertFn (*)(REALarrayStruct*)>();
  if (!procFor) return;
  // The procedure depends on the array, so it is fetched on every call.
  InsertFn insert = procFor(array);
  if (insert) insert(array, index, value);
}

void REALGetArrayValueObject(REALarrayStruct* array, int64_t index, REALobjectStruct** outValue) {
  using GetFn = REALobjectStruct* (*)(REALarrayStruct*, int64_t);
  auto procFor = pObjectArrayGetProc.resolve<GetFn (*)(REALarrayStruct*)>();
  if (!procFor) return;
  GetFn get = procFor(array);
  if (!get || !outValue) return;
  *outValue = get(array, index);
}

void SetClassConsoleSafe(REALclassDefinition* record) { record->mFlags |= REALconsoleSafe; }

void SetClassWebOnly(REALclassDefinition* record) {
  record->mFlags = (record->mFlags & ~REALwebOnlyClearMask) | REALwebOnly;
}

}  // extern "C"

REALstringStruct* REALBuildString(const char* bytes, int length, unsigned int encoding) {
  return REALBuildStringWithEncoding(bytes, length, encoding);
}

REALobjectStruct* REALnewInstance(REALclassRefStruct* classRef) { return REALnewInstanceWithClass(classRef); }
