// Raising Python3Exception in Xojo code, and making a MemoryBlock and finding its memory.

#pragma once

#include <cstdint>

#include "REALplugin.h"

// The codes of the Python3Exceptions the plugin raises.
enum class PythonExceptionCode : int64_t {
#define PYTHON_EXCEPTION_CODE(Name, code, message) Name = code,
#include "Exceptions/PythonExceptionCodes.def"
};

// Raises a Python3Exception with the code and its message in the calling
// Xojo code once the current plugin function returns; callers return right
// after. A message of its own says more than the code's.
void ThrowPythonException(PythonExceptionCode code);
void ThrowPythonException(PythonExceptionCode code, const char* message);

// A new MemoryBlock of `size` bytes, which the caller owns; null when the
// host cannot make one.
REALobjectStruct* CreateMemoryBlock(int64_t size);
// The address of a MemoryBlock's memory; null when the host does not tell.
void* MemoryBlockAddress(REALobjectStruct* memoryBlock);
