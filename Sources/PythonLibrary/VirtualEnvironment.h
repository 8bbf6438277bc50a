// A Python virtual environment (a folder made by `python -m venv`), read
// from its pyvenv.cfg before Python starts. Python itself finds the
// environment from its interpreter's path: starting with that path as the
// program name gives the embedded interpreter the environment's prefix,
// site-packages, .pth files and executable, as the environment's own python has.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct VirtualEnvironment {
  std::string folder;       // as given, without a trailing slash
  std::string interpreter;  // <folder>/bin/python3 or <folder>/bin/python
  int minor = -1;           // of the base Python (3.minor)
  // The base Python's library files that may be loaded, most likely first.
  std::vector<std::string> baseLibraries;
};

// The environment in `folder`, or nothing when the folder holds no
// pyvenv.cfg naming a base `home`, no interpreter, or no Python 3 version,
// or a pyvenv.cfg that Python could not read as it starts (32 KB or more,
// not UTF-8, a home longer than a path), which would end the process.
std::optional<VirtualEnvironment> ReadVirtualEnvironment(const std::string& folder);

// The environment chosen by Python3Engine.SetVirtualEnvironment for the
// rest of the process; null when none.
const VirtualEnvironment* ChosenVirtualEnvironment() noexcept;

// Chooses `environment`, loading its base library unless a library is
// loaded already, in which case that one must be a base library of the same
// version. False, and nothing changed, otherwise.
bool ChooseVirtualEnvironment(VirtualEnvironment environment) noexcept;
