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
inline void UnlockHostHandle(REALarrayStruct* array) { REALUnlockObject(reinterpret_cast<REALobjectStruct*>(array)); }
inline void LockHostHandle(REALarrayStruct* array) { REALLockObject(reinterpret_cast<REALobjectStruct*>(array)); }

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

// A host object or string kept in a data block or a global: the field holds
// one lock on what it holds, and gives it back when it is set again or reset.
// All zero is an empty field, as the host zero-fills data blocks; nothing is
// given back by itself, since a block ends when its class's destructor says
// (Reset) and a global may outlive the host's services at exit.
template <typename Handle>
class HeldHandle {
 public:
  Handle* get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  // Keeps `handle` with a lock of the field's own (for a handle received as an argument).
  void Retain(Handle* handle) noexcept {
    if (handle) LockHostHandle(handle);
    Adopt(handle);
  }
  // Keeps `handle` with the lock it carries (what a creating or reading host
  // service returns). The new handle is in place before the old one's lock
  // goes, which may run a Xojo destructor that reads the field.
  void Adopt(Handle* handle) noexcept {
    if (Handle* old = std::exchange(handle_, handle)) UnlockHostHandle(old);
  }
  // What it holds with a new lock, which the caller takes over (a result returned to the host).
  Handle* NewReference() const noexcept {
    if (handle_) LockHostHandle(handle_);
    return handle_;
  }
  void Reset() noexcept {
    if (Handle* held = std::exchange(handle_, nullptr)) UnlockHostHandle(held);
  }
  // Hands what it holds, with its lock, to the caller, and holds nothing.
  Handle* Take() noexcept { return std::exchange(handle_, nullptr); }

 private:
  Handle* handle_ = nullptr;  // locked by the field; null for none
};

using HeldObject = HeldHandle<REALobjectStruct>;
using HeldString = HeldHandle<REALstringStruct>;
using HeldArray = HeldHandle<REALarrayStruct>;

// The bytes of a host string, for as long as this lives. A null handle is the
// host's empty string. Utf8 asks the host to convert the text (it may refuse);
// AsStored takes the bytes as the host keeps them, without conversion.
class HostStringBytes {
 public:
  enum Form { kUtf8, kAsStored };
  HostStringBytes(REALstringStruct* string, Form form) noexcept;
  ~HostStringBytes();
  HostStringBytes(const HostStringBytes&) = delete;
  HostStringBytes& operator=(const HostStringBytes&) = delete;

  bool available() const noexcept { return available_; }  // false: the host refused the conversion
  const char* data() const noexcept { return data_; }     // never null
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
