// An application using the plugin as a Xojo program would, run in the
// replacement host: it loads the plugin, shows what the plugin registered and
// asks it to find Python.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "xhost/Host.h"

namespace {

// The library the plugin opened, as the process's memory map shows it.
std::string loadedPythonLibrary() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    size_t slash = line.find('/');
    if (slash != std::string::npos && line.find("libpython3", slash) != std::string::npos) return line.substr(slash);
  }
  return "";
}

void listRegistrations(xhost::Host& host) {
  std::cout << "The plugin registered:\n";
  for (const xhost::Host::Registration& r : host.registrations()) {
    std::cout << "  " << r.kind << " " << r.name;
    if (r.kind == "class") {
      const REALclassDefinition* record = host.classRecord(r.name);
      if (record->superName) std::cout << " (inherits " << record->superName << ")";
      if (record->interfaces && *record->interfaces) std::cout << " implements " << record->interfaces;
    }
    std::cout << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: " << argv[0] << " path/to/Python3Plugin.so [path/to/libpython3.X.so]\n";
    return 2;
  }
  xhost::Host& host = xhost::Host::instance();
  try {
    host.loadPlugin(argv[1]);
    listRegistrations(host);

    if (argc > 2) {
      std::cout << "\nChoosing the Python library " << argv[2] << "\n";
      host.callShared("Python3Engine", "SetPythonPath", {host.newFolderItem(argv[2])});
    }
    std::cout << "\nPython3Engine.PythonIsFound() ..." << std::endl;
    bool found = xhost::asBoolean(host.callShared("Python3Engine", "PythonIsFound"));
    std::cout << "  " << (found ? "True" : "False") << "\n";
    std::string library = loadedPythonLibrary();
    std::cout << "  Python library in use: " << (library.empty() ? "none" : library) << "\n";
    return found ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "example failed: " << error.what() << "\n";
    return 1;
  }
}
