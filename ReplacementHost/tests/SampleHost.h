// The host with the sample plugin loaded, and small helpers of the tests.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "xhost/Host.h"

namespace xhost::testing {

inline Host& sampleHost() {
  Host& host = Host::instance();
  host.loadPlugin(SAMPLE_PLUGIN_PATH);
  return host;
}

template <typename Fn>
Fn pluginFunction(const char* name) {
  void* symbol = sampleHost().pluginSymbol(name);
  if (!symbol) throw HostError(std::string("the sample plugin lacks ") + name);
  return reinterpret_cast<Fn>(symbol);
}

template <typename Fn>
Fn hostEntry(const char* name) {
  return reinterpret_cast<Fn>(sampleHost().resolver()(name));
}

inline std::string sampleTrace() { return pluginFunction<const char* (*)()>("SampleTrace")(); }
inline void clearSampleTrace() { pluginFunction<void (*)()>("SampleClearTrace")(); }

// What the ledger holds now; reading it settles it, so a test that provokes
// misuse on purpose reads it before the test ends.
inline std::string ledgerText() { return Host::instance().ledgerEnd().text(); }

// Starts a new ledger period: what was made before is no longer the test's.
inline void forgetLedger() {
  Host::instance().ledgerEnd();
  Host::instance().ledgerBegin();
}

inline std::string text(const Value& v) { return asString(v).bytes(); }

}  // namespace xhost::testing
