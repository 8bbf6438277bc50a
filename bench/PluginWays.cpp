#include "PluginWays.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "xhost/Host.h"

namespace bench {
namespace {

using xhost::Object;
using xhost::String;

struct PluginMembers {
#define PLUGIN_MEMBER(Name, Type, className, declaration, form) std::decay_t<Type> Name = nullptr;
#include "PluginMembers.def"
} plugin;

struct HostServices {
#define HOST_SERVICE(Name, Type, entry) std::decay_t<Type> Name = nullptr;
#include "PluginMembers.def"
  int64_t (*LenB)(REALstringStruct*) = nullptr;
} host;

std::string gModuleFolder;
REALclassDefinition* gParametersRecord = nullptr;
REALclassDefinition* gResultRecord = nullptr;
REALclassDefinition* gListRecord = nullptr;
REALclassDefinition* gDictionaryRecord = nullptr;
Object gHostModule;  // Python3XojoModule with add(a, b), registered before each Init
Object gConsole;     // receives ConsoleOutput while a way prints

xhost::Host& Host() { return xhost::Host::instance(); }
String HostText(const std::string& bytes) { return Host().newString(bytes); }

// Bare classes shaped like the plugin's wrappers (a data block per class, an
// initializer and destructors that do nothing): what the host does for a
// wrapper without the plugin's own work.
void DoNothing(REALobjectStruct*) {}

REALclassDefinition BareClass(const char* name, const char* superName, bool initializer) {
  REALclassDefinition record{};
  record.version = kPluginInterfaceVersion;
  record.name = name;
  record.superName = superName;
  record.dataSize = sizeof(void*);
  record.constructor = initializer ? DoNothing : nullptr;
  record.destructor = DoNothing;
  record.interfaces = "";
  record.mFlags = REALconsoleSafe;
  return record;
}

REALclassDefinition gBareResult = BareClass("BenchBareResult", nullptr, false);
REALclassDefinition gBareBase = BareClass("BenchBareBase", nullptr, true);
REALclassDefinition gBareChild = BareClass("BenchBareChild", "BenchBareBase", false);

template <typename Function>
Function Bound(const char* className, const char* declaration, bool setter) {
  xhost::Host::MemberFunctions functions = Host().memberFunctions(className, declaration);
  REALproc bound = setter ? functions.setter : functions.function;
  if (!bound) throw std::runtime_error(std::string(className) + "." + declaration + ": the record names no function");
  return reinterpret_cast<Function>(bound);
}

template <typename Function>
Function Service(const char* entry) {
  void* function = Host().resolver()(entry);
  if (!function) throw std::runtime_error(std::string("the host serves no ") + entry);
  return reinterpret_cast<Function>(function);
}

void BindAll() {
#define PLUGIN_MEMBER(Name, Type, className, declaration, form) \
  plugin.Name = Bound<Type>(className, declaration, std::string(#form) == "setter");
#define HOST_SERVICE(Name, Type, entry) host.Name = Service<Type>(entry);
#include "PluginMembers.def"
  host.LenB =
      reinterpret_cast<int64_t (*)(REALstringStruct*)>(host.LoadGlobalMethod(nullptr, "LenB(s as String) as Integer"));
  auto record = [](const char* name) { return const_cast<REALclassDefinition*>(Host().classRecord(name)); };
  gParametersRecord = record("Python3Parameters");
  gResultRecord = record("Python3Result");
  gListRecord = record("Python3List");
  gDictionaryRecord = record("Python3Dictionary");
  if (!host.LenB || !gParametersRecord || !gResultRecord || !gListRecord || !gDictionaryRecord)
    throw std::runtime_error("the host lacks LenB or a class of the plugin");
  for (REALclassDefinition* record : {&gBareResult, &gBareBase, &gBareChild}) host.RegisterClass(record);
  Host().defineSubclass(
      "BenchConsole", "Python3EngineConsoleOutput",
      {{"ConsoleOutput", [](const Object&, const std::vector<xhost::Value>&) { return xhost::Value{}; }}});
  gConsole = Host().newObject("BenchConsole");
}

// The host function Python calls, written as a Xojo application writes it:
// its arguments read through a Python3Parameters, its sum handed back through
// a Python3Result.
void* HostAdd(void*, void* arguments) {
  REALobjectStruct* parameters = host.NewInstance(gParametersRecord);
  plugin.ParametersFromPtr(parameters, arguments);
  const int32_t sum = plugin.GetInt32(parameters, 0) + plugin.GetInt32(parameters, 1);
  host.UnlockObject(parameters);
  REALobjectStruct* result = host.NewInstance(gResultRecord);
  plugin.ResultFromInt32(result, sum);
  void* returned = plugin.ResultPtr(result);
  host.UnlockObject(result);
  return returned;
}

void* CreateHostModule() { return plugin.ModuleCreateProc(gHostModule.get()); }

void RegisterHostModule() {
  if (gHostModule.isNil()) {
    gHostModule = Host().newObject("Python3XojoModule", {HostText(kPluginHostModule)});
    Host().call(gHostModule, "RegisterFunction", {HostText("add"), xhost::Ptr{reinterpret_cast<void*>(&HostAdd)}});
  }
  Host().callShared("Python3Engine", "RegisterXojoModule",
                    {gHostModule, xhost::Ptr{reinterpret_cast<void*>(&CreateHostModule)}});
}

void AddModuleFolder() { Host().callShared("Python3Engine", "AddSearchPath", {Host().newFolderItem(gModuleFolder)}); }

void StopInterpreter() { plugin.Finalize(); }
void StartInterpreter() {
  RegisterHostModule();
  plugin.Init();
  AddModuleFolder();
  // The run loop turns once, as an application's does once it has started:
  // the plugin's background task ticks on this thread, so the plugin may keep
  // the interpreter lock here between calls.
  Host().runBackgroundTasks();
}

// False, with the run marked failed, when a way's first result is wrong.
bool Verified(benchmark::State& state, bool correct, const char* what) {
  if (!correct) state.SkipWithError(what);
  return correct;
}

Object FunctionNamed(const std::string& name) {
  Object module = Object::adopt(plugin.GetModule(HostText(kPythonModule).get()));
  if (module.isNil()) return Object();
  return Object::adopt(plugin.GetFunction(module.get(), HostText(name).get()));
}

REALobjectStruct* NewParameters(int64_t count) {
  REALobjectStruct* parameters = host.NewInstance(gParametersRecord);
  plugin.ParametersConstructor(parameters, count);
  return parameters;
}

void SetArguments(REALobjectStruct* parameters, int count) {
  for (int index = 0; index < count; ++index) plugin.SetInt32(parameters, index, index + 1);
}

// What f0, f1 and f3 return for the arguments 1, 2, 3.
int32_t Expected(int arguments) { return arguments == 0 ? 0 : 1; }

int32_t InvokeOnce(const Object& function, REALobjectStruct* parameters) {
  REALobjectStruct* result = plugin.Invoke(function.get(), parameters);
  int32_t value = result ? plugin.ResultInt32(result) : -1;
  if (result) host.UnlockObject(result);
  return value;
}

template <int Arguments>
void InvokePrebuilt(benchmark::State& state) {
  Object function = FunctionNamed(InvokedFunction(Arguments));
  Object parameters = Object::adopt(NewParameters(Arguments));
  SetArguments(parameters.get(), Arguments);
  if (!Verified(state, !function.isNil() && InvokeOnce(function, parameters.get()) == Expected(Arguments), "Invoke"))
    return;
  for (auto _ : state) {
    REALobjectStruct* result = plugin.Invoke(function.get(), parameters.get());
    benchmark::DoNotOptimize(plugin.ResultInt32(result));
    host.UnlockObject(result);
  }
}

template <int Arguments>
void InvokeBuilt(benchmark::State& state) {
  Object function = FunctionNamed(InvokedFunction(Arguments));
  if (!Verified(state, !function.isNil(), "GetFunction")) return;
  for (auto _ : state) {
    REALobjectStruct* parameters = NewParameters(Arguments);
    SetArguments(parameters, Arguments);
    REALobjectStruct* result = plugin.Invoke(function.get(), parameters);
    benchmark::DoNotOptimize(plugin.ResultInt32(result));
    host.UnlockObject(result);
    host.UnlockObject(parameters);
  }
}

template <Text Which>
void StringRoundTrip(benchmark::State& state) {
  Object echo = FunctionNamed("echo");
  String text = HostText(TextBytes(Which));
  auto roundTrip = [&] {
    REALobjectStruct* parameters = NewParameters(1);
    plugin.SetString(parameters, 0, text.get());
    REALobjectStruct* result = plugin.Invoke(echo.get(), parameters);
    REALstringStruct* back = plugin.ResultString(result);
    host.UnlockObject(result);
    host.UnlockObject(parameters);
    return back;
  };
  if (!Verified(state, !echo.isNil() && String::adopt(roundTrip()).bytes() == TextBytes(Which), "round trip")) return;
  for (auto _ : state) host.UnlockString(roundTrip());
}

template <typename Work>
void HostLoop(benchmark::State& state, Work work) {
  for (auto _ : state) work();
}

template <Text Which>
void BuildString(benchmark::State& state) {
  const std::string& bytes = TextBytes(Which);
  HostLoop(state, [&] {
    host.UnlockString(host.BuildString(bytes.data(), static_cast<int>(bytes.size()), kREALTextEncodingUTF8));
  });
}

void ReadString(benchmark::State& state, const std::string& bytes) {
  String text = HostText(bytes);
  HostLoop(state, [&] {
    StringDataRecord data{};
    if (host.GetStringData(text.get(), kREALTextEncodingUTF8, &data)) host.DisposeStringData(&data);
  });
}

Object Module() { return Object::adopt(plugin.GetModule(HostText(kPythonModule).get())); }

template <Text Which>
void EntityString(benchmark::State& state) {
  String text = HostText(TextBytes(Which));
  auto roundTrip = [&] {
    REALobjectStruct* entity = plugin.FromString(text.get());
    REALstringStruct* back = plugin.EntityString(entity, 0);
    host.UnlockObject(entity);
    return back;
  };
  if (!Verified(state, String::adopt(roundTrip()).bytes() == TextBytes(Which), "FromString")) return;
  for (auto _ : state) host.UnlockString(roundTrip());
}

std::vector<String> BulkKeys() {
  std::vector<String> keys;
  for (int index = 0; index < kBulkItems; ++index) keys.push_back(HostText(BulkKey(index)));
  return keys;
}

// Builds the container with `store(container, index, item)` and reads every
// item back with `load(container, index)`; the sum of the items read.
template <typename Store, typename Load>
int64_t BuildAndRead(REALclassDefinition* record, void (*constructor)(REALobjectStruct*), Store store, Load load) {
  REALobjectStruct* container = host.NewInstance(record);
  constructor(container);
  for (int index = 0; index < kBulkItems; ++index) {
    REALobjectStruct* item = plugin.FromInt32(index);
    store(container, index, item);
    host.UnlockObject(item);
  }
  int64_t sum = 0;
  for (int index = 0; index < kBulkItems; ++index) {
    REALobjectStruct* item = load(container, index);
    sum += plugin.EntityInt32(item, 0);
    host.UnlockObject(item);
  }
  host.UnlockObject(container);
  return sum;
}

constexpr int64_t kBulkSum = int64_t{kBulkItems} * (kBulkItems - 1) / 2;

template <typename Store, typename Load>
void Bulk(benchmark::State& state, REALclassDefinition* record, void (*constructor)(REALobjectStruct*), Store store,
          Load load) {
  if (!Verified(state, BuildAndRead(record, constructor, store, load) == kBulkSum, "items read back")) return;
  for (auto _ : state) benchmark::DoNotOptimize(BuildAndRead(record, constructor, store, load));
}

}  // namespace

AnotherPythonThread::AnotherPythonThread() {
  Object park = FunctionNamed("park");
  if (!park.isNil()) host.UnlockObject(plugin.Invoke(park.get(), nullptr));
}

AnotherPythonThread::~AnotherPythonThread() {
  Object unpark = FunctionNamed("unpark");
  if (!unpark.isNil()) host.UnlockObject(plugin.Invoke(unpark.get(), nullptr));
}

BENCH_WAY(Plugin, FieldInt32) {
  Object module = Module();
  String name = HostText(kInt32Attribute);
  if (!Verified(state, !module.isNil(), "GetModule")) return;
  for (auto _ : state)
    plugin.SetInt32Field(module.get(), name.get(), plugin.GetInt32Field(module.get(), name.get()) + 1);
  if (!Verified(state, plugin.GetInt32Field(module.get(), name.get()) > 0, "Int32Field")) return;
}

BENCH_WAY(Plugin, FieldString) {
  Object module = Module();
  String name = HostText(kStringAttribute);
  if (!Verified(state, !module.isNil(), "GetModule")) return;
  auto readWrite = [&] {
    String value = String::adopt(plugin.GetStringField(module.get(), name.get()));
    plugin.SetStringField(module.get(), name.get(), value.get());
    return value;
  };
  if (!Verified(state, readWrite().bytes() == TextBytes(Text::Ascii16), "StringField")) return;
  for (auto _ : state) readWrite();
}

BENCH_WAY(Plugin, EntityAscii16) { EntityString<Text::Ascii16>(state); }
BENCH_WAY(Plugin, EntityUtf8_16) { EntityString<Text::Utf8_16>(state); }
BENCH_WAY(Plugin, EntityAscii1K) { EntityString<Text::Ascii1K>(state); }
BENCH_WAY(Plugin, EntityUtf8_1K) { EntityString<Text::Utf8_1K>(state); }

BENCH_WAY(Plugin, List1000) {
  Bulk(
      state, gListRecord, plugin.ListConstructor,
      [](REALobjectStruct* list, int, REALobjectStruct* item) { plugin.ListAppend(list, item); },
      [](REALobjectStruct* list, int index) { return plugin.ListGetItem(list, index); });
}

BENCH_WAY(Plugin, Dictionary1000) {
  std::vector<String> keys = BulkKeys();
  Bulk(
      state, gDictionaryRecord, plugin.DictionaryConstructor,
      [&](REALobjectStruct* dictionary, int index, REALobjectStruct* item) {
        plugin.DictionarySetValue(dictionary, keys[index].get(), item);
      },
      [&](REALobjectStruct* dictionary, int index) {
        return plugin.DictionaryGetValue(dictionary, keys[index].get());
      });
}

BENCH_WAY(Plugin, HostCallback1000) {
  Object loop = FunctionNamed(kCallbackLoop);
  Object parameters = Object::adopt(NewParameters(2));
  plugin.SetString(parameters.get(), 0, HostText(kPluginHostModule).get());
  plugin.SetInt32(parameters.get(), 1, kCallbackCalls);
  if (!Verified(state, !loop.isNil() && InvokeOnce(loop, parameters.get()) == 3, "host function")) return;
  for (auto _ : state) host.UnlockObject(plugin.Invoke(loop.get(), parameters.get()));
}

BENCH_WAY(Plugin, MemberCall) {
  for (auto _ : state) benchmark::DoNotOptimize(plugin.ErrorOccurred());
}

BENCH_WAY(Plugin, Invoke0Prebuilt) { InvokePrebuilt<0>(state); }
BENCH_WAY(Plugin, Invoke0Built) { InvokeBuilt<0>(state); }
BENCH_WAY(Plugin, Invoke1Prebuilt) { InvokePrebuilt<1>(state); }
BENCH_WAY(Plugin, Invoke1Built) { InvokeBuilt<1>(state); }
BENCH_WAY(Plugin, Invoke3Prebuilt) { InvokePrebuilt<3>(state); }
BENCH_WAY(Plugin, Invoke3Built) { InvokeBuilt<3>(state); }
BENCH_WAY(Plugin, StringAscii16) { StringRoundTrip<Text::Ascii16>(state); }
BENCH_WAY(Plugin, StringUtf8_16) { StringRoundTrip<Text::Utf8_16>(state); }
BENCH_WAY(Plugin, StringAscii1K) { StringRoundTrip<Text::Ascii1K>(state); }
BENCH_WAY(Plugin, StringUtf8_1K) { StringRoundTrip<Text::Utf8_1K>(state); }

BENCH_WAY(Plugin, PrintLine) {
  Object say = FunctionNamed("say");
  Host().callShared("Python3Engine", "SetConsoleOutput", {gConsole});
  REALobjectStruct* first = say.isNil() ? nullptr : plugin.Invoke(say.get(), nullptr);
  if (first) host.UnlockObject(first);
  if (Verified(state, first != nullptr, "print")) {
    for (auto _ : state) {
      host.UnlockObject(plugin.Invoke(say.get(), nullptr));
    }
  }
  Host().callShared("Python3Engine", "SetConsoleOutput", {xhost::Nil{}});
}

BENCH_WAY(Plugin, GetModuleFunction) {
  String moduleName = HostText(kPythonModule);
  String functionName = HostText(InvokedFunction(3));
  if (!Verified(state, !FunctionNamed(InvokedFunction(3)).isNil(), "GetFunction")) return;
  for (auto _ : state) {
    REALobjectStruct* module = plugin.GetModule(moduleName.get());
    REALobjectStruct* function = plugin.GetFunction(module, functionName.get());
    host.UnlockObject(function);
    host.UnlockObject(module);
  }
}

BENCH_WAY(Plugin, InitFinalize) {
  StopInterpreter();
  for (auto _ : state) {
    plugin.Init();
    plugin.Finalize();
  }
  StartInterpreter();
}

BENCH_WAY(Plugin, InvokeReadRelease) { InvokePrebuilt<3>(state); }

BENCH_WAY(Plugin, ListGetItem1000) {
  Object list = Object::adopt(host.NewInstance(gListRecord));
  plugin.ListConstructor(list.get());
  for (int index = 0; index < kBulkItems; ++index) {
    REALobjectStruct* item = plugin.FromInt32(index);
    plugin.ListAppend(list.get(), item);
    host.UnlockObject(item);
  }
  int64_t sum = 0;
  for (int index = 0; index < kBulkItems; ++index) {
    REALobjectStruct* item = plugin.ListGetItem(list.get(), index);
    sum += plugin.EntityInt32(item, 0);
    host.UnlockObject(item);
  }
  if (!Verified(state, sum == kBulkSum, "items read back")) return;
  for (auto _ : state)
    for (int index = 0; index < kBulkItems; ++index) host.UnlockObject(plugin.ListGetItem(list.get(), index));
}

BENCH_WAY(Plugin, ResultInt32Reads1000) {
  Object function = FunctionNamed(InvokedFunction(1));
  Object parameters = Object::adopt(NewParameters(1));
  SetArguments(parameters.get(), 1);
  Object result = Object::adopt(function.isNil() ? nullptr : plugin.Invoke(function.get(), parameters.get()));
  if (!Verified(state, !result.isNil() && plugin.ResultInt32(result.get()) == 1, "Int32Value")) return;
  for (auto _ : state) {
    int64_t sum = 0;
    for (int read = 0; read < kBulkItems; ++read) sum += plugin.ResultInt32(result.get());
    benchmark::DoNotOptimize(sum);
  }
}

// Every plugin way again while a Python thread waits: the lock is handed
// over at the end of every host call. Init + Finalize is left out (a
// finalize would end the waiting thread with the interpreter).
template <Operation O>
auto Measure(WayTag<Way::PluginHandedOver, O>, benchmark::State& state) {
  if constexpr (O == Operation::InitFinalize ||
                std::is_same_v<decltype(Measure(WayTag<Way::Plugin, O>{}, state)), NotWritten>) {
    return NotWritten{};
  } else {
    AnotherPythonThread waiting;
    Measure(WayTag<Way::Plugin, O>{}, state);
  }
}

BENCH_WAY(Host, HostResultObject) {
  HostLoop(state, [] { host.UnlockObject(host.NewInstance(&gBareResult)); });
}
BENCH_WAY(Host, HostEntityObject) {
  HostLoop(state, [] { host.UnlockObject(host.NewInstance(&gBareChild)); });
}
BENCH_WAY(Host, HostObjectLock) {
  Object object = Object::adopt(host.NewInstance(&gBareBase));
  HostLoop(state, [&] {
    host.LockObject(object.get());
    host.UnlockObject(object.get());
  });
}
BENCH_WAY(Host, HostStringLock) {
  String text = HostText(kPythonModule);
  HostLoop(state, [&] {
    host.LockString(text.get());
    host.UnlockString(text.get());
  });
}
BENCH_WAY(Host, HostStringContents) {
  String text = HostText(InvokedFunction(3));
  HostLoop(state, [&] {
    benchmark::DoNotOptimize(host.StringCString(text.get()));
    benchmark::DoNotOptimize(host.LenB(text.get()));
  });
}
BENCH_WAY(Host, HostBuildLine) { BuildString<Text::Line>(state); }
BENCH_WAY(Host, HostBuildNewline) { BuildString<Text::Newline>(state); }
BENCH_WAY(Host, HostBuildAscii16) { BuildString<Text::Ascii16>(state); }
BENCH_WAY(Host, HostBuildUtf8_16) { BuildString<Text::Utf8_16>(state); }
BENCH_WAY(Host, HostBuildAscii1K) { BuildString<Text::Ascii1K>(state); }
BENCH_WAY(Host, HostBuildUtf8_1K) { BuildString<Text::Utf8_1K>(state); }
BENCH_WAY(Host, HostReadModuleName) { ReadString(state, kPythonModule); }
BENCH_WAY(Host, HostReadAscii16) { ReadString(state, TextBytes(Text::Ascii16)); }
BENCH_WAY(Host, HostReadUtf8_16) { ReadString(state, TextBytes(Text::Utf8_16)); }
BENCH_WAY(Host, HostReadAscii1K) { ReadString(state, TextBytes(Text::Ascii1K)); }
BENCH_WAY(Host, HostReadUtf8_1K) { ReadString(state, TextBytes(Text::Utf8_1K)); }

BENCH_WAY(Host, HostConsoleEvent) {
  const REALclassDefinition* record = Host().classRecord("Python3EngineConsoleOutput");
  auto event = reinterpret_cast<void (*)(REALobjectStruct*, REALstringStruct*)>(
      host.GetEventInstance(gConsole.get(), record->events[0].hostIdentifier));
  String line = HostText(TextBytes(Text::Line));
  if (!Verified(state, event != nullptr, "ConsoleOutput handler")) return;
  HostLoop(state, [&] { event(gConsole.get(), line.get()); });
}

void StartPlugin(const std::string& pluginPath, const std::string& library, const std::string& moduleFolder) {
  Host().setExitReport(false);    // the plugin keeps some host strings and objects for the process on purpose
  Host().keepDeadHandles(false);  // as a real host, which frees them at once
  Host().loadPlugin(pluginPath);
  if (!library.empty()) Host().callShared("Python3Engine", "SetPythonPath", {Host().newFolderItem(library)});
  BindAll();
  gModuleFolder = moduleFolder;
  StartInterpreter();
  if (FunctionNamed(InvokedFunction(0)).isNil())
    throw std::runtime_error("Python did not start, or cannot import " + std::string(kPythonModule) + " from " +
                             moduleFolder);
}

const ComparisonContext& PluginContext() {
  static const ComparisonContext context{StopInterpreter, StartInterpreter};
  return context;
}

const WayTable<Way::Plugin>& PluginWays() {
  static const WayTable<Way::Plugin> ways;
  return ways;
}

const WayTable<Way::PluginHandedOver>& PluginHandedOverWays() {
  static const WayTable<Way::PluginHandedOver> ways;
  return ways;
}

const WayTable<Way::Host>& HostWays() {
  static const WayTable<Way::Host> ways;
  return ways;
}

namespace {

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace

std::vector<ResidentGrowth> ResidentGrowthOverCalls(int64_t calls) {
  // Runs `operation` (`perCall` calls of the path each time) for a tenth of
  // `calls` as a warm-up, then for `calls`: the growth of the second part.
  auto measure = [calls](const char* path, int64_t perCall, const auto& operation) {
    auto run = [&](int64_t times) {
      for (int64_t done = 0; done < times; done += perCall) operation();
      Host().ledgerBegin();
    };
    run(calls / 10);
    const int64_t before = ResidentBytes();
    const auto started = std::chrono::steady_clock::now();
    run(calls);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return ResidentGrowth{path, ResidentBytes() - before, seconds};
  };
  std::vector<ResidentGrowth> growths;
  Object function = FunctionNamed(InvokedFunction(3));
  Object parameters = Object::adopt(NewParameters(3));
  SetArguments(parameters.get(), 3);
  growths.push_back(measure("Invoke (3 args, prebuilt) + Int32Value + release", 1, [&] {
    REALobjectStruct* result = plugin.Invoke(function.get(), parameters.get());
    benchmark::DoNotOptimize(plugin.ResultInt32(result));
    host.UnlockObject(result);
  }));
  Object echo = FunctionNamed("echo");
  String text = HostText(TextBytes(Text::Utf8_16));
  growths.push_back(measure("string round trip, 16 B non-ASCII", 1, [&] {
    REALobjectStruct* arguments = NewParameters(1);
    plugin.SetString(arguments, 0, text.get());
    REALobjectStruct* result = plugin.Invoke(echo.get(), arguments);
    host.UnlockString(plugin.ResultString(result));
    host.UnlockObject(result);
    host.UnlockObject(arguments);
  }));
  Object list = Object::adopt(host.NewInstance(gListRecord));
  plugin.ListConstructor(list.get());
  REALobjectStruct* item = plugin.FromInt32(7);
  plugin.ListAppend(list.get(), item);
  host.UnlockObject(item);
  growths.push_back(measure("GetItem of a Python3List, released", 1,
                            [&] { host.UnlockObject(plugin.ListGetItem(list.get(), 0)); }));
  Object loop = FunctionNamed(kCallbackLoop);
  Object loopArguments = Object::adopt(NewParameters(2));
  plugin.SetString(loopArguments.get(), 0, HostText(kPluginHostModule).get());
  plugin.SetInt32(loopArguments.get(), 1, kCallbackCalls);
  growths.push_back(measure("host function called from Python", kCallbackCalls, [&] {
    host.UnlockObject(plugin.Invoke(loop.get(), loopArguments.get()));
  }));
  Object say = FunctionNamed("say");
  Host().callShared("Python3Engine", "SetConsoleOutput", {gConsole});
  growths.push_back(
      measure("print of a line to ConsoleOutput", 1, [&] { host.UnlockObject(plugin.Invoke(say.get(), nullptr)); }));
  Host().callShared("Python3Engine", "SetConsoleOutput", {xhost::Nil{}});
  return growths;
}

}  // namespace bench
