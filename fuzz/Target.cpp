// libFuzzer's entry points, and what surrounds each input: the state Python
// starts in, and afterwards everything released and the ledger checked.
#include <cstdio>
#include <cstdlib>

#include "Callbacks.h"
#include "Fuzzer.h"

namespace fuzz {

namespace {

constexpr int kMaxSteps = 64;
constexpr const char* kDefaultLibrary = "/usr/lib/x86_64-linux-gnu/libpython3.11.so.1.0";

// What the interpreter looked like when the fuzzer started it, so an input
// that leaves it running leaves the next one what it found.
// The fuzzer's own module is imported first, so that it stays for the
// interpreter's life.
constexpr const char* kRememberState =
    "import sys\n"
    "try:\n"
    "    import fuzzreentry\n"
    "except ImportError:\n"
    "    pass\n"
    "if not hasattr(sys, '_fuzz_state'):\n"
    "    sys._fuzz_state = (list(sys.path), set(sys.modules), sys.stdout)\n";
constexpr const char* kRestoreState =
    "import sys, gc\n"
    "path, modules, stdout = sys._fuzz_state\n"
    "sys.path[:] = path\n"
    "for name in [name for name in sys.modules if name not in modules]:\n"
    "    del sys.modules[name]\n"
    "sys.stdout = stdout\n"
    "gc.collect()\n";

}  // namespace

void Fuzzer::initialize() {
  const char* chosen = std::getenv("PYTHON3_LIBRARY");
  const std::string library = chosen && *chosen ? chosen : kDefaultLibrary;
  trace_ = std::getenv("FUZZ_TRACE") != nullptr;
  host_.setExitReport(false);  // each input is checked on its own
  host_.loadPlugin(FUZZ_PLUGIN_PATH);
  catalog_.load(host_, HandlerFor);
  fuzzModuleFolder_ = FUZZ_PYTHON_DIR;
  xhost::Object file = host_.newFolderItem(library);
  host_.callShared("Python3Engine", "SetPythonPath", {file});
  host_.expectRetained(file);  // kept by the plugin for the process
  if (!xhost::asBoolean(host_.callShared("Python3Engine", "PythonIsFound"))) {
    std::fprintf(stderr, "fuzzer: the plugin cannot load %s\n", library.c_str());
    std::abort();
  }
  python_.open(library);
  // The fuzzer's own module, importable in every interpreter the inputs
  // start: what hooked values of the fuzz module call back.
  reentryModule_ = host_.newObject("Python3XojoModule", {host_.newString("fuzzreentry")});
  host_.call(reentryModule_, "RegisterFunction", {host_.newString("reenter"), xhost::Ptr{FunctionFor(Role::Reentry)}});
  host_.call(reentryModule_, "RegisterFunction", {host_.newString("call"), xhost::Ptr{FunctionFor(Role::Method)}});
  host_.callShared("Python3Engine", "RegisterXojoModule",
                   {reentryModule_, xhost::Ptr{FunctionFor(Role::ReentryCreator)}});
  host_.expectRetained(reentryModule_);
  std::atexit(printCounts);
  std::fprintf(stderr, "fuzzer: %zu members of %zu classes, Python library %s\n", catalog_.callables().size(),
               catalog_.concreteClasses().size(), library.c_str());
}

void Fuzzer::run(const uint8_t* data, size_t size) {
  ++counts_.inputs;
  FuzzedDataProvider input(data, size);
  input_ = &input;
  // Most inputs find Python running: starting it costs more than all their calls.
  startInput(input.ConsumeIntegral<uint8_t>() >= 32);
  host_.ledgerBegin();
  for (int steps = 0; steps < kMaxSteps && input.remaining_bytes() > 0; ++steps) step();
  input_ = nullptr;
  endInput();
}

// The state right after Init, to which the end of the input returns it.
void Fuzzer::rememberInterpreter() { host_.callShared("Python3Engine", "Execute", {host_.newString(kRememberState)}); }

void Fuzzer::startInput(bool running) {
  try {
    if (running && !python_.running()) {
      ++counts_.starts;
      host_.callShared("Python3Engine", "Init");
      rememberInterpreter();
    } else if (!running && python_.running()) {
      host_.callShared("Python3Engine", "Finalize");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fuzzer: cannot prepare the interpreter: %s\n", error.what());
    std::abort();
  }
}

void Fuzzer::releasePointers() {
  if (owned_.empty()) return;
  // Taken first: a __del__ run by a release may call back and keep more.
  std::vector<void*> owned;
  owned.swap(owned_);
  if (python_.running())
    for (void* object : owned) python_.release(object);
  // Host objects Python let go of outside a host call are unlocked at the next one.
  host_.callShared("Python3Engine", "ErrorOccurred");
}

void Fuzzer::endInput() {
  releasePointers();
  std::vector<xhost::Object>().swap(objects_);
  std::vector<xhost::String>().swap(strings_);
  for (xhost::Object& creator : creators_) creator = xhost::Object();
  bool restored = false;
  // The receiver of console output is kept across Finalize until the program lets it go.
  host_.callShared("Python3Engine", "SetConsoleOutput", {xhost::Nil{}});
  if (python_.running()) {
    host_.callShared("Python3Engine", "ClearError");
    // Fails when Python was started by a call made from a callback, with no state kept.
    restored = xhost::asBoolean(host_.callShared("Python3Engine", "Execute", {host_.newString(kRestoreState)}));
    host_.callShared("Python3Engine", "ClearError");
  }
  xhost::LedgerReport report = host_.ledgerEnd();
  if (report.clean() && (restored || !python_.running())) return;
  for (const std::string& problem : report.problems)
    if (problem.rfind("leak:", 0) != 0) fail("the plugin misused the host", report);
  if (trace_) std::fprintf(stderr, "fuzzer: finalizing to balance:\n%s\n", report.text().c_str());
  // What Python still holds is released when the interpreter stops, and
  // modules registered for the next start are held until it has stopped.
  if (!python_.running()) {
    ++counts_.starts;
    host_.callShared("Python3Engine", "Init");
  }
  ++counts_.finalizes;
  host_.callShared("Python3Engine", "Finalize");
  report = host_.ledgerEnd();
  if (!report.clean()) fail("the ledger does not balance after Finalize", report);
}

void Fuzzer::printCounts() {
  const Counts& c = instance().counts_;
  std::fprintf(stderr,
               "fuzzer: %llu inputs, %llu member calls (%llu raised an exception, %llu refused by the host as "
               "not fitting), %llu callbacks and events, %llu interpreter starts, %llu finalizations to balance; "
               "%llu calls made directly, %llu re-entered, %llu on the object of the call in progress, %llu drops "
               "of its object or arguments\n",
               (unsigned long long)c.inputs, (unsigned long long)c.calls, (unsigned long long)c.raised,
               (unsigned long long)c.refused, (unsigned long long)c.callbacks, (unsigned long long)c.starts,
               (unsigned long long)c.finalizes, (unsigned long long)c.direct, (unsigned long long)c.reentered,
               (unsigned long long)c.siblings, (unsigned long long)c.drops);
}

void Fuzzer::fail(const char* what, const xhost::LedgerReport& report) {
  std::fprintf(stderr, "fuzzer: %s:\n%s\n", what, report.text().c_str());
  std::abort();
}

}  // namespace fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Fuzzer::instance().initialize();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Fuzzer::instance().run(data, size);
  return 0;
}
