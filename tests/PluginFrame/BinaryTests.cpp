// What the plugin file itself exposes and needs from the system.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
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

std::set<std::string> dynamicSymbols(const char* which) {
  std::set<std::string> names;
  std::string listing = commandOutput(std::string("nm -D ") + which + " '" PLUGIN_PATH "'");
  std::regex line(R"(^\s*(?:[0-9a-f]+\s+)?[A-Za-z]\s+(\S+)$)");
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    std::smatch match;
    std::string text = listing.substr(start, end - start);
    if (std::regex_match(text, match, line)) names.insert(match[1]);
    start = end + 1;
  }
  return names;
}

TEST(PluginBinary, ExportsTheEntryAndTheHostWrappersOnly) {
  std::set<std::string> exported = dynamicSymbols("--defined-only");
  ASSERT_FALSE(exported.empty()) << "nm could not read " PLUGIN_PATH;
  EXPECT_TRUE(exported.count("REALPluginMain"));
  EXPECT_TRUE(exported.count("HCallResolver"));
  EXPECT_TRUE(exported.count("REALLockObject"));
  EXPECT_TRUE(exported.count("REALGetStringContents"));
  EXPECT_TRUE(exported.count("SetClassConsoleSafe"));
  std::regex allowed(R"(^(REAL\w+|HCallResolver|SetClass\w+|_Z\w*REAL\w+|_init|_fini|__bss_start|_edata|_end)$)");
  for (const std::string& name : exported)
    EXPECT_TRUE(std::regex_match(name, allowed)) << "unexpected export " << name;
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
