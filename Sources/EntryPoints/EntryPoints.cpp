// The cached MemoryBlock methods, empty at every start of the plugin until a block needs them.

#include "EntryPoints/EntryPoints.h"

#include "HostGlue.h"

REALproc EMemoryBlockConstructor = nullptr;
REALproc EMemoryBlock_OperatorConvert = nullptr;

void LoadEntryPoints() {
  EMemoryBlockConstructor = nullptr;
  EMemoryBlock_OperatorConvert = nullptr;
}
