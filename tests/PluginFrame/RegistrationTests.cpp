// What the plugin registers, in which order, and what the host reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "xhost/Host.h"

namespace {

using xhost::Host;

Host& pluginHost() {
  static bool loaded = false;
  if (!loaded) {
    Host::instance().loadPlugin(PLUGIN_PATH);
    loaded = true;
  }
  return Host::instance();
}

struct ExpectedClass {
  const char* name;
  const char* superName;  // null: none
  size_t dataSize;
  bool hasInitializer;
  bool hasDestructor;
  const char* interfaces;
};

// In registration order.
const ExpectedClass kClasses[] = {
    {"Python3EntityBase", nullptr, 8, true, true, ""},
    {"Python3Entity", "Python3EntityBase", 8, false, true, ""},
    {"Python3Bytes", "Python3EntityBase", 0, false, true, ""},
    {"Python3List", "Python3EntityBase", 0, false, false, "IPython3Iterable"},
    {"Python3EngineConsoleOutput", nullptr, 16, true, false, ""},
    {"Python3Object", nullptr, 16, true, true, ""},
    {"Python3Result", nullptr, 8, false, true, ""},
    {"Python3Parameters", "Python3EntityBase", 4, false, true, "IPython3Iterable"},
    {"Python3Dictionary", "Python3EntityBase", 0, false, true, "IPython3Iterable"},
    {"Python3Function", "Python3Object", 16, false, true, ""},
    {"Python3Class", "Python3Object", 8, false, true, ""},
    {"Python3Instance", "Python3Object", 16, false, true, ""},
    {"Python3Module", "Python3Object", 4, false, true, ""},
    {"Python3XojoClass", "Python3Object", 448, false, true, ""},
    {"Python3XojoModule", "Python3Object", 40, false, true, ""},
    {"Python3Task", nullptr, 16, true, true, ""},
    {"Python3Engine", nullptr, 1, false, false, ""},
    {"Python3Exception", "RuntimeException", 0, false, false, ""},
};

TEST(Registration, HappensInTheOrderTheHostNeeds) {
  std::vector<std::string> seen;
  for (const Host::Registration& r : pluginHost().registrations()) seen.push_back(r.kind + " " + r.name);
  std::vector<std::string> expected = {"interface IPython3Iterable"};
  for (const ExpectedClass& c : kClasses) {
    if (std::string(c.name) == "Python3Exception") expected.push_back("module Python3ErrorTypes");
    expected.push_back(std::string("class ") + c.name);
  }
  EXPECT_EQ(seen, expected);
}

TEST(Registration, ClassRecordsReadBackAsDeclared) {
  Host& host = pluginHost();
  for (const ExpectedClass& expected : kClasses) {
    SCOPED_TRACE(expected.name);
    const REALclassDefinition* record = host.classRecord(expected.name);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->version, 13u);
    EXPECT_EQ(record->mFlags, 4u);
    if (expected.superName)
      EXPECT_STREQ(record->superName, expected.superName);
    else
      EXPECT_EQ(record->superName, nullptr);
    EXPECT_EQ(record->dataSize, expected.dataSize);
    EXPECT_EQ(record->constructor != nullptr, expected.hasInitializer);
    EXPECT_EQ(record->destructor != nullptr, expected.hasDestructor);
    EXPECT_STREQ(record->interfaces, expected.interfaces);
    EXPECT_EQ(record->eventInstances, nullptr);
    EXPECT_EQ(record->attributes, nullptr);
    EXPECT_EQ(record->sharedProperties, nullptr);
    EXPECT_EQ(record->delegates, nullptr);
    for (size_t i = 0; i < record->propertyCount; ++i) EXPECT_EQ(record->properties[i].setter, nullptr);
  }
}

// The parameterless constructors of the two entity classes and of the
// exception carry 128 besides 4; every other member carries 4.
TEST(Registration, MemberFlags) {
  Host& host = pluginHost();
  const std::set<std::string> flagged = {"Python3EntityBase", "Python3Entity", "Python3Exception"};
  for (const ExpectedClass& expected : kClasses) {
    const REALclassDefinition* record = host.classRecord(expected.name);
    ASSERT_NE(record, nullptr);
    for (size_t i = 0; i < record->methodCount; ++i) {
      const REALmethodDefinition& method = record->methods[i];
      bool parameterless = std::strcmp(method.declaration, "Constructor()") == 0;
      uint32_t flags = parameterless && flagged.count(expected.name) ? 132u : 4u;
      EXPECT_EQ(method.flags, flags) << expected.name << "." << method.declaration;
    }
    for (size_t i = 0; i < record->sharedMethodCount; ++i)
      EXPECT_EQ(record->sharedMethods[i].flags, 4u) << expected.name << "." << record->sharedMethods[i].declaration;
  }
}

// Every member's declaration is pinned by docs/API.md, which must be what the
// records print (ApiReference.MatchesTheRecords). What the reference cannot
// show: Python3Module and Python3Instance register the very same functions
// for the attribute members they share.
TEST(Registration, ModuleAndInstanceShareTheAttributeFunctions) {
  const REALclassDefinition* module = pluginHost().classRecord("Python3Module");
  const REALclassDefinition* instance = pluginHost().classRecord("Python3Instance");
  ASSERT_NE(module, nullptr);
  ASSERT_NE(instance, nullptr);
  size_t shared = 0;
  for (size_t i = 0; i < module->methodCount; ++i)
    for (size_t j = 0; j < instance->methodCount; ++j)
      if (std::strcmp(module->methods[i].declaration, instance->methods[j].declaration) == 0 &&
          std::string(module->methods[i].declaration).find("GetFunction") == std::string::npos) {
        EXPECT_EQ(module->methods[i].function, instance->methods[j].function) << module->methods[i].declaration;
        EXPECT_EQ(module->methods[i].setterFunction, instance->methods[j].setterFunction)
            << module->methods[i].declaration;
        ++shared;
      }
  // The seven typed fields, HasAttribute and DeleteAttribute.
  EXPECT_EQ(shared, 9u);
}

TEST(Registration, HostWroteEachBlockOffsetAfterItsAncestors) {
  Host& host = pluginHost();
  for (const ExpectedClass& expected : kClasses) {
    if (!expected.superName || std::string(expected.superName) == "RuntimeException") continue;
    const REALclassDefinition* record = host.classRecord(expected.name);
    const REALclassDefinition* super = host.classRecord(expected.superName);
    EXPECT_GE(record->forSystemUse, super->forSystemUse + super->dataSize) << expected.name;
  }
}

TEST(Registration, ConsoleEventsGotHostIdentifiers) {
  const REALclassDefinition* record = pluginHost().classRecord("Python3EngineConsoleOutput");
  ASSERT_EQ(record->eventCount, 2u);
  EXPECT_STREQ(record->events[0].declaration, "ConsoleOutput(output as String)");
  EXPECT_STREQ(record->events[1].declaration, "ErrorOutput(output as String)");
  EXPECT_NE(record->events[0].hostIdentifier, 0u);
  EXPECT_NE(record->events[1].hostIdentifier, record->events[0].hostIdentifier);
}

TEST(Registration, EngineConstantsAndVersionEnumeration) {
  Host& host = pluginHost();
  EXPECT_EQ(host.constant("Python3Engine.PY_NO_ERROR"), 0);
  EXPECT_EQ(host.constant("Python3Engine.PY_ERROR_COULD_NOT_CONVERT"), 1);
  EXPECT_EQ(host.constant("Python3Engine.PY_ERROR_INDEX_OUT_OF_BOUNDS"), 2);
  EXPECT_EQ(host.constant("Python3Engine.PY_NIL_PARAM_ERROR"), 3);
  EXPECT_EQ(host.constant("Python3Engine.PreferredVersionValues.PREFERRED_VERSION_LATESTKNOWN"), 0);
  for (int minor = 4; minor <= 14; ++minor)
    EXPECT_EQ(host.constant("Python3Engine.PreferredVersionValues.PREFERRED_VERSION_3_" + std::to_string(minor) + "_X"),
              minor - 3);
  const REALclassDefinition* record = host.classRecord("Python3Engine");
  ASSERT_EQ(record->enumCount, 1u);
  EXPECT_STREQ(record->enums[0].name, "PreferredVersionValues");
  EXPECT_STREQ(record->enums[0].type, "Integer");
  EXPECT_EQ(record->enums[0].flags, 32u);
  EXPECT_EQ(record->enums[0].memberCount, 12u);
}

TEST(Registration, ErrorTypesModuleHoldsTheTwentyTwoTypesInOrder) {
  Host& host = pluginHost();
  const char* names[] = {"AssertionError",    "AttributeError",      "EOFError",   "FloatingPointError", "IOError",
                         "ImportError",       "IndexError",          "KeyError",   "KeyboardInterrupt",  "MemoryError",
                         "NameError",         "NotImplementedError", "OSError",    "OverflowError",      "RuntimeError",
                         "SyntaxError",       "SystemError",         "SystemExit", "TypeError",          "ValueError",
                         "ZeroDivisionError", "ReferenceError"};
  for (int i = 0; i < 22; ++i)
    EXPECT_EQ(host.constant(std::string("Python3ErrorTypes.") + names[i]), i + 1) << names[i];
  const REALmoduleDefinition* module = nullptr;
  for (const Host::Registration& r : host.registrations())
    if (r.kind == "module") module = static_cast<const REALmoduleDefinition*>(r.record);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->version, 13u);
  EXPECT_EQ(module->constantCount, 22u);
  EXPECT_EQ(module->methods, nullptr);
  for (uintptr_t word : module->reserved) EXPECT_EQ(word, 0u);
  for (size_t i = 0; i < module->constantCount; ++i) {
    EXPECT_EQ(module->constants[i].type, nullptr);
    EXPECT_EQ(module->constants[i].flags, 0u);
  }
}

TEST(Registration, ExceptionIsARuntimeException) {
  Host& host = pluginHost();
  xhost::Object exception = host.newObject("Python3Exception");
  EXPECT_TRUE(exception.isA("RuntimeException"));
  EXPECT_TRUE(exception.isA("Python3Exception"));
}

}  // namespace
