// Exceptions raised by the plugin and delivered to host code.
#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

TEST(Exceptions, RaisedExceptionIsThrownOnceThePluginReturns) {
  Host& host = sampleHost();
  Object thrower = host.newObject("SampleThrower");
  try {
    host.call(thrower, "Fail", {host.newString("boom"), int64_t{42}});
    FAIL() << "no exception";
  } catch (const XojoException& raised) {
    EXPECT_EQ(raised.message, "boom");
    EXPECT_EQ(raised.errorNumber, 42);
    EXPECT_TRUE(raised.isA("RuntimeException"));
    EXPECT_TRUE(raised.isA("SampleError"));
    EXPECT_EQ(raised.exception.className(), "SampleError");
    EXPECT_EQ(host.refCount(raised.exception), 1) << "the plugin gave back its own reference";
    EXPECT_THAT(raised.what(), HasSubstr("boom"));
  }
}

TEST(Exceptions, AResultReturnedWithAnExceptionIsReleased) {
  Host& host = sampleHost();
  Object thrower = host.newObject("SampleThrower");
  size_t before = host.liveObjects("SampleBase");
  EXPECT_THROW(host.call(thrower, "FailWithResult"), XojoException);
  EXPECT_EQ(host.liveObjects("SampleBase"), before);
}

TEST(Exceptions, RaisingWhileNoHostCallIsActiveIsMisuse) {
  Host& host = sampleHost();
  Object error = host.newObject("RuntimeException", {host.newString("stray"), int64_t{1}});
  hostEntry<void (*)(REALobjectStruct*)>("RuntimeRaiseException")(error.get());
  EXPECT_EQ(host.refCount(error), 1) << "nothing kept";
  EXPECT_THAT(ledgerText(), HasSubstr("raised while no host call was active"));
}

TEST(Exceptions, OnlyRuntimeExceptionsCanBeRaised) {
  Host& host = sampleHost();
  Object base = host.newObject("SampleBase");
  hostEntry<void (*)(REALobjectStruct*)>("RuntimeRaiseException")(base.get());
  EXPECT_THAT(ledgerText(), HasSubstr("SampleBase is not a RuntimeException"));
}

TEST(Exceptions, RuntimeExceptionConstructorAndProperties) {
  Host& host = sampleHost();
  Object error = host.newObject("RuntimeException", {host.newString("message"), int64_t{-3}});
  EXPECT_EQ(text(host.getProperty(error, "Message")), "message");
  EXPECT_EQ(asInteger(host.getProperty(error, "ErrorNumber")), -3);
  Object plain = host.newObject("SampleError");
  EXPECT_TRUE(plain.isA("RuntimeException"));
  EXPECT_EQ(text(host.getProperty(plain, "Message")), "");
  EXPECT_THROW(host.newObject("SampleError", {host.newString("m"), int64_t{1}}), HostError)
      << "SampleError declares its own constructor";
}

TEST(Exceptions, LoadObjectMethodFindsInheritedMethodsByDeclaration) {
  Host& host = sampleHost();
  auto load = hostEntry<REALproc (*)(REALobjectStruct*, const char*)>("REALLoadObjectMethod");
  Object error = host.newObject("SampleError");
  EXPECT_NE(load(error.get(), "Constructor(message as String, errorCode as Integer)"), nullptr);
  EXPECT_NE(load(error.get(), "constructor(m AS string, code as Int64)"), nullptr) << "names and case do not matter";
  EXPECT_EQ(load(error.get(), "Constructor(message as String)"), nullptr);
  EXPECT_EQ(load(error.get(), "Value() as Integer"), nullptr);
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("SampleError has no method Constructor(message as String)"));
}

}  // namespace
}  // namespace xhost::testing
