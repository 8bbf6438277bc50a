// What the loading tests share: running the probe program in a child process
// (a library once loaded stays loaded, so every case gets its own process),
// and scratch folders laid out with stub Python libraries.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace loading_tests {

struct ChildResult {
  int exitStatus = -1;  // the exit code, or -1 when the child did not exit normally
  std::string out;      // everything written on standard output
  std::string err;
};

// Runs the probe program with `commands` (see LoadingProbe.cpp) in an
// environment without PYTHONHOME, PYTHONPATH and LD_LIBRARY_PATH, plus `extra`.
ChildResult RunProbe(const std::vector<std::string>& commands, const std::map<std::string, std::string>& extra = {});

// The environment of a machine whose only Python libraries are those in
// `folder`: searched through LD_LIBRARY_PATH, with every other folder hidden
// from the dynamic loader.
std::map<std::string, std::string> OnlyPythonIn(const std::string& folder);

// Stub library variants (see StubPython.c).
enum class Stub {
  Complete,
  NoInitialize,
  NoTrueStruct,
  NoFalseStruct,
  NoHomeFunctions,
  NoDecodeLocale,
  NoDecodeLocaleNoFalseStruct,
  FreeThreaded,
  TraceRefs,
};
// The file of a stub variant.
std::string StubFile(Stub stub);

// Writes `bytes` over the file at `offset`.
void Overwrite(const std::string& file, long offset, const std::string& bytes);

// A temporary folder, removed with everything in it on destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string path(const std::string& relative = "") const;
  // Copies a stub variant to `relative` (folders made as needed); returns its path.
  std::string putStub(Stub stub, const std::string& relative) const;
  // Writes an empty file (e.g. a standard library's os.py); returns its path.
  std::string touch(const std::string& relative) const;
  // Copies the shared object `source` to `relative` cut short halfway into
  // its last loadable segment, where the dynamic loader reads past the end
  // of the file; returns its path.
  std::string putTruncatedCopy(const std::string& source, const std::string& relative) const;

 private:
  std::string root_;
};

}  // namespace loading_tests
