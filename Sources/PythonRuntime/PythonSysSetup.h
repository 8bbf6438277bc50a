// What an embedded interpreter's sys lacks for Python code that starts
// Python (subprocess, multiprocessing): an executable and an argv.
#pragma once

// Right after the plugin started the interpreter: sys.executable (and
// sys._base_executable where it exists) become the loaded library's own
// interpreter when it has one (a virtual environment's interpreter is Python's choice), and sys.argv is [''] unless
// Python set a non-empty one.
void CompleteSysForChildProcesses() noexcept;
