// Values for calls by prototype letters, and a host entry served for one scope.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "xhost/Host.h"
#include "xhost/NativeCalls.h"

namespace wrapperTests {

using xhost::NativeValue;

// The prototype as the host sees it: a Boolean is an RBBoolean byte.
inline std::string hostForm(std::string signature) {
  std::replace(signature.begin(), signature.end(), 'b', 'C');
  return signature;
}
inline char hostForm(char letter) { return letter == 'b' ? 'C' : letter; }

inline std::string parametersOf(const std::string& signature) { return signature.substr(2, signature.size() - 3); }

// A value for the parameter at `position` (or a result): distinct per position,
// with high bits and signs set so that a narrowed or reordered value shows.
inline NativeValue sample(char letter, int position) {
  switch (letter) {
    case 'b':
      return uint64_t{1};
    case 'c':
      return int64_t{-100 + position};
    case 'C':
      return uint64_t(0xA0 + position);
    case 's':
      return int64_t{-30000 + position};
    case 'S':
      return uint64_t(0xF000 + position);
    case 'i':
      return int64_t{-0x12345600 - position};
    case 'I':
      return uint64_t(0xF1234500u + position);
    case 'l':
      return int64_t{-0x0123456789AB00LL - position};
    case 'L':
      return uint64_t(0xF123456789AB0000ULL + position);
    case 'f':
      return 1.5 + position;
    case 'd':
      return 1234.0625 + position;
    case 'p':
      return uint64_t(0x7F5500001000ULL + 0x100 * position);
    default:
      return {};
  }
}

inline NativeValue zeroOf(char letter) {
  switch (letter) {
    case 'v':
      return {};
    case 'f':
    case 'd':
      return 0.0;
    case 'c':
    case 's':
    case 'i':
    case 'l':
      return int64_t{0};
    default:
      return uint64_t{0};
  }
}

// What the plugin hands on of a host value of that letter: a Boolean is true
// exactly when the host's byte is nonzero.
inline NativeValue asPluginSees(char letter, const NativeValue& hostValue) {
  if (letter != 'b') return hostValue;
  return uint64_t{std::get<uint64_t>(hostValue) != 0 ? 1u : 0u};
}

inline std::vector<NativeValue> samplesFor(const std::string& parameters) {
  std::vector<NativeValue> values;
  for (size_t i = 0; i < parameters.size(); ++i) values.push_back(sample(parameters[i], static_cast<int>(i)));
  return values;
}

// Serves `function` under `entry` for the life of the scope.
class ServedEntry {
 public:
  ServedEntry(std::string entry, void* function) : entry_(std::move(entry)) {
    xhost::Host::instance().replaceEntry(entry_, function);
  }
  ~ServedEntry() { xhost::Host::instance().restoreEntry(entry_); }
  ServedEntry(const ServedEntry&) = delete;
  ServedEntry& operator=(const ServedEntry&) = delete;

 private:
  std::string entry_;
};

// Withholds `entry` for the life of the scope.
class WithheldEntry {
 public:
  explicit WithheldEntry(std::string entry) : entry_(std::move(entry)) {
    xhost::Host::instance().withholdEntry(entry_);
  }
  ~WithheldEntry() { xhost::Host::instance().restoreEntry(entry_); }
  WithheldEntry(const WithheldEntry&) = delete;
  WithheldEntry& operator=(const WithheldEntry&) = delete;

 private:
  std::string entry_;
};

inline uint64_t addressOf(const void* pointer) { return reinterpret_cast<uint64_t>(pointer); }

}  // namespace wrapperTests
