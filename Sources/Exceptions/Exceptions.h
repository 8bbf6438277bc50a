#pragma once

#include <cstdint>

#include "REALplugin.h"

// Raises a Python3Exception with the message and code in the calling Xojo
// code once the current plugin function returns; callers return right after.
void ThrowPythonException(const char* message, int64_t errorCode);

// A new MemoryBlock of `size` bytes, which the caller owns; null when the
// host cannot make one.
REALobjectStruct* CreateMemoryBlock(int64_t size);
// The address of a MemoryBlock's memory; null when the host does not tell.
void* MemoryBlockAddress(REALobjectStruct* memoryBlock);
