// Host objects and strings the plugin holds within an operation, and the
// bytes of a host string.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "HostGlue.h"

inline void UnlockHostHandle(REALobjectStruct* object) { REALUnlockObject(object); }
inline void UnlockHostHandle(REALstringStruct* string) { REALUnlockString(string); }
inline void LockHostHandle(REALobjectStruct* object) { REALLockObject(object); }
inline void LockHostHandle(REALstringStruct* string) { REALLockString(string); }

// Holds one lock on a host object or string and gives it back when it goes.
// Constructed from a handle it takes over the lock the handle carries (what a
// creating or reading host service returns); Retain takes a lock of its own
// (for a handle received as an argument).
template <typename Handle>
class HostRef {
 public:
  explicit HostRef(Handle* handle = nullptr) noexcept : handle_(handle) {}
  static HostRef Retain(Handle* handle) noexcept {
    if (handle) LockHostHandle(handle);
    return HostRef(handle);
  }
  HostRef(const HostRef&) = delete;
  HostRef& operator=(const HostRef&) = delete;
  HostRef(HostRef&& other) noexcept : handle_(other.release()) {}
  HostRef& operator=(HostRef&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~HostRef() {
    if (handle_) UnlockHostHandle(handle_);
  }
  Handle* get() const noexcept { return handle_; }
  // Hands the lock to the caller (a result returned to the host, a field of a data block).
  Handle* release() noexcept { return std::exchange(handle_, nullptr); }
  // For host services that write a new handle through a pointer; holds nothing before.
  Handle** out() noexcept { return &handle_; }

 private:
  Handle* handle_;
};

using OwnedObject = HostRef<REALobjectStruct>;
using OwnedString = HostRef<REALstringStruct>;

// The bytes of a host string, for as long as this lives. A null handle is the
// host's empty string. Utf8 asks the host to convert the text (it may refuse);
// AsStored takes the bytes as the host keeps them, without conversion.
class HostStringBytes {
 public:
  enum Form { Utf8, AsStored };
  HostStringBytes(REALstringStruct* string, Form form) noexcept;
  ~HostStringBytes();
  HostStringBytes(const HostStringBytes&) = delete;
  HostStringBytes& operator=(const HostStringBytes&) = delete;

  bool available() const noexcept { return available_; }  // false: the host refused the conversion
  const char* data() const noexcept { return data_; }      // never null
  size_t size() const noexcept { return size_; }
  std::string_view view() const noexcept { return {data_, size_}; }
  std::string text() const { return std::string(data_, size_); }

 private:
  StringDataRecord lease_{};  // filled by the host for Utf8; given back by the destructor
  bool leased_ = false;
  bool available_ = false;
  const char* data_ = "";
  size_t size_ = 0;
};
