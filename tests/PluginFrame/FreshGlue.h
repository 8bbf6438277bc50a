// A private copy of the plugin, started without registering anything, so that
// each test sees the host wrappers with empty caches.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "PluginSymbols.h"
#include "xhost/Host.h"

class FreshGlue {
 public:
  // Kept open by default: the host may still hold function pointers the copy
  // handed out. A copy that handed out none may be closed at the end.
  enum class AtEnd { KeepOpen, Close };

  // `resolver` is handed to the copy's REALPluginMain instead of the host's.
  explicit FreshGlue(AtEnd atEnd = AtEnd::KeepOpen, REALResolver resolver = nullptr) : atEnd_(atEnd) {
    static int copies = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("glue-" + std::to_string(getpid()) + "-" + std::to_string(++copies) + ".so");
    std::filesystem::copy_file(PLUGIN_PATH, path_, std::filesystem::copy_options::overwrite_existing);
    handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(dlerror());
    // Without the version entry the plugin keeps the resolver but registers nothing.
    xhost::Host& host = xhost::Host::instance();
    host.withholdEntry("RegisterPluginVersion");
    symbol<void (*)(REALResolver)>("REALPluginMain")(resolver ? resolver : host.resolver());
    host.restoreEntry("RegisterPluginVersion");
  }
  ~FreshGlue() {
    if (atEnd_ == AtEnd::Close) dlclose(handle_);
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  FreshGlue(const FreshGlue&) = delete;
  FreshGlue& operator=(const FreshGlue&) = delete;

  // By exported name, or by C++ declaration as nm prints it demangled
  // ("REALGetPropValue(REALobjectStruct*, char const*, short*)").
  void* address(const std::string& name) const {
    std::string exported = name.find('(') == std::string::npos ? name : pluginSymbols::mangledName(name);
    void* address = exported.empty() ? nullptr : dlsym(handle_, exported.c_str());
    if (!address) throw std::runtime_error("plugin lacks " + name);
    return address;
  }
  template <typename Fn>
  Fn symbol(const std::string& name) const {
    return reinterpret_cast<Fn>(address(name));
  }

 private:
  AtEnd atEnd_;
  std::filesystem::path path_;
  void* handle_ = nullptr;
};
