// Python3EntityBase's own members on the value wrappers the plugin returns:
// ToString is str(), Hash is hash(), failures leave Python's error set.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class EntityBase : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    python.Run(
        "class Unrepresentable:\n"
        "    def __repr__(self):\n"
        "        raise ValueError('no repr')\n"
        "values = ({'k': [1, 'two']}, (1, 2.5), [None], b'x\\0y', [Unrepresentable()])\n");
    values_ = CallObject(python.Evaluate("values"), "TupleValue");
  }
  void TearDown() override {
    values_ = Object();
    RunningPython::TearDown();
  }
  Object Value(const char* getter, int64_t index) { return CallObject(values_, getter, {index}); }

  Object values_;
};

TEST_F(EntityBase, ToStringIsStrOfTheObject) {
  EXPECT_EQ(Text(host_.call(Value("DictionaryValue", 0), "ToString")), "{'k': [1, 'two']}");
  EXPECT_EQ(Text(host_.call(Value("TupleValue", 1), "ToString")), "(1, 2.5)");
  EXPECT_EQ(Text(host_.call(Value("ListValue", 2), "ToString")), "[None]");
  String bytes = xhost::asString(host_.call(Value("BytesValue", 3), "ToString"));
  EXPECT_EQ(bytes.bytes(), std::string("x\0y", 3)) << "a byte string's own ToString gives its raw bytes";
  EXPECT_EQ(bytes.encoding(), kREALTextEncodingUnknown);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(EntityBase, AFailingToStringIsEmptyAndLeavesTheError) {
  EXPECT_TRUE(xhost::asString(host_.call(Value("ListValue", 4), "ToString")).isNil());
  EXPECT_EQ(GetError(), "no repr");
}

TEST_F(EntityBase, HashIsPythonsHash) {
  EXPECT_EQ(Int(host_.call(Value("TupleValue", 1), "Hash")), python.IntegerOf("hash(values[1])"));
  EXPECT_EQ(Int(host_.call(Value("BytesValue", 3), "Hash")), python.IntegerOf("hash(values[3])"));
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(Int(host_.call(Value("ListValue", 2), "Hash")), -1);
  EXPECT_EQ(GetError(), "unhashable type: 'list'");
}

TEST_F(EntityBase, GetPtrIsTheObjectItself) {
  Object list = Value("ListValue", 2);
  void* pointer = xhost::asPtr(host_.call(list, "GetPtr"));
  EXPECT_EQ(reinterpret_cast<intptr_t>(pointer), python.IntegerOf("id(values[2])"));
}

}  // namespace
}  // namespace api_tests
