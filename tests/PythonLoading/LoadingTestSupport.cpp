#include "LoadingTestSupport.h"

#include <elf.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace loading_tests {
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ChildEnvironment(const std::map<std::string, std::string>& extra) {
  static const char* const kRemoved[] = {"PYTHONHOME", "PYTHONPATH", "LD_LIBRARY_PATH", "LD_AUDIT"};
  std::vector<std::string> environment;
  for (char** variable = environ; *variable; ++variable) {
    const std::string entry = *variable;
    const std::string name = entry.substr(0, entry.find('='));
    bool removed = extra.count(name) > 0;
    for (const char* r : kRemoved) removed = removed || name == r;
    if (!removed) environment.push_back(entry);
  }
  for (const auto& [name, value] : extra) environment.push_back(name + "=" + value);
  return environment;
}

const char* StubFileName(Stub stub) {
  switch (stub) {
    case Stub::Complete:
      return "libstubpython_complete.so";
    case Stub::NoInitialize:
      return "libstubpython_no_initialize.so";
    case Stub::NoTrueStruct:
      return "libstubpython_no_true.so";
    case Stub::NoFalseStruct:
      return "libstubpython_no_false.so";
    case Stub::NoHomeFunctions:
      return "libstubpython_no_home_functions.so";
    case Stub::NoDecodeLocale:
      return "libstubpython_no_decode_locale.so";
    case Stub::NoDecodeLocaleNoFalseStruct:
      return "libstubpython_no_decode_locale_no_false.so";
    case Stub::FreeThreaded:
      return "libstubpython_free_threaded.so";
    case Stub::TraceRefs:
      return "libstubpython_trace_refs.so";
  }
  return "";
}

}  // namespace

ChildResult RunProbe(const std::vector<std::string>& commands, const std::map<std::string, std::string>& extra) {
  ScratchFolder outputs;
  const std::string outPath = outputs.path("stdout");
  const std::string errPath = outputs.path("stderr");

  std::vector<std::string> arguments{LOADING_PROBE_PATH};
  arguments.insert(arguments.end(), commands.begin(), commands.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = ChildEnvironment(extra);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = 0;
  const int spawnError = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) throw std::runtime_error(std::string("cannot start the probe: ") + std::strerror(spawnError));

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ChildResult result;
  result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  if (WIFSIGNALED(status)) result.err += "killed by signal " + std::to_string(WTERMSIG(status)) + "\n";
  return result;
}

std::map<std::string, std::string> OnlyPythonIn(const std::string& folder) {
  return {{"LD_LIBRARY_PATH", folder}, {"LD_AUDIT", HIDE_SYSTEM_PYTHON_PATH}};
}

ScratchFolder::ScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/python-loading-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a scratch folder");
  root_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string ScratchFolder::path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

std::string ScratchFolder::putStub(Stub stub, const std::string& relative) const {
  const fs::path target = path(relative);
  fs::create_directories(target.parent_path());
  fs::copy_file(StubFile(stub), target, fs::copy_options::overwrite_existing);
  return target.string();
}

std::string StubFile(Stub stub) { return (fs::path(STUB_LIBRARY_DIR) / StubFileName(stub)).string(); }

void Overwrite(const std::string& file, long offset, const std::string& bytes) {
  std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
  out.seekp(offset);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file);
}

std::string ScratchFolder::putTruncatedCopy(const std::string& source, const std::string& relative) const {
  const std::string image = ReadFile(source);
  Elf64_Ehdr header{};
  if (image.size() < sizeof header) throw std::runtime_error(source + " is no ELF file");
  std::memcpy(&header, image.data(), sizeof header);
  size_t cut = 0;
  size_t lastEnd = 0;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    const size_t at = header.e_phoff + i * sizeof segment;
    if (at + sizeof segment > image.size()) throw std::runtime_error(source + " has no complete program headers");
    std::memcpy(&segment, image.data() + at, sizeof segment);
    if (segment.p_type != PT_LOAD || segment.p_offset + segment.p_filesz <= lastEnd) continue;
    lastEnd = segment.p_offset + segment.p_filesz;
    cut = segment.p_offset + segment.p_filesz / 2;
  }
  if (cut == 0) throw std::runtime_error(source + " has no loadable segment");
  const fs::path target = path(relative);
  fs::create_directories(target.parent_path());
  std::ofstream(target.string(), std::ios::binary).write(image.data(), static_cast<std::streamsize>(cut));
  return target.string();
}

std::string ScratchFolder::touch(const std::string& relative) const {
  const fs::path target = path(relative);
  fs::create_directories(target.parent_path());
  std::ofstream(target.string()).flush();
  return target.string();
}

}  // namespace loading_tests
