// What the plugin file itself exposes and needs from the system.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "PluginSymbols.h"
#include "WrapperList.h"

namespace {

TEST(PluginBinary, ExportsTheEntryAndTheHostWrappersOnly) {
  std::set<std::string> exported = pluginSymbols::dynamic("--defined-only");
  ASSERT_FALSE(exported.empty()) << "nm could not read " PLUGIN_PATH;
  EXPECT_TRUE(exported.count("REALPluginMain"));
  EXPECT_TRUE(exported.count("HCallResolver"));
  EXPECT_TRUE(exported.count("REALLockObject"));
  EXPECT_TRUE(exported.count("REALGetStringContents"));
  EXPECT_TRUE(exported.count("SetClassConsoleSafe"));
  std::regex allowed(
      R"(^(REAL\w+|HCallResolver|GraphicsDrawLine|SetClass\w+|_Z\w*REAL\w+|_init|_fini|__bss_start|_edata|_end)$)");
  for (const std::string& name : exported) EXPECT_TRUE(std::regex_match(name, allowed)) << "unexpected export " << name;
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
