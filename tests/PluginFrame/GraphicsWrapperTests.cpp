// Graphics calls whose form depends on the host's version: Doubles from the
// threshold on, 64-bit integers (truncated toward zero) below it; one entry
// asked for in each form, each kept on its own.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "FreshGlue.h"
#include "WrapperTestSupport.h"

namespace {

using namespace wrapperTests;
using xhost::callNative;
using xhost::Host;
using xhost::NativeRecorder;

struct GraphicsCall {
  const char* wrapper;
  const char* entry;
  double threshold;         // first version with the Double form
  const char* signature;    // of the wrapper
  const char* doubleForm;   // of the entry at or above the threshold
  const char* integerForm;  // of the entry below it
  std::vector<NativeValue> args;
  std::vector<NativeValue> asDoubles;  // what the entry receives in each form
  std::vector<NativeValue> asIntegers;
};

const uint64_t kGraphics = 0x7F5500001000ULL, kText = 0x7F5500002000ULL;

// clang-format off
const GraphicsCall kCalls[] = {
    {"GraphicsDrawLine", "RuntimeGraphicsDrawLine", 2018.02, "v(pdddd)", "v(pdddd)", "v(pllll)",
     {kGraphics, 1.9, -1.9, 2.5, 1e6 + 0.75},
     {kGraphics, 1.9, -1.9, 2.5, 1e6 + 0.75},
     {kGraphics, int64_t{1}, int64_t{-1}, int64_t{2}, int64_t{1000000}}},
    {"REALGraphicsDrawString", "RuntimeGraphicsDrawString", 2018.02, "v(ppiii)", "v(ppddd)", "v(pplll)",
     {kGraphics, kText, int64_t{5}, int64_t{-6}, int64_t{70000}},
     {kGraphics, kText, 5.0, -6.0, 70000.0},
     {kGraphics, kText, int64_t{5}, int64_t{-6}, int64_t{70000}}},
    {"REALGraphicsStringWidth", "RuntimeGraphicsStringWidth", 2007.02, "d(pp)", "d(pp)", "l(pp)",
     {kGraphics, kText}, {kGraphics, kText}, {kGraphics, kText}},
    {"REALGraphicsStringHeight", "RuntimeGraphicsStringHeight", 2018.02, "d(ppd)", "d(ppd)", "l(ppl)",
     {kGraphics, kText, 99.9}, {kGraphics, kText, 99.9}, {kGraphics, kText, int64_t{99}}},
    {"REALGraphicsTextHeight", "RuntimeGraphicsTextHeight", 2018.02, "d(p)", "d(p)", "l(p)",
     {kGraphics}, {kGraphics}, {kGraphics}},
    {"REALGraphicsTextAscent", "RuntimeGraphicsTextAscent", 2018.02, "d(p)", "d(p)", "l(p)",
     {kGraphics}, {kGraphics}, {kGraphics}},
};
// clang-format on

// The wrapper's result: `value` for the four measures, nothing for the two drawing calls.
NativeValue resultOf(const GraphicsCall& call, double value) {
  return call.signature[0] == 'v' ? NativeValue{} : NativeValue{value};
}

TEST(GraphicsWrappers, TakeTheFormOfTheHostsVersion) {
  Host& host = Host::instance();
  for (const GraphicsCall& call : kCalls) {
    SCOPED_TRACE(call.wrapper);
    FreshGlue glue(FreshGlue::AtEnd::Close);
    void* wrapper = glue.address(call.wrapper);
    bool returns = call.signature[0] != 'v';
    size_t asked = host.lookupCount(call.entry);

    // A host without a version is below every threshold.
    WithheldEntry noVersion("REALGetRBVersion");
    {
      WithheldEntry missing(call.entry);
      EXPECT_EQ(callNative(wrapper, call.signature, call.args), resultOf(call, 0.0));
    }
    NativeRecorder integers(call.integerForm, returns ? NativeValue{int64_t{-42}} : NativeValue{});
    ServedEntry servedIntegers(call.entry, integers.function());
    EXPECT_EQ(callNative(wrapper, call.signature, call.args), resultOf(call, -42.0));

    NativeRecorder version("d()", call.threshold - 0.01);
    ServedEntry servedVersion("REALGetRBVersion", version.function());
    EXPECT_EQ(callNative(wrapper, call.signature, call.args), resultOf(call, -42.0));
    EXPECT_EQ(integers.calls(), (std::vector<std::vector<NativeValue>>{call.asIntegers, call.asIntegers}));

    version.setResult(call.threshold);
    {
      WithheldEntry missing(call.entry);
      EXPECT_EQ(callNative(wrapper, call.signature, call.args), resultOf(call, 0.0));
    }
    NativeRecorder doubles(call.doubleForm, returns ? NativeValue{12.75} : NativeValue{});
    ServedEntry servedDoubles(call.entry, doubles.function());
    EXPECT_EQ(callNative(wrapper, call.signature, call.args), resultOf(call, 12.75));
    version.setResult(2024.01);
    EXPECT_EQ(callNative(wrapper, call.signature, call.args), resultOf(call, 12.75));
    EXPECT_EQ(doubles.calls(), (std::vector<std::vector<NativeValue>>{call.asDoubles, call.asDoubles}));
    EXPECT_EQ(integers.calls().size(), 2u);
    EXPECT_EQ(host.lookupCount(call.entry) - asked, 4u) << "each form asks until found, then keeps it";
    EXPECT_EQ(version.calls().size(), 4u) << "the version is read on every call";
  }
}

TEST(GraphicsWrappers, StringWidthTakesDoublesFrom2007_02) {
  FreshGlue glue(FreshGlue::AtEnd::Close);
  auto width = glue.symbol<double (*)(REALobjectStruct*, REALstringStruct*)>("REALGraphicsStringWidth");
  NativeRecorder integers("l(pp)", int64_t{7}), doubles("d(pp)", 7.5);
  NativeRecorder version("d()", 2007.01);
  ServedEntry servedVersion("REALGetRBVersion", version.function());
  size_t askedForVersion = Host::instance().lookupCount("REALGetRBVersion");
  EXPECT_EQ(glue.symbol<double (*)()>("REALGetRBVersion")(), 2007.01);
  {
    ServedEntry served("RuntimeGraphicsStringWidth", integers.function());
    EXPECT_EQ(width(nullptr, nullptr), 7.0);
  }
  ServedEntry served("RuntimeGraphicsStringWidth", doubles.function());
  for (double hostVersion : {2007.02, 2018.01, 2018.02}) {
    version.setResult(hostVersion);
    EXPECT_EQ(width(nullptr, nullptr), 7.5) << hostVersion;
  }
  EXPECT_EQ(Host::instance().lookupCount("REALGetRBVersion") - askedForVersion, 1u)
      << "the version check shares the cache of REALGetRBVersion";
}

// Below the threshold a Double becomes a 64-bit integer without undefined
// behaviour: truncated toward zero, NaN as 0, the rest clamped to the range.
TEST(GraphicsWrappers, DoublesBecomeIntegersWithoutOverflow) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
  const double kTwoTo63 = std::ldexp(1.0, 63);
  const struct {
    double value;
    int64_t expected;
  } cases[] = {
      {std::nan(""), 0},
      {-std::nan(""), 0},
      {kInf, kMax},
      {-kInf, kMin},
      {1e300, kMax},
      {-1e300, kMin},
      {kTwoTo63, kMax},
      {-kTwoTo63, kMin},
      {std::nextafter(kTwoTo63, 0.0), 9223372036854774784LL},
      {std::nextafter(-kTwoTo63, 0.0), -9223372036854774784LL},
      {1.9, 1},
      {-1.9, -1},
      {-0.5, 0},
      {0.0, 0},
  };
  FreshGlue glue(FreshGlue::AtEnd::Close);
  auto drawLine = glue.symbol<void (*)(REALobjectStruct*, double, double, double, double)>("GraphicsDrawLine");
  auto stringHeight = glue.symbol<double (*)(REALobjectStruct*, REALstringStruct*, double)>("REALGraphicsStringHeight");
  NativeRecorder version("d()", 2018.01);
  ServedEntry servedVersion("REALGetRBVersion", version.function());
  NativeRecorder line("v(pllll)"), height("l(ppl)", int64_t{3});
  ServedEntry servedLine("RuntimeGraphicsDrawLine", line.function());
  ServedEntry servedHeight("RuntimeGraphicsStringHeight", height.function());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    drawLine(nullptr, c.value, c.value, c.value, c.value);
    NativeValue expected = c.expected;
    EXPECT_EQ(line.calls().back(), (std::vector<NativeValue>{uint64_t{0}, expected, expected, expected, expected}));
    EXPECT_EQ(stringHeight(nullptr, nullptr, c.value), 3.0);
    EXPECT_EQ(height.calls().back()[2], NativeValue{c.expected});
  }
}

}  // namespace
