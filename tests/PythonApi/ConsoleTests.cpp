// Python's standard output delivered as ConsoleOutput events.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

using Texts = std::vector<std::string>;

class Console : public RunningPython {
 protected:
  // A receiver of a subclass whose handler appends each text to `texts`.
  Object NewReceiver(const std::string& className, Texts& texts) {
    host_.defineSubclass(className, "Python3EngineConsoleOutput",
                         {{"ConsoleOutput", [&texts](const Object&, const std::vector<Value>& arguments) -> Value {
                             texts.push_back(Text(arguments.at(0)));
                             return {};
                           }}});
    return host_.newObject(className);
  }

  void Receive(const Object& receiver) { Engine("SetConsoleOutput", {receiver}); }

  Texts received;
};

TEST_F(Console, EachWriteIsOneEventWithExactlyItsTextInUtf8) {
  String lastText;
  host_.defineSubclass("EncodingConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput", [&](const Object&, const std::vector<Value>& arguments) -> Value {
                           lastText = xhost::asString(arguments.at(0));
                           received.push_back(lastText.bytes());
                           return {};
                         }}});
  Receive(host_.newObject("EncodingConsole"));
  python.Run("sys.stdout.write('first')\nsys.stdout.write('s\\u00e9cond \\u2713')\nprint(12)");
  EXPECT_EQ(received, (Texts{"first",
                             "s\xC3\xA9"
                             "cond \xE2\x9C\x93",
                             "12", "\n"}));
  EXPECT_EQ(lastText.encoding(), kREALTextEncodingUTF8);
}

TEST_F(Console, OutputWithoutReceiverOrHandlerIsDroppedSilently) {
  python.Run("print('to nobody')");
  Receive(host_.newObject("Python3EngineConsoleOutput"));
  python.Run("print('to a receiver without handler')");
  EXPECT_FALSE(ErrorOccurred());
  Receive(NewReceiver("ListeningConsole", received));
  python.Run("print('heard')");
  EXPECT_EQ(received, (Texts{"heard", "\n"}));
}

TEST_F(Console, WriteWithBadArgumentsRaisesInPythonAndDeliversNothing) {
  Receive(NewReceiver("ListeningConsole", received));
  python.Run(
      "rejected = []\n"
      "for arguments in [(5,), (), ('a', 'b'), ('a\\0b',), (b'bytes',)]:\n"
      "    try:\n"
      "        sys.stdout.write(*arguments)\n"
      "    except (TypeError, ValueError):\n"
      "        rejected.append(arguments)\n");
  EXPECT_EQ(python.IntegerOf("len(rejected)"), 5);
  EXPECT_TRUE(received.empty());
}

TEST_F(Console, WriteAndFlushReturnNone) {
  Receive(NewReceiver("ListeningConsole", received));
  EXPECT_TRUE(python.TruthOf("sys.stdout.write('abc') is None"));
  EXPECT_TRUE(python.TruthOf("sys.stdout.flush() is None and sys.stdout.flush(1, 2) is None"));
  EXPECT_EQ(received, (Texts{"abc"}));
}

TEST_F(Console, ANewReceiverTakesOver) {
  Texts first, second;
  Object a = NewReceiver("FirstConsole", first);
  Object b = NewReceiver("SecondConsole", second);
  Receive(a);
  python.Run("print('one')");
  Receive(b);
  python.Run("print('two')");
  EXPECT_EQ(first, (Texts{"one", "\n"}));
  EXPECT_EQ(second, (Texts{"two", "\n"}));
}

// The receiver replaced inside its own event is held by nothing else (the
// host hands a handler its instance borrowed); it must live until its handler
// returns and be released exactly once.
TEST_F(Console, AHandlerMayReplaceItsOwnReceiver) {
  Texts after;
  Object next = NewReceiver("NextConsole", after);
  host_.defineSubclass("HandingOverConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput", [&](const Object& self, const std::vector<Value>& arguments) -> Value {
                           received.push_back(Text(arguments.at(0)));
                           Engine("SetConsoleOutput", {next});
                           const Object stillHeld = self;  // the host reports a copy of a dead object
                           received.push_back(stillHeld.isA("HandingOverConsole") ? "alive" : "dead");
                           return {};
                         }}});
  Receive(host_.newObject("HandingOverConsole"));
  python.Run("print('x')");
  EXPECT_EQ(received, (Texts{"x", "alive"}));
  EXPECT_EQ(after, (Texts{"\n"}));
  EXPECT_EQ(host_.liveObjects("HandingOverConsole"), 0u);
}

TEST_F(Console, OutputArrivesAfterARestart) {
  Receive(NewReceiver("ListeningConsole", received));
  Restart();
  python.Run("print('again')");
  Restart();
  python.Run("sys.stdout.write('and again')");
  EXPECT_EQ(received, (Texts{"again", "\n", "and again"}));
}

class ConsoleBeforeInit : public FreshProcess {};

TEST_F(ConsoleBeforeInit, AReceiverChosenBeforeInitHearsTheFirstOutput) {
  Texts received;
  host().defineSubclass("EarlyConsole", "Python3EngineConsoleOutput",
                        {{"ConsoleOutput", [&](const Object&, const std::vector<Value>& arguments) -> Value {
                            received.push_back(Text(arguments.at(0)));
                            return {};
                          }}});
  Engine("SetConsoleOutput", {host().newObject("EarlyConsole")});
  EXPECT_FALSE(PythonLibraryMapped()) << "choosing a receiver needs no Python";
  InitPython();
  PythonHelper python;
  python.Connect();
  python.Call("say", {Str("first")});
  Engine("SetConsoleOutput", {Nil{}});
  python.Disconnect();
  EXPECT_EQ(received, (Texts{"first", "\n"}));
}

}  // namespace
}  // namespace api_tests
