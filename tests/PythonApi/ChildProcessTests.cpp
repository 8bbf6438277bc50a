// Python code that starts Python: sys.executable is the loaded library's own
// interpreter, and sys.argv exists, so subprocess and multiprocessing work.
#include "ApiTestSupport.h"

namespace api_tests {
namespace {

class ChildProcesses : public RunningPython {};

TEST_F(ChildProcesses, SysExecutableRunsThisVersionOfPython) {
  EXPECT_TRUE(python.TruthOf("__import__('os').access(sys.executable, __import__('os').X_OK)")) << python.TextOf("sys.executable");
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
