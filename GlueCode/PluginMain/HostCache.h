// The cache behind every host wrapper and the forms in which values travel to
// the host. Internal to the glue.
#pragma once

#include <atomic>
#include <type_traits>

#include "REALplugin.h"

// Written once by REALPluginMain, before any wrapper runs; never cleared.
extern REALResolver gResolver;

// One cached host entry: null until a resolver has answered with a function,
// asked again on every call while it stays null. Relaxed atomics cost nothing
// over a plain pointer and keep racing first calls well defined.
struct HostCache {
  const char* name;                      // the entry's name; static text
  std::atomic<void*> function{nullptr};  // the host function, or null

  template <typename Fn>
  Fn ResolveThrough(REALResolver resolver) noexcept {
    void* found = function.load(std::memory_order_relaxed);
    if (!found && resolver) {
      found = resolver(name);
      function.store(found, std::memory_order_relaxed);
    }
    return reinterpret_cast<Fn>(found);
  }
  template <typename Fn>
  Fn Resolve() noexcept {
    return ResolveThrough<Fn>(gResolver);
  }
};

// How a value of the plugin's C type travels to and from the host: unchanged,
// except that the host's Boolean is a byte (RBBoolean).
template <typename T>
struct HostForm {
  using type = T;
  static T ToHost(T value) noexcept { return value; }
  static T FromHost(T value) noexcept { return value; }
};
template <>
struct HostForm<bool> {
  using type = RBBoolean;
  static RBBoolean ToHost(bool value) noexcept { return value ? 1 : 0; }
  static bool FromHost(RBBoolean value) noexcept { return value != 0; }
};

#define HOST_ARGUMENTS(...) __VA_ARGS__
