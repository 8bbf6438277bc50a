#include "ObjectHeap.h"

#include <algorithm>
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

ObjectHeap::~ObjectHeap() {
  for (auto& entry : records_) std::free(entry.second->memory);
}

REALobjectStruct* ObjectHeap::create(const ClassInfo& cls) {
  auto* memory = static_cast<unsigned char*>(std::calloc(1, cls.instanceSize + kGuardSize));
  if (!memory) throw std::bad_alloc();
  auto record = std::make_unique<ObjectRecord>();
  record->serial = core().ledger.nextSerial++;
  record->cls = &cls;
  record->memory = memory;
  record->refs = 1;
  std::memcpy(memory, &kInstanceMagic, sizeof kInstanceMagic);
  std::memcpy(memory + sizeof kInstanceMagic, &record->serial, sizeof record->serial);
  std::memset(memory + cls.instanceSize, kGuardByte, kGuardSize);
  records_[memory] = std::move(record);
  auto* handle = reinterpret_cast<REALobjectStruct*>(memory);
  runInitializers(&cls, handle);
  return handle;
}

void ObjectHeap::runInitializers(const ClassInfo* cls, REALobjectStruct* handle) {
  if (!cls) return;
  runInitializers(cls->super, handle);  // root first
  if (cls->initializer) cls->initializer(handle);
}

ObjectRecord* ObjectHeap::find(const void* handle) const {
  auto it = records_.find(handle);
  return it == records_.end() ? nullptr : it->second.get();
}

ObjectRecord* ObjectHeap::live(const void* handle, std::string_view context) const {
  if (!handle) {
    reportProblem(std::string(context) + ": Nil object");
    return nullptr;
  }
  ObjectRecord* record = find(handle);
  if (!record) {
    reportProblem(std::string(context) + ": unknown object handle " + hexAddress(handle));
    return nullptr;
  }
  if (record->life == ObjectRecord::Life::Dead) {
    reportProblem(std::string(context) + ": use of the dead object " + describe(*record));
    return nullptr;
  }
  return record;
}

void ObjectHeap::lock(const void* handle, std::string_view context) {
  if (!handle) return;
  ObjectRecord* record = live(handle, context);
  if (!record) return;
  if (record->life == ObjectRecord::Life::Dying) {
    reportProblem(std::string(context) + ": " + describe(*record) + " locked while it is being destroyed");
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
    reportProblem(std::string(context) + ": " + describe(*record) + " released while it is being destroyed");
    return;
  }
  if (record->refs <= 0) {
    reportProblem(std::string(context) + ": " + describe(*record) + " released below zero");
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
  core().ledger.expected.erase(record.serial);
  if (core().keepDeadHandles) return;
  std::free(record.memory);
  records_.erase(handle);
}

void ObjectHeap::flushQuarantine() {
  for (auto it = records_.begin(); it != records_.end();) {
    if (it->second->life == ObjectRecord::Life::Dead) {
      std::free(it->second->memory);
      it = records_.erase(it);
    } else {
      ++it;
    }
  }
}

std::vector<const ObjectRecord*> ObjectHeap::sorted() const {
  std::vector<const ObjectRecord*> all;
  for (const auto& entry : records_) all.push_back(entry.second.get());
  std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->serial < b->serial; });
  return all;
}

std::string ObjectHeap::describe(const ObjectRecord& record) const {
  return record.cls->name + " #" + std::to_string(record.serial);
}

}  // namespace xhost::detail
