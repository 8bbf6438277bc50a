// The host wrappers: caching, retrying a missing entry, and the members that
// combine entries or compute without the host.
#include <gtest/gtest.h>

#include <cstring>

#include "FreshGlue.h"
#include "HostGlue.h"
#include "xhost/Host.h"

namespace {

using xhost::Host;

class HostGlue : public ::testing::Test {
 protected:
  Host& host = Host::instance();
  FreshGlue glue;
  void TearDown() override {
    for (const char* entry : {"REALLockObject", "RuntimeUBound", "REALLoadGlobalMethod", "StringGetCString"})
      host.restoreEntry(entry);
  }
};

TEST_F(HostGlue, StartWithoutVersionEntryRegistersNothing) {
  host.resetLookupCounts();
  FreshGlue another;
  EXPECT_EQ(host.lookupCount("RegisterPluginVersion"), 1u);
  EXPECT_EQ(host.lookupCount("PluginRegisterInterface"), 0u);
  EXPECT_EQ(host.lookupCount("PluginRegisterClass"), 0u);
}

TEST_F(HostGlue, ResolverPassThroughAnswersLikeTheHost) {
  auto hCallResolver = glue.symbol<void* (*)(const char*)>("HCallResolver");
  EXPECT_EQ(hCallResolver("REALLockObject"), host.resolver()("REALLockObject"));
  EXPECT_EQ(hCallResolver("NoSuchHostEntry"), nullptr);
}

TEST_F(HostGlue, WrapperAsksTheResolverOnceAndKeepsTheEntry) {
  auto compare = glue.symbol<int (*)(REALstringStruct*, REALstringStruct*)>("REALCompareStrings");
  xhost::String a = host.newString("lib"), b = host.newString("LIB"), c = host.newString("bin");
  host.resetLookupCounts();
  EXPECT_EQ(compare(a.get(), b.get()), 0);
  EXPECT_NE(compare(a.get(), c.get()), 0);
  EXPECT_EQ(host.lookupCount("RuntimeStringCompare"), 1u);
}

TEST_F(HostGlue, MissingEntryReturnsZeroAndIsAskedForAgainUntilTheHostGainsIt) {
  auto ubound = glue.symbol<int64_t (*)(REALarrayStruct*)>("REALGetArrayUBound");
  xhost::Object array = host.newObjectArray();
  auto* handle = reinterpret_cast<REALarrayStruct*>(array.get());
  host.withholdEntry("RuntimeUBound");
  host.resetLookupCounts();
  EXPECT_EQ(ubound(handle), 0);
  EXPECT_EQ(ubound(handle), 0);
  EXPECT_EQ(host.lookupCount("RuntimeUBound"), 2u);
  host.restoreEntry("RuntimeUBound");
  EXPECT_EQ(ubound(handle), -1);
  EXPECT_EQ(ubound(handle), -1);
  EXPECT_EQ(host.lookupCount("RuntimeUBound"), 3u);
}

TEST_F(HostGlue, MissingLockIsANoOp) {
  auto lock = glue.symbol<void (*)(REALobjectStruct*)>("REALLockObject");
  auto unlock = glue.symbol<void (*)(REALobjectStruct*)>("REALUnlockObject");
  xhost::Object folder = host.newFolderItem("/tmp");
  int64_t before = host.refCount(folder);
  host.withholdEntry("REALLockObject");
  lock(folder.get());
  EXPECT_EQ(host.refCount(folder), before);
  host.restoreEntry("REALLockObject");
  lock(folder.get());
  EXPECT_EQ(host.refCount(folder), before + 1);
  unlock(folder.get());
  EXPECT_EQ(host.refCount(folder), before);
}

TEST_F(HostGlue, StringContentsGiveBytesAndByteLength) {
  auto contents = glue.symbol<const char* (*)(REALstringStruct*, size_t*)>("REALGetStringContents");
  xhost::String text = host.newString("h\xC3\xA9llo");
  size_t length = 99;
  EXPECT_STREQ(contents(text.get(), &length), "h\xC3\xA9llo");
  EXPECT_EQ(length, 6u);
  EXPECT_STREQ(contents(text.get(), nullptr), "h\xC3\xA9llo");
}

TEST_F(HostGlue, NullStringHasNoBytesAndLengthZeroWithoutAskingTheHost) {
  auto contents = glue.symbol<const char* (*)(REALstringStruct*, size_t*)>("REALGetStringContents");
  host.resetLookupCounts();
  size_t length = 99;
  EXPECT_EQ(contents(nullptr, &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(host.lookupCount("StringGetCString"), 0u);
  EXPECT_EQ(host.lookupCount("REALLoadGlobalMethod"), 0u);
}

TEST_F(HostGlue, StringContentsWithoutLenBGiveBytesAndLengthZero) {
  auto contents = glue.symbol<const char* (*)(REALstringStruct*, size_t*)>("REALGetStringContents");
  auto stringLength = glue.symbol<int64_t (*)(REALstringStruct*)>("REALStringLength");
  xhost::String text = host.newString("abc");
  host.withholdEntry("REALLoadGlobalMethod");
  size_t length = 99;
  EXPECT_STREQ(contents(text.get(), &length), "abc");
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(stringLength(text.get()), 0);
  host.restoreEntry("REALLoadGlobalMethod");
  EXPECT_STREQ(contents(text.get(), &length), "abc");
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(stringLength(text.get()), 3);
}

TEST_F(HostGlue, StringContentsWithoutCStringEntryGiveNullButTheLength) {
  auto contents = glue.symbol<const char* (*)(REALstringStruct*, size_t*)>("REALGetStringContents");
  xhost::String text = host.newString("abcd");
  host.withholdEntry("StringGetCString");
  size_t length = 0;
  EXPECT_EQ(contents(text.get(), &length), nullptr);
  EXPECT_EQ(length, 4u);
}

TEST_F(HostGlue, DataBlocksAreTheInstancePlusTheOffsetTheHostStored) {
  // A class record keeps the offset at byte 32, a control record at byte 104.
  const struct {
    const char* wrapper;
    size_t hostWord;
  } members[] = {{"REALGetClassData", 32}, {"REALGetControlData", 104}, {"REALGetMobileControlData", 104}};
  auto* instance = reinterpret_cast<REALobjectStruct*>(0x10000);
  for (const auto& member : members) {
    SCOPED_TRACE(member.wrapper);
    auto dataBlock = glue.symbol<void* (*)(REALobjectStruct*, void*)>(member.wrapper);
    alignas(REALclassDefinition) unsigned char base[sizeof(REALclassDefinition)] = {}, derived[sizeof base] = {};
    uintptr_t baseOffset = 16, derivedOffset = 40;
    std::memcpy(base + member.hostWord, &baseOffset, sizeof baseOffset);
    std::memcpy(derived + member.hostWord, &derivedOffset, sizeof derivedOffset);
    host.resetLookupCounts();
    EXPECT_EQ(dataBlock(instance, base), reinterpret_cast<void*>(0x10010));
    EXPECT_EQ(dataBlock(instance, derived), reinterpret_cast<void*>(0x10028));
    EXPECT_EQ(host.lookupCount(member.wrapper), 0u) << "computed without the host";
  }
}

TEST_F(HostGlue, NewInstanceWithNilClassCreatesNothing) {
  auto newInstance = glue.symbol<REALobjectStruct* (*)(REALclassRefStruct*)>("REALnewInstanceWithClass");
  host.resetLookupCounts();
  EXPECT_EQ(newInstance(nullptr), nullptr);
  EXPECT_EQ(host.lookupCount("CreateInstance"), 1u);
}

TEST_F(HostGlue, NewInstanceWithClassRunsNoConstructorAndIsOwnedByTheCaller) {
  auto classRef = glue.symbol<REALclassRefStruct* (*)(const char*)>("REALGetClassRef");
  auto newInstance = glue.symbol<REALobjectStruct* (*)(REALclassRefStruct*)>("REALnewInstanceWithClass");
  xhost::Object block = xhost::Object::adopt(newInstance(classRef("MemoryBlock")));
  ASSERT_FALSE(block.isNil());
  EXPECT_EQ(block.className(), "MemoryBlock");
  EXPECT_EQ(host.refCount(block), 1);
}

TEST_F(HostGlue, ObjectArraysGrowByAppendingAtUBoundPlusOne) {
  auto create = glue.symbol<REALarrayStruct* (*)(int32_t, int64_t)>("REALCreateArray");
  auto ubound = glue.symbol<int64_t (*)(REALarrayStruct*)>("REALGetArrayUBound");
  auto insert = glue.symbol<void (*)(REALarrayStruct*, int64_t, REALobjectStruct*)>("REALInsertArrayValueObject");
  auto get = glue.symbol<void (*)(REALarrayStruct*, int64_t, REALobjectStruct**)>("REALGetArrayValueObject");
  REALarrayStruct* array = create(kREALObjectArrayType, -1);
  xhost::Object owner = xhost::Object::adopt(reinterpret_cast<REALobjectStruct*>(array));
  EXPECT_EQ(ubound(array), -1);
  xhost::Object folder = host.newFolderItem("/tmp");
  insert(array, ubound(array) + 1, folder.get());
  EXPECT_EQ(ubound(array), 0);
  EXPECT_EQ(host.refCount(folder), 2) << "the array keeps its own reference";

  REALobjectStruct* element = nullptr;
  get(array, 0, &element);
  EXPECT_EQ(element, folder.get());
  xhost::Object fetched = xhost::Object::adopt(element);
  EXPECT_EQ(host.refCount(folder), 3) << "a fetched element is the caller's";
}

TEST_F(HostGlue, ArrayGetWithoutDestinationTouchesNothing) {
  auto get = glue.symbol<void (*)(REALarrayStruct*, int64_t, REALobjectStruct**)>("REALGetArrayValueObject");
  xhost::Object folder = host.newFolderItem("/tmp");
  xhost::Object array = host.newObjectArray({folder});
  int64_t before = host.refCount(folder);
  get(reinterpret_cast<REALarrayStruct*>(array.get()), 0, nullptr);
  EXPECT_EQ(host.refCount(folder), before);
}

TEST_F(HostGlue, PropertyReadsCarryOneReferenceForTheCaller) {
  auto readString = glue.symbol<bool (*)(REALobjectStruct*, const char*, REALstringStruct**)>("REALGetPropValueString");
  auto readObject = glue.symbol<bool (*)(REALobjectStruct*, const char*, REALobjectStruct**)>("REALGetPropValueObject");
  auto readBoolean = glue.symbol<bool (*)(REALobjectStruct*, const char*, bool*)>("REALGetPropValueBoolean");
  xhost::Object folder = host.newFolderItem("/tmp");
  REALstringStruct* path = nullptr;
  ASSERT_TRUE(readString(folder.get(), "NativePath", &path));
  EXPECT_EQ(xhost::String::adopt(path).bytes(), "/tmp");
  REALobjectStruct* parent = nullptr;
  ASSERT_TRUE(readObject(folder.get(), "Parent", &parent));
  xhost::Object parentFolder = xhost::Object::adopt(parent);
  EXPECT_EQ(parentFolder.className(), "FolderItem");
  bool isDirectory = false;
  EXPECT_TRUE(readBoolean(folder.get(), "Directory", &isDirectory));
  EXPECT_TRUE(isDirectory);
}

TEST_F(HostGlue, ClassFlagEditors) {
  auto consoleSafe = glue.symbol<void (*)(REALclassDefinition*)>("SetClassConsoleSafe");
  auto webOnly = glue.symbol<void (*)(REALclassDefinition*)>("SetClassWebOnly");
  REALclassDefinition record{};
  record.mFlags = 0x1;
  consoleSafe(&record);
  EXPECT_EQ(record.mFlags, 0x5u);
  record.mFlags = 0x10F;
  webOnly(&record);
  EXPECT_EQ(record.mFlags, 0x107u);
}

}  // namespace
