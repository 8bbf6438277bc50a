#pragma once

#include <cstdint>

// Raises a Python3Exception with the message and code in the calling Xojo
// code once the current plugin function returns; callers return right after.
void ThrowPythonException(const char* message, int64_t errorCode);
