// Host strings: reference-counted bytes with a text encoding, and the
// string data lent to the plugin until it disposes of it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ObjectHeap.h"

namespace xhost::detail {

struct StringRecord {
  uint64_t serial = 0;
  std::string bytes;  // std::string keeps a terminating NUL for StringGetCString
  uint32_t encoding = kREALTextEncodingUTF8;
  int64_t refs = 0;
  bool alive = true;
  RefBaseline baseline;
};

// Converted bytes handed out through a StringDataRecord.
struct StringDataLease {
  uint64_t serial = 0;
  std::string buffer;  // what the record's data points to
  std::string source;  // the string's first bytes, previewed in reports
  bool disposed = false;
};

class StringStore {
 public:
  REALstringStruct* make(std::string_view bytes, uint32_t encoding);  // one reference
  StringRecord* find(const void* handle) const;
  // The live record, or null after recording the problem. A null handle is
  // not a string record: callers treat it as the empty string first.
  StringRecord* live(const void* handle, std::string_view context) const;
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
  std::unordered_map<const void*, std::unique_ptr<StringRecord>> records_;
  std::unordered_map<const void*, std::unique_ptr<StringDataLease>> leases_;
};

}  // namespace xhost::detail
