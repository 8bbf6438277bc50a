// The search for a library file from the newest version down, opening it and filling the entry-point table
// from it, and the Python home of a library file chosen by path.

#include "PythonLibrary/PythonLoader.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "HostGlue.h"
#include "HostHandles.h"
#include "PythonLibrary/PythonFallbacks.h"
#include "PythonLibrary/SharedObjectFile.h"

bool gPythonFound = false;
bool gPythonEntryPointsLoaded = false;
ObjectField gPythonPath;
void* PythonDLLHandle = nullptr;
wchar_t* gPythonHome = nullptr;

const char* const LoadTryOrder[kLoadTryOrderCount] = {
    "libpython3.14.so", "libpython3.14m.so.1.0", "libpython3.13.so", "libpython3.13m.so.1.0",
    "libpython3.12.so", "libpython3.12m.so.1.0", "libpython3.11.so", "libpython3.11m.so.1.0",
    "libpython3.10.so", "libpython3.10m.so.1.0", "libpython3.9.so",  "libpython3.9m.so.1.0",
    "libpython3.8.so",  "libpython3.8m.so.1.0",  "libpython3.7.so",  "libpython3.7m.so.1.0",
    "libpython3.6.so",  "libpython3.6m.so.1.0",  "libpython3.5.so",  "libpython3.5m.so.1.0",
    "libpython3.4.so",  "libpython3.4m.so.1.0",
};

// Kept as applications have always seen it, typos included.
const char kLoadTryOrderExhaustedMessage[] =
    "Could not load libpython3.4m.so, libpython3.5m.so, libpython3.6m.so, libpython3.7m.so, libpython3.8m.so, "
    "libpython3.9m.so, libpython3.10m.som, libpython3.11m.som, libpython3.12m.som  or libpython3.13m.so";

namespace {

constexpr int kNewestMinor = 14;
constexpr int kOldestMinor = 4;
static_assert(kLoadTryOrderCount == 2 * (kNewestMinor - kOldestMinor + 1), "two rows per minor version");

// ---------------------------------------------------------------------------
// The symbol loader for FillPythonEntries.

void* LoadFromLibrary(void* library, const char* symbol) {
  dlerror();
  void* address = dlsym(library, symbol);
  return dlerror() ? nullptr : address;
}

void ClearFirstUseEntries() {
  ClearPythonEntries(PythonLookup::OnFirstListUse);
  ClearPythonEntries(PythonLookup::OnFirstDictionaryUse);
}

// After a failed check the library is closed, and every entry resolved so far
// would point into it. A home made by that library's Py_DecodeLocale goes back
// to that library's allocator first; one the plugin converted itself is its own.
void CloseFailedLibrary(void* library) {
  FreeDecodedPath(library, gPythonHome);
  gPythonHome = nullptr;
  dlclose(library);
  ClearPythonEntries(PythonLookup::WhenPathChosen);
  ClearPythonEntries(PythonLookup::AtLoad);
  ClearFirstUseEntries();
}

ScopedObject ParentOf(REALobjectStruct* item) {
  REALobjectStruct* parent = nullptr;
  if (!REALGetPropValueObject(item, "Parent", &parent)) return ScopedObject();
  return ScopedObject::Adopt(parent);
}

std::optional<std::string> NativePathOf(REALobjectStruct* item) {
  ScopedString path;
  if (!REALGetPropValueString(item, "NativePath", path.Out())) return std::nullopt;
  HostStringBytes utf8(path.Get(), HostStringBytes::kUtf8);
  if (!utf8.Available()) return std::nullopt;
  return utf8.Text();
}

// The host compares names as the file system of its platform would.
bool IsNamedLib(REALobjectStruct* folder) {
  ScopedString name;
  if (!REALGetPropValueString(folder, "Name", name.Out())) return false;
  ScopedString lib = ScopedString::Adopt(REALBuildStringWithEncoding("lib", 3, kREALTextEncodingASCII));
  return REALCompareStrings(name.Get(), lib.Get()) == 0;
}

// ---------------------------------------------------------------------------
// The Python home of a chosen library file.

// The minor version of the library; Py_GetVersion may be called before the
// interpreter starts. -1 when the library does not tell.
int MinorVersionOf(void* library) {
  auto getVersion = reinterpret_cast<const char* (*)()>(LoadFromLibrary(library, "Py_GetVersion"));
  if (!getVersion) return -1;
  int major = 0;
  int minor = 0;
  if (std::sscanf(getVersion(), "%d.%d", &major, &minor) != 2 || major != 3) return -1;
  return minor;
}

bool HoldsStandardLibrary(const std::string& folder, int minor) {
  std::string osModule = folder;
  if (osModule.empty() || osModule.back() != '/') osModule += '/';
  osModule += "lib/python3." + std::to_string(minor) + "/os.py";
  struct stat info {};
  return stat(osModule.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The folder that holds the library (the folder above it when that folder is
// named lib), provided Python finds its standard library there. Debian keeps
// the library in <prefix>/lib/<multiarch>, where the home is <prefix>. With no
// such folder no home is set, and Python falls back on its built-in prefix,
// which serves better than a home without a standard library.
std::optional<std::string> PythonHomeFor(void* library, REALobjectStruct* libraryFile) {
  ScopedObject folder = ParentOf(libraryFile);
  if (!folder.Get()) return std::nullopt;
  if (IsNamedLib(folder.Get())) folder = ParentOf(folder.Get());
  if (!folder.Get()) return std::nullopt;
  std::optional<std::string> home = NativePathOf(folder.Get());
  const int minor = MinorVersionOf(library);
  if (!home || minor < 0 || HoldsStandardLibrary(*home, minor)) return home;

  ScopedObject above = ParentOf(folder.Get());
  if (!above.Get() || !IsNamedLib(above.Get())) return std::nullopt;
  ScopedObject prefix = ParentOf(above.Get());
  if (!prefix.Get()) return std::nullopt;
  std::optional<std::string> prefixPath = NativePathOf(prefix.Get());
  if (prefixPath && HoldsStandardLibrary(*prefixPath, minor)) return prefixPath;
  return std::nullopt;
}

void SetPythonHome(void* library, REALobjectStruct* libraryFile) {
  FillPythonEntries(PythonLookup::WhenPathChosen, LoadFromLibrary, library);
  if (!EPy_SetPythonHome) return;
  std::optional<std::string> home = PythonHomeFor(library, libraryFile);
  if (!home) return;
  wchar_t* decoded = DecodePathForLibrary(*home);
  if (!decoded) return;
  gPythonHome = decoded;  // the library keeps the pointer: never freed
  EPy_SetPythonHome(gPythonHome);
}

// ---------------------------------------------------------------------------
// Opening the library.

// Builds whose object header or reference counting differ from what the
// plugin changes directly when it takes or drops a reference; each is known
// by a symbol that only such builds export.
struct UnsupportedBuild {
  const char* marker;
  const char* reason;
};
constexpr UnsupportedBuild kUnsupportedBuilds[] = {
    {"_Py_DecRefShared", "a free-threaded Python build, whose object header differs from the one this plugin uses"},
    {"_Py_ForgetReference",
     "a Python build with reference tracing (Py_TRACE_REFS), whose reference counting must go through the library"},
};

bool RefuseUnsupportedBuild(void* library, const char* name) {
  for (const UnsupportedBuild& build : kUnsupportedBuilds) {
    if (!LoadFromLibrary(library, build.marker)) continue;
    std::puts((std::string("Refused ") + name + ": " + build.reason).c_str());
    dlclose(library);
    return true;
  }
  return false;
}

void* OpenLibrary(const char* name) {
  void* library = dlopen(name, RTLD_LAZY | RTLD_GLOBAL);
  if (library && RefuseUnsupportedBuild(library, name)) return nullptr;
  return library;
}

// A chosen file that is no complete shared object for this machine counts as
// one that does not open.
void* OpenChosenLibrary(REALobjectStruct* file) {
  std::optional<std::string> path = NativePathOf(file);
  if (!path || path->empty() || !IsCompleteSharedObject(path->c_str())) return nullptr;
  return OpenLibrary(path->c_str());
}

// The runtime package of most Linux distributions installs only the soname
// (libpython3.X.so.1.0); the plain name is a development symlink.
void* OpenSoname(int minor) { return OpenLibrary(("libpython3." + std::to_string(minor) + ".so.1.0").c_str()); }

void* OpenRowsOf(int minor) {
  const size_t firstRow = 2 * static_cast<size_t>(kNewestMinor - minor);
  void* library = OpenLibrary(LoadTryOrder[firstRow]);
  return library ? library : OpenLibrary(LoadTryOrder[firstRow + 1]);
}

void* SearchLibrary(int64_t preferredVersion) {
  const bool hasPreference = preferredVersion >= 1 && preferredVersion <= kNewestMinor - 3;
  const int preferredMinor = hasPreference ? static_cast<int>(preferredVersion) + 3 : 0;
  if (hasPreference) {
    if (void* library = OpenRowsOf(preferredMinor)) return library;
    if (void* library = OpenSoname(preferredMinor)) return library;
  }
  for (const char* name : LoadTryOrder) {
    if (void* library = OpenLibrary(name)) return library;
  }
  for (int minor = kNewestMinor; minor >= kOldestMinor; --minor) {
    if (minor == preferredMinor) continue;
    if (void* library = OpenSoname(minor)) return library;
  }
  std::puts(kLoadTryOrderExhaustedMessage);
  return nullptr;
}

// The end of every load: the entries looked up at load are filled from the
// opened library, which then is the loaded one, or it is closed again when
// one the load needs is missing (the message written).
bool AdoptLibrary(void* library) {
  if (const char* message = FillPythonEntries(PythonLookup::AtLoad, LoadFromLibrary, library)) {
    std::puts(message);
    CloseFailedLibrary(library);
    return false;
  }
  gPythonFound = true;
  PythonDLLHandle = library;
  gPythonEntryPointsLoaded = true;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

void LoadPythonEntryPoints(int64_t preferredVersion) noexcept {
  PythonDLLHandle = nullptr;
  ClearFirstUseEntries();
  void* library = gPythonPath ? OpenChosenLibrary(gPythonPath.Get()) : SearchLibrary(preferredVersion);
  if (!library) return;
  gPythonFound = true;
  if (gPythonPath) SetPythonHome(library, gPythonPath.Get());
  AdoptLibrary(library);
}

bool LoadPythonLibraryFile(const std::string& path, int minor) noexcept {
  if (gPythonEntryPointsLoaded || !IsCompleteSharedObject(path.c_str())) return false;
  void* library = OpenLibrary(path.c_str());
  if (!library) return false;
  if (MinorVersionOf(library) != minor) {
    dlclose(library);
    return false;
  }
  PythonDLLHandle = nullptr;
  ClearFirstUseEntries();
  FillPythonEntries(PythonLookup::WhenPathChosen, LoadFromLibrary, library);
  return AdoptLibrary(library);
}

std::string LoadedLibraryPath() {
  link_map* map = nullptr;
  if (!PythonDLLHandle || dlinfo(PythonDLLHandle, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

std::string LoadedLibraryVersion() {
  if (!gPythonEntryPointsLoaded || !EPy_GetVersion) return {};
  const std::string version = EPy_GetVersion();
  return version.substr(0, version.find(' '));
}

int LoadedLibraryMinorVersion() noexcept {
  return gPythonEntryPointsLoaded && PythonDLLHandle ? MinorVersionOf(PythonDLLHandle) : -1;
}

bool EnsurePythonLoaded() noexcept {
  if (!gPythonEntryPointsLoaded) LoadPythonEntryPoints(0);
  return gPythonEntryPointsLoaded;
}

bool LookUpOnFirstUse(PythonEntryId id) noexcept {
  const PythonEntryDescription& entry = kPythonEntries[static_cast<size_t>(id)];
  if (!entry.read()) {
    // dlsym with a null handle would search the whole process.
    if (!gPythonEntryPointsLoaded || !PythonDLLHandle) return false;
    entry.store(LoadFromLibrary(PythonDLLHandle, entry.symbol));
  }
  return entry.read() != nullptr;
}

void ResetPythonLoaderState() noexcept {
  gPythonFound = false;
  gPythonEntryPointsLoaded = false;
  gPythonPath.HandOver();  // a lock of an earlier start of the plugin is not this one's to give back
}
