// Every CPython library this machine has, chosen by path: the distribution's
// (found through ldconfig) and each pyenv version. Each in its own process:
// the table holds what the library exports, the home is the installation's
// prefix, and Python starts and runs through the table.
#include <dlfcn.h>
#include <glob.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "LoadingTestSupport.h"

namespace {

using loading_tests::ChildResult;
using loading_tests::RunProbe;

struct Installation {
  std::string label;         // test name suffix: where it came from and its version
  std::string library;       // the library file chosen
  int minor = 0;             // 3.minor
  std::string expectedHome;  // the installation's prefix
};

// gtest names a failing case by this.
void PrintTo(const Installation& python, std::ostream* out) { *out << python.library; }

std::string Capture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string text;
  if (!pipe) return text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) text.append(buffer, n);
  return text;
}

std::string Dirname(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Basename(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string Label(const std::string& text) {
  std::string label;
  for (char c : text) label += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return label;
}

// 3.minor from a file name libpython3.N.so..., libpython3.Nm.so...; 0 otherwise.
int MinorVersionOfFile(const std::string& path) {
  const std::string file = Basename(path);
  const std::string prefix = "libpython3.";
  if (file.rfind(prefix, 0) != 0) return 0;
  size_t end = prefix.size();
  while (end < file.size() && std::isdigit(static_cast<unsigned char>(file[end]))) ++end;
  if (end == prefix.size()) return 0;
  std::string rest = file.substr(end);
  if (rest.rfind("m", 0) == 0) rest.erase(0, 1);
  if (rest != ".so" && rest != ".so.1.0") return 0;
  return std::stoi(file.substr(prefix.size(), end - prefix.size()));
}

// The folder above the library's folder when that is named lib, or the
// folder above the lib folder of a multiarch layout.
std::string PrefixOfDistributionLibrary(const std::string& library) {
  const std::string folder = Dirname(library);
  if (Basename(folder) == "lib") return Dirname(folder);
  if (Basename(Dirname(folder)) == "lib") return Dirname(Dirname(folder));
  return folder;
}

void AddDistributionLibraries(std::vector<Installation>& found) {
  std::string listing = Capture("ldconfig -p 2>/dev/null");
  if (listing.empty()) listing = Capture("/sbin/ldconfig -p 2>/dev/null");
  std::istringstream lines(listing);
  std::set<std::string> seen;
  for (std::string line; std::getline(lines, line);) {
    const size_t arrow = line.find("=> ");
    if (arrow == std::string::npos) continue;
    const std::string path = line.substr(arrow + 3);
    const int minor = MinorVersionOfFile(path);
    if (minor == 0 || !seen.insert(path).second) continue;
    found.push_back({"system_" + Label(Basename(path)), path, minor, PrefixOfDistributionLibrary(path)});
    // The same file by its real folder (/lib is often a link to /usr/lib).
    std::unique_ptr<char, decltype(&std::free)> real(realpath(Dirname(path).c_str(), nullptr), std::free);
    if (!real) continue;
    const std::string resolved = std::string(real.get()) + "/" + Basename(path);
    if (resolved != path && seen.insert(resolved).second) {
      found.push_back({"system_" + Label(resolved), resolved, minor, PrefixOfDistributionLibrary(resolved)});
    }
  }
}

std::string PyenvRoot() {
  if (const char* root = std::getenv("PYENV_ROOT"); root && *root) return root;
  std::string root = Capture("pyenv root 2>/dev/null");
  while (!root.empty() && (root.back() == '\n' || root.back() == ' ')) root.pop_back();
  if (!root.empty()) return root;
  const char* home = std::getenv("HOME");
  return home ? std::string(home) + "/.pyenv" : "";
}

void AddPyenvLibraries(std::vector<Installation>& found) {
  const std::string root = PyenvRoot();
  if (root.empty()) return;
  glob_t matches{};
  if (glob((root + "/versions/*/lib/libpython3.*.so").c_str(), 0, nullptr, &matches) == 0) {
    for (size_t i = 0; i < matches.gl_pathc; ++i) {
      const std::string path = matches.gl_pathv[i];
      const int minor = MinorVersionOfFile(path);
      if (minor == 0) continue;
      const std::string prefix = Dirname(Dirname(path));
      found.push_back({"pyenv_" + Label(Basename(prefix)), path, minor, prefix});
    }
  }
  globfree(&matches);
}

std::vector<Installation> FindInstallations() {
  std::vector<Installation> found;
  AddDistributionLibraries(found);
  AddPyenvLibraries(found);
  return found;
}

const std::vector<Installation>& Installations() {
  static const std::vector<Installation> installations = FindInstallations();
  return installations;
}

std::map<std::string, std::string> Results(const std::string& output) {
  std::map<std::string, std::string> results;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) results[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return results;
}

std::string StandardLibraryOs(const std::string& home, int minor) {
  return (home == "/" ? "" : home) + "/lib/python3." + std::to_string(minor) + "/os.py";
}

// What the versions tested here lack of the table, as the probe lists it.
std::string ExpectedAbsentSymbols(int minor) {
  std::vector<std::string> absent;
  if (minor < 12) absent.push_back("PyErr_GetRaisedException");
  if (minor < 13) absent.push_back("PyList_Extend");
  std::string text;
  for (const std::string& symbol : absent) text += (text.empty() ? "" : ", ") + symbol;
  return text.empty() ? "none" : text;
}

class RealLibrary : public ::testing::TestWithParam<Installation> {};

TEST_P(RealLibrary, IsLoadedByPathAndRuns) {
  const Installation& python = GetParam();
  const ChildResult result =
      RunProbe({"choose:" + python.library, "found:0", "state", "home", "table", "absent", "python"});
  ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
  std::map<std::string, std::string> said = Results(result.out);
  EXPECT_EQ(said["chosen"], "this file");
  EXPECT_EQ(said["PythonIsFound(0)"], "True");
  EXPECT_NE(result.out.find("found=1 loaded=1 handle=set\n"), std::string::npos) << result.out;
  EXPECT_EQ(said["home"], python.expectedHome);
  EXPECT_EQ(said.count("table mismatch"), 0u) << result.out;
  int matching = 0;
  int absent = 0;
  EXPECT_EQ(std::sscanf(said["table"].c_str(), "%d entries match the library, %d symbols absent", &matching, &absent),
            2)
      << result.out;
  EXPECT_GT(matching, 90) << result.out;
  if (python.minor >= 6 && python.minor <= 13) {
    EXPECT_EQ(said["absent"], ExpectedAbsentSymbols(python.minor));
  }
  EXPECT_EQ(said["python"], "initialized=1");
  const std::string version = said["python version"];
  EXPECT_EQ(version.rfind("3." + std::to_string(python.minor) + ".", 0), 0u) << version;
  EXPECT_EQ(said["sys.prefix"], python.expectedHome);
  EXPECT_EQ(said["os.__file__"], StandardLibraryOs(python.expectedHome, python.minor));
  EXPECT_EQ(said["operator.mul(6, 7)"], "42");
  EXPECT_EQ(said["True/False"], "1/0");
  EXPECT_EQ(said["float type"], "PyFloat_Type");
  EXPECT_EQ(said["error set"], "ZeroDivisionError");
  const std::string outcome = HasFailure() ? "FAILED" : "loaded, home " + python.expectedHome + ", ran";
  std::printf("CPython %s from %s: %s\n", version.c_str(), python.library.c_str(), outcome.c_str());
  // The test run lists every library it used.
  if (const char* covered = std::getenv("PYTHON_VERSIONS_FILE")) {
    if (FILE* file = std::fopen(covered, "a")) {
      std::fprintf(file, "CPython %s  %s  (loading: %s)\n", version.c_str(), python.library.c_str(), outcome.c_str());
      std::fclose(file);
    }
  }
}

// The dynamic loader dies (SIGBUS) on a library cut short; the plugin
// checks the file first and treats it as one that does not open.
TEST_P(RealLibrary, ATruncatedCopyCountsAsAFileThatDoesNotOpen) {
  const Installation& python = GetParam();
  loading_tests::ScratchFolder folder;
  const std::string copy = folder.putTruncatedCopy(python.library, "lib/" + Basename(python.library));
  const ChildResult result = RunProbe({"choose:" + copy, "found:0", "state", "mapped"});
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, "chosen: this file\nPythonIsFound(0): False\nfound=0 loaded=0 handle=null\nmapped: none\n");
}

INSTANTIATE_TEST_SUITE_P(ThisMachine, RealLibrary, ::testing::ValuesIn(Installations()),
                         [](const ::testing::TestParamInfo<Installation>& info) { return info.param.label; });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealLibrary);

// The loading tests and the interpreter tests (tests/support/python-libraries.sh)
// find the machine's libraries each their own way: both must find the same
// files, or a version would be tested one way only.
std::set<std::string> RealFiles(const std::vector<std::string>& paths) {
  std::set<std::string> files;
  for (const std::string& path : paths) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), std::free);
    files.insert(real ? real.get() : path);
  }
  return files;
}

TEST(RealLibraries, AreTheOnesTheInterpreterTestsUse) {
  std::vector<std::string> loaded;
  for (const Installation& python : Installations()) loaded.push_back(python.library);
  std::vector<std::string> listed;
  std::istringstream lines(Capture("bash " PYTHON_LIBRARIES_SCRIPT));
  for (std::string line; std::getline(lines, line);)
    if (const size_t space = line.find(' '); space != std::string::npos) listed.push_back(line.substr(space + 1));
  EXPECT_EQ(RealFiles(loaded), RealFiles(listed));
  if (loaded.empty()) GTEST_SKIP() << "no CPython library on this machine";
}

}  // namespace
