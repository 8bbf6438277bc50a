// Calls by prototype letters through recorded functions of the same prototype.
#include <gtest/gtest.h>

#include <cstdint>

#include "xhost/Host.h"
#include "xhost/NativeCalls.h"

namespace xhost::testing {
namespace {

struct LetterCase {
  char letter;
  NativeValue argument;
  NativeValue result;
};

// Extremes of each type, so that a narrowed, widened or sign-lost value shows.
const LetterCase kLetters[] = {
    {'c', int64_t{-128}, int64_t{127}},
    {'C', uint64_t{0xFF}, uint64_t{0x80}},
    {'s', int64_t{-32768}, int64_t{32767}},
    {'S', uint64_t{0xFFFF}, uint64_t{0x8001}},
    {'i', int64_t{INT32_MIN}, int64_t{INT32_MAX}},
    {'I', uint64_t{0xFFFFFFFF}, uint64_t{0x80000001}},
    {'l', int64_t{INT64_MIN}, int64_t{INT64_MAX}},
    {'L', uint64_t{UINT64_MAX}, uint64_t{0x8000000000000001}},
    {'f', 1.5, -0.25},
    {'d', 1e300, -2.5e-300},
    {'p', uint64_t{0x7F0000001234}, uint64_t{0x7F0000005678}},
};

TEST(NativeCalls, EveryLetterTravelsBothWaysUnchanged) {
  for (const LetterCase& c : kLetters) {
    SCOPED_TRACE(c.letter);
    std::string signature = std::string(1, c.letter) + "(" + c.letter + "d" + c.letter + ")";
    NativeRecorder recorder(signature, c.result);
    EXPECT_EQ(callNative(recorder.function(), signature, {c.argument, 0.5, c.argument}), c.result);
    EXPECT_EQ(recorder.calls(), (std::vector<std::vector<NativeValue>>{{c.argument, 0.5, c.argument}}));
  }
}

TEST(NativeCalls, ValuesOfTheWrongKindOrCountAreRefused) {
  NativeRecorder recorder("v(pi)");
  EXPECT_THROW(callNative(recorder.function(), "v(pi)", {uint64_t{1}}), HostError);
  EXPECT_THROW(callNative(recorder.function(), "v(pi)", {uint64_t{1}, uint64_t{2}}), HostError);
  EXPECT_THROW(callNative(recorder.function(), "v(px)", {uint64_t{1}, int64_t{2}}), HostError);
  EXPECT_THROW(NativeRecorder("d()", int64_t{1}), HostError);
  EXPECT_THROW(NativeRecorder("l(v)"), HostError);
  EXPECT_TRUE(recorder.calls().empty());
}

TEST(NativeCalls, ValuesAreReadWhereACalleeWroteThem) {
  int16_t small = -2;
  double real = 3.25;
  EXPECT_EQ(readNative('s', &small), NativeValue{int64_t{-2}});
  EXPECT_EQ(readNative('d', &real), NativeValue{3.25});
}

}  // namespace
}  // namespace xhost::testing
