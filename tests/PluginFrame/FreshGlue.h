// A private copy of the plugin, started without registering anything, so that
// each test sees the host wrappers with empty caches.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "xhost/Host.h"

class FreshGlue {
 public:
  FreshGlue() {
    static int copies = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("glue-" + std::to_string(getpid()) + "-" + std::to_string(++copies) + ".so");
    std::filesystem::copy_file(PLUGIN_PATH, path_, std::filesystem::copy_options::overwrite_existing);
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(dlerror());
    // Without the version entry the plugin keeps the resolver but registers nothing.
    xhost::Host& host = xhost::Host::instance();
    host.withholdEntry("RegisterPluginVersion");
    symbol<void (*)(REALResolver)>("REALPluginMain")(host.resolver());
    host.restoreEntry("RegisterPluginVersion");
  }
  ~FreshGlue() {
    // Kept open: the host may still hold function pointers the copy handed out.
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  FreshGlue(const FreshGlue&) = delete;
  FreshGlue& operator=(const FreshGlue&) = delete;

  template <typename Fn>
  Fn symbol(const char* name) const {
    void* address = dlsym(handle_, name);
    if (!address) throw std::runtime_error(std::string("plugin lacks ") + name);
    return reinterpret_cast<Fn>(address);
  }

 private:
  std::filesystem::path path_;
  void* handle_ = nullptr;
};
