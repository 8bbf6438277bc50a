// The parser of declaration texts and the text encodings, tested directly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Declaration.h"
#include "Encoding.h"
#include "REALplugin.h"

namespace xhost::detail {
namespace {

TEST(Declarations, MethodWithResult) {
  Declaration d = parseDeclaration("Int32Value(index as Integer) as Int32");
  EXPECT_EQ(d.name, "Int32Value");
  ASSERT_EQ(d.params.size(), 1u);
  EXPECT_EQ(d.params[0].name, "index");
  EXPECT_EQ(d.params[0].type, "Integer");
  EXPECT_EQ(d.resultType, "Int32");
}

TEST(Declarations, KeywordsIgnoreCaseAndSpacing) {
  Declaration convert = parseDeclaration("Operator_Convert() As Ptr");
  EXPECT_EQ(convert.name, "Operator_Convert");
  EXPECT_TRUE(convert.params.empty());
  EXPECT_EQ(convert.resultType, "Ptr");
  Declaration lenB = parseDeclaration("LenB( s as string ) as integer");
  EXPECT_EQ(signatureKey(lenB), "lenb(string)");
  EXPECT_EQ(parseDeclaration("Clear").params.size(), 0u);
}

TEST(Declarations, DefaultsAndQualifiedTypes) {
  Declaration d = parseDeclaration(
      "PythonIsFound(preferredVersion as Python3Engine.PreferredVersionValues = "
      "Python3Engine.PreferredVersionValues.PREFERRED_VERSION_LATESTKNOWN) as Boolean");
  ASSERT_EQ(d.params.size(), 1u);
  EXPECT_EQ(d.params[0].type, "Python3Engine.PreferredVersionValues");
  ASSERT_TRUE(d.params[0].defaultValue);
  EXPECT_EQ(d.params[0].defaultValue->kind, Literal::Kind::Name);
  EXPECT_EQ(d.params[0].defaultValue->text, "Python3Engine.PreferredVersionValues.PREFERRED_VERSION_LATESTKNOWN");
  Declaration literals =
      parseDeclaration("F(a as Integer = -3, b as String = \"x\"\"y\", c as Boolean = False, d as Double = 1.5e2)");
  EXPECT_EQ(literals.params[0].defaultValue->integer, -3);
  EXPECT_EQ(literals.params[1].defaultValue->text, "x\"y");
  EXPECT_FALSE(literals.params[2].defaultValue->boolean);
  EXPECT_DOUBLE_EQ(literals.params[3].defaultValue->real, 150.0);
}

TEST(Declarations, AssignsIsTheLastParameter) {
  Declaration d = parseDeclaration("Data(pySelf as Ptr, assigns value as Object)");
  ASSERT_EQ(d.params.size(), 2u);
  EXPECT_TRUE(d.params[1].assigns);
  EXPECT_TRUE(d.resultType.empty());
  EXPECT_THROW(parseDeclaration("Data(assigns value as Object, pySelf as Ptr)"), DeclarationError);
  EXPECT_THROW(parseDeclaration("Data(assigns value as Object) as Integer"), DeclarationError);
}

TEST(Declarations, MalformedOrUnsupportedTextsAreRejected) {
  for (const char* text : {"", "Foo(", "Foo(x Integer)", "Foo(x as)", "Foo(x as Integer", "Foo() as",
                           "Foo() as Integer junk", "Foo(byref x as Integer)", "Foo(paramarray x as Integer)",
                           "Foo(x() as Integer)", "Foo() as String()", "1Foo()", "Foo(x as Integer = )"})
    EXPECT_THROW(parseDeclaration(text), DeclarationError) << text;
}

TEST(Declarations, Constants) {
  EXPECT_EQ(parseConstant("PY_NO_ERROR = 0").second.integer, 0);
  EXPECT_EQ(parseConstant("NEG = -5").second.integer, -5);
  EXPECT_EQ(parseConstant("MASK = &hFF").second.integer, 255);
  EXPECT_EQ(parseConstant("BITS = &b101").second.integer, 5);
  EXPECT_EQ(parseConstant("LOW = -9223372036854775808").second.integer, INT64_MIN);
  EXPECT_EQ(parseConstant("RATIO = 2.5").second.kind, Literal::Kind::Double);
  EXPECT_EQ(parseConstant("NAME = \"text\"").second.text, "text");
  EXPECT_TRUE(parseConstant("FLAG = true").second.boolean);
  for (const char* text : {"NOVALUE", "A = ", "A = B", "A = Nil", "A = 99999999999999999999", "A = 1 2"})
    EXPECT_THROW(parseConstant(text), DeclarationError) << text;
}

TEST(Declarations, EnumerationMembers) {
  EXPECT_EQ(parseEnumMember("PREFERRED_VERSION_3_4_X = 1").second, 1);
  EXPECT_FALSE(parseEnumMember("NEXT").second.has_value());
  EXPECT_THROW(parseEnumMember("A = 1.5"), DeclarationError);
}

TEST(Declarations, SignaturesIgnoreNamesCaseAndTheInt64Alias) {
  EXPECT_EQ(signatureKey(parseDeclaration("Constructor(message as String, errorCode as Integer)")),
            signatureKey(parseDeclaration("constructor(m AS string, code as Int64)")));
  EXPECT_NE(signatureKey(parseDeclaration("F(a as Int32)")), signatureKey(parseDeclaration("F(a as Integer)")));
}

TEST(Encodings, Conversions) {
  EXPECT_EQ(convertText("caf\xE9", kREALTextEncodingLatin1, kREALTextEncodingUTF8), "caf\xC3\xA9");
  EXPECT_EQ(convertText("caf\xC3\xA9", kREALTextEncodingUTF8, kREALTextEncodingLatin1), "caf\xE9");
  EXPECT_EQ(convertText("\xE2\x82\xAC", kREALTextEncodingUTF8, kREALTextEncodingLatin1), std::nullopt)
      << "the euro sign";
  EXPECT_EQ(convertText("\xF0\x9F\x98\x80", kREALTextEncodingUTF8, kREALTextEncodingUTF8), "\xF0\x9F\x98\x80");
  EXPECT_EQ(convertText("\xF4\x90\x80\x80", kREALTextEncodingUTF8, kREALTextEncodingUTF8), std::nullopt)
      << "beyond U+10FFFF";
  EXPECT_EQ(convertText("\xE2\x82", kREALTextEncodingUTF8, kREALTextEncodingUTF8), std::nullopt) << "cut short";
  EXPECT_EQ(convertText("\xFF", kREALTextEncodingUTF8, kREALTextEncodingUnknown), "\xFF") << "raw bytes stay raw";
  EXPECT_EQ(convertText("abc", kREALTextEncodingUTF8, 0x1234), std::nullopt);
}

TEST(Encodings, ComparisonFoldsAsciiAndLatin1Letters) {
  EXPECT_EQ(compareTexts("Lib", kREALTextEncodingUTF8, "lIB", kREALTextEncodingASCII), 0);
  EXPECT_EQ(compareTexts("\xC9T\xC9", kREALTextEncodingLatin1, "\xC3\xA9t\xC3\xA9", kREALTextEncodingUTF8), 0);
  EXPECT_LT(compareTexts("ab", kREALTextEncodingUTF8, "abc", kREALTextEncodingUTF8), 0);
  EXPECT_GT(compareTexts("b", kREALTextEncodingUTF8, "A", kREALTextEncodingUTF8), 0);
  EXPECT_NE(compareTexts("\xD7", kREALTextEncodingLatin1, "\xF7", kREALTextEncodingLatin1), 0)
      << "multiplication and division signs";
}

}  // namespace
}  // namespace xhost::detail
