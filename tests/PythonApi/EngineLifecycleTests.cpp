// Starting, stopping and restarting the interpreter; search paths, imports
// and the program name.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <thread>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class Lifecycle : public RunningPython {};

TEST_F(Lifecycle, InitWhileRunningChangesNothing) {
  python.Run("marker = 'kept'");
  Engine("Init");
  Engine("Init", {Str("Renamed")});
  EXPECT_EQ(python.TextOf("marker"), "kept");
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(Lifecycle, FinalizeTwiceStopsOnce) {
  python.Disconnect();
  FinalizePython();
  FinalizePython();
  EXPECT_TRUE(GetModule("sys").isNil());
  EXPECT_FALSE(ErrorOccurred());
  InitPython();
  EXPECT_FALSE(GetModule("sys").isNil());
}

TEST_F(Lifecycle, ARestartForgetsTheSearchPath) {
  EXPECT_TRUE(python.TruthOf("'" PYTHON_TEST_MODULES "' in sys.path"));
  python.Disconnect();
  FinalizePython();
  InitPython();
  EXPECT_TRUE(GetModule("apitest").isNil());
  EXPECT_EQ(GetError(), "No module named 'apitest'");
  python.Connect();
  EXPECT_EQ(python.IntegerOf("number"), 42);
}

// Paths are decoded as Python decodes file names, whatever the locale.
TEST_F(Lifecycle, AFolderIsAppendedToTheSearchPath) {
  AddSearchPath("/tmp/apitest folder \xC3\xA9");
  EXPECT_TRUE(python.TruthOf("sys.path[-1] == __import__('os').fsdecode(b'/tmp/apitest folder \\xc3\\xa9')"));
}

// A folder whose name is not UTF-8 (Latin-1 e acute) is searched all the same.
TEST_F(Lifecycle, AFolderWhoseNameIsNotUtf8IsSearched) {
  char scratch[] = "/tmp/apitest-latin1-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  const std::string folder = std::string(scratch) + "/caf\xE9";
  const std::string module = folder + "/latin1_folder_module.py";
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  std::ofstream(module) << "value = 7\n";
  AddSearchPath(folder);
  EXPECT_FALSE(ErrorOccurred()) << GetError();
  EXPECT_TRUE(python.TruthOf("__import__('os').fsencode(sys.path[-1]) == b'" + std::string(scratch) + "/caf\\xe9'"));
  EXPECT_FALSE(GetModule("latin1_folder_module").isNil()) << GetError();
  EXPECT_EQ(python.IntegerOf("__import__('latin1_folder_module').value"), 7);
  std::remove(module.c_str());
  rmdir(folder.c_str());
  rmdir(scratch);
}

TEST_F(Lifecycle, GetModuleOfAMissingModuleGivesNilWithTheError) {
  EXPECT_TRUE(GetModule("no_such_module_for_apitest").isNil());
  EXPECT_TRUE(ErrorOccurred());
  EXPECT_EQ(GetError(), "No module named 'no_such_module_for_apitest'");
  EXPECT_TRUE(GetModule("").isNil());
  EXPECT_TRUE(ErrorOccurred());
}

TEST_F(Lifecycle, GetModuleWrapsTheImportedModuleUnderItsName) {
  Object first = GetModule("apitest");
  Object second = GetModule("apitest");
  ASSERT_FALSE(first.isNil());
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(Text(host_.getProperty(first, "Name")), "apitest");
  EXPECT_EQ(Text(host_.getProperty(first, "Name")), "apitest");
  EXPECT_EQ(python.IntegerOf("made"), 0);
}

// Looking for daemon threads that would outlive the interpreter must not
// import threading into an interpreter that never did: an idle Finalize
// would cost more than the rest of it.
TEST_F(Lifecycle, FinalizeImportsNothing) {
  std::vector<std::string> printed;
  ListenToConsole("ImportWatch", [&](const std::string& text) { printed.push_back(text); });
  // Some installations import threading at start-up: then it is not imported yet here.
  python.Run(
      "sys.modules.pop('threading', None)\n"
      "class ImportWatch:\n"
      "    def find_spec(self, name, path=None, target=None):\n"
      "        sys.stdout.write('import ' + name)\n"
      "sys.meta_path.insert(0, ImportWatch())\n");
  python.Run("import json");  // the watch sees what is imported
  EXPECT_NE(std::find(printed.begin(), printed.end(), "import json"), printed.end());
  printed.clear();
  Restart();
  EXPECT_EQ(printed, std::vector<std::string>{});
}

TEST_F(Lifecycle, TwentyRestartsInARow) {
  int printed = 0;
  host_.defineSubclass("CountingConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput", [&](const Object&, const std::vector<Value>&) -> Value {
                           ++printed;
                           return {};
                         }}});
  Engine("SetConsoleOutput", {host_.newObject("CountingConsole")});
  for (int round = 0; round < 20; ++round) {
    Restart();
    Object result = python.Call("echo", {Int32{round}, Str("round")});
    ASSERT_FALSE(result.isNil()) << "round " << round << ": " << GetError();
    python.Call("say", {Str("printed")});
  }
  EXPECT_EQ(printed, 40);
}

// An extension module that cannot be initialised twice in one process
// (numpy, by its own and CPython's rules) fails to import after a restart;
// reading that failure, traceback included, must work like any other.
TEST_F(Lifecycle, AnExtensionThatCannotBeImportedAgainFailsReadably) {
  if (!python.TruthOf("__import__('importlib.util').util.find_spec('numpy') is not None"))
    GTEST_SKIP() << "numpy is not installed for this library";
  CheckLeaksNowNotAtExit();  // numpy's import leaves objects of its own that nothing refers to
  ASSERT_FALSE(GetModule("numpy").isNil()) << GetError();
  Restart();
  const bool imported = !GetModule("numpy").isNil();
  if (imported) GTEST_SKIP() << "this numpy survives a restart";
  EXPECT_TRUE(ErrorOccurred());
  const std::string typeName = Text(Engine("GetErrorTypeName"));
  const std::string traceback = Text(Engine("GetErrorTraceback"));
  EXPECT_FALSE(typeName.empty());
  EXPECT_NE(traceback.find(typeName.substr(typeName.rfind('.') + 1)), std::string::npos) << traceback;
  EXPECT_FALSE(GetError().empty());
  EXPECT_EQ(python.IntegerOf("6 * 7"), 42) << "the interpreter stays usable";
}

class NeverStarted : public FreshProcess {
 protected:
  void TearDown() override { python.Disconnect(); }
  // The program name as the library holds it.
  std::wstring ProgramName() {
    auto getProgramName = reinterpret_cast<const wchar_t* (*)()>(dlsym(RTLD_DEFAULT, "Py_GetProgramName"));
    const wchar_t* name = getProgramName ? getProgramName() : nullptr;
    return name ? name : L"<none>";
  }
  PythonHelper python;
};

// The name stays the program's for the process: libraries before 3.8 keep
// the very buffer they were given.
TEST_F(NeverStarted, TheProgramNameStaysValidThroughRestarts) {
  InitPython({Str("/tmp/apitest/Program")});
  EXPECT_EQ(ProgramName(), L"/tmp/apitest/Program");
  for (int round = 0; round < 3; ++round) {
    python.Disconnect();
    FinalizePython();
    InitPython();
    EXPECT_EQ(ProgramName(), L"/tmp/apitest/Program");
  }
}

TEST_F(NeverStarted, AnUnreadableProgramNameIsCutAtItsFirstBadByte) {
  InitPython({host().newString("/tmp/apitest/Ok\xFF\xFEName", kREALTextEncodingUnknown)});
  EXPECT_EQ(ProgramName(), L"/tmp/apitest/Ok");
}

// Several versions stop the process at start for a name longer than a path
// may be; the name is cut to 255 bytes, never inside a character.
TEST_F(NeverStarted, ALongProgramNameIsCutToAWholeCharacterWithin255Bytes) {
  const char* previous = std::setlocale(LC_CTYPE, nullptr);
  const std::string restore = previous ? previous : "C";
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  const std::string kept = "/tmp/apitest/" + std::string(241, 'n');  // 254 bytes; a 2-byte character follows
  InitPython({Str(kept + "\xC3\xA9" + std::string(8000, 'x'))});
  std::setlocale(LC_CTYPE, restore.c_str());
  EXPECT_EQ(ProgramName(), std::wstring(kept.begin(), kept.end()));
  EXPECT_FALSE(GetModule("sys").isNil());
}

TEST_F(NeverStarted, FinalizeBeforeInitDoesNothing) {
  FinalizePython();
  EXPECT_FALSE(ErrorOccurred());
  InitPython();
  EXPECT_FALSE(GetModule("sys").isNil());
}

// IsRunning as compiled Xojo code on another thread calls it, answered while
// this thread idles (it may keep the interpreter lock until its next tick).
bool IsRunningFromAnotherThread() {
  const auto function =
      reinterpret_cast<RBBoolean (*)()>(host().memberFunctions("Python3Engine", "IsRunning() as Boolean").function);
  std::atomic<int> answer{-1};
  std::thread other([&] { answer = function() ? 1 : 0; });
  const auto start = std::chrono::steady_clock::now();
  while (answer < 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    host().idle(std::chrono::milliseconds(1));
  other.join();
  return answer == 1;
}

TEST_F(NeverStarted, IsRunningFromInitToFinalizeOnEveryThread) {
  EXPECT_FALSE(Bool(Engine("IsRunning")));
  EXPECT_FALSE(PythonLibraryMapped()) << "asking loads no library";
  EXPECT_FALSE(IsRunningFromAnotherThread());
  InitPython();
  EXPECT_TRUE(Bool(Engine("IsRunning")));
  EXPECT_TRUE(IsRunningFromAnotherThread());
  FinalizePython();
  EXPECT_FALSE(Bool(Engine("IsRunning")));
  EXPECT_FALSE(IsRunningFromAnotherThread());
  InitPython();
  EXPECT_TRUE(Bool(Engine("IsRunning")));
  EXPECT_FALSE(ErrorOccurred());
}

TEST_F(NeverStarted, AddSearchPathWithNilDoesNotEvenLoadTheLibrary) {
  ASSERT_FALSE(PythonLibraryMapped());
  Engine("AddSearchPath", {Nil{}});
  EXPECT_FALSE(PythonLibraryMapped());
}

}  // namespace
}  // namespace api_tests
