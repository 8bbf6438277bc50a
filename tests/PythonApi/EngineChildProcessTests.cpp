// Python code that starts Python: sys.executable is the loaded library's own
// interpreter, and sys.argv exists, so subprocess and multiprocessing work.
#include <dlfcn.h>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class ChildProcesses : public RunningPython {
 protected:
  // The file of the loaded library, as the dynamic loader found it.
  std::string LibraryFile() {
    Dl_info info{};
    void* initialize = dlsym(RTLD_DEFAULT, "Py_Initialize");
    return initialize && dladdr(initialize, &info) && info.dli_fname ? info.dli_fname : "";
  }
};

// bin/python3.X of the prefix that holds the library, not whatever "python3"
// the search path of the process finds.
TEST_F(ChildProcesses, SysExecutableIsTheLibrarysOwnInterpreter) {
  python.Run(
      "import os\n"
      "library = os.path.realpath('" +
      LibraryFile() +
      "')\n"
      "prefix = os.path.realpath(os.path.dirname(os.path.dirname(sys.executable)))\n");
  EXPECT_TRUE(python.TruthOf("library.startswith(prefix + '/')")) << python.TextOf("sys.executable");
  EXPECT_EQ(python.TextOf("os.path.basename(sys.executable)"), python.TextOf("'python3.%d' % sys.version_info[1]"));
  EXPECT_TRUE(python.TruthOf("os.access(sys.executable, os.X_OK)"));
  python.Run(
      "import subprocess\n"
      "child = subprocess.run([sys.executable, '-c', 'import sys; print(tuple(sys.version_info))'],\n"
      "                       stdout=subprocess.PIPE, universal_newlines=True)\n");
  EXPECT_EQ(python.IntegerOf("child.returncode"), 0);
  EXPECT_EQ(python.TextOf("child.stdout.strip()"), python.TextOf("str(tuple(sys.version_info))"));
  EXPECT_TRUE(python.TruthOf("getattr(sys, '_base_executable', sys.executable) == sys.executable"));
  EXPECT_EQ(python.TextOf("repr(getattr(sys, 'argv', None))"), "['']");
}

// Spawned workers import the function's module from the search path they are handed.
TEST_F(ChildProcesses, AMultiprocessingPoolSpawnsItsWorkers) {
  python.Run(
      "import multiprocessing\n"
      "with multiprocessing.get_context('spawn').Pool(2) as pool:\n"
      "    squares = pool.map(square, range(6))\n");
  EXPECT_EQ(python.TextOf("str([value for value, process in squares])"), "[0, 1, 4, 9, 16, 25]");
  EXPECT_TRUE(python.TruthOf("__import__('os').getpid() not in {process for value, process in squares}"));
}

}  // namespace
}  // namespace api_tests
