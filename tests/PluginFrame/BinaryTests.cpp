// What the plugin file itself exposes and needs from the system.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "PluginSymbols.h"
#include "WrapperList.h"

namespace {

bool isWord(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The entry, the host wrappers (plain or C++-mangled) and the linker's own symbols.
bool isAllowedExport(const std::string& name) {
  static const std::set<std::string> exact = {"HCallResolver", "GraphicsDrawLine", "_init", "_fini",
                                              "__bss_start",   "_edata",           "_end"};
  if (exact.count(name)) return true;
  for (const char* prefix : {"REAL", "SetClass"})
    if (startsWith(name, prefix) && isWord(name.substr(std::string(prefix).size()))) return true;
  const size_t real = name.find("REAL");
  return startsWith(name, "_Z") && isWord(name) && real != std::string::npos && name.size() > real + 4;
}

TEST(PluginBinary, ExportsTheEntryAndTheHostWrappersOnly) {
  std::set<std::string> exported = pluginSymbols::dynamic("--defined-only");
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

TEST(PluginBinary, ExportsEveryWrapperOfTheInterface) {
  std::set<std::string> exported = pluginSymbols::exportedDemangled();
  ASSERT_FALSE(exported.empty()) << "nm could not read " PLUGIN_PATH;
  std::vector<std::string> names = wrapperList::others();
  for (const wrapperList::Forwarding& row : wrapperList::forwarding()) names.push_back(row.wrapper);
  for (const wrapperList::ArrayAccess& row : wrapperList::arrayAccess()) names.push_back(row.wrapper);
  EXPECT_GE(names.size(), 300u);
  for (const std::string& name : names) EXPECT_TRUE(exported.count(name)) << "not exported: " << name;
}

TEST(PluginBinary, LinksNoPythonLibrary) {
  std::string needed = pluginSymbols::commandOutput("readelf -d '" PLUGIN_PATH "'");
  ASSERT_NE(needed.find("NEEDED"), std::string::npos) << "readelf could not read " PLUGIN_PATH;
  EXPECT_EQ(needed.find("libpython"), std::string::npos) << needed;
  for (const std::string& name : pluginSymbols::dynamic("--undefined-only")) {
    EXPECT_NE(name.rfind("Py", 0), 0u) << "links Python symbol " << name;
    EXPECT_NE(name.rfind("_Py", 0), 0u) << "links Python symbol " << name;
  }
}

}  // namespace
