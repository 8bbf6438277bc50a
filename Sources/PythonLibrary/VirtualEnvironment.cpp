// Reading a virtual environment's pyvenv.cfg as strictly as Python will, finding its interpreter, version
// and base library, and choosing it once that library is the one loaded.

#include "PythonLibrary/VirtualEnvironment.h"

#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>
#include <exception>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "PythonLibrary/PythonLoader.h"

namespace {

std::optional<VirtualEnvironment> gChosen;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string Joined(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// Python reads pyvenv.cfg as it starts, and a file it cannot read ends the
// process there ("Fatal Python error"): 3.11 and later read no file of 32 KB
// or more, every version decodes it as strict UTF-8, and 3.11 fails on a
// home longer than a path can be. Such a file is refused before anything loads.
constexpr size_t kMaxConfigurationBytes = 32 * 1024;
constexpr size_t kMaxHomeBytes = PATH_MAX;

// Strict UTF-8 as Python decodes it: no overlong forms, no surrogates, nothing
// above U+10FFFF; a NUL byte is refused too, as no path can hold one.
bool IsStrictUtf8WithoutNul(const std::string& text) {
  const auto* at = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = at + text.size();
  while (at < end) {
    const unsigned char lead = *at++;
    if (lead == 0) return false;
    if (lead < 0x80) continue;
    int following = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      following = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      following = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      following = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (end - at < following || *at < low || *at > high) return false;
    for (++at, --following; following > 0; --following, ++at)
      if (*at < 0x80 || *at > 0xBF) return false;
  }
  return true;
}

// The whole file, or nothing when it cannot be read or Python could not read it.
std::optional<std::string> ReadableConfigurationText(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kMaxConfigurationBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) return std::nullopt;
  text.resize(static_cast<size_t>(in.gcount()));
  if (text.size() >= kMaxConfigurationBytes || !IsStrictUtf8WithoutNul(text)) return std::nullopt;
  return text;
}

// "key = value" lines, keys in any case, as Python's start-up and its site
// module read them; the first line of a key counts, as for Python's home.
std::map<std::string, std::string> ReadConfiguration(const std::string& text) {
  std::map<std::string, std::string> settings;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = Trimmed(line.substr(0, equals));
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    settings.emplace(key, Trimmed(line.substr(equals + 1)));
  }
  return settings;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsExecutableFile(const std::string& path) { return IsRegularFile(path) && access(path.c_str(), X_OK) == 0; }

int MinorOfVersion(const std::string& version) {
  int major = 0;
  int minor = -1;
  return std::sscanf(version.c_str(), "%d.%d", &major, &minor) == 2 && major == 3 && minor >= 0 ? minor : -1;
}

// The version of the environment's lib/python3.X folder, when it has exactly one.
int MinorOfLibraryFolder(const std::string& folder) {
  std::unique_ptr<DIR, int (*)(DIR*)> lib(opendir(Joined(folder, "lib").c_str()), closedir);
  if (!lib) return -1;
  int found = -1;
  while (const dirent* entry = readdir(lib.get())) {
    const int minor = std::string(entry->d_name).rfind("python3.", 0) == 0 ? MinorOfVersion(entry->d_name + 6) : -1;
    if (minor < 0) continue;
    if (found >= 0 && found != minor) return -1;
    found = minor;
  }
  return found;
}

// The base Python's library files under its prefix, the folder above `home`
// (its bin folder): <prefix>/lib, then a multiarch folder such as Debian's
// <prefix>/lib/x86_64-linux-gnu, then <prefix>/lib64.
std::vector<std::string> BaseLibrariesOf(const std::string& home, int minor) {
  const std::string prefix = ParentOf(WithoutTrailingSlashes(home));
  const std::string version = "3." + std::to_string(minor);
  std::vector<std::string> folders = {Joined(prefix, "lib")};
  glob_t multiarch{};
  if (glob((Joined(prefix, "lib") + "/*-linux-gnu*").c_str(), GLOB_ONLYDIR, nullptr, &multiarch) == 0)
    for (size_t i = 0; i < multiarch.gl_pathc; ++i) folders.push_back(multiarch.gl_pathv[i]);
  globfree(&multiarch);
  folders.push_back(Joined(prefix, "lib64"));
  std::vector<std::string> libraries;
  for (const std::string& folder : folders)
    for (const char* suffix : {".so", ".so.1.0", "m.so", "m.so.1.0"}) {
      const std::string file = folder + "/libpython" + version + suffix;
      if (IsRegularFile(file)) libraries.push_back(file);
    }
  return libraries;
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace

std::optional<VirtualEnvironment> ReadVirtualEnvironment(const std::string& folder) {
  VirtualEnvironment environment;
  environment.folder = WithoutTrailingSlashes(folder);
  if (environment.folder.empty()) return std::nullopt;
  const std::string configuration = Joined(environment.folder, "pyvenv.cfg");
  if (!IsRegularFile(configuration)) return std::nullopt;
  const std::optional<std::string> text = ReadableConfigurationText(configuration);
  if (!text) return std::nullopt;
  // Python looks beside its interpreter first: a file there must be readable too.
  const std::string besideInterpreter = Joined(Joined(environment.folder, "bin"), "pyvenv.cfg");
  if (IsRegularFile(besideInterpreter) && !ReadableConfigurationText(besideInterpreter)) return std::nullopt;
  std::map<std::string, std::string> settings = ReadConfiguration(*text);
  const std::string home = settings["home"];
  if (home.empty() || home.size() >= kMaxHomeBytes) return std::nullopt;
  for (const char* name : {"bin/python3", "bin/python"}) {
    const std::string candidate = Joined(environment.folder, name);
    if (IsExecutableFile(candidate)) {
      environment.interpreter = candidate;
      break;
    }
  }
  if (environment.interpreter.empty()) return std::nullopt;
  // "version" is written by venv, "version_info" by virtualenv.
  environment.minor = MinorOfVersion(settings["version"]);
  if (environment.minor < 0) environment.minor = MinorOfVersion(settings["version_info"]);
  if (environment.minor < 0) environment.minor = MinorOfLibraryFolder(environment.folder);
  if (environment.minor < 0) return std::nullopt;
  environment.baseLibraries = BaseLibrariesOf(home, environment.minor);
  return environment;
}

const VirtualEnvironment* ChosenVirtualEnvironment() noexcept { return gChosen ? &*gChosen : nullptr; }

bool ChooseVirtualEnvironment(VirtualEnvironment environment) noexcept {
  try {
    bool usable = false;
    if (gPythonEntryPointsLoaded) {
      const std::string loaded = LoadedLibraryPath();
      for (const std::string& library : environment.baseLibraries) usable = usable || SameFile(library, loaded);
      usable = usable && LoadedLibraryMinorVersion() == environment.minor;
    } else {
      for (const std::string& library : environment.baseLibraries)
        if ((usable = LoadPythonLibraryFile(library, environment.minor))) break;
    }
    if (usable) gChosen = std::move(environment);
    return usable;
  } catch (const std::exception&) {
    return false;
  }
}
