#include "ObjectHeap.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sstream>

#include "Core.h"

namespace xhost::detail {
namespace {

constexpr size_t kGuardSize = 8;
constexpr unsigned char kGuardByte = 0xA5;
constexpr unsigned char kPoisonByte = 0xDD;

std::string hexAddress(const void* p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

// Xojo code in a Destructor: what it raises cannot reach any caller.
void runDestructorHandler(const ClassInfo& cls, const EventHandler& handler) {
  try {
    handler(Object(), {});
  } catch (const std::exception& error) {
    reportProblem("the Destructor of " + cls.name + " failed: " + error.what());
  } catch (...) {
    reportProblem("the Destructor of " + cls.name + " threw a non-standard exception");
  }
}

}  // namespace

// The record sits in front of the instance, in the same allocation, with the
// instance kept as aligned as the allocation itself.
constexpr size_t kRecordSpace = (sizeof(ObjectRecord) + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);

ObjectHeap::~ObjectHeap() {
  records_.forEach([](ObjectRecord* record) { release(record); });
}

void ObjectHeap::release(ObjectRecord* record) {
  record->~ObjectRecord();
  std::free(record);
}

REALobjectStruct* ObjectHeap::create(const ClassInfo& cls) {
  void* space = std::calloc(1, kRecordSpace + cls.instanceSize + kGuardSize);
  if (!space) throw std::bad_alloc();
  auto* record = new (space) ObjectRecord;
  auto* memory = static_cast<unsigned char*>(space) + kRecordSpace;
  record->serial = core().ledger.nextSerial++;
  record->cls = &cls;
  record->memory = memory;
  record->refs = 1;
  std::memcpy(memory, &kInstanceMagic, sizeof kInstanceMagic);
  std::memcpy(memory + sizeof kInstanceMagic, &record->serial, sizeof record->serial);
  std::memset(memory + cls.instanceSize, kGuardByte, kGuardSize);
  try {
    records_.insert(memory, record);
  } catch (const std::bad_alloc&) {
    release(record);
    throw;
  }
  auto* handle = reinterpret_cast<REALobjectStruct*>(memory);
  runInitializers(&cls, handle);
  return handle;
}

void ObjectHeap::runInitializers(const ClassInfo* cls, REALobjectStruct* handle) {
  if (!cls) return;
  runInitializers(cls->super, handle);  // root first
  if (cls->initializer) cls->initializer(handle);
}

void ObjectHeap::reportMisuse(const ObjectRecord& record, std::string_view context, const char* what) const {
  reportProblem(std::string(context) + ": " + describe(record) + " " + what);
}

void ObjectHeap::reportUnusable(const void* handle, const ObjectRecord* record, std::string_view context) const {
  if (!handle)
    reportProblem(std::string(context) + ": Nil object");
  else if (!record)
    reportProblem(std::string(context) + ": unknown object handle " + hexAddress(handle));
  else
    reportProblem(std::string(context) + ": use of the dead object " + describe(*record));
}

void ObjectHeap::lock(const void* handle, std::string_view context) {
  if (!handle) return;
  ObjectRecord* record = live(handle, context);
  if (!record) return;
  if (record->life == ObjectRecord::Life::Dying) {
    reportMisuse(*record, context, "locked while it is being destroyed");
    return;
  }
  core().ledger.noteChange(record->baseline, record->refs);
  ++record->refs;
}

void ObjectHeap::unlock(const void* handle, std::string_view context) {
  if (!handle) return;
  ObjectRecord* record = live(handle, context);
  if (!record) return;
  if (record->life == ObjectRecord::Life::Dying) {
    reportMisuse(*record, context, "released while it is being destroyed");
    return;
  }
  if (record->refs <= 0) {
    reportMisuse(*record, context, "released below zero");
    return;
  }
  core().ledger.noteChange(record->baseline, record->refs);
  if (--record->refs == 0) destroy(*record);
}

void ObjectHeap::destroy(ObjectRecord& record) {
  record.life = ObjectRecord::Life::Dying;
  auto* handle = reinterpret_cast<REALobjectStruct*>(record.memory);
  for (const ClassInfo* c = record.cls; c; c = c->super) {
    if (!c->eventHandlers.empty()) {
      auto handler = c->eventHandlers.find(kDestructorHandler);
      if (handler != c->eventHandlers.end()) runDestructorHandler(*c, handler->second);
    }
    if (c->destructor) c->destructor(handle);
  }
  const unsigned char* guard = record.memory + record.cls->instanceSize;
  if (std::any_of(guard, guard + kGuardSize, [](unsigned char b) { return b != kGuardByte; }))
    reportProblem(describe(record) + ": instance data was written past its end");
  std::memset(record.memory + kInstanceHeaderSize, kPoisonByte, record.cls->instanceSize - kInstanceHeaderSize);
  record.life = ObjectRecord::Life::Dead;
  Core& state = core();
  if (!state.ledger.expected.empty()) state.ledger.expected.erase(record.serial);
  if (state.keepDeadHandles) return;
  records_.erase(handle);
  release(&record);
}

void ObjectHeap::flushQuarantine() {
  records_.eraseIf([](ObjectRecord* record) {
    if (record->life != ObjectRecord::Life::Dead) return false;
    release(record);
    return true;
  });
}

std::vector<const ObjectRecord*> ObjectHeap::sorted() const {
  std::vector<const ObjectRecord*> all;
  all.reserve(records_.size());
  records_.forEach([&](const ObjectRecord* record) { all.push_back(record); });
  std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->serial < b->serial; });
  return all;
}

std::string ObjectHeap::describe(const ObjectRecord& record) const {
  return record.cls->name + " #" + std::to_string(record.serial);
}

}  // namespace xhost::detail
