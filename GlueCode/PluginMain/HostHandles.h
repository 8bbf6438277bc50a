// Host objects and strings the plugin holds within an operation (Scoped) or
// keeps in a data block or a global (Field), and the bytes of a host string.
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

// Two kinds of holder, one word each: a Scoped handle lives in a block of
// code and gives its lock back when it goes; a Field is kept in a data block
// or a global and gives its lock back when it is set again or reset. Both
// take a handle in one of two ways: Adopt takes over the lock the handle
// carries (what a creating or reading host service returns); Borrow takes a
// lock of its own (for a handle received as an argument). HandOver gives the
// lock to the caller and holds nothing.

// Holds one lock on a host object or string and gives it back when it goes.
template <typename Handle>
class ScopedHandle {
 public:
  ScopedHandle() noexcept = default;
  static ScopedHandle Adopt(Handle* handle) noexcept { return ScopedHandle(handle); }
  static ScopedHandle Borrow(Handle* handle) noexcept {
    if (handle) LockHostHandle(handle);
    return ScopedHandle(handle);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.HandOver()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~ScopedHandle() {
    if (handle_) UnlockHostHandle(handle_);
  }
  Handle* Get() const noexcept { return handle_; }
  // Hands the lock to the caller (a result returned to the host, a field of a data block).
  Handle* HandOver() noexcept { return std::exchange(handle_, nullptr); }
  // For host services that write a new handle through a pointer; holds nothing before.
  Handle** Out() noexcept { return &handle_; }

 private:
  explicit ScopedHandle(Handle* handle) noexcept : handle_(handle) {}

  Handle* handle_ = nullptr;
};

using ScopedObject = ScopedHandle<REALobjectStruct>;
using ScopedString = ScopedHandle<REALstringStruct>;

// A host object or string kept in a data block or a global: the field holds
// one lock on what it holds, and gives it back when it is set again or reset.
// All zero is an empty field, as the host zero-fills data blocks; nothing is
// given back by itself, since a block ends when its class's destructor says
// (Reset) and a global may outlive the host's services at exit.
template <typename Handle>
class HandleField {
 public:
  Handle* Get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  // Keeps `handle` with a lock of the field's own (for a handle received as an argument).
  void Borrow(Handle* handle) noexcept {
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
  Handle* HandOver() noexcept { return std::exchange(handle_, nullptr); }

 private:
  Handle* handle_ = nullptr;  // locked by the field; null for none
};

using ObjectField = HandleField<REALobjectStruct>;
using StringField = HandleField<REALstringStruct>;
using ArrayField = HandleField<REALarrayStruct>;

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

  bool Available() const noexcept { return available_; }  // false: the host refused the conversion
  const char* Data() const noexcept { return data_; }     // never null
  size_t Size() const noexcept { return size_; }
  std::string_view View() const noexcept { return {data_, size_}; }
  std::string Text() const { return std::string(data_, size_); }

 private:
  StringDataRecord lease_{};  // filled by the host for Utf8; given back by the destructor
  bool leased_ = false;
  bool available_ = false;
  const char* data_ = "";
  size_t size_ = 0;
};
