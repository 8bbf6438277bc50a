// The host's own classes as the plugin uses them: FolderItem, MemoryBlock,
// object arrays.
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

class TemporaryFolder {
 public:
  TemporaryFolder() {
    char pattern[] = "/tmp/xhost-test-XXXXXX";
    path_ = mkdtemp(pattern);
    std::ofstream(path_ + "/file.txt") << "x";
  }
  ~TemporaryFolder() {
    unlink((path_ + "/file.txt").c_str());
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class HostClasses : public ::testing::Test {
 protected:
  Value use(const char* method, const std::vector<Value>& args) {
    return host.callShared("SampleHostUse", method, args);
  }
  Host& host = sampleHost();
};

TEST_F(HostClasses, FolderItemPropertiesReadThroughTheHostEntries) {
  TemporaryFolder folder;
  Object file = host.newFolderItem(folder.path() + "/file.txt");
  EXPECT_EQ(text(use("PathOf", {file})), folder.path() + "/file.txt");
  EXPECT_EQ(text(use("NameOf", {file})), "file.txt");
  Object parent = asObject(use("ParentOf", {file}));
  EXPECT_EQ(host.refCount(parent), 1) << "the caller's reference";
  EXPECT_EQ(text(use("PathOf", {parent})), folder.path());
  EXPECT_EQ(asInteger(use("Flags", {file})), 1) << "exists, not a folder";
  EXPECT_EQ(asInteger(use("Flags", {parent})), 3) << "exists, a folder";
  EXPECT_EQ(asInteger(use("Flags", {host.newFolderItem(folder.path() + "/missing")})), 0);
}

TEST_F(HostClasses, FolderItemStateIsReadWhenAsked) {
  TemporaryFolder folder;
  Object later = host.newFolderItem(folder.path() + "/later");
  EXPECT_FALSE(asBoolean(host.getProperty(later, "Exists")));
  std::ofstream(folder.path() + "/later") << "now";
  EXPECT_TRUE(asBoolean(host.getProperty(later, "Exists")));
  EXPECT_FALSE(asBoolean(host.getProperty(later, "Directory")));
  unlink((folder.path() + "/later").c_str());
}

TEST_F(HostClasses, FolderItemPathsAreAbsoluteAndNormalized) {
  EXPECT_EQ(text(use("PathOf", {host.newFolderItem("/usr//lib/./x/../")})), "/usr/lib");
  Object root = host.newFolderItem("/");
  EXPECT_TRUE(asObject(use("ParentOf", {root})).isNil()) << "the root has no parent";
  EXPECT_EQ(text(use("PathOf", {asObject(use("ParentOf", {host.newFolderItem("/usr")}))})), "/");
  char* cwd = getcwd(nullptr, 0);
  EXPECT_EQ(text(use("PathOf", {host.newFolderItem("relative")})), std::string(cwd) + "/relative");
  std::free(cwd);
}

TEST_F(HostClasses, ReadingAPropertyByAWrongNameOrTypeIsMisuse) {
  Object file = host.newFolderItem("/tmp");
  EXPECT_FALSE(asBoolean(use("ReadsProperty", {file, host.newString("NoSuchProperty")})));
  EXPECT_FALSE(asBoolean(use("ReadsProperty", {file, host.newString("Exists")})));
  EXPECT_TRUE(asBoolean(use("ReadsProperty", {file, host.newString("nativepath")}))) << "names ignore case";
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("REALGetPropValueString: FolderItem has no property NoSuchProperty"));
  EXPECT_THAT(problems, HasSubstr("property Exists of FolderItem is a Boolean"));
}

TEST_F(HostClasses, MemoryBlocksMadeByThePluginAreZeroFilledAndWritable) {
  Object block = asObject(use("MakeBlock", {int64_t{4}}));
  EXPECT_EQ(block.className(), "MemoryBlock");
  EXPECT_EQ(host.refCount(block), 1);
  EXPECT_EQ(host.memoryBlockBytes(block), std::string(4, '\0'));
  use("FillBlock", {block, int64_t{10}});
  EXPECT_EQ(host.memoryBlockBytes(block), "\x0A\x0B\x0C\x0D");
  EXPECT_EQ(asInteger(host.getProperty(block, "Size")), 4);
}

TEST_F(HostClasses, MemoryBlocksMadeByHostCode) {
  Object block = host.newMemoryBlock(std::string("a\0c", 3));
  EXPECT_EQ(asInteger(use("BlockSize", {block})), 3);
  EXPECT_EQ(host.memoryBlockBytes(block), std::string("a\0c", 3));
  EXPECT_EQ(host.memoryBlockBytes(host.newMemoryBlock("")), "");
  EXPECT_THROW(host.memoryBlockBytes(host.newObject("SampleBase")), HostError);
}

TEST_F(HostClasses, CreateInstanceRunsNoConstructor) {
  auto classRef = hostEntry<REALclassRefStruct* (*)(const char*)>("pluginObjectType");
  auto create = hostEntry<REALobjectStruct* (*)(REALclassRefStruct*)>("CreateInstance");
  Object block = Object::adopt(create(classRef("MemoryBlock")));
  EXPECT_EQ(host.memoryBlockBytes(block), "");
  EXPECT_EQ(Object::adopt(create(classRef("SampleBase"))).className(), "SampleBase");
  EXPECT_EQ(classRef("NoSuchClass"), nullptr);
  EXPECT_EQ(create(reinterpret_cast<REALclassRefStruct*>(&block)), nullptr);
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("pluginObjectType: no class named NoSuchClass"));
  EXPECT_THAT(problems, HasSubstr("CreateInstance: not a class reference"));
}

TEST_F(HostClasses, MemoryBlockSizeOfAnotherObjectIsMisuse) {
  auto blockSize = hostEntry<int64_t (*)(REALobjectStruct*)>("memoryBlockGetSize");
  EXPECT_THROW(use("BlockSize", {host.newObject("SampleBase")}), HostError) << "host code is type-checked";
  EXPECT_EQ(blockSize(host.newObject("SampleBase").get()), 0);
  EXPECT_THAT(ledgerText(), HasSubstr("memoryBlockGetSize: SampleBase is not a MemoryBlock"));
}

// A MemoryBlock of a Ptr points at memory it does not own, of a size it
// does not know; one of newMemoryBlock owns its zero-filled bytes.
TEST_F(HostClasses, MemoryBlocksOfAPtrAndOfASize) {
  auto ofPtr = hostEntry<REALobjectStruct* (*)(void*)>("PtrToMemoryBlock");
  auto address = hostEntry<void* (*)(REALobjectStruct*)>("memoryBlockGetPtr");
  auto blockSize = hostEntry<int64_t (*)(REALobjectStruct*)>("memoryBlockGetSize");
  auto ofSize = hostEntry<REALobjectStruct* (*)(int32_t)>("newMemoryBlock");
  char memory[] = "outside";
  {
    Object borrowed = Object::adopt(ofPtr(memory));
    EXPECT_EQ(borrowed.className(), "MemoryBlock");
    EXPECT_EQ(host.refCount(borrowed), 1);
    EXPECT_EQ(address(borrowed.get()), memory);
    EXPECT_EQ(blockSize(borrowed.get()), -1);
    EXPECT_EQ(asInteger(host.getProperty(borrowed, "Size")), -1);
    EXPECT_THROW(host.memoryBlockBytes(borrowed), HostError) << "no size to read";
  }
  EXPECT_STREQ(memory, "outside") << "the memory outlives the block";
  EXPECT_EQ(ofPtr(nullptr), nullptr) << "Nil for a null Ptr";

  Object owned = Object::adopt(ofSize(3));
  EXPECT_EQ(host.memoryBlockBytes(owned), std::string(3, '\0'));
  EXPECT_EQ(address(owned.get()), asPtr(host.call(owned, "Operator_Convert")));
  EXPECT_EQ(ofSize(-1), nullptr);
  EXPECT_THAT(ledgerText(), HasSubstr("newMemoryBlock: negative size -1"));
}

TEST_F(HostClasses, ObjectArraysKeepTheirOwnReferences) {
  Object array = asObject(use("NewArray", {}));
  EXPECT_EQ(asInteger(use("Count", {array})), 0);
  Object first = host.newObject("SampleBase"), second = host.newFolderItem("/");
  use("Append", {array, first});
  use("Append", {array, second});
  EXPECT_EQ(asInteger(use("Count", {array})), 2);
  EXPECT_EQ(host.refCount(first), 2);
  Object fetched = asObject(use("ItemAt", {array, int64_t{1}}));
  EXPECT_EQ(fetched.get(), second.get());
  EXPECT_EQ(host.refCount(second), 3);
  std::vector<Object> elements = host.objectArrayElements(array);
  ASSERT_EQ(elements.size(), 2u);
  EXPECT_EQ(elements[0].get(), first.get());
  elements.clear();
  array = Object();
  EXPECT_EQ(host.refCount(first), 1) << "releasing the array released its elements";
}

TEST_F(HostClasses, ArraysMadeByHostCode) {
  Object element = host.newObject("SampleBase");
  Object array = host.newObjectArray({element, Object()});
  EXPECT_EQ(asInteger(use("Count", {array})), 2);
  EXPECT_TRUE(asObject(use("ItemAt", {array, int64_t{1}})).isNil());
  EXPECT_THROW(host.objectArrayElements(element), HostError);
}

TEST_F(HostClasses, ArrayIndexOutOfBoundsIsMisuse) {
  Object array = host.newObjectArray();
  EXPECT_TRUE(asObject(use("ItemAt", {array, int64_t{0}})).isNil());
  auto create = hostEntry<REALarrayStruct* (*)(int32_t, int64_t)>("RuntimeArrayCreateSingleDimBoundedArray");
  EXPECT_EQ(create(2, -1), nullptr);
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("object array get: index 0 out of bounds"));
  EXPECT_THAT(problems, HasSubstr("element type 2"));
}

}  // namespace
}  // namespace xhost::testing
