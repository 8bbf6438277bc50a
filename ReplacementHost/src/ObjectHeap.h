// Instances of every class: allocation in blocks, reference counts,
// initializers and destructors, and a quarantine for dead handles.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ClassModel.h"
#include "HandleIndex.h"

namespace xhost::detail {

// References held when the current ledger period began, taken before the
// first change in that period.
struct RefBaseline {
  uint64_t epoch = 0;
  int64_t refs = 0;
};

// Lives in the same allocation as the instance it describes, just before it.
struct ObjectRecord {
  enum class Life { Alive, Dying, Dead };
  uint64_t serial = 0;
  const ClassInfo* cls = nullptr;   // never null
  unsigned char* memory = nullptr;  // the instance; poisoned and kept after death until the quarantine is flushed
  int64_t refs = 0;
  Life life = Life::Alive;
  RefBaseline baseline;
};

class ObjectHeap {
 public:
  ObjectHeap() = default;
  ObjectHeap(const ObjectHeap&) = delete;
  ObjectHeap& operator=(const ObjectHeap&) = delete;
  ~ObjectHeap();

  // A zero-filled instance holding one reference, its initializers run root to leaf.
  REALobjectStruct* create(const ClassInfo& cls);
  ObjectRecord* find(const void* handle) const { return records_.find(handle); }  // any life; null when unknown
  // The live record of the handle, or null after recording what is wrong with it.
  ObjectRecord* live(const void* handle, std::string_view context) const {
    ObjectRecord* record = records_.find(handle);
    if (record && record->life != ObjectRecord::Life::Dead) return record;
    reportUnusable(handle, record, context);
    return nullptr;
  }
  void lock(const void* handle, std::string_view context);
  void unlock(const void* handle, std::string_view context);

  void flushQuarantine();                           // frees dead instances
  std::vector<const ObjectRecord*> sorted() const;  // by creation
  std::string describe(const ObjectRecord& record) const;

 private:
  void destroy(ObjectRecord& record);  // frees the record too unless dead handles are kept
  [[gnu::cold]] void reportMisuse(const ObjectRecord& record, std::string_view context, const char* what) const;
  [[gnu::cold]] void reportUnusable(const void* handle, const ObjectRecord* record, std::string_view context) const;
  static void runInitializers(const ClassInfo* cls, REALobjectStruct* handle);
  static void release(ObjectRecord* record);  // frees the record and its instance
  HandleIndex<ObjectRecord> records_;
};

}  // namespace xhost::detail
