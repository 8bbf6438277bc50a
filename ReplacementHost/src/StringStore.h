// Host strings: reference-counted bytes with a text encoding, and the
// string data lent to the plugin until it disposes of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "HandleIndex.h"
#include "ObjectHeap.h"

namespace xhost::detail {

// Lives in one allocation with its bytes, which follow it.
struct StringRecord {
  uint64_t serial = 0;
  char* data = nullptr;  // `size` bytes and a terminating NUL for StringGetCString
  size_t size = 0;
  uint32_t encoding = kREALTextEncodingUTF8;
  int64_t refs = 0;
  bool alive = true;
  // Whether the bytes read the same as UTF-8: -1 until first asked. A string
  // never changes, so its check is made once however often it is lent.
  int8_t readsAsUtf8 = -1;
  RefBaseline baseline;

  std::string_view bytes() const { return {data, size}; }
};

// Converted bytes handed out through a StringDataRecord; lives in one
// allocation with them.
struct StringDataLease {
  static constexpr size_t kSourceLength = 41;  // enough for a preview to show it was cut
  uint64_t serial = 0;
  char* buffer = nullptr;  // what the record's data points to: `size` bytes and a NUL
  size_t size = 0;
  char source[kSourceLength] = {};  // the string's first bytes, previewed in reports
  size_t sourceSize = 0;
  bool disposed = false;

  std::string_view sourceBytes() const { return {source, sourceSize}; }
};

class StringStore {
 public:
  REALstringStruct* make(std::string_view bytes, uint32_t encoding);  // one reference
  StringRecord* find(const void* handle) const { return records_.find(handle); }
  // The live record, or null after recording the problem. A null handle is
  // not a string record: callers treat it as the empty string first.
  StringRecord* live(const void* handle, std::string_view context) const {
    StringRecord* record = records_.find(handle);
    if (record && record->alive) return record;
    reportUnusable(handle, record, context);
    return nullptr;
  }
  void lock(const void* handle, std::string_view context);
  void unlock(const void* handle, std::string_view context);

  // PluginGetStringData / PluginDisposeStringData.
  bool lend(const void* handle, uint32_t encoding, StringDataRecord* record, bool refuse);
  void takeBack(StringDataRecord* record);

  void flushQuarantine();
  std::vector<const StringRecord*> sorted() const;
  std::vector<StringDataLease*> outstandingLeases();
  static constexpr size_t kPreviewLength = 40;  // bytes shown of a string in reports
  static std::string preview(std::string_view bytes);

 private:
  [[gnu::cold]] static void reportBelowZero(const StringRecord& record, std::string_view context);
  [[gnu::cold]] static void reportUnusable(const void* handle, const StringRecord* record, std::string_view context);
  StringDataLease* makeLease(std::string_view source, std::string_view buffer);
  HandleIndex<StringRecord> records_;
  HandleIndex<StringDataLease> leases_;
};

}  // namespace xhost::detail
