// Class-property introspection through the host's second resolver, asked for
// once per wrapper even when first calls race.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FreshGlue.h"
#include "WrapperTestSupport.h"

namespace {

using namespace wrapperTests;
using xhost::Host;
using xhost::NativeRecorder;

using CountFn = int64_t (*)(REALobjectStruct*);
using GetPropertyFn = bool (*)(REALobjectStruct*, int64_t, void*, void*, void*, void*);

// The second resolver: what it serves, and every name asked of it, in order.
std::atomic<void*> gCountEntry{nullptr}, gGetPropertyEntry{nullptr}, gClassOfEntry{nullptr};
std::mutex gAskedMutex;
std::vector<std::string> gAsked;

void* scriptResolver(const char* name) {
  {
    std::lock_guard<std::mutex> lock(gAskedMutex);
    gAsked.push_back(name);
  }
  std::string entry(name);
  if (entry == "REALCountClassProperties") return gCountEntry;
  if (entry == "REALGetClassProperty") return gGetPropertyEntry;
  if (entry == "RuntimeClassOf") return gClassOfEntry;
  return nullptr;
}

std::vector<std::string> askedOfScriptResolver() {
  std::lock_guard<std::mutex> lock(gAskedMutex);
  return gAsked;
}

class ClassIntrospection : public ::testing::Test {
 protected:
  ClassIntrospection() {
    gCountEntry = count.function();
    gGetPropertyEntry = getProperty.function();
    gClassOfEntry = classOf.function();
    std::lock_guard<std::mutex> lock(gAskedMutex);
    gAsked.clear();
  }
  Host& host = Host::instance();
  const NativeValue kClassRef = sample('p', 30);
  NativeRecorder classOf{"p(p)", kClassRef};
  NativeRecorder count{"l(p)", int64_t{7}};
  NativeRecorder getProperty{"C(plpppp)", uint64_t{0x5A}};
  REALobjectStruct* object = reinterpret_cast<REALobjectStruct*>(0x7F5500009000);
};

TEST_F(ClassIntrospection, MissingSecondResolverIsFinal) {
  FreshGlue glue(FreshGlue::AtEnd::Close);
  auto countProperties = glue.symbol<CountFn>("REALCountClassProperties");
  auto getClassProperty = glue.symbol<GetPropertyFn>("REALGetClassProperty");
  size_t asked = host.lookupCount("GetRBScriptResolver");
  {
    WithheldEntry missing("GetRBScriptResolver");
    EXPECT_EQ(countProperties(object), 0);
    EXPECT_FALSE(getClassProperty(object, 0, nullptr, nullptr, nullptr, nullptr));
  }
  ServedEntry served("GetRBScriptResolver", reinterpret_cast<void*>(scriptResolver));
  EXPECT_EQ(countProperties(object), 0);
  EXPECT_FALSE(getClassProperty(object, 0, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(host.lookupCount("GetRBScriptResolver") - asked, 2u) << "once per wrapper, even when missing";
  EXPECT_TRUE(askedOfScriptResolver().empty());
}

TEST_F(ClassIntrospection, AsksTheClassOfTheObject) {
  FreshGlue glue(FreshGlue::AtEnd::Close);
  auto countProperties = glue.symbol<CountFn>("REALCountClassProperties");
  auto getClassProperty = glue.symbol<GetPropertyFn>("REALGetClassProperty");
  ServedEntry served("GetRBScriptResolver", reinterpret_cast<void*>(scriptResolver));
  EXPECT_EQ(countProperties(object), 7);
  EXPECT_EQ(count.calls(), (std::vector<std::vector<NativeValue>>{{kClassRef}}));

  void* outs[4] = {&outs[0], &outs[1], &outs[2], &outs[3]};
  EXPECT_TRUE(getClassProperty(object, 3, outs[0], outs[1], outs[2], outs[3]));
  getProperty.setResult(uint64_t{0});
  EXPECT_FALSE(getClassProperty(object, 3, outs[0], outs[1], outs[2], outs[3]));
  std::vector<NativeValue> passed = {kClassRef,          int64_t{3},         addressOf(outs[0]),
                                     addressOf(outs[1]), addressOf(outs[2]), addressOf(outs[3])};
  EXPECT_EQ(getProperty.calls(), (std::vector<std::vector<NativeValue>>{passed, passed}));
  EXPECT_EQ(classOf.calls(), (std::vector<std::vector<NativeValue>>(3, {addressOf(object)})));

  classOf.setResult(uint64_t{0});
  EXPECT_EQ(countProperties(object), 0) << "an object without a class has no properties";
  EXPECT_EQ(count.calls().size(), 1u);
  EXPECT_EQ(askedOfScriptResolver(), (std::vector<std::string>{"REALCountClassProperties", "RuntimeClassOf",
                                                               "REALGetClassProperty", "RuntimeClassOf"}))
      << "each wrapper keeps what it found";
}

TEST_F(ClassIntrospection, MissingMemberIsAskedForAgain) {
  FreshGlue glue(FreshGlue::AtEnd::Close);
  auto countProperties = glue.symbol<CountFn>("REALCountClassProperties");
  ServedEntry served("GetRBScriptResolver", reinterpret_cast<void*>(scriptResolver));
  gCountEntry = nullptr;
  EXPECT_EQ(countProperties(object), 0);
  EXPECT_EQ(countProperties(object), 0);
  gCountEntry = count.function();
  EXPECT_EQ(countProperties(object), 7);
  EXPECT_EQ(countProperties(object), 7);
  std::vector<std::string> asked = askedOfScriptResolver();
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "REALCountClassProperties"), 3);
  EXPECT_TRUE(classOf.calls().size() == 2u);
}

// Asked for through a resolver that takes its time, so that first calls overlap.
std::atomic<int> gScriptResolverRequests{0};
void* slowResolver(const char* name) {
  if (std::string(name) != "GetRBScriptResolver") return Host::instance().resolver()(name);
  ++gScriptResolverRequests;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return reinterpret_cast<void*>(scriptResolver);
}

TEST_F(ClassIntrospection, ConcurrentFirstCallsSetUpOnce) {
  FreshGlue glue(FreshGlue::AtEnd::Close, slowResolver);
  auto countProperties = glue.symbol<CountFn>("REALCountClassProperties");
  auto getClassProperty = glue.symbol<GetPropertyFn>("REALGetClassProperty");
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::atomic<int> counted{0}, found{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      if (i % 2 == 0 && countProperties(object) == 7) ++counted;
      if (i % 2 == 1 && getClassProperty(object, i, nullptr, nullptr, nullptr, nullptr)) ++found;
    });
  go = true;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(gScriptResolverRequests, 2) << "once per wrapper";
  EXPECT_EQ(counted, kThreads / 2);
  EXPECT_EQ(found, kThreads / 2);
}

}  // namespace
