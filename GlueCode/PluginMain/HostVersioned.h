// Graphics entries whose form changed with the host's version: from the
// threshold on they take and return Doubles, below it 64-bit integers.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "HostCache.h"

extern "C" double REALGetRBVersion() noexcept;

// A Double as the older hosts' 64-bit integer: truncated toward zero, NaN as 0,
// anything beyond the range clamped to it (a plain cast would be undefined).
inline int64_t ToHostInteger(double value) noexcept {
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (std::isnan(value)) return 0;
  if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

// One entry asked for in two forms, each with its own cache.
struct VersionedEntry {
  HostCache asDoubles;
  HostCache asIntegers;
  double threshold;  // the first host version that takes Doubles
};

// The integer form of a parameter or result: Doubles become int64_t.
template <typename T>
struct BelowThreshold {
  using type = T;
};
template <>
struct BelowThreshold<double> {
  using type = int64_t;
};
template <typename T>
T IntegerBelowThreshold(T value) noexcept {
  return value;
}
inline int64_t IntegerBelowThreshold(double value) noexcept { return ToHostInteger(value); }

template <typename Result, typename... Args>
Result CallByVersion(VersionedEntry& entry, Args... args) noexcept {
  if (REALGetRBVersion() >= entry.threshold) {
    auto host = entry.asDoubles.Resolve<Result (*)(Args...)>();
    if (!host) return Result();
    return host(args...);
  }
  using IntegerResult = typename BelowThreshold<Result>::type;
  auto host = entry.asIntegers.Resolve<IntegerResult (*)(typename BelowThreshold<Args>::type...)>();
  if (!host) return Result();
  return static_cast<Result>(host(IntegerBelowThreshold(args)...));
}
