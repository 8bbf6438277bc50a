#include "EntryPoints/EntryPoints.h"

#include "HostGlue.h"

REALproc EMemoryBlockConstructor = nullptr;
REALproc EMemoryBlock_OperatorConvert = nullptr;

void LoadEntryPoints() {
  EMemoryBlockConstructor = nullptr;
  EMemoryBlock_OperatorConvert = nullptr;
}
