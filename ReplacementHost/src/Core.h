// The host's process-wide state, created on first use and never destroyed
// (handles held by static objects may be released after main returns).
#pragma once

#include <atomic>
#include <exception>
#include <map>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "ClassRegistry.h"
#include "ObjectHeap.h"
#include "StringStore.h"

namespace xhost::detail {

struct Ledger {
  std::vector<std::string> problems;  // misuse recorded and not yet reported
  // Services requested on a thread that was not the host's, by entry name;
  // written from any thread, so kept apart from `problems`.
  std::atomic<const char*> offThreadEntry{nullptr};
  std::atomic<uint64_t> offThreadCalls{0};
  uint64_t epoch = 0;                     // counts ledgerBegin calls
  uint64_t snapshotSerial = 0;            // records with a serial at or above were made since
  uint64_t nextSerial = 1;                // shared by objects, strings and string data
  std::unordered_set<uint64_t> expected;  // serials kept on purpose (expectRetained)

  void noteChange(RefBaseline& baseline, int64_t refsBefore) {
    if (baseline.epoch != epoch) baseline = {epoch, refsBefore};
  }
};

// The resolver's table: every service by name, with the test controls.
struct EntryTable {
  struct Entry {
    void* own = nullptr;          // the host's function; null for names only replaced by tests
    void* replacement = nullptr;  // served instead of `own` when set
    bool withheld = false;
  };
  std::map<std::string, Entry> entries;
  std::map<std::string, size_t> counts;  // every request, served or not
};

// One host-code call into the plugin: what the plugin raised meanwhile.
struct CallFrame {
  REALobjectStruct* exception = nullptr;  // one reference held by the frame; may be null
  std::exception_ptr hostFailure;         // thrown by an event handler of host code
};

struct LoadedPlugin {
  std::string path;
  void* handle = nullptr;  // never closed: the host keeps pointers into the plugin
};

struct Core {
  ClassRegistry classes;
  ObjectHeap objects;
  StringStore strings;
  Ledger ledger;
  EntryTable entries;
  std::vector<CallFrame> frames;
  std::vector<LoadedPlugin> plugins;
  int announcedVersion = 0;  // by RegisterPluginVersion
  int loadingDepth = 0;      // inside REALPluginMain: type checks wait until it returns
  bool refuseConversions = false;
  bool reportAtExit = true;
  bool keepDeadHandles = true;  // dead objects, strings and string data stay, poisoned, until a ledger period ends
};

extern Core* gCore;  // set by makeCore
Core& makeCore();
// Every service reaches the state: a load and a test once it exists.
inline Core& core() { return gCore ? *gCore : makeCore(); }
void reportProblem(std::string text);

// Host services serve the thread that loaded the plugin and any thread that
// is itself inside a call of host code into the plugin; Xojo code never runs
// on a thread of the plugin's (or Python's) making.
void noteHostThread() noexcept;  // the loading thread
void enterHostCall() noexcept;   // host code calls into the plugin on this thread
void leaveHostCall() noexcept;
bool onHostThread() noexcept;
void noteOffThreadUse(const char* entry) noexcept;

void installHostEntries(EntryTable& table);  // the services of the resolver
void registerBuiltinClasses(ClassRegistry& registry);
void* resolveHostEntry(const char* name) noexcept;

// Runs `body` for a host entry: nothing thrown reaches the plugin; a failure
// is recorded and `fallback` returned.
template <typename R, typename F>
R shielded(const char* entry, R fallback, F&& body) noexcept {
  if (!onHostThread()) {
    noteOffThreadUse(entry);
    return fallback;
  }
  try {
    return body();
  } catch (const std::exception& error) {
    try {
      reportProblem(std::string(entry) + ": host failure: " + error.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      reportProblem(std::string(entry) + ": host failure");
    } catch (...) {
    }
  }
  return fallback;
}

template <typename F>
void shieldedVoid(const char* entry, F&& body) noexcept {
  shielded(entry, 0, [&] {
    body();
    return 0;
  });
}

}  // namespace xhost::detail
