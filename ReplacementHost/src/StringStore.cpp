#include "StringStore.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "Core.h"
#include "Encoding.h"

namespace xhost::detail {
namespace {

constexpr char kPoisonByte = '\xDD';

std::string hexAddress(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

}  // namespace

REALstringStruct* StringStore::make(std::string_view bytes, uint32_t encoding) {
  auto record = std::make_unique<StringRecord>();
  record->serial = core().ledger.nextSerial++;
  record->bytes = std::string(bytes);
  record->encoding = encoding;
  record->refs = 1;
  auto* handle = reinterpret_cast<REALstringStruct*>(record.get());
  records_[handle] = std::move(record);
  return handle;
}

StringRecord* StringStore::find(const void* handle) const {
  auto it = records_.find(handle);
  return it == records_.end() ? nullptr : it->second.get();
}

StringRecord* StringStore::live(const void* handle, std::string_view context) const {
  StringRecord* record = find(handle);
  if (!record) {
    reportProblem(std::string(context) + ": unknown string handle " + hexAddress(handle));
    return nullptr;
  }
  if (!record->alive) {
    reportProblem(std::string(context) + ": use of the dead string #" + std::to_string(record->serial));
    return nullptr;
  }
  return record;
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
    reportProblem(std::string(context) + ": string " + preview(record->bytes) + " released below zero");
    return;
  }
  core().ledger.noteChange(record->baseline, record->refs);
  if (--record->refs > 0) return;
  record->alive = false;
  // Keeps the size and the terminating NUL so that a stale C string reads as garbage, not as the text.
  std::fill(record->bytes.begin(), record->bytes.end(), kPoisonByte);
  core().ledger.expected.erase(record->serial);
  if (!core().keepDeadHandles) records_.erase(handle);
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
  if (handle) {
    StringRecord* source = live(handle, "PluginGetStringData");
    if (!source) return false;
    bytes = source->bytes;
    from = source->encoding;
  }
  std::optional<std::string> converted = convertText(bytes, from, encoding);
  if (!converted) return false;
  auto lease = std::make_unique<StringDataLease>();
  lease->serial = core().ledger.nextSerial++;
  lease->buffer = std::move(*converted);
  lease->source = std::string(bytes.substr(0, kPreviewLength + 1));
  record->data = lease->buffer.data();
  record->length = lease->buffer.size();
  record->hostPrivate[0] = lease.get();
  record->hostPrivate[1] = reinterpret_cast<void*>(static_cast<uintptr_t>(lease->serial));
  leases_[lease.get()] = std::move(lease);
  return true;
}

void StringStore::takeBack(StringDataRecord* record) {
  if (!record) {
    reportProblem("PluginDisposeStringData: null string data record");
    return;
  }
  auto it = leases_.find(record->hostPrivate[0]);
  if (it == leases_.end()) {
    reportProblem("PluginDisposeStringData: the record was never filled by PluginGetStringData");
    return;
  }
  StringDataLease& lease = *it->second;
  if (lease.disposed) {
    reportProblem("PluginDisposeStringData: string data of " + preview(lease.source) + " disposed twice");
    return;
  }
  if (record->hostPrivate[1] != reinterpret_cast<void*>(static_cast<uintptr_t>(lease.serial)))
    reportProblem("PluginDisposeStringData: the host words of the record of " + preview(lease.source) +
                  " were changed");
  std::fill(lease.buffer.begin(), lease.buffer.end(), kPoisonByte);
  lease.disposed = true;
  if (!core().keepDeadHandles) leases_.erase(it);
}

void StringStore::flushQuarantine() {
  for (auto it = records_.begin(); it != records_.end();) it = it->second->alive ? std::next(it) : records_.erase(it);
  for (auto it = leases_.begin(); it != leases_.end();) it = it->second->disposed ? leases_.erase(it) : std::next(it);
}

std::vector<const StringRecord*> StringStore::sorted() const {
  std::vector<const StringRecord*> all;
  for (const auto& entry : records_) all.push_back(entry.second.get());
  std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->serial < b->serial; });
  return all;
}

std::vector<StringDataLease*> StringStore::outstandingLeases() {
  std::vector<StringDataLease*> open;
  for (auto& entry : leases_)
    if (!entry.second->disposed) open.push_back(entry.second.get());
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
