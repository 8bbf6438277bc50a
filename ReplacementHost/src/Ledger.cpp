// The ledger: what a test (or the whole run) left referenced or misused.
#include "Core.h"
#include "xhost/Host.h"

namespace xhost {

using namespace detail;

namespace {

std::string references(int64_t n) { return std::to_string(n) + (n == 1 ? " reference" : " references"); }

// Objects and strings made since `since` and still referenced, those made
// before that gained references in this period, open string data, then misuse.
LedgerReport reportSince(uint64_t since) {
  Core& state = core();
  Ledger& ledger = state.ledger;
  LedgerReport report;
  auto gained = [&](const RefBaseline& baseline, int64_t refs) {
    return baseline.epoch == ledger.epoch && refs > baseline.refs ? refs - baseline.refs : 0;
  };
  for (const ObjectRecord* object : state.objects.sorted()) {
    if (object->life == ObjectRecord::Life::Dead || ledger.expected.count(object->serial)) continue;
    if (object->serial >= since)
      report.problems.push_back("leak: " + state.objects.describe(*object) + " still holds " +
                                references(object->refs));
    else if (int64_t extra = gained(object->baseline, object->refs))
      report.problems.push_back("leak: " + state.objects.describe(*object) + " gained " + references(extra));
  }
  for (const StringRecord* string : state.strings.sorted()) {
    if (!string->alive || ledger.expected.count(string->serial)) continue;
    std::string name = "string " + StringStore::preview(string->bytes()) + " #" + std::to_string(string->serial);
    if (string->serial >= since)
      report.problems.push_back("leak: " + name + " still holds " + references(string->refs));
    else if (int64_t extra = gained(string->baseline, string->refs))
      report.problems.push_back("leak: " + name + " gained " + references(extra));
  }
  for (const StringDataLease* lease : state.strings.outstandingLeases())
    if (lease->serial >= since)
      report.problems.push_back("leak: string data of " + StringStore::preview(lease->sourceBytes()) + " was never disposed");
  report.problems.insert(report.problems.begin(), ledger.problems.begin(), ledger.problems.end());
  ledger.problems.clear();
  if (uint64_t calls = ledger.offThreadCalls.exchange(0))
    report.problems.push_back(std::string(ledger.offThreadEntry.load()) + " and other services: " +
                              std::to_string(calls) + " requests on a thread that is not the host's");
  return report;
}

uint64_t serialOf(const void* handle, bool isString) {
  if (isString) {
    StringRecord* record = core().strings.find(handle);
    if (!record || !record->alive) throw HostError("expectRetained: not a live string");
    return record->serial;
  }
  ObjectRecord* record = core().objects.find(handle);
  if (!record || record->life == ObjectRecord::Life::Dead) throw HostError("expectRetained: not a live object");
  return record->serial;
}

}  // namespace

std::string LedgerReport::text() const {
  std::string text;
  for (const std::string& problem : problems) text += (text.empty() ? "" : "\n") + problem;
  return text;
}

void Host::ledgerBegin() {
  Core& state = core();
  state.objects.flushQuarantine();
  state.strings.flushQuarantine();
  ++state.ledger.epoch;
  state.ledger.snapshotSerial = state.ledger.nextSerial;
}

LedgerReport Host::ledgerEnd() { return reportSince(core().ledger.snapshotSerial); }

LedgerReport Host::finalReport() { return reportSince(0); }

void Host::setExitReport(bool enabled) { core().reportAtExit = enabled; }

void Host::keepDeadHandles(bool keep) { core().keepDeadHandles = keep; }

void Host::expectRetained(const Object& o) { core().ledger.expected.insert(serialOf(o.get(), false)); }

void Host::expectRetained(const String& s) { core().ledger.expected.insert(serialOf(s.get(), true)); }

void Host::clearExpectedRetained() { core().ledger.expected.clear(); }

int64_t Host::refCount(const Object& o) const {
  ObjectRecord* record = core().objects.find(o.get());
  return record && record->life != ObjectRecord::Life::Dead ? record->refs : -1;
}

int64_t Host::refCount(const String& s) const {
  StringRecord* record = core().strings.find(s.get());
  return record && record->alive ? record->refs : -1;
}

size_t Host::liveObjects(const std::string& className) const {
  size_t count = 0;
  for (const ObjectRecord* object : core().objects.sorted())
    if (object->life != ObjectRecord::Life::Dead && sameName(object->cls->name, className)) ++count;
  return count;
}

Host::Totals Host::totals() const {
  Totals totals;
  for (const ObjectRecord* object : core().objects.sorted()) {
    if (object->life == ObjectRecord::Life::Dead) continue;
    ++totals.objects;
    totals.references += object->refs;
  }
  for (const StringRecord* string : core().strings.sorted()) {
    if (!string->alive) continue;
    ++totals.strings;
    totals.references += string->refs;
  }
  return totals;
}

}  // namespace xhost
