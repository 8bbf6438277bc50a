// Making a MemoryBlock and finding its memory through MemoryBlock's own host methods; declared in
// Exceptions.h.

#include "EntryPoints/EntryPoints.h"
#include "Exceptions/Exceptions.h"
#include "HostHandles.h"

namespace {

REALclassRefStruct* MemoryBlockRef = nullptr;  // the host's class; valid for the process

}  // namespace

// The host methods are looked up on the first block that needs them and
// serve every later one.
REALobjectStruct* CreateMemoryBlock(int64_t size) {
  if (!MemoryBlockRef) MemoryBlockRef = REALGetClassRef("MemoryBlock");
  ScopedObject block = ScopedObject::Adopt(REALnewInstanceWithClass(MemoryBlockRef));
  if (!block.Get()) return nullptr;
  if (!EMemoryBlockConstructor)
    EMemoryBlockConstructor = REALLoadObjectMethod(block.Get(), "Constructor(bytes as Integer)");
  if (!EMemoryBlockConstructor) return nullptr;
  reinterpret_cast<void (*)(REALobjectStruct*, int64_t)>(EMemoryBlockConstructor)(block.Get(), size);
  return block.HandOver();
}

void* MemoryBlockAddress(REALobjectStruct* memoryBlock) {
  if (!memoryBlock) return nullptr;
  if (!EMemoryBlock_OperatorConvert)
    EMemoryBlock_OperatorConvert = REALLoadObjectMethod(memoryBlock, "Operator_Convert() As Ptr");
  if (!EMemoryBlock_OperatorConvert) return nullptr;
  return reinterpret_cast<void* (*)(REALobjectStruct*)>(EMemoryBlock_OperatorConvert)(memoryBlock);
}
