// Child process of the loading tests: loads the probe plugin into the
// replacement host, runs the commands given as arguments in order and prints
// one line per result on standard output, where the loader writes its own
// messages too. Exit status: 0, or 2 for a host error, 3 when the ledger found
// a leaked or misused host object or string.
//
// Commands:
//   found / found:N      PythonIsFound() / PythonIsFound(N)
//   choose:PATH          SetPythonPath(a FolderItem for PATH); choose-nil: SetPythonPath(Nil)
//   state                the loader's flags and handle
//   library              the file name of the library the table points into
//   home / library-home  the home the plugin set / the one a stub library received
//   mapped               file names of the Python libraries mapped into the process
//   entries              how many entries are non-null
//   table                every entry checked against dlsym on the loaded library
//   absent               the symbols that table found absent from the library
//   entry:SYMBOL         whether the entry for SYMBOL is set
//   lookup:SYMBOL        LookUpOnFirstUse of that entry
//   reset-list / reset-dictionary
//   ensure / ensure-entries
//   exception:N          PythonExceptionType(N) against the library's variable
//   python               start Python through the table and evaluate a little
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "xhost/Host.h"

namespace {

using xhost::Host;
using xhost::Object;

template <typename Function>
Function Hook(const char* name) {
  void* address = Host::instance().pluginSymbol(name);
  if (!address) throw xhost::HostError(std::string("probe plugin lacks ") + name);
  return reinterpret_cast<Function>(address);
}

std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Narrow(const wchar_t* wide) {
  if (!wide) return "none";
  std::string text;
  for (; *wide; ++wide) text += *wide < 0x80 ? static_cast<char>(*wide) : '?';
  return text;
}

std::string Joined(const std::set<std::string>& names) {
  if (names.empty()) return "none";
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

void* LibraryAddressOf(void* library, const char* symbol) {
  dlerror();
  void* address = dlsym(library, symbol);
  return dlerror() ? nullptr : address;
}

class Script {
 public:
  void run(const std::string& command);
  // Drops the folder items the script made; the plugin keeps its own lock on
  // the one it chose, which the ledger is told to expect.
  void releaseFolders() {
    Host& host = Host::instance();
    host.clearExpectedRetained();
    for (const Object& folder : folders_) {
      if (folder.get() == Hook<REALobjectStruct* (*)()>("PluginProbe_PythonPath")()) host.expectRetained(folder);
    }
    folders_.clear();
  }

 private:
  void found(const std::string& argument);
  void choose(const Object& folder);
  void table();
  void python();

  std::vector<Object> folders_;
  std::set<std::string> absent_;  // symbols the last table found absent
};

void Script::found(const std::string& argument) {
  Host& host = Host::instance();
  const xhost::Value result = argument.empty() ? host.callShared("Python3Engine", "PythonIsFound")
                                               : host.callShared("Python3Engine", "PythonIsFound",
                                                                 {static_cast<int64_t>(std::stoll(argument))});
  std::printf("PythonIsFound(%s): %s\n", argument.c_str(), xhost::asBoolean(result) ? "True" : "False");
}

void Script::choose(const Object& folder) {
  Host::instance().callShared("Python3Engine", "SetPythonPath", {folder.isNil() ? xhost::Value(xhost::Nil{}) : folder});
  REALobjectStruct* chosen = Hook<REALobjectStruct* (*)()>("PluginProbe_PythonPath")();
  std::printf("chosen: %s\n", !chosen ? "none" : chosen == folder.get() ? "this file" : "another file");
}

// Entries the load looks up must hold what dlsym finds in the library; the
// home entries stay null unless a file was chosen; the entries looked up on
// first use stay null until then.
void Script::table() {
  auto handle = Hook<void* (*)()>("PluginProbe_LibraryHandle")();
  if (!handle) {
    std::printf("table: no library\n");
    return;
  }
  const bool pathChosen = Hook<REALobjectStruct* (*)()>("PluginProbe_PythonPath")() != nullptr;
  auto count = Hook<int (*)()>("PluginProbe_EntryCount")();
  auto symbolAt = Hook<const char* (*)(int)>("PluginProbe_EntrySymbol");
  auto valueAt = Hook<void* (*)(int)>("PluginProbe_EntryValue");
  auto lookupAt = Hook<int (*)(int)>("PluginProbe_EntryLookup");
  auto lookUp = Hook<bool (*)(const char*)>("PluginProbe_LookUpOnFirstUse");
  enum { WhenPathChosen, AtLoad };
  int matching = 0;
  absent_.clear();
  for (int i = 0; i < count; ++i) {
    const char* symbol = symbolAt(i);
    const int lookup = lookupAt(i);
    if (lookup == WhenPathChosen && !pathChosen) {
      if (valueAt(i)) std::printf("table mismatch: %s set with no file chosen\n", symbol);
      continue;
    }
    if (lookup != WhenPathChosen && lookup != AtLoad) {
      if (valueAt(i)) std::printf("table mismatch: %s set before its first use\n", symbol);
      lookUp(symbol);
    }
    void* expected = LibraryAddressOf(handle, symbol);
    if (valueAt(i) != expected) {
      std::printf("table mismatch: %s holds %p, the library has %p\n", symbol, valueAt(i), expected);
      continue;
    }
    if (expected) {
      ++matching;
    } else {
      absent_.insert(symbol);
    }
  }
  std::printf("table: %d entries match the library, %zu symbols absent from it\n", matching, absent_.size());
}

void Script::python() { std::fputs(Hook<const char* (*)()>("PluginProbe_RunPython")(), stdout); }

void Script::run(const std::string& command) {
  const size_t colon = command.find(':');
  const std::string verb = command.substr(0, colon);
  const std::string argument = colon == std::string::npos ? "" : command.substr(colon + 1);
  Host& host = Host::instance();
  if (verb == "found") {
    found(argument);
  } else if (verb == "choose") {
    folders_.push_back(host.newFolderItem(argument));
    choose(folders_.back());
  } else if (verb == "choose-nil") {
    choose(Object());
  } else if (verb == "state") {
    std::printf("found=%d loaded=%d handle=%s\n", Hook<bool (*)()>("PluginProbe_Found")(),
                Hook<bool (*)()>("PluginProbe_EntryPointsLoaded")(),
                Hook<void* (*)()>("PluginProbe_LibraryHandle")() ? "set" : "null");
  } else if (verb == "library") {
    Dl_info info{};
    void* initialize = Hook<void* (*)(const char*)>("PluginProbe_EntryPoint")("Py_Initialize");
    const bool known = initialize && dladdr(initialize, &info) && info.dli_fname;
    std::printf("library: %s\n", known ? FileName(info.dli_fname).c_str() : "none");
  } else if (verb == "home") {
    std::printf("home: %s\n", Narrow(Hook<const wchar_t* (*)()>("PluginProbe_PythonHome")()).c_str());
  } else if (verb == "library-home") {
    auto received = reinterpret_cast<const wchar_t* (*)()>(dlsym(RTLD_DEFAULT, "StubPythonHome"));
    std::printf("library home: %s\n", received ? Narrow(received()).c_str() : "no library");
  } else if (verb == "mapped") {
    std::ifstream maps("/proc/self/maps");
    std::set<std::string> names;
    for (std::string line; std::getline(maps, line);) {
      const size_t slash = line.find('/');
      if (slash == std::string::npos) continue;
      const std::string name = FileName(line.substr(slash));
      if (name.rfind("libpython", 0) == 0) names.insert(name);
    }
    std::printf("mapped: %s\n", Joined(names).c_str());
  } else if (verb == "entries") {
    const int count = Hook<int (*)()>("PluginProbe_EntryCount")();
    int set = 0;
    for (int i = 0; i < count; ++i) set += Hook<void* (*)(int)>("PluginProbe_EntryValue")(i) != nullptr;
    if (set == 0) {
      std::printf("entries: none set\n");
    } else {
      std::printf("entries: %d of %d set\n", set, count);
    }
  } else if (verb == "table") {
    table();
  } else if (verb == "absent") {
    std::printf("absent: %s\n", Joined(absent_).c_str());
  } else if (verb == "entry") {
    void* value = Hook<void* (*)(const char*)>("PluginProbe_EntryPoint")(argument.c_str());
    std::printf("%s: %s\n", argument.c_str(), value ? "set" : "null");
  } else if (verb == "lookup") {
    const bool found = Hook<bool (*)(const char*)>("PluginProbe_LookUpOnFirstUse")(argument.c_str());
    std::printf("lookup %s: %s\n", argument.c_str(), found ? "True" : "False");
  } else if (verb == "reset-list") {
    Hook<void (*)()>("PluginProbe_ResetListEntryPoints")();
  } else if (verb == "reset-dictionary") {
    Hook<void (*)()>("PluginProbe_ResetDictionaryEntryPoints")();
  } else if (verb == "ensure") {
    std::printf("EnsurePythonLoaded: %s\n", Hook<bool (*)()>("PluginProbe_EnsurePythonLoaded")() ? "True" : "False");
  } else if (verb == "ensure-entries") {
    auto ensure = Hook<bool (*)(int)>("PluginProbe_EnsureEntries");
    std::printf("EnsurePythonEntries: %s, %s\n", ensure(0) ? "True" : "False", ensure(1) ? "True" : "False");
  } else if (verb == "exception") {
    const long long errorType = std::stoll(argument);
    void* type = Hook<void* (*)(int64_t)>("PluginProbe_ExceptionType")(errorType);
    const char* symbol = Hook<const char* (*)(int64_t)>("PluginProbe_ExceptionSymbol")(errorType);
    void* handle = Hook<void* (*)()>("PluginProbe_LibraryHandle")();
    auto variable = static_cast<void**>(handle && *symbol ? LibraryAddressOf(handle, symbol) : nullptr);
    if (!type) {
      std::printf("exception %lld: none\n", errorType);
    } else {
      std::printf("exception %lld: %s\n", errorType, variable && *variable == type ? symbol : "another object");
    }
  } else if (verb == "python") {
    python();
  } else {
    throw xhost::HostError("unknown command " + command);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Host& host = Host::instance();
  Script script;
  try {
    host.loadPlugin(PROBE_PLUGIN_PATH);
    host.ledgerBegin();
    for (int i = 1; i < argc; ++i) script.run(argv[i]);
    script.releaseFolders();
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "probe: %s\n", error.what());
    return 2;
  }
  std::fflush(stdout);
  const xhost::LedgerReport report = host.ledgerEnd();
  if (!report.clean()) {
    std::fprintf(stderr, "ledger: %s\n", report.text().c_str());
    return 3;
  }
  return 0;
}
