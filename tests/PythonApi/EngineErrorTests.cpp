// Python's error indicator as Xojo code reads and sets it. Libraries before
// 3.12 take the error with PyErr_Fetch, later ones with
// PyErr_GetRaisedException: every test runs against both kinds.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Errors : public RunningPython {
 protected:
  // What Python code that writes to the console raises when the handler
  // calls SetError with `type` and `message`: "Type: first argument".
  std::string RaisedByAWriteWhoseHandlerSets(int64_t type, const String& message) {
    host_.defineSubclass("ErrorSettingConsole", "Python3EngineConsoleOutput",
                         {{"ConsoleOutput", [&type, &message](const Object&, const std::vector<Value>&) -> Value {
                             Engine("SetError", {type, message});
                             return {};
                           }}});
    Engine("SetConsoleOutput", {host_.newObject("ErrorSettingConsole")});
    python.Run(
        "def raised_by_write():\n"
        "    try:\n"
        "        sys.stdout.write('x')\n"
        "    except BaseException as e:\n"
        "        return type(e).__name__ + ': ' + (e.args[0] if e.args else '')\n"
        "    return 'nothing raised'\n");
    const std::string raised = python.TextOf("raised_by_write()");
    Engine("SetConsoleOutput", {Nil{}});  // the handler refers to this call's arguments
    return raised;
  }
};

TEST_F(Errors, GetErrorGivesTheExceptionTextAndClearsIt) {
  EXPECT_TRUE(python.Call("fail", {Str("ValueError"), Str("bad value")}).isNil());
  EXPECT_TRUE(ErrorOccurred());
  EXPECT_EQ(GetError(), "bad value");
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(GetError(), "");
}

TEST_F(Errors, AKeyErrorReadsAsItsKeyInQuotes) {
  EXPECT_TRUE(python.Call("fail", {Str("KeyError"), Str("k")}).isNil());
  EXPECT_EQ(GetError(), "'k'");
  EXPECT_TRUE(python.Call("lookup_missing_key").isNil());
  EXPECT_EQ(GetError(), "'k'");
}

// Exceptions the library raises in C are often not yet instances; their text
// must still be what str() of the exception gives in Python.
TEST_F(Errors, ErrorsRaisedByTheLibraryReadAsStrOfTheException) {
  for (const char* expression : {"{}['k']", "open('/nonexistent/apitest')", "int('x')", "1 / 0", "[][1]",
                                 "undefined_name", "(1).missing", "b'\\xff'.decode()"}) {
    python.Run(std::string("try:\n    ") + expression + "\nexcept BaseException as e:\n    expected = str(e)\n");
    const std::string expected = python.TextOf("expected");
    EXPECT_TRUE(python.Call("evaluate", {Str(expression)}).isNil());
    EXPECT_EQ(GetError(), expected) << expression;
  }
}

TEST_F(Errors, TheTextEndsAtItsFirstNulCharacter) {
  python.Call("run", {Str("raise ValueError('ab\\0cd')")});
  EXPECT_EQ(GetError(), "ab");
}

TEST_F(Errors, AnExceptionWhoseTextFailsGivesTheEmptyStringAndLeavesThatFailure) {
  python.Call("run", {Str("raise Unprintable('hidden')")});
  EXPECT_EQ(GetError(), "");
  EXPECT_TRUE(ErrorOccurred());
  EXPECT_EQ(GetError(), "no text for this exception");
}

// A lone surrogate has no UTF-8 form: it comes in the backslash form Python
// prints, and the exception is read like any other.
TEST_F(Errors, CharactersUtf8CannotHoldComeEscaped) {
  python.Call("run", {Str("raise ValueError('bad \\udc80 value')")});
  EXPECT_EQ(GetError(), "bad \\udc80 value");
  EXPECT_FALSE(ErrorOccurred());
  Object tuple = CallObject(python.Evaluate("(Unencodable(),)"), "TupleValue");
  EXPECT_EQ(Text(host_.call(tuple, "ToString")), "(bad \\udc80 value,)");
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Errors, ClearErrorClearsWithoutReading) {
  python.Call("fail", {Str("RuntimeError"), Str("unread")});
  Engine("ClearError");
  EXPECT_FALSE(ErrorOccurred());
  EXPECT_EQ(GetError(), "");
}

TEST_F(Errors, SetErrorSetsTheMessage) {
  Engine("SetError", {host_.constant("Python3ErrorTypes.TypeError"), Str("wrong")});
  EXPECT_TRUE(ErrorOccurred());
  EXPECT_EQ(GetError(), "wrong");
  Engine("SetError", {host_.constant("Python3ErrorTypes.KeyError"), Str("k")});
  EXPECT_EQ(GetError(), "'k'") << "str() of the KeyError, whichever way the library hands it over";
}

TEST_F(Errors, SetErrorWithATypeOutsideTheTableIsIgnored) {
  for (int64_t type : {int64_t{0}, int64_t{23}, int64_t{-1}, int64_t{1} << 40}) {
    Engine("SetError", {type, Str("ignored")});
    EXPECT_FALSE(ErrorOccurred()) << type;
  }
}

TEST_F(Errors, SetErrorTakesTheMessageAsUtf8WhateverItsEncoding) {
  Engine("SetError",
         {host_.constant("Python3ErrorTypes.ValueError"), host_.newString("caf\xE9", kREALTextEncodingLatin1)});
  EXPECT_EQ(GetError(), "caf\xC3\xA9");
  Engine("SetError", {host_.constant("Python3ErrorTypes.ValueError"), Str("")});
  EXPECT_TRUE(ErrorOccurred());
  EXPECT_EQ(GetError(), "");
}

// Bytes that are not UTF-8 (a string of unknown encoding) become
// replacement characters; the chosen type is raised all the same.
TEST_F(Errors, SetErrorWithBytesThatAreNotUtf8RaisesTheChosenType) {
  const String notUtf8 = host_.newString("\xFF\xFE", kREALTextEncodingUnknown);
  Engine("SetError", {host_.constant("Python3ErrorTypes.ValueError"), notUtf8});
  EXPECT_EQ(GetError(), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(RaisedByAWriteWhoseHandlerSets(host_.constant("Python3ErrorTypes.KeyError"), notUtf8),
            "KeyError: \xEF\xBF\xBD\xEF\xBF\xBD");
}

// The console handler is Xojo code that Python calls: an error it sets is
// raised in the Python code that wrote, with the type the constant names.
TEST_F(Errors, SetErrorRaisesTheChosenTypeInPython) {
  struct Row {
    const char* constant;
    const char* pythonType;  // IOError is OSError in Python 3
  };
  const std::vector<Row> rows = {
      {"AssertionError", "AssertionError"},
      {"AttributeError", "AttributeError"},
      {"EOFError", "EOFError"},
      {"FloatingPointError", "FloatingPointError"},
      {"IOError", "OSError"},
      {"ImportError", "ImportError"},
      {"IndexError", "IndexError"},
      {"KeyError", "KeyError"},
      {"KeyboardInterrupt", "KeyboardInterrupt"},
      {"MemoryError", "MemoryError"},
      {"NameError", "NameError"},
      {"NotImplementedError", "NotImplementedError"},
      {"OSError", "OSError"},
      {"OverflowError", "OverflowError"},
      {"RuntimeError", "RuntimeError"},
      {"SyntaxError", "SyntaxError"},
      {"SystemError", "SystemError"},
      {"SystemExit", "SystemExit"},
      {"TypeError", "TypeError"},
      {"ValueError", "ValueError"},
      {"ZeroDivisionError", "ZeroDivisionError"},
      {"ReferenceError", "ReferenceError"},
  };
  ASSERT_EQ(rows.size(), 22u);
  for (size_t i = 0; i < rows.size(); ++i) {
    const int64_t errorType = host_.constant(std::string("Python3ErrorTypes.") + rows[i].constant);
    EXPECT_EQ(errorType, static_cast<int64_t>(i + 1));
    EXPECT_EQ(RaisedByAWriteWhoseHandlerSets(errorType, Str("set by Xojo")),
              std::string(rows[i].pythonType) + ": set by Xojo")
        << rows[i].constant;
  }
  EXPECT_FALSE(ErrorOccurred());
}

}  // namespace
}  // namespace api_tests
