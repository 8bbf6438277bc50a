// The module python3task, which the plugin gives the Python code of every
// start: progress(fraction, message="") and cancelled() for a task's code.
#pragma once

// At every start, with the interpreter lock: the module goes into sys.modules.
void InstallTaskModule() noexcept;
