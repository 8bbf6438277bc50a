// The members of HostStringBytes: a host string's bytes, leased from the host as UTF-8 or read as it
// stores them.

#include "HostHandles.h"

#include <cstring>

HostStringBytes::HostStringBytes(REALstringStruct* string, Form form) noexcept {
  if (!string) {
    available_ = true;
    return;
  }
  if (form == kUtf8) {
    leased_ = REALGetStringData(string, kREALTextEncodingUTF8, &lease_);
    available_ = leased_;
    if (leased_ && lease_.data) {
      data_ = static_cast<const char*>(lease_.data);
      size_ = static_cast<size_t>(lease_.length);
    }
    return;
  }
  size_t length = 0;
  const char* bytes = REALGetStringContents(string, &length);
  if (!bytes) return;
  available_ = true;
  data_ = bytes;
  // A host without LenB reports 0; the C string then tells the length.
  size_ = length ? length : std::strlen(bytes);
}

HostStringBytes::~HostStringBytes() {
  if (leased_) REALDisposeStringData(&lease_);
}
