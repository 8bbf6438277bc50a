// Source text run in __main__ (Execute, Evaluate) and the pending error's
// type name and traceback.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Source : public RunningPython {
 protected:
  bool Execute(const std::string& source) { return Bool(Engine("Execute", {Str(source)})); }
  Object Evaluate(const std::string& expression) { return xhost::asObject(Engine("Evaluate", {Str(expression)})); }
  int64_t IntegerOf(const std::string& expression) {
    Object result = Evaluate(expression);
    EXPECT_FALSE(result.isNil()) << expression << ": " << GetError();
    return result.isNil() ? -1 : Int(host_.call(result, "Int64Value"));
  }
  std::string TypeName() { return Text(Engine("GetErrorTypeName")); }
  std::string Traceback() { return Text(Engine("GetErrorTraceback")); }
};

TEST_F(Source, ExecuteDefinesWhatEvaluateUsesInTheNamespaceOfMain) {
  EXPECT_TRUE(Execute("def area(w, h):\n    return w * h\nside = 7\n"));
  EXPECT_EQ(IntegerOf("area(side, 6)"), 42);
  EXPECT_EQ(IntegerOf("2 + 2"), 4);
  EXPECT_TRUE(Execute("import sys\nin_main = sys.modules['__main__'].side == 7"));
  EXPECT_TRUE(Bool(host_.call(Evaluate("in_main"), "BooleanValue")));
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Source, TheNamespaceLastsUntilFinalize) {
  EXPECT_TRUE(Execute("kept = 'yes'"));
  EXPECT_EQ(Text(host_.call(Evaluate("kept"), "StringValue")), "yes");
  Restart();
  EXPECT_TRUE(Evaluate("kept").isNil());
  EXPECT_EQ(TypeName(), "NameError");
}

TEST_F(Source, FailuresAreOrdinaryPythonErrors) {
  struct Case {
    const char* source;
    bool asExpression;
    const char* typeName;
  };
  for (const Case& c : {Case{"def broken(:\n", false, "SyntaxError"}, Case{"x = 1", true, "SyntaxError"},
                        Case{"1 / 0", true, "ZeroDivisionError"}, Case{"raise KeyError('k')", false, "KeyError"},
                        Case{"import json\njson.loads('{')", false, "json.decoder.JSONDecodeError"}}) {
    SCOPED_TRACE(c.source);
    if (c.asExpression)
      EXPECT_TRUE(Evaluate(c.source).isNil());
    else
      EXPECT_FALSE(Execute(c.source));
    EXPECT_TRUE(ErrorOccurred());
    EXPECT_EQ(TypeName(), c.typeName);
    EXPECT_TRUE(ErrorOccurred()) << "reading the type name cleared the error";
    const std::string typeName = c.typeName;
    const std::string shortName = typeName.substr(typeName.rfind('.') + 1);
    EXPECT_NE(Traceback().find(shortName), std::string::npos) << Traceback();
    Engine("ClearError");
  }
}

TEST_F(Source, ASourceWithAHiddenNulIsRefusedWhole) {
  EXPECT_FALSE(Execute(std::string("hidden = 1\0hidden = 2", 21)));
  EXPECT_EQ(TypeName(), "ValueError");
  Engine("ClearError");
  EXPECT_TRUE(Evaluate("hidden").isNil());
}

TEST_F(Source, TheTracebackNamesFilesLinesAndChainedCauses) {
  EXPECT_FALSE(
      Execute("def inner():\n"
              "    1 / 0\n"
              "def outer():\n"
              "    try:\n"
              "        inner()\n"
              "    except ZeroDivisionError as error:\n"
              "        raise KeyError('lost key') from error\n"
              "outer()\n"));
  const std::string traceback = Traceback();
  for (const char* part : {"Traceback (most recent call last):", "File \"<string>\", line 2, in inner",
                           "ZeroDivisionError", "The above exception was the direct cause of the following exception",
                           "line 7, in outer", "KeyError: 'lost key'"})
    EXPECT_NE(traceback.find(part), std::string::npos) << part << "\n" << traceback;
  EXPECT_EQ(GetError(), "'lost key'") << "the traceback reader cleared the error";
  EXPECT_EQ(Traceback(), "");
  EXPECT_EQ(TypeName(), "");
}

TEST_F(Source, ErrorsRaisedInCAreReadLikeOthers) {
  EXPECT_TRUE(GetModule("no_such_module_for_source_tests").isNil());
  EXPECT_NE(TypeName().find("Error"), std::string::npos);
  EXPECT_NE(Traceback().find("No module named 'no_such_module_for_source_tests'"), std::string::npos) << Traceback();
  EXPECT_EQ(GetError(), "No module named 'no_such_module_for_source_tests'");
}

// A class may carry any object as __module__ or __qualname__: what is not a
// str reads as unknown, and the bare __name__ (or the type's own name) stands.
TEST_F(Source, TypeNamesOfClassesWithOddModuleOrQualifiedName) {
  struct Case {
    const char* setup;
    const char* typeName;
  };
  for (const Case& c :
       {Case{"Odd.__module__ = 42", "Odd"}, Case{"Odd.__module__ = None", "Odd"},
        Case{"Odd.__module__ = b'bytes'", "Odd"}, Case{"Odd.__qualname__ = 'Q'", "shop.Q"},
        Case{"Odd.__module__ = 'shop'", "shop.Odd"}, Case{"Odd.__module__ = 'shop'; Odd.__name__ = 'N'", "shop.Odd"}}) {
    SCOPED_TRACE(c.setup);
    ASSERT_TRUE(Execute(std::string("class Odd(Exception): pass\nOdd.__module__ = 'shop'\n") + c.setup));
    EXPECT_FALSE(Execute("raise Odd('odd')"));
    EXPECT_EQ(TypeName(), c.typeName);
    EXPECT_NE(Traceback().find("odd"), std::string::npos) << Traceback();
    EXPECT_EQ(GetError(), "odd");
  }
  // __qualname__ of a class can only be set to a str; a metaclass can answer anything.
  ASSERT_TRUE(
      Execute("class Meta(type):\n"
              "    def __getattribute__(cls, name):\n"
              "        if name in ('__module__', '__qualname__', '__name__'): return 7\n"
              "        return super().__getattribute__(name)\n"
              "class Strange(Exception, metaclass=Meta): pass\n"));
  EXPECT_FALSE(Execute("raise Strange('strange')"));
  EXPECT_EQ(TypeName(), "Strange");
  EXPECT_NE(Traceback().find("strange"), std::string::npos) << Traceback();
  EXPECT_EQ(GetError(), "strange");
}

TEST_F(Source, TextThatUtf8CannotHoldIsEscapedNotLost) {
  EXPECT_FALSE(Execute("raise ValueError('bad \\udc80 value')"));
  EXPECT_EQ(TypeName(), "ValueError");
  EXPECT_NE(Traceback().find("bad \\udc80 value"), std::string::npos) << Traceback();
}

TEST_F(Source, NothingRunsWhilePythonIsStopped) {
  python.Disconnect();
  FinalizePython();
  EXPECT_FALSE(Execute("1"));
  EXPECT_TRUE(Evaluate("1").isNil());
  EXPECT_EQ(TypeName(), "");
  EXPECT_EQ(Traceback(), "");
  InitPython();
}

}  // namespace
}  // namespace api_tests
