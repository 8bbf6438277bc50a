// What the plugin file itself exposes and needs from the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

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

// Each line of nm's listing is "[address] type name"; the name comes last.
std::set<std::string> dynamicSymbols(const char* which) {
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

bool isWord(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The entry, the host wrappers (plain or C++-mangled) and the linker's own symbols.
bool isAllowedExport(const std::string& name) {
  static const std::set<std::string> exact = {"HCallResolver", "_init", "_fini", "__bss_start", "_edata", "_end"};
  if (exact.count(name)) return true;
  for (const char* prefix : {"REAL", "SetClass"})
    if (startsWith(name, prefix) && isWord(name.substr(std::string(prefix).size()))) return true;
  const size_t real = name.find("REAL");
  return startsWith(name, "_Z") && isWord(name) && real != std::string::npos && name.size() > real + 4;
}

TEST(PluginBinary, ExportsTheEntryAndTheHostWrappersOnly) {
  std::set<std::string> exported = dynamicSymbols("--defined-only");
  ASSERT_FALSE(exported.empty()) << "nm could not read " PLUGIN_PATH;
  EXPECT_TRUE(exported.count("REALPluginMain"));
  EXPECT_TRUE(exported.count("HCallResolver"));
  EXPECT_TRUE(exported.count("REALLockObject"));
  EXPECT_TRUE(exported.count("REALGetStringContents"));
  EXPECT_TRUE(exported.count("SetClassConsoleSafe"));
  for (const std::string& name : exported) EXPECT_TRUE(isAllowedExport(name)) << "unexpected export " << name;
  for (const char* foreign : {"PyTuple_New", "_ZN3foo3barEv", "REAL", "SetClass", "main"})
    EXPECT_FALSE(isAllowedExport(foreign)) << foreign;
}

TEST(PluginBinary, LinksNoPythonLibrary) {
  std::string needed = commandOutput("readelf -d '" PLUGIN_PATH "'");
  ASSERT_NE(needed.find("NEEDED"), std::string::npos) << "readelf could not read " PLUGIN_PATH;
  EXPECT_EQ(needed.find("libpython"), std::string::npos) << needed;
  for (const std::string& name : dynamicSymbols("--undefined-only")) {
    EXPECT_NE(name.rfind("Py", 0), 0u) << "links Python symbol " << name;
    EXPECT_NE(name.rfind("_Py", 0), 0u) << "links Python symbol " << name;
  }
}

}  // namespace
