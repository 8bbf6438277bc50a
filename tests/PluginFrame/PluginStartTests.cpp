// Starting the plugin registers everything without touching the dynamic
// loader: Python is looked for on first need, not at start. Runs in a process
// of its own, with the loader's functions counted.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "xhost/Host.h"

namespace {

std::vector<std::string> gOpened;
std::vector<std::string> gLookedUp;

}  // namespace

// Found before libdl's own versions by every library loaded into this process.
extern "C" void* dlopen(const char* file, int mode) {
  using Fn = void* (*)(const char*, int);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "dlopen"));
  gOpened.push_back(file ? file : "(null)");
  return real(file, mode);
}

extern "C" void* dlsym(void* handle, const char* name) {
  using Fn = void* (*)(void*, const char*);
  static Fn real = reinterpret_cast<Fn>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34"));
  if (!real) real = reinterpret_cast<Fn>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5"));
  if (handle != RTLD_NEXT) gLookedUp.push_back(name);
  return real(handle, name);
}

namespace {

bool pythonIsMapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("libpython") != std::string::npos) return true;
  return false;
}

TEST(PluginStart, RegistersEverythingWithoutOpeningPython) {
  ASSERT_FALSE(pythonIsMapped());
  xhost::Host& host = xhost::Host::instance();
  gOpened.clear();
  gLookedUp.clear();
  host.loadPlugin(PLUGIN_PATH);
  EXPECT_EQ(host.registrations().size(), 19u);
  EXPECT_EQ(gOpened, std::vector<std::string>{PLUGIN_PATH});
  EXPECT_EQ(gLookedUp, std::vector<std::string>{"REALPluginMain"});
  EXPECT_FALSE(pythonIsMapped());
}

}  // namespace
