// Python3Bytes: raw bytes between a Python bytes object, a String's stored
// bytes and a MemoryBlock; and no host string of 2 GiB and more.
#include <cstring>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Bytes : public RunningPython {
 protected:
  Object FromString(const String& value) { return host_.newObject("Python3Bytes", {value}); }
  Object FromMemoryBlock(const Object& block) { return host_.newObject("Python3Bytes", {block}); }
  int64_t Size(const Object& bytes) { return Int(host_.getProperty(bytes, "Size")); }
  // What Python holds for the wrapper: "bytes:b'...'", or "" when it holds nothing.
  std::string Held(const Object& bytes) { return python.Kinds(ListHolding({bytes})); }
};

const std::string kEdgeBytes("\x00\x41\xFF", 3);

TEST_F(Bytes, AStringGivesItsStoredBytes) {
  Object bytes = FromString(host_.newString(kEdgeBytes, kREALTextEncodingUnknown));
  EXPECT_EQ(Size(bytes), 3);
  EXPECT_EQ(Held(bytes), "bytes:b'\\x00A\\xff'");
  String text = xhost::asString(host_.call(bytes, "ToString"));
  EXPECT_EQ(text.bytes(), kEdgeBytes);
  EXPECT_EQ(text.encoding(), kREALTextEncodingUnknown);
  Object block = CallObject(bytes, "ToMemoryBlock");
  ASSERT_FALSE(block.isNil());
  EXPECT_EQ(host_.memoryBlockBytes(block), kEdgeBytes);

  EXPECT_EQ(Size(FromString(Str("\xC3\xA9"))), 2) << "the stored bytes, not the characters";
  EXPECT_FALSE(ErrorOccurred());
}

// The host may hand the empty String over as no string at all.
TEST_F(Bytes, TheEmptyStringIsTheEmptyByteString) {
  Object bytes = FromString(String());
  EXPECT_EQ(Held(bytes), "bytes:b''");
  EXPECT_EQ(Size(bytes), 0);
  Object block = CallObject(bytes, "ToMemoryBlock");
  ASSERT_FALSE(block.isNil());
  EXPECT_EQ(host_.memoryBlockBytes(block), "");
}

TEST_F(Bytes, AMemoryBlockIsCopied) {
  Object block = host_.newMemoryBlock(kEdgeBytes);
  Object bytes = FromMemoryBlock(block);
  auto* memory = static_cast<char*>(xhost::asPtr(host_.call(block, "Operator_Convert")));
  std::memcpy(memory, "xyz", 3);
  EXPECT_EQ(Held(bytes), "bytes:b'\\x00A\\xff'");
  EXPECT_EQ(host_.memoryBlockBytes(CallObject(bytes, "ToMemoryBlock")), kEdgeBytes);
  EXPECT_EQ(Size(FromMemoryBlock(host_.newMemoryBlock(""))), 0);
}

TEST_F(Bytes, ANilMemoryBlockHoldsNothing) {
  Object bytes = FromMemoryBlock(Object());
  EXPECT_EQ(Held(bytes), "");
  EXPECT_EQ(Size(bytes), 0);
  EXPECT_TRUE(xhost::asString(host_.call(bytes, "ToString")).isNil());
  EXPECT_TRUE(CallObject(bytes, "ToMemoryBlock").isNil());
  EXPECT_EQ(Int(host_.call(bytes, "Hash")), -1);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Bytes, BytesFromPythonAreSharedAndGoBack) {
  python.Run(
      "kept_bytes = bytes(range(256))\n"
      "def is_kept(value):\n"
      "    return value is kept_bytes\n");
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  Object entity = python.EntityOf("kept_bytes");
  EXPECT_TRUE(Bool(host_.getProperty(entity, "IsBytes")));
  Object bytes = xhost::asObject(host_.getProperty(entity, "BytesValue"));
  EXPECT_EQ(Size(bytes), 256);
  EXPECT_EQ(xhost::asString(host_.call(bytes, "ToString")).bytes(), all);
  EXPECT_EQ(host_.memoryBlockBytes(CallObject(bytes, "ToMemoryBlock")), all);
  EXPECT_TRUE(Bool(host_.call(python.Call("is_kept", {bytes}), "BooleanValue")));
}

// The host's length is 32 bits: Python objects of 2 GiB and more become no
// String. Both objects are made without touching their memory.
TEST_F(Bytes, TwoGibibytesAndMoreGiveNilWithOverflowError) {
  python.Run(
      "import ctypes\n"
      "huge_bytes = bytes(2**31)\n"
      "ctypes.pythonapi.PyUnicode_New.restype = ctypes.py_object\n"
      "ctypes.pythonapi.PyUnicode_New.argtypes = [ctypes.c_ssize_t, ctypes.c_uint32]\n"
      "huge_text = ctypes.pythonapi.PyUnicode_New(2**31, 127)\n");
  Object bytes = xhost::asObject(host_.getProperty(python.EntityOf("huge_bytes"), "BytesValue"));
  EXPECT_EQ(Size(bytes), int64_t{1} << 31);
  EXPECT_TRUE(xhost::asString(host_.call(bytes, "ToString")).isNil());
  EXPECT_EQ(GetError(), "too many bytes for a host string (2 GiB and more)");
  EXPECT_TRUE(xhost::asString(host_.getProperty(python.EntityOf("huge_text"), "StringValue")).isNil());
  EXPECT_TRUE(ErrorOccurred()) << "the entity's StringValue";
  Engine("ClearError");
  EXPECT_TRUE(xhost::asString(host_.call(python.Evaluate("huge_text"), "StringValue")).isNil());
  EXPECT_TRUE(ErrorOccurred()) << "the result's StringValue";
  Engine("ClearError");
  python.Run("del huge_bytes, huge_text");
}

// A MemoryBlock whose memory the host does not tell: Python would make that
// many bytes of whatever its allocator held.
REALproc (*realLoadObjectMethod)(REALobjectStruct*, const char*) = nullptr;
REALproc realAddress = nullptr;
bool withholdAddress = false;

void* SwitchableAddress(REALobjectStruct* block) {
  return withholdAddress ? nullptr : reinterpret_cast<void* (*)(REALobjectStruct*)>(realAddress)(block);
}

REALproc LoadObjectMethod(REALobjectStruct* object, const char* declaration) {
  REALproc method = realLoadObjectMethod(object, declaration);
  if (std::strcmp(declaration, "Operator_Convert() As Ptr") != 0) return method;
  realAddress = method;
  return reinterpret_cast<REALproc>(&SwitchableAddress);
}

TEST_F(Bytes, AMemoryBlockWithoutAddressGivesNoBytes) {
  if (host_.lookupCount("REALLoadObjectMethod") != 0) GTEST_SKIP() << "the plugin found the method already";
  realLoadObjectMethod =
      reinterpret_cast<REALproc (*)(REALobjectStruct*, const char*)>(host_.resolver()("REALLoadObjectMethod"));
  host_.replaceEntry("REALLoadObjectMethod", reinterpret_cast<void*>(&LoadObjectMethod));
  withholdAddress = true;
  Object bytes = FromMemoryBlock(host_.newMemoryBlock("abcd"));
  withholdAddress = false;
  host_.restoreEntry("REALLoadObjectMethod");
  EXPECT_EQ(Held(bytes), "");
  EXPECT_EQ(Size(bytes), 0);
  EXPECT_EQ(Held(FromMemoryBlock(host_.newMemoryBlock("abcd"))), "bytes:b'abcd'");
}

}  // namespace
}  // namespace api_tests
