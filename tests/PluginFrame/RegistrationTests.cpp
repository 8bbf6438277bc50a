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

// Every member of the value and object wrappers, by its exact declaration.
TEST(Registration, WrapperMembersCarryTheirDeclarations) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"Python3Entity",
       {"Constructor()",
        "property Int32Value as Int32",
        "property DoubleValue as Double",
        "property StringValue as String",
        "property BooleanValue as Boolean",
        "property ObjectValue as Object",
        "property Int64Value as Int64",
        "property UInt64Value as UInt64",
        "property BytesValue as Python3Bytes",
        "property TupleValue as Python3Parameters",
        "property ListValue as Python3List",
        "property DictionaryValue as Python3Dictionary",
        "property IsInteger as Boolean",
        "property IsString as Boolean",
        "property IsDouble as Boolean",
        "property IsBytes as Boolean",
        "property IsTuple as Boolean",
        "property IsBoolean as Boolean",
        "property IsList as Boolean",
        "property IsObject as Boolean",
        "property IsDictionary as Boolean",
        "property FitsInInt32 as Boolean",
        "property IsNone as Boolean",
        "property IsCallable as Boolean",
        "property InstanceValue as Python3Instance",
        "property TypeName as String",
        "property Repr as String",
        "property Length as Integer",
        "GetAttribute(name as String) as Python3Entity",
        "SetAttribute(name as String, value as Python3EntityBase) as Boolean",
        "HasAttribute(name as String) as Boolean",
        "CallMethod(name as String, parameters as Python3Parameters) as Python3Result",
        "CallMethod(name as String, parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result",
        "Invoke(parameters as Python3Parameters) as Python3Result",
        "Invoke(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result",
        "GetItem(key as Python3EntityBase) as Python3Entity",
        "SetItem(key as Python3EntityBase, value as Python3EntityBase) as Boolean",
        "Items() as Python3List",
        "shared FromNewPtr(value as Ptr) as Python3Entity",
        "property BufferSize as Integer",
        "property BufferFormat as String",
        "property BufferShape as String",
        "CopyBuffer(into as MemoryBlock) as Integer",
        "BufferView() as MemoryBlock",
        "ImageData(format as String) as MemoryBlock",
        "ColumnNames() as Python3List",
        "Column(name as String) as Python3Entity",
        "shared FromInt32(value as Int32) as Python3Entity",
        "shared FromDouble(value as Double) as Python3Entity",
        "shared FromString(value as String) as Python3Entity",
        "shared FromBoolean(value as Boolean) as Python3Entity",
        "shared FromObject(value as Object) as Python3Entity",
        "shared FromInt64(value as Int64) as Python3Entity",
        "shared FromUInt64(value as UInt64) as Python3Entity",
        "shared FromPtr(value as Ptr) as Python3Entity",
        "shared FromMemoryBlock(block as MemoryBlock, format as String) as Python3Entity",
        "shared FromMemoryBlockShared(block as MemoryBlock, format as String) as Python3Entity",
        "shared FromImageData(data as MemoryBlock) as Python3Entity"}},
      {"Python3Bytes",
       {"property Size as Int64", "Constructor(value as String)", "Constructor(value as MemoryBlock)",
        "ToString() as String", "ToMemoryBlock() as MemoryBlock"}},
      {"Python3List",
       {"property Count as Integer", "Constructor()", "Clear()", "Append(value as Python3EntityBase)",
        "Insert(index as Integer, value as Python3EntityBase)", "GetItem(index as Integer) as Python3Entity",
        "SetItem(index as Integer, value as Python3EntityBase)", "AsTuple() as Python3Parameters", "Sort()",
        "Reverse()", "GetSlice(lowIndex as Integer, highIndex as Integer) as Python3List",
        "Extend(items as IPython3Iterable)"}},
      {"Python3Dictionary",
       {"property Count as Integer", "Constructor()", "Constructor(dictionaryPtr as Ptr)", "Clear()",
        "Contains(key as String) as Boolean", "GetValue(key as String) as Python3Entity",
        "SetValue(key as String, value as Python3EntityBase)", "GetKeys() as Python3List", "GetValues() as Python3List",
        "Copy() as Python3Dictionary", "Remove(key as String)", "Remove(key as Python3EntityBase)",
        "Contains(key as Python3EntityBase) as Boolean", "GetValue(key as Python3EntityBase) as Python3Entity",
        "SetValue(key as Python3EntityBase, value as Python3EntityBase)",
        "Merge(other as Python3Dictionary, override as Boolean)",
        "SetDefault(key as String, defaultValue as Python3EntityBase) as Python3Entity"}},
      {"Python3Function",
       {"property OwnerModule as Python3Module", "Invoke(parameters as Python3Parameters) as Python3Result",
        "Invoke(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Result"}},
      {"Python3Class",
       {"CreateInstance() as Python3Instance", "CreateInstance(parameters as Python3Parameters) as Python3Instance",
        "CreateInstance(parameters as Python3Parameters, keywords as Python3Dictionary) as Python3Instance"}},
  };
  const std::vector<std::string> attributeMembers = {
      "Int32Field(name as String) as Int32 assigns",     "Int64Field(name as String) as Int64 assigns",
      "UInt64Field(name as String) as UInt64 assigns",   "DoubleField(name as String) as Double assigns",
      "BooleanField(name as String) as Boolean assigns", "StringField(name as String) as String assigns",
      "ObjectField(name as String) as Object assigns",   "HasAttribute(name as String) as Boolean",
      "DeleteAttribute(name as String) as Integer"};
  auto members = [](const REALclassDefinition* record) {
    std::set<std::string> found;
    for (size_t i = 0; i < record->methodCount; ++i)
      found.insert(std::string(record->methods[i].declaration) + (record->methods[i].setterFunction ? " assigns" : ""));
    for (size_t i = 0; i < record->sharedMethodCount; ++i)
      found.insert(std::string("shared ") + record->sharedMethods[i].declaration);
    for (size_t i = 0; i < record->propertyCount; ++i)
      found.insert(std::string("property ") + record->properties[i].name + " as " + record->properties[i].type);
    return found;
  };
  for (const auto& [name, declarations] : expected) {
    const std::set<std::string> found = members(pluginHost().classRecord(name));
    EXPECT_EQ(found, std::set<std::string>(declarations.begin(), declarations.end())) << name;
  }
  const REALclassDefinition* module = pluginHost().classRecord("Python3Module");
  const REALclassDefinition* instance = pluginHost().classRecord("Python3Instance");
  const std::set<std::string> moduleMembers = members(module);
  const std::set<std::string> instanceMembers = members(instance);
  for (const std::string& member : attributeMembers) {
    EXPECT_EQ(moduleMembers.count(member), 1u) << "Python3Module." << member;
    EXPECT_EQ(instanceMembers.count(member), 1u) << "Python3Instance." << member;
  }
  EXPECT_EQ(instanceMembers.count("GetFunction(name as String) as Python3Function"), 1u);
  EXPECT_EQ(moduleMembers.size(), attributeMembers.size() + 3);
  // Both records point to the very same attribute functions.
  for (size_t i = 0; i < module->methodCount; ++i)
    for (size_t j = 0; j < instance->methodCount; ++j)
      if (std::strcmp(module->methods[i].declaration, instance->methods[j].declaration) == 0 &&
          std::string(module->methods[i].declaration).find("GetFunction") == std::string::npos) {
        EXPECT_EQ(module->methods[i].function, instance->methods[j].function) << module->methods[i].declaration;
        EXPECT_EQ(module->methods[i].setterFunction, instance->methods[j].setterFunction)
            << module->methods[i].declaration;
      }
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
