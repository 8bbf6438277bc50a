#include "Core.h"

#include <cstdio>
#include <cstdlib>

#include "HostEntries.h"

namespace xhost::detail {
namespace {

void reportAtExit() {
  if (!core().reportAtExit) return;
  LedgerReport report = Host::instance().finalReport();
  if (!report.clean()) std::fprintf(stderr, "xhost: unclean at exit:\n%s\n", report.text().c_str());
}

}  // namespace

Core* gCore = nullptr;

Core& makeCore() {
  static Core* instance = new Core;  // never destroyed: handles may be released during static destruction
  if (!gCore) {
    gCore = instance;  // set first: registering the built-in classes reaches the state too
    registerBuiltinClasses(instance->classes);
    installHostEntries(instance->entries);
    std::atexit(reportAtExit);
  }
  return *instance;
}

void reportProblem(std::string text) { core().ledger.problems.push_back(std::move(text)); }

namespace {
std::atomic<bool> hostThreadKnown{false};
thread_local int tHostCalls = 0;
thread_local bool tIsHostThread = false;  // the thread that loaded the plugin
}  // namespace

void noteHostThread() noexcept {
  if (hostThreadKnown.load()) return;
  tIsHostThread = true;
  hostThreadKnown.store(true);
}

void enterHostCall() noexcept { ++tHostCalls; }
void leaveHostCall() noexcept { --tHostCalls; }

bool onHostThread() noexcept {
  return tIsHostThread || tHostCalls > 0 || !hostThreadKnown.load();
}

void noteOffThreadUse(const char* entry) noexcept {
  core().ledger.offThreadEntry.store(entry);
  core().ledger.offThreadCalls.fetch_add(1);
}

void installHostEntries(EntryTable& table) {
  addRegistrationEntries(table);
  addObjectEntries(table);
  addPropertyAndArrayEntries(table);
  addStringEntries(table);
  addRuntimeEntries(table);
}

void* resolveHostEntry(const char* name) noexcept {
  return shielded("resolver", static_cast<void*>(nullptr), [&]() -> void* {
    if (!name) {
      reportProblem("resolver: null entry name");
      return nullptr;
    }
    EntryTable& table = core().entries;
    ++table.counts[name];
    auto it = table.entries.find(name);
    if (it == table.entries.end() || it->second.withheld) return nullptr;
    return it->second.replacement ? it->second.replacement : it->second.own;
  });
}

}  // namespace xhost::detail
