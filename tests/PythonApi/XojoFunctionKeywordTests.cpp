// Host functions as Python programmers expect them: keyword arguments,
// documentation, and module constants.
#include "HostCodeSupport.h"

namespace api_tests {
namespace {

// count(*args, **kwargs) -> "positional/keyword names", read through the
// members a Xojo function uses: Python3Parameters and Python3Dictionary.
PyPtr CountArguments(PyPtr, PyPtr args, PyPtr kwargs) {
  const int64_t positional = Int(host().getProperty(ArgumentsOf(args), "Count"));
  std::string names;
  Object keywords = host().newObject("Python3Dictionary", {Ptr{kwargs}});
  Object keys = xhost::asObject(host().call(keywords, "GetKeys"));
  if (!keys.isNil()) {
    const int64_t count = Int(host().getProperty(keys, "Count"));
    for (int64_t i = 0; i < count; ++i) {
      Object key = xhost::asObject(host().call(keys, "GetItem", {i}));
      names += (names.empty() ? "" : ",") + Text(host().getProperty(key, "StringValue"));
    }
  }
  return Returned(Str(std::to_string(positional) + "/" + names));
}

PyPtr Scale(PyPtr self, PyPtr args, PyPtr kwargs) {
  Object keywords = host().newObject("Python3Dictionary", {Ptr{kwargs}});
  Object factor = xhost::asObject(host().call(keywords, "GetValue", {Str("factor")}));
  const int64_t by = factor.isNil() ? 1 : Int(host().getProperty(factor, "Int64Value"));
  (void)self;
  return Returned(Int64{IntegerArgument(args, 0) * by});
}

// forward(*args, **kwargs) calls the Python function in `forwardTarget` with
// them, the keywords wrapped as a Python3Dictionary whatever they are (the
// null Ptr when Python passed none).
Object forwardTarget;
PyPtr Forward(PyPtr, PyPtr args, PyPtr kwargs) {
  Object keywords = host().newObject("Python3Dictionary", {Ptr{kwargs}});
  Object result = xhost::asObject(host().call(forwardTarget, "Invoke", {ArgumentsOf(args), keywords}));
  return result.isNil() ? nullptr : xhost::asPtr(host().call(result, "GetPtr"));
}

PyPtr Plain(PyPtr, PyPtr) { return Returned(Str("plain")); }

PyPtr InitNothing(PyPtr, PyPtr, PyPtr) { return nullptr; }

class HostFunctionKeywords : public HostCode {
 protected:
  Object KeywordModule() {
    Object module = NewXojoModule("shop", {{"plain", Address(&Plain)}});
    host_.call(module, "RegisterFunction", {Str("count"), Address(&CountArguments), true});
    host_.call(module, "RegisterFunction", {Str("scale"), Address(&Scale), true});
    return module;
  }
};

TEST_F(HostFunctionKeywords, AFunctionRegisteredWithKeywordsReceivesThem) {
  Register(KeywordModule());
  Start();
  python.Run("import shop");
  EXPECT_EQ(python.TextOf("shop.count(1, 2, size=3, colour='red')"), "2/size,colour");
  EXPECT_EQ(python.TextOf("shop.count(1)"), "1/") << "no keywords: kwargs is Nil";
  EXPECT_EQ(python.IntegerOf("shop.scale(7, factor=6)"), 42);
  EXPECT_EQ(python.IntegerOf("shop.scale(7)"), 7);
  EXPECT_EQ(RaisedBy("shop.plain(x=1)"), "TypeError: shop.plain() takes no keyword arguments");
  EXPECT_EQ(python.TextOf("shop.plain(**{})"), "plain") << "an empty keyword dict is no keyword";
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(HostFunctionKeywords, MethodsOfHostClassesTakeKeywordsToo) {
  Object counter = NewXojoClass("Counter", Address(&InitNothing));
  host_.call(counter, "RegisterFunction", {Str("count"), Address(&CountArguments), true});
  host_.call(counter, "RegisterFunction", {Str("plain"), Address(&Plain), false});
  Register(NewXojoModule("counting", {}, {counter}));
  Start();
  python.Run("import counting\nc = counting.Counter()");
  EXPECT_EQ(python.TextOf("c.count(5, step=2)"), "1/step");
  EXPECT_EQ(RaisedBy("c.plain(step=2)"), "TypeError: Counter.plain() takes no keyword arguments");
}

TEST_F(HostFunctionKeywords, DocumentationReachesHelp) {
  Object counter = NewXojoClass("Counter", Address(&InitNothing), {{"plain", Address(&Plain)}});
  host_.call(counter, "SetDocumentation", {Str(""), Str("Counts things.")});
  host_.call(counter, "SetDocumentation", {Str("plain"), Str("Says plain.")});
  Object module = KeywordModule();
  host_.call(module, "AddClass", {counter});
  host_.call(module, "SetDocumentation", {Str(""), Str("A shop of host functions.")});
  host_.call(module, "SetDocumentation", {Str("scale"), Str("scale(n, factor=1) -> n * factor")});
  ExpectPythonException(
      [&] {
        host_.call(module, "SetDocumentation", {Str("absent"), Str("x")});
      },
      -6, "Python3XojoModule.SetDocumentation: nothing named absent is registered");
  Register(module);
  Start();
  python.Run("import shop, pydoc");
  EXPECT_EQ(python.TextOf("shop.__doc__"), "A shop of host functions.");
  EXPECT_EQ(python.TextOf("shop.scale.__doc__"), "scale(n, factor=1) -> n * factor");
  EXPECT_TRUE(python.TruthOf("shop.count.__doc__ is None"));
  EXPECT_EQ(python.TextOf("shop.Counter.__doc__"), "Counts things.");
  EXPECT_EQ(python.TextOf("shop.Counter.plain.__doc__"), "Says plain.");
  EXPECT_NE(python.TextOf("pydoc.render_doc(shop.scale)").find("factor=1"), std::string::npos);
  ExpectPythonException(
      [&] {
        host_.call(module, "SetDocumentation", {Str("scale"), Str("too late")});
      },
      -6,
      "Python3XojoModule.SetDocumentation: Python already uses this module or class, which "
      "therefore cannot change while the interpreter runs; register everything before the module "
      "is first imported, or after Python3Engine.Finalize");
}

// Constants outlive the interpreter they were made in: each module object
// gets its own copy, after a restart too.
TEST_F(HostFunctionKeywords, ModuleValuesAreSetOnEveryModuleObject) {
  Object module = KeywordModule();
  Register(module);
  Start();
  host_.call(module, "AddValue", {Str("VERSION"), EntityFrom("String", Str("1.2.3"))});
  host_.call(module, "AddValue", {Str("LIMITS"), python.EntityOf("{'items': 10, 'names': ('a', 'b')}")});
  host_.call(module, "AddValue", {Str("VERSION"), EntityFrom("String", Str("1.2.4"))});
  ExpectPythonException(
      [&] {
        host_.call(module, "AddValue", {Str("OBJECT"), python.EntityOf("object()")});
      },
      -6,
      "Python3XojoModule.AddValue: a module value is None, a bool, a number, a str, bytes, or a "
      "tuple, list, set or dict of such values");
  ExpectPythonException(
      [&] {
        host_.call(module, "AddValue", {Str("NOTHING"), Nil{}});
      },
      -6,
      "Python3XojoModule.AddValue: the value holds no Python object (values are made while Python "
      "runs)");
  EXPECT_FALSE(ErrorOccurred());
  python.Run("import shop");
  EXPECT_EQ(python.TextOf("shop.VERSION"), "1.2.4");
  EXPECT_EQ(python.TextOf("repr(shop.LIMITS)"), "{'items': 10, 'names': ('a', 'b')}");
  EXPECT_FALSE(python.TruthOf("hasattr(shop, 'OBJECT')"));
  Restart();
  python.Run("import shop");
  EXPECT_EQ(python.TextOf("shop.VERSION"), "1.2.4");
  EXPECT_EQ(python.IntegerOf("shop.LIMITS['items']"), 10);
}

TEST_F(HostFunctionKeywords, KeywordsPassedOnAsTheyCameMayBeNone) {
  Object module = NewXojoModule("relay", {});
  host_.call(module, "RegisterFunction", {Str("forward"), Address(&Forward), true});
  Register(module);
  Start();
  python.Run("def shown(*args, **kwargs):\n    return '%r %r' % (args, sorted(kwargs.items()))\nimport relay");
  forwardTarget = python.Function("shown");
  EXPECT_EQ(python.TextOf("relay.forward(1, size=2)"), "(1,) [('size', 2)]");
  EXPECT_EQ(python.TextOf("relay.forward(1)"), "(1,) []") << "a dictionary of a null Ptr is no keyword";
  EXPECT_FALSE(ErrorOccurred());
  forwardTarget = Object();
}

// Every member that takes keywords: a Python3Dictionary that holds nothing
// (of a null Ptr, or made before a restart) means none, as Nil does.
TEST_F(HostFunctionKeywords, ADictionaryHoldingNothingMeansNoKeywords) {
  Start();
  python.Run(
      "calls = []\n"
      "def shown(*args, **kwargs):\n    calls.append(1)\n    return '%r %r' % (args, sorted(kwargs.items()))\n"
      "class Made:\n    def __init__(self, *args, **kwargs): self.shown = shown(*args, **kwargs)\n"
      "    def method(self, *args, **kwargs): return shown(*args, **kwargs)\n"
      "made = Made()\n");
  Object stale = host_.newObject("Python3Dictionary");
  KeptPastFinalize(stale);
  Restart();
  python.Run(
      "calls = []\n"
      "def shown(*args, **kwargs):\n    calls.append(1)\n    return '%r %r' % (args, sorted(kwargs.items()))\n"
      "class Made:\n    def __init__(self, *args, **kwargs): self.shown = shown(*args, **kwargs)\n"
      "    def method(self, *args, **kwargs): return shown(*args, **kwargs)\n"
      "made = Made()\n");
  const auto TextOf = [&](const Object& result) {
    return result.isNil() ? "<Nil: " + GetError() + ">" : Text(host_.call(result, "StringValue"));
  };
  for (const Object& keywords : {host_.newObject("Python3Dictionary", {Ptr{nullptr}}), stale}) {
    Object arguments = Tuple({Int32{1}});
    EXPECT_EQ(TextOf(CallObject(python.Function("shown"), "Invoke", {arguments, keywords})), "(1,) []")
        << "Python3Function.Invoke";
    EXPECT_EQ(TextOf(CallObject(python.EntityOf("shown"), "Invoke", {arguments, keywords})), "(1,) []")
        << "Python3Entity.Invoke";
    EXPECT_EQ(TextOf(CallObject(python.EntityOf("made"), "CallMethod", {Str("method"), arguments, keywords})),
              "(1,) []")
        << "Python3Entity.CallMethod";
    Object made =
        CallObject(CallObject(python.module(), "GetClass", {Str("Made")}), "CreateInstance", {arguments, keywords});
    EXPECT_EQ(made.isNil() ? "<Nil: " + GetError() + ">" : Text(host_.call(made, "StringField", {Str("shown")})),
              "(1,) []")
        << "Python3Class.CreateInstance";
  }
  EXPECT_EQ(python.IntegerOf("len(calls)"), 9);
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(HostFunctionKeywords, ADictionaryWrapsOnlyADict) {
  Start();
  python.Run("mapping = {'a': 1}\nnot_a_dict = [1]");
  Object wrapped = host_.newObject("Python3Dictionary", {Ptr{nullptr}});
  EXPECT_EQ(Int(host_.getProperty(wrapped, "Count")), 0) << "Nil: it holds nothing";
  const int64_t before = python.RefCount("mapping");
  {
    Value pointer = host_.call(python.Evaluate("mapping"), "GetPtr");
    Object shared = host_.newObject("Python3Dictionary", {pointer});
    EXPECT_EQ(python.RefCount("mapping"), before + 2) << "its own reference beside the one GetPtr handed out";
    host_.call(shared, "SetValue", {Str("b"), EntityFrom("Int32", Int32{2})});
    host_.callShared("Python3Entity", "FromNewPtr", {pointer});  // gives GetPtr's reference back
  }
  EXPECT_EQ(python.RefCount("mapping"), before);
  EXPECT_EQ(python.TextOf("repr(mapping)"), "{'a': 1, 'b': 2}");
  Value list = host_.call(python.Evaluate("not_a_dict"), "GetPtr");
  Object refused = host_.newObject("Python3Dictionary", {list});
  EXPECT_EQ(Text(Engine("GetErrorTypeName")), "TypeError");
  Engine("ClearError");
  EXPECT_EQ(Int(host_.getProperty(refused, "Count")), 0);
  host_.callShared("Python3Entity", "FromNewPtr", {list});
}

}  // namespace
}  // namespace api_tests
