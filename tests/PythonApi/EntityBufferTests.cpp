// Python3Entity's buffer members: what an exporter holds, copies into a
// MemoryBlock, MemoryBlocks over Python's memory and memoryviews over a
// MemoryBlock's, with their failures; numpy where the library has it.
#include <cstdlib>
#include <cstring>

#include "HostCodeSupport.h"

namespace api_tests {
namespace {

std::string ErrorTypeName() { return Text(Engine("GetErrorTypeName")); }

// The type of the pending error, which is cleared; "" when none.
std::string TakeErrorType() {
  const std::string name = ErrorTypeName();
  Engine("ClearError");
  return name;
}

class Buffers : public RunningPython {
 protected:
  int64_t Size(const Object& entity) { return Int(host_.getProperty(entity, "BufferSize")); }
  std::string Format(const Object& entity) { return Text(host_.getProperty(entity, "BufferFormat")); }
  std::string Shape(const Object& entity) { return Text(host_.getProperty(entity, "BufferShape")); }
  int64_t CopyInto(const Object& entity, const Value& block) { return Int(host_.call(entity, "CopyBuffer", {block})); }
  Object View(const Object& entity) { return CallObject(entity, "BufferView"); }
  Object FromBlock(const Value& block, const std::string& format, bool shared = false) {
    return xhost::asObject(
        host_.callShared("Python3Entity", shared ? "FromMemoryBlockShared" : "FromMemoryBlock", {block, Str(format)}));
  }
  char* Memory(const Object& block) { return static_cast<char*>(xhost::asPtr(host_.call(block, "Operator_Convert"))); }

  // Python's name for the entity's object.
  void Keep(const Object& entity, const std::string& name) { python.Call("keep", {ListHolding({entity}), Str(name)}); }

  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "import array\n"
        "def keep(holder, name):\n"
        "    globals()[name] = holder[0]\n"
        "def fail_safely(action):\n"
        "    try:\n"
        "        action()\n"
        "    except Exception as error:\n"
        "        return error\n");
  }
};

TEST_F(Buffers, EveryExporterTellsItsSizeFormatAndShape) {
  struct Row {
    const char* expression;
    int64_t size;
    const char* format;
    const char* shape;
  };
  const std::vector<Row> rows = {
      {"b'abc'", 3, "B", "3"},
      {"bytearray(5)", 5, "B", "5"},
      {"array.array('d', [1.0, 2.0, 3.0])", 24, "d", "3"},
      {"array.array('h')", 0, "h", "0"},
      {"memoryview(bytes(24)).cast('i', [2, 3])", 24, "i", "2,3"},
      {"memoryview(bytes(10))[::2]", 5, "B", "5"},         // strided: len counts the items seen
      {"memoryview(bytes(8)).cast('q', [])", 8, "q", ""},  // a scalar: no dimension
  };
  for (const Row& row : rows) {
    Object entity = python.EntityOf(row.expression);
    EXPECT_EQ(Size(entity), row.size) << row.expression;
    EXPECT_EQ(Format(entity), row.format) << row.expression;
    EXPECT_EQ(Shape(entity), row.shape) << row.expression;
  }
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(Buffers, ObjectsWithoutABufferGiveMinusOneAndTypeError) {
  for (const char* expression : {"42", "'text'", "[1, 2]"}) {
    Object entity = python.EntityOf(expression);
    EXPECT_EQ(Size(entity), -1) << expression;
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
    EXPECT_EQ(Format(entity), "") << expression;
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
    EXPECT_EQ(Shape(entity), "") << expression;
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
    EXPECT_TRUE(View(entity).isNil());
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
    EXPECT_EQ(CopyInto(entity, host_.newMemoryBlock("xx")), -1);
    EXPECT_EQ(TakeErrorType(), "TypeError") << expression;
  }
  Object empty = host_.newObject("Python3Entity");
  EXPECT_EQ(Size(empty), -1);
  EXPECT_EQ(Format(empty), "");
  EXPECT_TRUE(View(empty).isNil());
  EXPECT_EQ(CopyInto(empty, host_.newMemoryBlock("xx")), -1);
  EXPECT_FALSE(ErrorOccurred()) << "an entity that holds nothing sets no error";
}

TEST_F(Buffers, CopyBufferWritesTheBytesInCOrderAndNothingElse) {
  Object block = host_.newMemoryBlock(std::string(8, '.'));
  EXPECT_EQ(CopyInto(python.EntityOf("bytearray(b'abcde')"), block), 5);
  EXPECT_EQ(host_.memoryBlockBytes(block), "abcde...");
  EXPECT_EQ(CopyInto(python.EntityOf("memoryview(b'0123456789')[::3]"), block), 4);
  EXPECT_EQ(host_.memoryBlockBytes(block), "0369e...") << "a strided view, gathered";
  // Three rows of two, the last first: C order is row after row.
  EXPECT_EQ(CopyInto(python.EntityOf("memoryview(b'abcdef').cast('B', [3, 2])[::-1]"), block), 6);
  EXPECT_EQ(host_.memoryBlockBytes(block), "efcdab..") << "negative strides";
  EXPECT_EQ(CopyInto(python.EntityOf("b''"), block), 0);
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(Buffers, CopyBufferRefusesABlockTooSmallNilOrOfUnknownSize) {
  Object block = host_.newMemoryBlock("xyz");
  Object four = python.EntityOf("b'abcd'");
  EXPECT_EQ(CopyInto(four, block), -1);
  EXPECT_EQ(GetError(), "CopyBuffer: the buffer holds 4 bytes, the MemoryBlock 3");
  EXPECT_EQ(host_.memoryBlockBytes(block), "xyz") << "nothing written";
  EXPECT_EQ(CopyInto(four, Nil{}), -1);
  EXPECT_EQ(TakeErrorType(), "TypeError");
  Object view = View(python.EntityOf("bytearray(8)"));
  ASSERT_FALSE(view.isNil());
  EXPECT_EQ(CopyInto(four, view), -1) << "a MemoryBlock of a Ptr";
  EXPECT_EQ(TakeErrorType(), "ValueError");
}

TEST_F(Buffers, BufferViewIsTheObjectsOwnMemory) {
  python.Run("shared_bytes = bytearray(b'hello')");
  Object entity = python.EntityOf("shared_bytes");
  Object block = View(entity);
  ASSERT_FALSE(block.isNil()) << GetError();
  EXPECT_EQ(Int(host_.getProperty(block, "Size")), -1) << "as for any MemoryBlock of a Ptr";
  char* memory = Memory(block);
  EXPECT_EQ(std::string(memory, 5), "hello");
  memory[0] = 'J';
  EXPECT_EQ(python.TextOf("shared_bytes.decode()"), "Jello");
  python.Run("shared_bytes[4] = ord('y')");
  EXPECT_EQ(std::string(memory, 5), "Jelly");
  EXPECT_EQ(Memory(View(entity)), memory) << "a second view, the same memory";

  // The entity keeps the bytes where they are for as long as it lives.
  EXPECT_EQ(python.TextOf("type(fail_safely(lambda: shared_bytes.extend(b'!'))).__name__"), "BufferError");
  block = Object();
  entity = Object();
  EXPECT_EQ(python.TextOf("type(fail_safely(lambda: shared_bytes.extend(b'!'))).__name__"), "NoneType");
}

TEST_F(Buffers, BufferViewRefusesReadOnlyAndScatteredBuffersAndKeepsNothing) {
  python.Run("kept_bytes = bytes(range(10))");
  const int64_t references = python.RefCount("kept_bytes");
  EXPECT_TRUE(View(python.EntityOf("kept_bytes")).isNil());
  EXPECT_EQ(TakeErrorType(), "BufferError") << "bytes are read-only";
  EXPECT_EQ(python.RefCount("kept_bytes"), references) << "the refused view is not kept";
  EXPECT_TRUE(View(python.EntityOf("memoryview(bytearray(10))[::2]")).isNil());
  EXPECT_EQ(TakeErrorType(), "BufferError") << "not contiguous";
}

// Items that are Python object pointers are no data: copied, they would be
// addresses that hold no reference; written through a view, they would break
// reference counts. ctypes exports them ("<O", "T{<O:Object:<i:Other:}").
// Describing them stays allowed; field names may hold an O of their own.
TEST_F(Buffers, BuffersOfPythonObjectsAreNeitherCopiedNorViewed) {
  python.Run(
      "import ctypes\n"
      "class Pair(ctypes.Structure):\n    _fields_ = [('Object', ctypes.py_object), ('Other', ctypes.c_int)]\n"
      "class Plain(ctypes.Structure):\n    _fields_ = [('Other', ctypes.c_int), ('Offset', ctypes.c_int)]\n"
      "held = object()\n"
      "objects = (ctypes.py_object * 2)(held, held)\n"
      "pairs = (Pair * 2)((held, 1), (held, 2))\n"
      "grid = ((ctypes.py_object * 2) * 2)()\n"
      "plain = Plain(1, 2)\n");
  const int64_t references = python.RefCount("held");
  Object block = host_.newMemoryBlock(std::string(64, '.'));
  for (const char* exporter : {"objects", "memoryview(objects)[::-1]", "pairs", "grid", "ctypes.py_object(held)"}) {
    Object entity = python.EntityOf(exporter);
    EXPECT_NE(Format(entity).find('O'), std::string::npos) << exporter;
    EXPECT_GT(Size(entity), 0) << exporter;
    EXPECT_EQ(CopyInto(entity, block), -1) << exporter;
    EXPECT_EQ(TakeErrorType(), "TypeError") << exporter;
    EXPECT_EQ(host_.memoryBlockBytes(block), std::string(64, '.')) << exporter << ": nothing written";
    EXPECT_TRUE(View(entity).isNil()) << exporter;
    EXPECT_NE(TakeErrorType(), "") << exporter << ": a TypeError, or a BufferError for scattered items";
  }
  EXPECT_EQ(python.RefCount("held"), references) << "no refused view is kept";
  Object plain = python.EntityOf("plain");
  EXPECT_EQ(CopyInto(plain, block), 8) << "names of fields are no items";
  EXPECT_FALSE(View(plain).isNil());
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

// Python's memoryview.release() while a MemoryBlock of it lives: the entity's
// own export keeps the memory, which stays the object's.
TEST_F(Buffers, AViewReleasedByPythonLeavesTheBlockValid) {
  python.Run("backing = bytearray(b'abc')\nreleased = memoryview(backing)");
  Object entity = python.EntityOf("released");
  Object block = View(entity);
  ASSERT_FALSE(block.isNil()) << GetError();
  python.Run("released.release()");
  EXPECT_EQ(python.TextOf("type(fail_safely(lambda: released[0])).__name__"), "ValueError");
  Memory(block)[1] = 'B';
  EXPECT_EQ(python.TextOf("backing.decode()"), "aBc");
  EXPECT_EQ(python.TextOf("type(fail_safely(lambda: backing.extend(b'!'))).__name__"), "BufferError");
}

TEST_F(Buffers, FromMemoryBlockIsACopyOfTheBlockAsItemsOfTheFormat) {
  double values[] = {1.5, -2.0, 4.25};
  Object block = host_.newMemoryBlock(std::string(reinterpret_cast<const char*>(values), sizeof values));
  Object entity = FromBlock(block, "d");
  ASSERT_FALSE(entity.isNil()) << GetError();
  Keep(entity, "copied");
  EXPECT_EQ(python.TextOf("type(copied).__name__ + copied.format + str(copied.tolist())"),
            "memoryviewd[1.5, -2.0, 4.25]");
  EXPECT_FALSE(python.TruthOf("copied.readonly"));
  Memory(block)[0] = 0x7f;
  python.Run("copied[1] = 8.0");
  EXPECT_EQ(python.TextOf("str(copied.tolist())"), "[1.5, 8.0, 4.25]") << "the block's change is not seen";
  EXPECT_EQ(host_.memoryBlockBytes(block).substr(8, 8), std::string(reinterpret_cast<const char*>(&values[1]), 8));

  Object bytes = FromBlock(host_.newMemoryBlock("ab"), "");
  EXPECT_EQ(Format(bytes), "B") << "bytes when the format is empty";
  EXPECT_EQ(Shape(bytes), "2");
  EXPECT_EQ(Size(FromBlock(host_.newMemoryBlock(""), "i")), 0);
  EXPECT_EQ(Shape(FromBlock(host_.newMemoryBlock(std::string(12, '\0')), "<hh")), "3") << "items of a struct";
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

// The memory of a large copy freed is used again for the next that fits,
// never for one whose view still lives.
TEST_F(Buffers, LargeCopiesNeverShareTheirMemory) {
  const size_t large = size_t{2} << 20;
  Keep(FromBlock(host_.newMemoryBlock(std::string(large, 'a')), "B"), "first");
  Keep(FromBlock(host_.newMemoryBlock(std::string(large, 'b')), "B"), "second");
  python.Run("del first");
  Keep(FromBlock(host_.newMemoryBlock(std::string(large * 3 / 4, 'c')), "B"), "third");
  Keep(FromBlock(host_.newMemoryBlock(std::string(large, 'd')), "B"), "fourth");
  EXPECT_TRUE(python.TruthOf("bytes(second) == b'b' * len(second) and len(second) == 2 << 20"));
  EXPECT_TRUE(python.TruthOf("bytes(third) == b'c' * len(third) and len(third) == 3 << 19"));
  EXPECT_TRUE(python.TruthOf("bytes(fourth) == b'd' * len(fourth)"));
  python.Run("del second, third, fourth");
}

TEST_F(Buffers, FromMemoryBlockRefusesNilBadFormatsAndPartItems) {
  for (bool shared : {false, true}) {
    EXPECT_TRUE(FromBlock(Nil{}, "B", shared).isNil());
    EXPECT_EQ(TakeErrorType(), "TypeError");
    EXPECT_TRUE(FromBlock(host_.newMemoryBlock("12345"), "i", shared).isNil());
    EXPECT_EQ(GetError(), std::string(shared ? "FromMemoryBlockShared" : "FromMemoryBlock") +
                              ": the MemoryBlock's 5 bytes are no whole number of 4-byte items");
    EXPECT_TRUE(FromBlock(host_.newMemoryBlock("1234"), "not a format", shared).isNil());
    EXPECT_EQ(TakeErrorType(), "struct.error");
    EXPECT_TRUE(FromBlock(host_.newMemoryBlock("1234"), "0i", shared).isNil());
    EXPECT_EQ(TakeErrorType(), "ValueError") << "a format of no bytes";
    Object unknown = View(python.EntityOf("bytearray(4)"));
    EXPECT_TRUE(FromBlock(unknown, "B", shared).isNil());
    EXPECT_EQ(TakeErrorType(), "ValueError") << "a MemoryBlock of a Ptr";
  }
}

TEST_F(Buffers, FromMemoryBlockSharedIsTheBlocksMemoryLockedWhileViewed) {
  Object block = host_.newMemoryBlock("abcd");
  const int64_t locks = host_.refCount(block);
  Object entity = FromBlock(block, "B", true);
  ASSERT_FALSE(entity.isNil()) << GetError();
  Keep(entity, "shared_view");
  EXPECT_EQ(host_.refCount(block), locks + 1);
  python.Run("shared_view[0] = ord('X')");
  EXPECT_EQ(host_.memoryBlockBytes(block), "Xbcd");
  Memory(block)[3] = 'Z';
  EXPECT_EQ(python.TextOf("bytes(shared_view).decode()"), "XbcZ");

  // A view of the view outlives the first one and the entity.
  python.Run("second_view = memoryview(shared_view)[1:]\nshared_view.release()\ndel shared_view");
  entity = Object();
  block = Object();
  EXPECT_EQ(python.TextOf("bytes(second_view).decode()"), "bcZ") << "the block lives on, locked";
  python.Run("del second_view");
  EXPECT_EQ(host_.liveObjects("MemoryBlock"), 0u) << "unlocked with the last view";
}

TEST_F(Buffers, ASharedViewDroppedOnAPythonThreadUnlocksOnTheHostsThread) {
  Object block = host_.newMemoryBlock("abcd");
  const int64_t locks = host_.refCount(block);
  Keep(FromBlock(block, "B", true), "threaded_view");
  python.Run(
      "import threading\n"
      "def drop():\n"
      "    global threaded_view\n"
      "    del threaded_view\n"
      "worker = threading.Thread(target=drop)\n"
      "worker.start()\n"
      "worker.join()\n");
  EXPECT_EQ(host_.refCount(block), locks);
}

TEST_F(Buffers, NeutralResultsOnceTheInterpreterStopped) {
  python.Run("stopped_bytes = bytearray(b'abcd')");
  Object entity = python.EntityOf("stopped_bytes");
  Object view = View(entity);
  ASSERT_FALSE(view.isNil());
  Object block = host_.newMemoryBlock("abcd");
  Keep(FromBlock(block, "B", true), "stopped_shared");
  Restart();
  EXPECT_EQ(Size(entity), -1);
  EXPECT_EQ(Format(entity), "");
  EXPECT_EQ(Shape(entity), "");
  EXPECT_TRUE(View(entity).isNil());
  EXPECT_EQ(CopyInto(entity, block), -1);
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(host_.refCount(block), 1) << "the shared view went with its interpreter";
  python.Disconnect();
  FinalizePython();
  EXPECT_TRUE(FromBlock(block, "B").isNil());
  EXPECT_TRUE(FromBlock(block, "B", true).isNil());
  InitPython();
  python.Connect();
  EXPECT_FALSE(ErrorOccurred());
}

// numpy: Debian's 3.11 has it; the other libraries skip.
class NumpyBuffers : public Buffers {
 protected:
  void SetUp() override {
    Buffers::SetUp();
    const char* label = std::getenv("PYTHON3_LABEL");
    if (!label || std::string(label).rfind("system-", 0) != 0) GTEST_SKIP() << "numpy is Debian's Python's";
    // numpy's import leaves objects of its own that nothing refers to: leaks
    // are looked for before it, the buffer members' own in the Buffers tests.
    CheckLeaksNowNotAtExit();
    python.Run("import numpy");
  }
};

TEST_F(NumpyBuffers, ArraysOfAnyLayoutAreReadAndCopied) {
  Object image = python.EntityOf("numpy.arange(480 * 640 * 3, dtype=numpy.uint8).reshape(480, 640, 3)");
  EXPECT_EQ(Size(image), 921600);
  EXPECT_EQ(Format(image), "B");
  EXPECT_EQ(Shape(image), "480,640,3");
  EXPECT_EQ(Format(python.EntityOf("numpy.zeros(2, '>i4')")), ">i");
  EXPECT_EQ(Format(python.EntityOf("numpy.zeros(2)")), "d");

  python.Run("fortran = numpy.asfortranarray(numpy.arange(12, dtype=numpy.int16).reshape(3, 4))");
  Object block = host_.newMemoryBlock(std::string(24, '\0'));
  EXPECT_EQ(CopyInto(python.EntityOf("fortran"), block), 24);
  EXPECT_EQ(host_.memoryBlockBytes(block), python.TextOf("fortran.tobytes(order='C').decode('latin-1')"));
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

TEST_F(NumpyBuffers, ViewsBothWays) {
  python.Run("signal = numpy.zeros(4)");
  Object signal = python.EntityOf("signal");
  Object block = View(signal);
  ASSERT_FALSE(block.isNil()) << GetError();
  reinterpret_cast<double*>(Memory(block))[2] = 7.5;
  EXPECT_EQ(python.IntegerOf("int(signal.sum() * 2)"), 15);
  EXPECT_TRUE(View(python.EntityOf("signal[::2]")).isNil());
  EXPECT_EQ(TakeErrorType(), "BufferError");
  python.Run("frozen = numpy.zeros(3)\nfrozen.setflags(write=False)");
  EXPECT_TRUE(View(python.EntityOf("frozen")).isNil());
  EXPECT_EQ(TakeErrorType(), "BufferError");

  double values[] = {1.0, 2.0, 3.0};
  Object source = host_.newMemoryBlock(std::string(reinterpret_cast<const char*>(values), sizeof values));
  Keep(FromBlock(source, "d"), "copied");
  Keep(FromBlock(source, "d", true), "shared");
  python.Run("copied_array = numpy.frombuffer(copied, 'd')\nshared_array = numpy.frombuffer(shared, 'd')");
  EXPECT_EQ(python.IntegerOf("int(copied_array.sum())"), 6);
  python.Run("shared_array *= 2");
  EXPECT_EQ(reinterpret_cast<double*>(Memory(source))[2], 6.0);
  EXPECT_EQ(python.IntegerOf("int(copied_array.sum())"), 6);
  python.Run("del copied, shared, copied_array, shared_array");
}

// numpy's dtype=object exports "O", a structured one holding objects "T{(2)O:a:}".
TEST_F(NumpyBuffers, ArraysOfPythonObjectsAreNeitherCopiedNorViewed) {
  python.Run("held = object()\nboxes = numpy.array([held, 'a', None], dtype=object)");
  const int64_t references = python.RefCount("held");
  Object block = host_.newMemoryBlock(std::string(64, '.'));
  for (const char* exporter : {"boxes", "boxes[::2]", "numpy.zeros(2, dtype=[('a', 'O', (2,))])"}) {
    Object entity = python.EntityOf(exporter);
    EXPECT_EQ(CopyInto(entity, block), -1) << exporter;
    EXPECT_EQ(TakeErrorType(), "TypeError") << exporter;
    EXPECT_EQ(host_.memoryBlockBytes(block), std::string(64, '.')) << exporter;
    EXPECT_TRUE(View(entity).isNil()) << exporter;
    EXPECT_NE(TakeErrorType(), "") << exporter << ": a TypeError, or a BufferError for scattered items";
  }
  EXPECT_EQ(Format(python.EntityOf("boxes")), "O");
  EXPECT_EQ(python.RefCount("held"), references);
  Object records = python.EntityOf("numpy.zeros(2, dtype=[('Offset', '<i4'), ('Other', '<i4')])");
  EXPECT_EQ(CopyInto(records, block), 16);
  EXPECT_FALSE(View(records).isNil());
  EXPECT_FALSE(ErrorOccurred()) << GetError();
}

// Python code that an exporter runs (__buffer__, from 3.12 on) may drop the
// last host reference to the entity or the block: the members hold them.
Object gEntity, gBlock;

PyPtr DropHeld(PyPtr, PyPtr) {
  gEntity = Object();
  gBlock = Object();
  return Returned();
}

class BufferReentry : public HostCode {
 protected:
  void SetUp() override {
    HostCode::SetUp();
    Register(NewXojoModule("bufferreentry", {{"drop_held", Address(&DropHeld)}}));
    Start();
    if (!python.TruthOf("sys.version_info >= (3, 12)")) GTEST_SKIP() << "__buffer__ is 3.12's";
    python.Run(
        "import bufferreentry\n"
        "class Dropping:\n"
        "    def __init__(self):\n"
        "        self.data = bytearray(b'abcd')\n"
        "    def __buffer__(self, flags):\n"
        "        bufferreentry.drop_held()\n"
        "        return memoryview(self.data)\n");
  }
  void TearDown() override {
    gEntity = Object();
    gBlock = Object();
    HostCode::TearDown();
  }
  template <typename Result, typename... Arguments>
  Result Direct(const std::string& declaration, Arguments... arguments) {
    auto function =
        reinterpret_cast<Result (*)(Arguments...)>(host_.memberFunctions("Python3Entity", declaration).function);
    return function(arguments...);
  }
};

TEST_F(BufferReentry, TheMembersHoldWhatTheExportersCodeDrops) {
  gEntity = python.EntityOf("Dropping()");
  gBlock = host_.newMemoryBlock("....");
  EXPECT_EQ((Direct<int64_t>("CopyBuffer(into as MemoryBlock) as Integer", gEntity.get(), gBlock.get())), 4);
  EXPECT_FALSE(ErrorOccurred()) << GetError();

  gEntity = python.EntityOf("Dropping()");
  Object block = Object::adopt(Direct<REALobjectStruct*>("BufferView() as MemoryBlock", gEntity.get()));
  ASSERT_FALSE(block.isNil()) << GetError();
  EXPECT_TRUE(gEntity.isNil()) << "the entity was dropped while the member ran";
}

}  // namespace
}  // namespace api_tests
