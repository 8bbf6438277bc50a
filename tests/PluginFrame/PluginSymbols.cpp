#include "PluginSymbols.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace pluginSymbols {

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

namespace {

std::string demangled(const std::string& symbol) {
  int status = 0;
  char* text = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status);
  if (status != 0 || !text) return symbol;
  std::string result(text);
  std::free(text);
  return result;
}

const std::map<std::string, std::string>& mangledByDeclaration() {
  static const std::map<std::string, std::string> names = [] {
    std::map<std::string, std::string> byDeclaration;
    for (const std::string& symbol : dynamic("--defined-only")) byDeclaration[demangled(symbol)] = symbol;
    return byDeclaration;
  }();
  return names;
}

}  // namespace

// Each line of nm's listing is "[address] type name"; the name comes last.
std::set<std::string> dynamic(const char* which) {
  std::set<std::string> names;
  std::istringstream listing(commandOutput(std::string("nm -D ") + which + " '" PLUGIN_PATH "'"));
  for (std::string line; std::getline(listing, line);) {
    std::istringstream fields(line);
    std::string field, type, name;
    while (fields >> field) {
      type = name;
      name = field;
    }
    if (type.size() == 1 && std::isalpha(static_cast<unsigned char>(type[0]))) names.insert(name);
  }
  return names;
}

std::string mangledName(const std::string& declaration) {
  auto found = mangledByDeclaration().find(declaration);
  return found == mangledByDeclaration().end() ? "" : found->second;
}

std::set<std::string> exportedDemangled() {
  std::set<std::string> names;
  for (const auto& entry : mangledByDeclaration()) names.insert(entry.first);
  return names;
}

}  // namespace pluginSymbols
