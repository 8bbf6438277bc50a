// Python started as a virtual environment's own interpreter, and what the
// loaded library says of itself.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "ApiTestSupport.h"

namespace api_tests {
namespace {

namespace fs = std::filesystem;

std::string LibraryUnderTest() {
  const char* library = std::getenv("PYTHON3_LIBRARY");
  return library ? library : "";
}

// "3.X" from the library's file name.
std::string VersionOfLibraryFile(const std::string& library) {
  int minor = -1;
  if (std::sscanf(fs::path(library).filename().c_str(), "libpython3.%d", &minor) != 1) return "";
  return "3." + std::to_string(minor);
}

// The interpreter program that goes with the library under test: the
// prefix's bin/python3.X, the prefix being the library's folder's parent
// (pyenv's <prefix>/lib) or the one above (Debian's <prefix>/lib/<multiarch>).
std::string BaseInterpreter() {
  const std::string library = LibraryUnderTest();
  if (library.empty()) return "";
  const std::string version = VersionOfLibraryFile(library);
  const fs::path folder = fs::canonical(library).parent_path();
  for (const fs::path& prefix : {folder.parent_path(), folder.parent_path().parent_path()}) {
    const fs::path candidate = prefix / "bin" / ("python" + version);
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

void WriteFile(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << content;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

class VirtualEnvironments : public FreshProcess {
 protected:
  void SetUp() override {
    FreshProcess::SetUp();
    if (IsSkipped()) return;
    base_ = BaseInterpreter();
    if (base_.empty()) GTEST_SKIP() << "no interpreter program beside " << LibraryUnderTest();
    char pattern[] = "/tmp/plugin-venv-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override {
    python_.Disconnect();
    if (!scratch_.empty()) fs::remove_all(scratch_);
  }

  // A venv made by the base Python, with a small package copied into its
  // site-packages and a .pth file adding a folder of its own.
  fs::path MakeEnvironment(const std::string& name) {
    const fs::path folder = scratch_ / name;
    const std::string command = base_ + " -m venv --without-pip " + folder.string() + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    for (const fs::directory_entry& lib : fs::directory_iterator(folder / "lib")) {
      const fs::path sitePackages = lib.path() / "site-packages";
      WriteFile(sitePackages / "venvprobe" / "__init__.py", "WHERE = 'installed into the venv'\n");
      WriteFile(sitePackages / "extra.pth", (folder / "extra").string() + "\n");
      WriteFile(folder / "extra" / "pthprobe.py", "WHERE = 'named by a .pth file'\n");
      sitePackages_ = fs::canonical(sitePackages);
    }
    return fs::canonical(folder);
  }

  bool Choose(const fs::path& folder) {
    return Bool(Engine("SetVirtualEnvironment", {host().newFolderItem(folder.string())}));
  }

  void Start() {
    InitPython();
    python_.Connect();
    python_.Run("import os, subprocess, sys");
  }

  std::string base_;
  fs::path scratch_;
  fs::path sitePackages_;
  PythonHelper python_;
};

TEST_F(VirtualEnvironments, PythonStartsAsTheEnvironmentsOwnInterpreter) {
  const fs::path venv = MakeEnvironment("venv");
  ASSERT_TRUE(Choose(venv));
  Start();
  EXPECT_EQ(python_.TextOf("os.path.realpath(sys.prefix)"), venv.string());
  EXPECT_EQ(python_.TextOf("os.path.realpath(sys.exec_prefix)"), venv.string());
  EXPECT_EQ(python_.TextOf("os.path.realpath(sys.base_prefix)"),
            fs::canonical(base_).parent_path().parent_path().string());
  EXPECT_EQ(python_.TextOf("sys.executable"), (venv / "bin" / "python3").string());
  EXPECT_EQ(python_.TextOf("__import__('venvprobe').WHERE"), "installed into the venv");
  EXPECT_EQ(python_.TextOf("__import__('pthprobe').WHERE"), "named by a .pth file");
  python_.Run("site_packages = [p for p in sys.path if p.endswith(('site-packages', 'dist-packages'))]");
  EXPECT_EQ(python_.TextOf("repr([os.path.realpath(p) for p in site_packages])"), "['" + sitePackages_.string() + "']")
      << "include-system-site-packages = false keeps the base's packages out";
  // Programs that Python starts run in the environment too.
  python_.Run(
      "child = subprocess.run([sys.executable, '-c', 'import sys, venvprobe; print(sys.prefix)'],"
      " stdout=subprocess.PIPE, universal_newlines=True)");
  EXPECT_EQ(python_.TextOf("os.path.realpath(child.stdout.strip())"), venv.string());
}

TEST_F(VirtualEnvironments, TheBasesPackagesComeAfterTheEnvironmentsWhenItAsksForThem) {
  const fs::path venv = MakeEnvironment("venv");
  std::string configuration;
  {
    std::ifstream in(venv / "pyvenv.cfg");
    configuration.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string setting = "include-system-site-packages = false";
  ASSERT_NE(configuration.find(setting), std::string::npos);
  configuration.replace(configuration.find(setting), setting.size(), "include-system-site-packages = true");
  WriteFile(venv / "pyvenv.cfg", configuration);
  ASSERT_TRUE(Choose(venv));
  Start();
  python_.Run(
      "site_packages = [os.path.realpath(p) for p in sys.path if p.endswith(('site-packages', 'dist-packages'))]");
  EXPECT_EQ(python_.TextOf("site_packages[0]"), sitePackages_.string());
  EXPECT_GE(python_.IntegerOf("len(site_packages)"), 2) << python_.TextOf("repr(sys.path)");
}

TEST_F(VirtualEnvironments, FoldersThatAreNoUsableEnvironmentChangeNothing) {
  EXPECT_EQ(Text(Engine("LibraryPath")), "");
  EXPECT_EQ(Text(Engine("Version")), "");
  const fs::path plain = scratch_ / "plain";
  fs::create_directories(plain);
  const fs::path withoutHome = scratch_ / "without-home";
  WriteFile(withoutHome / "pyvenv.cfg", "version = 3.11.2\n");
  // A venv whose base has no library of its version, or one that does not load.
  const fs::path orphan = MakeEnvironment("orphan");
  WriteFile(orphan / "pyvenv.cfg", "home = " + (scratch_ / "nowhere" / "bin").string() + "\nversion = 3.11.2\n");
  const fs::path fakeBase = MakeEnvironment("fake-base");
  WriteFile(scratch_ / "fake" / "lib" / ("libpython" + VersionOfLibraryFile(LibraryUnderTest()) + ".so"), "no library");
  WriteFile(fakeBase / "pyvenv.cfg", "home = " + (scratch_ / "fake" / "bin").string() +
                                         "\nversion = " + VersionOfLibraryFile(LibraryUnderTest()) + ".0\n");

  EXPECT_FALSE(Bool(Engine("SetVirtualEnvironment", {Nil{}})));
  for (const fs::path& folder : {plain, withoutHome, orphan, fakeBase, orphan / "pyvenv.cfg"})
    EXPECT_FALSE(Choose(folder)) << folder;
  EXPECT_FALSE(PythonLibraryMapped()) << "a refused environment loads nothing";
  EXPECT_EQ(Text(Engine("Version")), "");

  Start();
  EXPECT_NE(python_.TextOf("os.path.realpath(sys.prefix)"), orphan.string());
  EXPECT_TRUE(SameFile(Text(Engine("LibraryPath")), LibraryUnderTest())) << Text(Engine("LibraryPath"));
  EXPECT_EQ(Text(Engine("Version")), python_.TextOf("__import__('platform').python_version()"));
}

// Python reads the keys in any case as it starts, and so are they read here.
TEST_F(VirtualEnvironments, KeysOfAnyCaseAreRead) {
  const fs::path venv = MakeEnvironment("venv");
  const std::string version = VersionOfLibraryFile(LibraryUnderTest());
  WriteFile(venv / "pyvenv.cfg", "Home = " + fs::path(base_).parent_path().string() +
                                     "\nInclude-System-Site-Packages = false\nVERSION = " + version + ".0\n");
  ASSERT_TRUE(Choose(venv));
  Start();
  EXPECT_EQ(python_.TextOf("os.path.realpath(sys.prefix)"), venv.string());
  EXPECT_EQ(python_.TextOf("__import__('venvprobe').WHERE"), "installed into the venv");
}

// A pyvenv.cfg that Python cannot read ends the process as Python starts:
// each is refused, nothing loaded. Taken, it would end the child process
// that tries it; the process goes on with the library it would load anyway.
TEST_F(VirtualEnvironments, AConfigurationPythonCannotReadIsRefused) {
  const fs::path venv = MakeEnvironment("venv");
  std::string configuration;
  {
    std::ifstream in(venv / "pyvenv.cfg", std::ios::binary);
    configuration.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string home = fs::path(base_).parent_path().string();
  const std::string homeLine = "home = " + home + "\n";
  ASSERT_NE(configuration.find(homeLine), std::string::npos) << configuration;
  std::string longHome = configuration;
  longHome.replace(longHome.find(homeLine), homeLine.size(), "home = " + home + std::string(70000, '/') + "\n");
  const std::vector<std::pair<std::string, std::string>> unreadable = {
      {"32 KB or more", configuration + "# " + std::string(40 * 1024, 'x') + "\n"},
      {"not UTF-8", configuration + "# caf\xE9\n"},
      {"a 70,000-character home", longHome},
  };
  for (const auto& [what, content] : unreadable) {
    WriteFile(venv / "pyvenv.cfg", content);
    EXPECT_EXIT(
        {
          const bool chosen = Choose(venv);
          if (chosen) InitPython();
          std::_Exit(chosen ? 3 : PythonLibraryMapped() ? 4 : 0);
        },
        ::testing::ExitedWithCode(0), "")
        << what;
  }
  // Python looks for the file beside its interpreter first.
  WriteFile(venv / "pyvenv.cfg", configuration);
  WriteFile(venv / "bin" / "pyvenv.cfg", "home = " + home + "\n# caf\xE9\n");
  EXPECT_EXIT(
      {
        const bool chosen = Choose(venv);
        if (chosen) InitPython();
        std::_Exit(chosen ? 3 : PythonLibraryMapped() ? 4 : 0);
      },
      ::testing::ExitedWithCode(0), "")
      << "not UTF-8, beside the interpreter";
  if (HasFailure()) return;  // an environment taken here would end this process

  EXPECT_FALSE(Choose(venv));
  EXPECT_FALSE(PythonLibraryMapped());
  Start();
  EXPECT_NE(python_.TextOf("os.path.realpath(sys.prefix)"), venv.string());
  EXPECT_EQ(python_.IntegerOf("6 * 7"), 42);
}

// Between a Finalize and the next Init the library stays loaded: an
// environment of that very library is taken, one of another is refused.
TEST_F(VirtualEnvironments, AfterARestartOnlyAnEnvironmentOfTheLoadedLibraryIsTaken) {
  const fs::path venv = MakeEnvironment("venv");
  Start();
  EXPECT_FALSE(Choose(venv)) << "Python runs";
  python_.Disconnect();
  FinalizePython();

  const std::string version = VersionOfLibraryFile(LibraryUnderTest());
  const fs::path other = MakeEnvironment("other-base");
  WriteFile(scratch_ / "copy" / "lib" / ("libpython" + version + ".so"), "another file of the same version");
  WriteFile(other / "pyvenv.cfg", "home = " + (scratch_ / "copy" / "bin").string() + "\nversion = " + version + ".0\n");
  EXPECT_FALSE(Choose(other));

  ASSERT_TRUE(Choose(venv));
  Start();
  EXPECT_EQ(python_.TextOf("os.path.realpath(sys.prefix)"), venv.string());
  EXPECT_EQ(python_.TextOf("__import__('venvprobe').WHERE"), "installed into the venv");
}

}  // namespace
}  // namespace api_tests
