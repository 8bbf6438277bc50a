// Host strings: encodings, the string data the plugin borrows, comparison.
#include "SampleHost.h"

namespace xhost::testing {
namespace {

using ::testing::HasSubstr;

class Strings : public ::testing::Test {
 protected:
  int64_t utf8Length(const String& s) { return asInteger(host.callShared("SampleHostUse", "Utf8Length", {s})); }
  String utf8Copy(const String& s) { return asString(host.callShared("SampleHostUse", "Utf8Copy", {s})); }
  int64_t compare(const String& a, const String& b) {
    return asInteger(host.callShared("SampleHostUse", "Compare", {a, b}));
  }

  Host& host = sampleHost();
};

TEST_F(Strings, Utf8PassesAsItIs) {
  EXPECT_EQ(utf8Length(host.newString("h\xC3\xA9llo")), 6);
  EXPECT_EQ(utf8Copy(host.newString("h\xC3\xA9llo")).bytes(), "h\xC3\xA9llo");
}

TEST_F(Strings, Latin1IsConvertedToUtf8) {
  String latin1 = host.newString("caf\xE9", kREALTextEncodingLatin1);
  EXPECT_EQ(utf8Length(latin1), 5);
  EXPECT_EQ(utf8Copy(latin1).bytes(), "caf\xC3\xA9");
}

TEST_F(Strings, AsciiConvertsOnlyWithoutHighBytes) {
  EXPECT_EQ(utf8Length(host.newString("plain", kREALTextEncodingASCII)), 5);
  EXPECT_EQ(utf8Length(host.newString("caf\xE9", kREALTextEncodingASCII)), -1);
}

TEST_F(Strings, InvalidUtf8FailsToConvert) {
  EXPECT_EQ(utf8Length(host.newString("bad \xC3(")), -1);
  EXPECT_EQ(utf8Length(host.newString("\xED\xA0\x80")), -1) << "an encoded surrogate";
  EXPECT_EQ(utf8Length(host.newString("\xC0\xAF")), -1) << "an overlong form";
}

TEST_F(Strings, Utf8IsCheckedSequenceBySequence) {
  const std::string ascii = "a long run of plain text ";
  for (const char* valid : {"\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xED\x9F\xBF", "\xEE\x80\x80", "\xE0\xA0\x80",
                            "\xC2\x80", "\xEF\xBF\xBF"}) {
    EXPECT_EQ(utf8Length(host.newString(ascii + valid)), static_cast<int64_t>(ascii.size() + strlen(valid))) << valid;
    EXPECT_EQ(utf8Length(host.newString(valid + ascii)), static_cast<int64_t>(ascii.size() + strlen(valid))) << valid;
  }
  for (const char* invalid : {"\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xE0\x9F\xBF", "\xED\xBF\xBF",
                              "\xC1\xBF", "\x80", "\xBF", "\xFF", "\xE2\x82", "\xF0\x9F\x98", "\xC3 "}) {
    EXPECT_EQ(utf8Length(host.newString(ascii + invalid)), -1) << ascii + invalid;
    EXPECT_EQ(utf8Length(host.newString(invalid + ascii)), -1) << invalid + ascii;
  }
}

TEST_F(Strings, LongTextConvertsOrFailsByItsLastByte) {
  const std::string ascii = "a long run of plain text ";
  EXPECT_EQ(utf8Length(host.newString(ascii + "\xE9", kREALTextEncodingASCII)), -1);
  EXPECT_EQ(utf8Length(host.newString(ascii + "\xE9", kREALTextEncodingLatin1)), static_cast<int64_t>(ascii.size() + 2));
  EXPECT_EQ(utf8Length(host.newString(ascii + "z", kREALTextEncodingASCII)), static_cast<int64_t>(ascii.size() + 1));
}

TEST_F(Strings, AStringLentAgainReadsAsItDidTheFirstTime) {
  String valid = host.newString("h\xC3\xA9 and more");
  String invalid = host.newString(std::string("ok \xC3", 4), kREALTextEncodingUTF8);
  for (int time = 0; time < 3; ++time) {
    EXPECT_EQ(utf8Length(valid), 12) << "lent " << time + 1 << " times";
    EXPECT_EQ(utf8Length(invalid), -1) << "lent " << time + 1 << " times";
  }
}

TEST_F(Strings, UnknownEncodingPassesWhenTheBytesAreUtf8) {
  EXPECT_EQ(utf8Length(host.newString("h\xC3\xA9", kREALTextEncodingUnknown)), 3);
  EXPECT_EQ(utf8Length(host.newString(std::string("\x00\x41\xFF", 3), kREALTextEncodingUnknown)), -1);
}

TEST_F(Strings, NilIsTheEmptyString) {
  EXPECT_EQ(utf8Length(String()), 0);
  EXPECT_EQ(asInteger(host.callShared("SampleHostUse", "ByteLength", {String()})), 0);
}

TEST_F(Strings, ConversionsFailOnDemand) {
  host.refuseStringConversions(true);
  EXPECT_EQ(utf8Length(host.newString("fine")), -1);
  host.refuseStringConversions(false);
  EXPECT_EQ(utf8Length(host.newString("fine")), 4);
}

TEST_F(Strings, StringDataNeverDisposedIsALeak) {
  host.ledgerBegin();
  host.callShared("SampleHostUse", "ForgetStringData", {host.newString("kept data")});
  EXPECT_THAT(ledgerText(), HasSubstr("leak: string data of \"kept data\" was never disposed"));
  forgetLedger();
}

TEST_F(Strings, DisposingTwiceOrWithoutFillingIsMisuse) {
  host.callShared("SampleHostUse", "DisposeTwice", {host.newString("twice")});
  host.callShared("SampleHostUse", "DisposeUnfilled");
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("string data of \"twice\" disposed twice"));
  EXPECT_THAT(problems, HasSubstr("the record was never filled"));
}

TEST_F(Strings, ComparisonIgnoresCaseAndEncoding) {
  EXPECT_EQ(compare(host.newString("lib"), host.newString("LIB")), 0);
  EXPECT_LT(compare(host.newString("abc"), host.newString("ABD")), 0);
  EXPECT_GT(compare(host.newString("b"), host.newString("a")), 0);
  EXPECT_GT(compare(host.newString("a"), String()), 0);
  EXPECT_EQ(compare(host.newString(""), String()), 0);
  EXPECT_EQ(compare(host.newString("CAF\xC9", kREALTextEncodingLatin1), host.newString("caf\xC3\xA9")), 0);
  EXPECT_NE(compare(host.newString("lib"), host.newString("lib ")), 0);
}

TEST_F(Strings, CStringAndLenBGiveTheStoredBytes) {
  String s = host.newString(std::string("a\0b\xFF", 4), kREALTextEncodingUnknown);
  auto cString = hostEntry<const char* (*)(REALstringStruct*)>("StringGetCString");
  const char* bytes = cString(s.get());
  EXPECT_EQ(std::string(bytes, 5), std::string("a\0b\xFF\0", 5)) << "NUL-terminated";
  EXPECT_EQ(asInteger(host.callShared("SampleHostUse", "ByteLength", {s})), 4);
  EXPECT_EQ(asInteger(host.callShared("SampleHostUse", "ByteLength", {host.newString("h\xC3\xA9")})), 3);
}

TEST_F(Strings, BuildingCopiesTheBytesAndTheEncoding) {
  auto build = hostEntry<REALstringStruct* (*)(const char*, int, uint32_t)>("REALBuildStringWithEncoding");
  char bytes[] = "copy me";
  String s = String::adopt(build(bytes, 4, kREALTextEncodingLatin1));
  bytes[0] = 'X';
  EXPECT_EQ(s.bytes(), "copy");
  EXPECT_EQ(s.encoding(), kREALTextEncodingLatin1);
  EXPECT_EQ(host.refCount(s), 1);
}

TEST_F(Strings, BuildingWithANegativeLengthOrAnUnknownEncodingIsMisuse) {
  EXPECT_TRUE(asString(host.callShared("SampleHostUse", "NegativeLength")).isNil());
  auto build = hostEntry<REALstringStruct* (*)(const char*, int, uint32_t)>("REALBuildStringWithEncoding");
  String odd = String::adopt(build("x", 1, 0x1234));
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("REALBuildStringWithEncoding: length -1"));
  EXPECT_THAT(problems, HasSubstr("encoding 0x1234 is not supported"));
}

TEST_F(Strings, LockAndUnlockCountReferences) {
  auto lock = hostEntry<void (*)(REALstringStruct*)>("REALLockString");
  auto unlock = hostEntry<void (*)(REALstringStruct*)>("REALUnlockString");
  String s = host.newString("counted");
  lock(s.get());
  EXPECT_EQ(host.refCount(s), 2);
  String copy = s;
  EXPECT_EQ(host.refCount(s), 3);
  unlock(s.get());
  EXPECT_EQ(host.refCount(s), 2);
  lock(nullptr);
  unlock(nullptr);
}

TEST_F(Strings, OnlyLenBIsAGlobalMethod) {
  auto load = hostEntry<REALproc (*)(const char*, const char*)>("REALLoadGlobalMethod");
  EXPECT_NE(load(nullptr, "LenB(text As String) As Integer"), nullptr);
  EXPECT_EQ(load(nullptr, "Len(s as String) as Integer"), nullptr);
  EXPECT_EQ(load(nullptr, "LenB(s as String) as Int32"), nullptr);
  load("Strings", "LenB(s as String) as Integer");
  std::string problems = ledgerText();
  EXPECT_THAT(problems, HasSubstr("no global method Len(s as String) as Integer"));
  EXPECT_THAT(problems, HasSubstr("module \"Strings\" passed"));
}

TEST_F(Strings, UsingAReleasedStringIsReported) {
  auto unlock = hostEntry<void (*)(REALstringStruct*)>("REALUnlockString");
  REALstringStruct* raw = host.newString("gone").release();
  unlock(raw);
  unlock(raw);
  EXPECT_THAT(ledgerText(), HasSubstr("REALUnlockString: use of the dead string"));
}

}  // namespace
}  // namespace xhost::testing
