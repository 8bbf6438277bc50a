#include "StringStore.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>

#include "Core.h"
#include "Encoding.h"

namespace xhost::detail {
namespace {

constexpr char kPoisonByte = '\xDD';

template <typename Record>
void release(Record* record) {
  record->~Record();
  std::free(record);
}

std::string hexAddress(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

}  // namespace

static_assert(StringDataLease::kSourceLength == StringStore::kPreviewLength + 1);

REALstringStruct* StringStore::make(std::string_view bytes, uint32_t encoding) {
  void* space = std::malloc(sizeof(StringRecord) + bytes.size() + 1);
  if (!space) throw std::bad_alloc();
  auto* record = new (space) StringRecord;
  record->data = reinterpret_cast<char*>(record + 1);
  if (!bytes.empty()) std::memcpy(record->data, bytes.data(), bytes.size());
  record->data[bytes.size()] = '\0';
  record->size = bytes.size();
  record->serial = core().ledger.nextSerial++;
  record->encoding = encoding;
  record->refs = 1;
  try {
    records_.insert(record, record);
  } catch (const std::bad_alloc&) {
    release(record);
    throw;
  }
  return reinterpret_cast<REALstringStruct*>(record);
}

void StringStore::reportBelowZero(const StringRecord& record, std::string_view context) {
  reportProblem(std::string(context) + ": string " + preview(record.bytes()) + " released below zero");
}

void StringStore::reportUnusable(const void* handle, const StringRecord* record, std::string_view context) {
  if (!record)
    reportProblem(std::string(context) + ": unknown string handle " + hexAddress(handle));
  else
    reportProblem(std::string(context) + ": use of the dead string #" + std::to_string(record->serial));
}

void StringStore::lock(const void* handle, std::string_view context) {
  if (!handle) return;  // the empty string
  if (StringRecord* record = live(handle, context)) {
    core().ledger.noteChange(record->baseline, record->refs);
    ++record->refs;
  }
}

void StringStore::unlock(const void* handle, std::string_view context) {
  if (!handle) return;
  StringRecord* record = live(handle, context);
  if (!record) return;
  if (record->refs <= 0) {
    reportBelowZero(*record, context);
    return;
  }
  Core& state = core();
  state.ledger.noteChange(record->baseline, record->refs);
  if (--record->refs > 0) return;
  record->alive = false;
  // Keeps the size and the terminating NUL so that a stale C string reads as garbage, not as the text.
  std::memset(record->data, kPoisonByte, record->size);
  if (!state.ledger.expected.empty()) state.ledger.expected.erase(record->serial);
  if (state.keepDeadHandles) return;
  records_.erase(handle);
  release(record);
}

StringDataLease* StringStore::makeLease(std::string_view source, std::string_view buffer) {
  void* space = std::malloc(sizeof(StringDataLease) + buffer.size() + 1);
  if (!space) throw std::bad_alloc();
  auto* lease = new (space) StringDataLease;
  lease->buffer = reinterpret_cast<char*>(lease + 1);
  if (!buffer.empty()) std::memcpy(lease->buffer, buffer.data(), buffer.size());
  lease->buffer[buffer.size()] = '\0';
  lease->size = buffer.size();
  lease->sourceSize = std::min(source.size(), StringDataLease::kSourceLength);
  if (lease->sourceSize) std::memcpy(lease->source, source.data(), lease->sourceSize);
  lease->serial = core().ledger.nextSerial++;
  try {
    leases_.insert(lease, lease);
  } catch (const std::bad_alloc&) {
    release(lease);
    throw;
  }
  return lease;
}

bool StringStore::lend(const void* handle, uint32_t encoding, StringDataRecord* record, bool refuse) {
  if (!record) {
    reportProblem("PluginGetStringData: null string data record");
    return false;
  }
  if (!isSupportedEncoding(encoding)) {
    reportProblem("PluginGetStringData: conversion to the unsupported " + encodingName(encoding) + " asked for");
    return false;
  }
  if (refuse) return false;
  std::string_view bytes;
  uint32_t from = kREALTextEncodingUTF8;
  StringRecord* source = nullptr;
  if (handle) {
    source = live(handle, "PluginGetStringData");
    if (!source) return false;
    bytes = source->bytes();
    from = source->encoding;
  }
  bool unchanged = false;
  if (source && encoding == kREALTextEncodingUTF8) {
    if (source->readsAsUtf8 < 0) source->readsAsUtf8 = readsUnchanged(bytes, from, encoding) ? 1 : 0;
    unchanged = source->readsAsUtf8 == 1;
  } else {
    unchanged = readsUnchanged(bytes, from, encoding);
  }
  StringDataLease* lease = nullptr;
  if (unchanged) {
    lease = makeLease(bytes, bytes);
  } else {
    std::optional<std::string> converted = convertText(bytes, from, encoding);
    if (!converted) return false;
    lease = makeLease(bytes, *converted);
  }
  record->data = lease->buffer;
  record->length = lease->size;
  record->hostPrivate[0] = lease;
  record->hostPrivate[1] = reinterpret_cast<void*>(static_cast<uintptr_t>(lease->serial));
  return true;
}

void StringStore::takeBack(StringDataRecord* record) {
  if (!record) {
    reportProblem("PluginDisposeStringData: null string data record");
    return;
  }
  StringDataLease* lease = leases_.find(record->hostPrivate[0]);
  if (!lease) {
    reportProblem("PluginDisposeStringData: the record was never filled by PluginGetStringData");
    return;
  }
  if (lease->disposed) {
    reportProblem("PluginDisposeStringData: string data of " + preview(lease->sourceBytes()) + " disposed twice");
    return;
  }
  if (record->hostPrivate[1] != reinterpret_cast<void*>(static_cast<uintptr_t>(lease->serial)))
    reportProblem("PluginDisposeStringData: the host words of the record of " + preview(lease->sourceBytes()) +
                  " were changed");
  std::memset(lease->buffer, kPoisonByte, lease->size);
  lease->disposed = true;
  if (core().keepDeadHandles) return;
  leases_.erase(lease);
  release(lease);
}

void StringStore::flushQuarantine() {
  records_.eraseIf([](StringRecord* record) {
    if (record->alive) return false;
    release(record);
    return true;
  });
  leases_.eraseIf([](StringDataLease* lease) {
    if (!lease->disposed) return false;
    release(lease);
    return true;
  });
}

std::vector<const StringRecord*> StringStore::sorted() const {
  std::vector<const StringRecord*> all;
  all.reserve(records_.size());
  records_.forEach([&](const StringRecord* record) { all.push_back(record); });
  std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->serial < b->serial; });
  return all;
}

std::vector<StringDataLease*> StringStore::outstandingLeases() {
  std::vector<StringDataLease*> open;
  leases_.forEach([&](StringDataLease* lease) {
    if (!lease->disposed) open.push_back(lease);
  });
  std::sort(open.begin(), open.end(), [](auto* a, auto* b) { return a->serial < b->serial; });
  return open;
}

std::string StringStore::preview(std::string_view bytes) {
  std::string text = "\"";
  for (size_t i = 0; i < bytes.size() && i < kPreviewLength; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text + (bytes.size() > kPreviewLength ? "\"..." : "\"");
}

}  // namespace xhost::detail
