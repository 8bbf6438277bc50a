// Every member of every class the plugin registers, and every path by which
// Python calls host code, called over and over, leaves Python and the host as
// it found them: no reference count of what the call touched grows, nor
// Python's allocated blocks, nor the host's objects and strings
// (LeakRepetition). The rows are in the LeakRows tables; the checks here also
// fail when a member or a path has no row.
#include <optional>
#include <set>
#include <sstream>

#include "HostCodeSupport.h"
#include "LeakRepetition.h"
#include "LeakRows.h"

namespace api_tests {
namespace {

// Members whose work cannot repeat within one interpreter: each start and
// stop replaces the interpreter whose counts the rows watch. Their other
// paths (called while Python runs, or from Python code) have rows; starts and
// stops are repeated by LeakRepetitionRestarts.
const std::set<std::string> kNotRepeatable = {
    "Python3Engine.Init()",
    "Python3Engine.Init(applicationName as String)",
    "Python3Engine.Finalize()",
};

constexpr char kPythonPath[] = "python: ";

// Runs every row; with no helper (Python not running), only the host's
// counts are watched.
void ExpectNoLeaks(PythonHelper* python, const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    const std::string name = row.member + (row.variant.empty() ? "" : " [" + row.variant + "]");
    std::optional<LeakRepetition> repetition;
    if (python)
      repetition.emplace(*python);
    else
      repetition.emplace();
    for (const std::string& expression : row.touched) repetition->WatchRefCount(expression);
    try {
      EXPECT_EQ(Describe(repetition->Leaks(row.call)), "") << name;
    } catch (const std::exception& failure) {
      ADD_FAILURE() << name << ": " << failure.what();
    }
    if (python && ErrorOccurred()) ADD_FAILURE() << name << " left Python's error set: " << GetError();
  }
}

std::string Lines(const std::set<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += "\n  " + name;
  return text;
}

// Every member as the host sees it in the records the plugin registered.
std::set<std::string> RegisteredMembers() {
  std::set<std::string> members;
  const auto methods = [&](const std::string& owner, const REALmethodDefinition* table, uintptr_t count) {
    for (uintptr_t i = 0; i < count; ++i) {
      members.insert(Member(owner, table[i].declaration));
      if (table[i].setterFunction) members.insert(Member(owner, table[i].declaration) + " (assigns)");
    }
  };
  const auto properties = [&](const std::string& owner, const REALproperty* table, uintptr_t count) {
    for (uintptr_t i = 0; i < count; ++i) {
      const std::string declaration = Member(owner, std::string(table[i].name) + " as " + table[i].type);
      members.insert(declaration);
      if (table[i].setter) members.insert(declaration + " (assigns)");
    }
  };
  for (const xhost::Host::Registration& registration : host().registrations()) {
    if (registration.kind == "module") {
      const auto* record = static_cast<const REALmoduleDefinition*>(registration.record);
      methods(record->name, record->methods, record->methodCount);
    } else if (registration.kind == "class") {
      const auto& record = *static_cast<const REALclassDefinition*>(registration.record);
      const std::string owner = record.name;
      if (record.constructor) members.insert(owner + " (initializer)");
      if (record.destructor) members.insert(owner + " (destructor)");
      properties(owner, record.properties, record.propertyCount);
      properties(owner, record.sharedProperties, record.sharedPropertyCount);
      methods(owner, record.methods, record.methodCount);
      methods(owner, record.sharedMethods, record.sharedMethodCount);
      for (uintptr_t i = 0; i < record.eventCount; ++i) members.insert(Member(owner, record.events[i].declaration));
    }
  }
  return members;
}

// Every row of every table, listed without running it.
std::vector<Row> AllRows(LeakObjects& objects) {
  std::vector<Row> rows;
  for (RowTable table : AllRowTables())
    for (Row& row : table(objects)) rows.push_back(std::move(row));
  return rows;
}

TEST(LeakRepetitionRows, NameEveryMemberOfEveryRegisteredClassOnce) {
  PythonHelper unused;
  LeakObjects objects(unused);
  std::set<std::string> named;
  std::set<std::string> twice;
  std::set<std::pair<std::string, std::string>> rows;
  for (const Row& row : AllRows(objects)) {
    if (row.member.rfind(kPythonPath, 0) != 0) named.insert(row.member);
    if (!rows.insert({row.member, row.variant}).second) twice.insert(row.member + " [" + row.variant + "]");
  }
  const std::set<std::string> registered = RegisteredMembers();
  std::set<std::string> missing, unknown;
  for (const std::string& member : registered)
    if (!named.count(member) && !kNotRepeatable.count(member)) missing.insert(member);
  for (const std::string& member : named)
    if (!registered.count(member)) unknown.insert(member);
  EXPECT_GT(registered.size(), 200u);
  EXPECT_EQ(Lines(missing), "") << "members without a row";
  EXPECT_EQ(Lines(unknown), "") << "rows of no registered member";
  EXPECT_EQ(Lines(twice), "") << "rows that repeat another";
}

class LeakRepetitionTest : public RunningPython {
 protected:
  void SetUp() override {
    RunningPython::SetUp();
    objects.Make();
  }
  void TearDown() override {
    objects.Forget();
    RunningPython::TearDown();
  }
  void ExpectNoLeaks(RowTable table) { api_tests::ExpectNoLeaks(&python, table(objects)); }

  LeakObjects objects{python};
};

TEST_F(LeakRepetitionTest, Python3EngineAndPython3Exception) { ExpectNoLeaks(EngineRows); }
TEST_F(LeakRepetitionTest, Python3ModuleAndPython3Object) { ExpectNoLeaks(ModuleRows); }
TEST_F(LeakRepetitionTest, Python3FunctionAndPython3Class) { ExpectNoLeaks(FunctionAndClassRows); }
TEST_F(LeakRepetitionTest, Python3Instance) { ExpectNoLeaks(InstanceRows); }
TEST_F(LeakRepetitionTest, Python3Task) { ExpectNoLeaks(TaskRows); }
TEST_F(LeakRepetitionTest, Python3EntityBaseAndPython3Entity) { ExpectNoLeaks(EntityRows); }
TEST_F(LeakRepetitionTest, Python3BytesAndPython3Result) { ExpectNoLeaks(BytesAndResultRows); }
TEST_F(LeakRepetitionTest, Python3EntityBuffers) { ExpectNoLeaks(BufferRows); }
TEST_F(LeakRepetitionTest, Python3EntityDataTools) {
  CheckLeaksNowNotAtExit();  // the packages' imports leave objects nothing refers to
  ExpectNoLeaks(DataToolRows);
}
TEST_F(LeakRepetitionTest, Python3List) { ExpectNoLeaks(ListRows); }
TEST_F(LeakRepetitionTest, Python3Dictionary) { ExpectNoLeaks(DictionaryRows); }
TEST_F(LeakRepetitionTest, Python3Parameters) { ExpectNoLeaks(ParametersRows); }

TEST_F(LeakRepetitionTest, ConsoleOutput) {
  host_.defineSubclass("LeakConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput", [](const Object&, const std::vector<Value>&) -> Value { return {}; }},
                        {"ErrorOutput", [](const Object&, const std::vector<Value>&) -> Value { return {}; }}});
  host_.defineSubclass("LeakFailingConsole", "Python3EngineConsoleOutput",
                       {{"ConsoleOutput", [](const Object&, const std::vector<Value>&) -> Value {
                           Raised("KeyError", "refused by the receiver");
                           return {};
                         }}});
  Engine("SetConsoleOutput", {host_.newObject("LeakConsole")});
  ExpectNoLeaks(ConsoleRows);
}

// Host-defined modules and classes: the module leakhost is registered before
// Python starts.
class HostCodeLeakRepetition : public HostCode {
 protected:
  void SetUp() override {
    HostCode::SetUp();
    MakeLeakHost(objects);
  }
  void StartWithLeakHost() {
    RegisterLeakHost(objects);
    Start();
    objects.Make();
    ImportLeakHost(objects);
    started_ = true;
  }
  void TearDown() override {
    if (started_) objects.Forget();
    HostCode::TearDown();
  }

  LeakObjects objects{python};

 private:
  bool started_ = false;
};

TEST_F(HostCodeLeakRepetition, Python3XojoModuleAndPython3XojoClass) {
  StartWithLeakHost();
  ExpectNoLeaks(&python, HostCodeRows(objects));
}

TEST_F(HostCodeLeakRepetition, PythonCallingHostCode) {
  StartWithLeakHost();
  ExpectNoLeaks(&python, PythonCallsHostRows(objects));
}

TEST_F(HostCodeLeakRepetition, RegisteringBeforeInit) {
  ExpectNoLeaks(nullptr, RegistrationRows(objects));
  StartWithLeakHost();  // the last registration is the one Python imports
  EXPECT_EQ(python.IntegerOf("leakhost.add(40, 2)"), 42);
}

// What Python finds to call on the host module, its class and the console
// module, each needs a row.
TEST_F(HostCodeLeakRepetition, RowsNameEveryPathFromPythonIntoHostCode) {
  StartWithLeakHost();
  std::set<std::string> fromPython;
  std::istringstream lines(PythonCallsHostNames(objects));
  for (std::string line; std::getline(lines, line);) fromPython.insert(line);
  std::set<std::string> named;
  for (const Row& row : AllRows(objects))
    if (row.member.rfind(kPythonPath, 0) == 0) named.insert(row.member.substr(sizeof kPythonPath - 1));
  EXPECT_GE(fromPython.size(), 13u);
  EXPECT_EQ(Lines(named), Lines(fromPython));
}

// Starts and stops, in rounds: the host's counts must not grow, and after
// every start no reference to the console module hides outside Python's
// objects (each start makes a new one, so a leaked one grows no count).
class LeakRepetitionRestarts : public RunningPython {};

TEST_F(LeakRepetitionRestarts, InitWithAndWithoutANameAndFinalize) {
  LeakRepetition rounds;
  bool named = false;
  const auto restart = [&] {
    python.Disconnect();
    FinalizePython();
    InitPython(named ? std::vector<Value>{Str("leak app")} : std::vector<Value>{});
    python.Connect();
    EXPECT_EQ(HiddenReferences(python, "sys.stdout"), 0) << (named ? "after Init(name)" : "after Init()");
    named = !named;
  };
  EXPECT_EQ(Describe(rounds.Calls(2).Leaks(restart)), "");
}

}  // namespace
}  // namespace api_tests
