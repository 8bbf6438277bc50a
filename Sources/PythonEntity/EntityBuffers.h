// Python3Entity's members for arrays of bytes: what an object that exports
// the buffer protocol holds (size, format, shape), copies of it into a
// MemoryBlock, a MemoryBlock over its own memory, and memoryviews of a
// MemoryBlock, copied or shared.
#pragma once

#include <vector>

#include "PythonValues/PythonWrappers.h"

// Python3Entity's own data block.
struct EntityBufferData {
  // Owned reference to a memoryview of the held object, through which the
  // entity keeps the object's buffer exported for the MemoryBlocks that
  // BufferView returned; null until the first BufferView that succeeds.
  ReferenceField view;
};

// Gives back the buffer a BufferView kept.
void EntityBuffersDestructor(REALobjectStruct* instance);
// Whether the wrapper keeps a view that its destructor must release.
bool EntityHoldsBufferView(REALobjectStruct* instance) noexcept;

// The members, in the order of the class's tables.
std::vector<REALproperty> EntityBufferProperties();
std::vector<REALmethodDefinition> EntityBufferMethods();
std::vector<REALmethodDefinition> EntityBufferSharedMethods();
