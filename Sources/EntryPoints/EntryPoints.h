// Host methods the plugin finds by their declaration on a host object, kept for the process once found.

#pragma once

#include "REALplugin.h"

// Host methods of MemoryBlock, looked up on the first block that needs them.
extern REALproc EMemoryBlockConstructor;       // "Constructor(bytes as Integer)"
extern REALproc EMemoryBlock_OperatorConvert;  // "Operator_Convert() As Ptr"

// Clears the cached host methods; called once at plugin start.
void LoadEntryPoints();
