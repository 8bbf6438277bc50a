// Runs modules of CPython's own regression tests inside the interpreter the
// plugin starts, through the plugin's members as a Xojo program calls them:
// SetPythonPath, Init, AddSearchPath, GetModule, GetFunction, Invoke. Prints
// the report of cpython_tests.run on standard output; what Python prints
// arrives through ConsoleOutput and goes to standard error, as does what the
// tests' children write to the standard output they inherit.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "xhost/Host.h"

using xhost::Host;
using xhost::Object;
using xhost::Value;

namespace {

Host& host() { return Host::instance(); }

Value engine(const std::string& method, const std::vector<Value>& arguments = {}) {
  return host().callShared("Python3Engine", method, arguments);
}

std::string pythonError() {
  return xhost::asBoolean(engine("ErrorOccurred")) ? xhost::asString(engine("GetError")).bytes() : "no Python error";
}

int run(const std::string& plugin, const std::string& library, const std::string& modules, FILE* report) {
  host().loadPlugin(plugin);
  Object file = host().newFolderItem(library);
  engine("SetPythonPath", {file});
  host().expectRetained(file);  // the plugin keeps its choice for the process

  host().defineSubclass("RegressionConsole", "Python3EngineConsoleOutput",
                        {{"ConsoleOutput", [](const Object&, const std::vector<Value>& args) -> Value {
                            std::cerr << xhost::asString(args.at(0)).bytes();
                            return {};
                          }}});
  Object console = host().newObject("RegressionConsole");
  engine("SetConsoleOutput", {console});
  engine("Init");
  engine("AddSearchPath", {host().newFolderItem(CPYTHON_TESTS_DRIVER_DIR)});

  int status = 0;
  {
    Object driver = xhost::asObject(engine("GetModule", {host().newString("cpython_tests")}));
    Object function =
        driver.isNil() ? Object() : xhost::asObject(host().call(driver, "GetFunction", {host().newString("run")}));
    if (function.isNil()) {
      std::cerr << "cannot reach cpython_tests.run: " << pythonError() << "\n";
      return 1;
    }
    Object arguments = host().newObject("Python3Parameters", {int64_t{1}});
    host().assign(arguments, "StringValue", {int64_t{0}}, host().newString(modules));
    Object result = xhost::asObject(host().call(function, "Invoke", {arguments}));
    if (result.isNil()) {
      std::cerr << "cpython_tests.run raised: " << pythonError() << "\n";
      status = 1;
    } else {
      const std::string text = xhost::asString(host().call(result, "StringValue")).bytes();
      std::fwrite(text.data(), 1, text.size(), report);
      std::fflush(report);
    }
  }
  engine("SetConsoleOutput", {xhost::Nil{}});
  engine("Finalize");
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: " << argv[0] << " path/to/Python3Plugin.so path/to/libpython3.X.so test_module...\n";
    return 2;
  }
  // Python's own program ignores SIGPIPE, so that writing to a pipe nobody
  // reads raises BrokenPipeError; Init leaves the application's signals
  // alone, so this program, standing for the application, does the same.
  std::signal(SIGPIPE, SIG_IGN);
  std::string modules;
  for (int i = 3; i < argc; ++i) modules += std::string(i > 3 ? " " : "") + argv[i];
  // Standard output carries the report alone.
  std::cout.flush();
  const int reportDescriptor = dup(STDOUT_FILENO);
  FILE* report = reportDescriptor < 0 ? nullptr : fdopen(reportDescriptor, "w");
  if (!report || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::perror("cpython_tests_host: standard output");
    return 1;
  }
  try {
    return run(argv[1], argv[2], modules, report);
  } catch (const std::exception& error) {
    std::cerr << "cpython_tests_host failed: " << error.what() << "\n";
    return 1;
  }
}
