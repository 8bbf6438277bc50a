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

// Set only while a test runs: the sanitizers' runtimes call the loader's
// functions before main, when nothing here is constructed yet.
bool gRecording = false;

std::vector<std::string> gOpened;
std::vector<std::string> gLookedUp;

// Out of line, so that the interposers keep no local with a cleanup or with
// its address taken (either would keep their last call from being a tail call).
__attribute__((noinline)) void record(std::vector<std::string>& names, const char* name) {
  names.push_back(name ? name : "(null)");
}

using DlopenFn = void* (*)(const char*, int) noexcept;
using DlsymFn = void* (*)(void*, const char*) noexcept;
DlopenFn gRealDlopen = nullptr;
DlsymFn gRealDlsym = nullptr;

}  // namespace

// The interposers run before the address sanitizer has mapped its shadow
// memory, so they are not instrumented. dlsym ends in a tail call: the real
// dlsym resolves RTLD_NEXT from its caller's address, which must stay the
// caller's (the sanitizers look up their real functions that way). GCC is
// told to optimize them, clang makes the tail call from -O2 on (it cannot
// force one in a function glibc declares noexcept).
#if defined(__clang__)
#define INTERPOSER extern "C" __attribute__((no_sanitize("address", "undefined")))
#else
#define INTERPOSER extern "C" __attribute__((no_sanitize("address", "undefined"), optimize("O2")))
#endif

// Found before libdl's own versions by every library loaded into this process.
INTERPOSER void* dlopen(const char* file, int mode) {
  if (!gRealDlopen) gRealDlopen = reinterpret_cast<DlopenFn>(dlsym(RTLD_NEXT, "dlopen"));
  if (gRecording) record(gOpened, file);
  return gRealDlopen(file, mode);
}

INTERPOSER void* dlsym(void* handle, const char* name) {
  if (!gRealDlsym) gRealDlsym = reinterpret_cast<DlsymFn>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34"));
  if (!gRealDlsym) gRealDlsym = reinterpret_cast<DlsymFn>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5"));
  if (gRecording && handle != RTLD_NEXT) record(gLookedUp, name);
  return gRealDlsym(handle, name);
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
  gRecording = true;
  host.loadPlugin(PLUGIN_PATH);
  gRecording = false;
  EXPECT_EQ(host.registrations().size(), 20u);
  EXPECT_EQ(gOpened, std::vector<std::string>{PLUGIN_PATH});
  EXPECT_EQ(gLookedUp, std::vector<std::string>{"REALPluginMain"});
  EXPECT_FALSE(pythonIsMapped());
}

}  // namespace
