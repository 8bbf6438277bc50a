// Python's standard output and error delivered as ConsoleOutput and ErrorOutput events.
#include <chrono>
#include <thread>

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

TEST_F(Console, WriteTakesOnlyTextAndReturnsItsLength) {
  Receive(NewReceiver("ListeningConsole", received));
  python.Run(R"(
rejected = []
for arguments in [(5,), (), ('a', 'b'), (b'bytes',), (None,)]:
    try:
        sys.stdout.write(*arguments)
    except TypeError:
        rejected.append(arguments)
counts = [sys.stdout.write('a\0b'), sys.stdout.write('s\u00e9'), sys.stdout.write('\udcff'), sys.stdout.write('')]
flushed = sys.stdout.flush()
sys.stdout.writelines(['l1', 'l2'])
counts.append(sys.stdout.buffer.write(b'caf\xc3'))
counts.append(sys.stdout.buffer.write(bytearray(b'\xa9!')))
)");
  EXPECT_EQ(python.IntegerOf("len(rejected)"), 5);
  EXPECT_EQ(python.TextOf("repr(counts)"), "[3, 2, 1, 0, 4, 2]");
  EXPECT_TRUE(python.TruthOf("flushed is None"));
  EXPECT_EQ(received, (Texts{std::string("a\0b", 3), "s\xC3\xA9", "\\udcff", "", "l1", "l2", "caf", "\xC3\xA9!"}))
      << "NUL kept, a lone surrogate escaped, bytes decoded across writes";
}

// Library code inspects the streams it writes to: they must be the text files
// Python's own are, short of a file descriptor.
TEST_F(Console, TheStandardStreamsAreTextFiles) {
  python.Run(R"(
import io
streams = (sys.stdout, sys.stderr)
traits = [(s.name, s.encoding, s.writable(), s.readable(), s.seekable(), s.isatty(),
           isinstance(s, io.TextIOBase), s.closed) for s in streams]
try:
    sys.stdout.fileno()
    fileno_refused = False
except io.UnsupportedOperation:
    fileno_refused = True
closed = type(sys.stdout)(0, 'closed')
closed.close()
try:
    closed.write('x')
    write_after_close = 'accepted'
except ValueError:
    write_after_close = 'refused'
)");
  EXPECT_EQ(python.TextOf("repr(traits)"),
            "[('<stdout>', 'utf-8', True, False, False, False, True, False), "
            "('<stderr>', 'utf-8', True, False, False, False, True, False)]");
  EXPECT_TRUE(python.TruthOf("fileno_refused"));
  EXPECT_EQ(python.TextOf("write_after_close"), "refused");
}

TEST_F(Console, DoctestRunsInsideTheApplication) {
  Receive(NewReceiver("ListeningConsole", received));
  python.Run(R"(
import doctest, types
examples = types.ModuleType('examples')
exec('''
def greet():
    """
    >>> print('caf\\u00e9')
    caf\u00e9
    >>> 6 * 7
    42
    """
''', examples.__dict__)
outcome = doctest.testmod(examples)
)");
  EXPECT_EQ(python.TextOf("'%d/%d' % (outcome.failed, outcome.attempted)"), "0/2");
  EXPECT_TRUE(received.empty()) << "doctest reports only failures";
}

class ErrorOutput : public Console {
 protected:
  // A receiver with handlers of both events.
  void ReceiveBoth() {
    host_.defineSubclass("BothStreamsConsole", "Python3EngineConsoleOutput",
                         {{"ConsoleOutput",
                           [this](const Object&, const std::vector<Value>& arguments) -> Value {
                             received.push_back(Text(arguments.at(0)));
                             return {};
                           }},
                          {"ErrorOutput", [this](const Object&, const std::vector<Value>& arguments) -> Value {
                             errors.push_back(Text(arguments.at(0)));
                             return {};
                           }}});
    Receive(host_.newObject("BothStreamsConsole"));
  }
  std::string AllErrors() const {
    std::string all;
    for (const std::string& text : errors) all += text;
    return all;
  }
  Texts errors;
};

TEST_F(ErrorOutput, StandardErrorArrivesAsItsOwnEvent) {
  ReceiveBoth();
  python.Run(R"(
print('out')
print('err', file=sys.stderr)
import logging, warnings
logging.warning('careful')
warnings.warn('mind this')
)");
  EXPECT_EQ(received, (Texts{"out", "\n"}));
  const std::string all = AllErrors();
  EXPECT_EQ(all.rfind("err\n", 0), 0u) << all;
  EXPECT_NE(all.find("WARNING:root:careful\n"), std::string::npos) << all;
  EXPECT_NE(all.find("UserWarning: mind this"), std::string::npos) << all;
}

TEST_F(ErrorOutput, AnExceptionOfAPythonThreadArrivesOnTheHostsThread) {
  const auto hostThread = std::this_thread::get_id();
  bool onHostThread = true;
  host_.defineSubclass("ThreadErrorConsole", "Python3EngineConsoleOutput",
                       {{"ErrorOutput", [&](const Object&, const std::vector<Value>& arguments) -> Value {
                           onHostThread = onHostThread && std::this_thread::get_id() == hostThread;
                           errors.push_back(Text(arguments.at(0)));
                           return {};
                         }}});
  Receive(host_.newObject("ThreadErrorConsole"));
  python.Run(R"(
import threading
def fail():
    raise ValueError('boom in a thread')
failing = threading.Thread(target=fail)
failing.start()
failing.join()
)");
  python.Run("pass");
  EXPECT_NE(AllErrors().find("ValueError: boom in a thread"), std::string::npos) << AllErrors();
  EXPECT_TRUE(onHostThread);
}

// Without a handler, standard error goes where it goes in any program.
TEST_F(ErrorOutput, WithoutAHandlerItGoesToTheProcessStandardError) {
  Receive(NewReceiver("ListeningConsole", received));
  testing::internal::CaptureStderr();
  python.Run("print('unhandled error text', file=sys.stderr)");
  Engine("SetConsoleOutput", {Nil{}});
  python.Run("sys.stderr.write('with no receiver\\n')");
  const std::string processError = testing::internal::GetCapturedStderr();
  EXPECT_NE(processError.find("unhandled error text\n"), std::string::npos) << processError;
  EXPECT_NE(processError.find("with no receiver\n"), std::string::npos) << processError;
  EXPECT_TRUE(received.empty());
}

class WholeLines : public Console {
 protected:
  void SetUp() override {
    Console::SetUp();
    Object receiver = NewReceiver("LinesConsole", received);
    Engine("SetConsoleOutput", {receiver, true});
  }
};

TEST_F(WholeLines, EachEventIsOneLine) {
  python.Run(R"(
sys.stdout.write('a')
sys.stdout.write('b\nc')
print('d')
print('e\nf')
)");
  EXPECT_EQ(received, (Texts{"ab\n", "cd\n", "e\n", "f\n"}));
}

TEST_F(WholeLines, APartialLineGoesWhenFlushedOrAtTheEndOfTheCall) {
  python.Run("sys.stdout.write('x'); sys.stdout.flush(); sys.stdout.write('y\\nz')");
  EXPECT_EQ(received, (Texts{"x", "y\n", "z"}));
}

TEST_F(WholeLines, EachStreamKeepsItsOwnLine) {
  Texts errors;
  host_.defineSubclass("LinesBothConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput",
                         [this](const Object&, const std::vector<Value>& arguments) -> Value {
                           received.push_back(Text(arguments.at(0)));
                           return {};
                         }},
                        {"ErrorOutput", [&errors](const Object&, const std::vector<Value>& arguments) -> Value {
                           errors.push_back(Text(arguments.at(0)));
                           return {};
                         }}});
  Engine("SetConsoleOutput", {host_.newObject("LinesBothConsole"), true});
  python.Run(
      "sys.stdout.write('out '); sys.stderr.write('err '); sys.stdout.write('line\\n'); "
      "sys.stderr.write('line\\n')");
  EXPECT_EQ(received, (Texts{"out line\n"}));
  EXPECT_EQ(errors, (Texts{"err line\n"}));
}

TEST_F(WholeLines, SettingAReceiverAgainEndsTheMode) {
  Engine("SetConsoleOutput", {NewReceiver("PlainConsole", received)});
  python.Run("print('two', 'words')");
  EXPECT_EQ(received, (Texts{"two", " ", "words", "\n"}));
}

// An application has no terminal: reading standard input finds its end.
TEST_F(Console, StandardInputIsAtItsEnd) {
  Receive(NewReceiver("ListeningConsole", received));
  python.Run(R"(
read = (sys.stdin.read(), sys.stdin.readline(), sys.stdin.readable())
try:
    input('Name? ')
    input_outcome = 'returned'
except EOFError as error:
    input_outcome = str(error)
)");
  EXPECT_EQ(python.TextOf("repr(read)"), "('', '', True)");
  EXPECT_NE(python.TextOf("input_outcome").find("no standard input"), std::string::npos);
  EXPECT_EQ(received, (Texts{"Name? "}));
}

// While the application idles, text of Python's threads arrives through the
// plugin's background task, without waiting for the next call.
TEST_F(Console, TextOfPythonThreadsArrivesWhileTheApplicationIdles) {
  const auto hostThread = std::this_thread::get_id();
  bool onHostThread = true;
  ListenToConsole("IdleConsole", [&](const std::string& text) {
    onHostThread = onHostThread && std::this_thread::get_id() == hostThread;
    received.push_back(text);
  });
  python.Run(R"(
import threading, time
def later():
    time.sleep(0.05)
    sys.stdout.write('while idle')
writer = threading.Thread(target=later)
writer.start()
)");
  EXPECT_TRUE(received.empty());
  for (int step = 0; step < 100 && received.empty(); ++step) host_.idle(std::chrono::milliseconds(50));
  EXPECT_EQ(received, (Texts{"while idle"}));
  EXPECT_TRUE(onHostThread);
  python.Run("writer.join()");
}

TEST_F(Console, TheBackgroundTaskLivesWhilePythonRuns) {
  EXPECT_EQ(host_.backgroundTaskCount(), 1u);
  python.Disconnect();
  FinalizePython();
  EXPECT_EQ(host_.backgroundTaskCount(), 0u);
  InitPython();
  EXPECT_EQ(host_.backgroundTaskCount(), 1u);
  python.Connect();
}

// Restoring the original streams keeps the output with the application.
TEST_F(Console, TheOriginalStreamsAreTheApplicationsToo) {
  Receive(NewReceiver("RestoringConsole", received));
  python.Run(
      "import io\n"
      "sys.stdout = io.StringIO()\n"
      "print('aside')\n"
      "sys.stdout = sys.__stdout__\n"
      "print('restored')\n");
  EXPECT_EQ(received, (Texts{"restored", "\n"}));
  EXPECT_TRUE(python.TruthOf("sys.__stderr__ is sys.stderr and sys.__stdin__ is sys.stdin"));
}

// Standard input has a binary side at its end, as argparse's FileType('rb') reads it.
TEST_F(Console, StandardInputHasAnEmptyBinarySide) {
  EXPECT_EQ(python.TextOf("repr(sys.stdin.buffer.read())"), "b''");
  EXPECT_EQ(python.TextOf("repr(sys.stdin.buffer.readline())"), "b''");
  EXPECT_TRUE(python.TruthOf("sys.stdin.buffer.readable() and not sys.stdin.buffer.isatty()"));
  python.Run(
      "import argparse\n"
      "parser = argparse.ArgumentParser()\n"
      "parser.add_argument('data', type=argparse.FileType('rb'))\n"
      "read_from_stdin = parser.parse_args(['-']).data.read()\n");
  // Before 3.9 argparse hands out sys.stdin itself for "-", also at its end.
  EXPECT_TRUE(python.TruthOf("read_from_stdin in (b'', '')")) << python.TextOf("repr(read_from_stdin)");
}

// A partial line written while Python stops (an exit function) still arrives.
TEST_F(WholeLines, APartialLineWrittenAtFinalizeArrives) {
  python.Run("import atexit\natexit.register(sys.stdout.write, 'bye')");
  python.Disconnect();
  FinalizePython();
  EXPECT_EQ(received, (Texts{"bye"}));
  InitPython();
  python.Connect();
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
