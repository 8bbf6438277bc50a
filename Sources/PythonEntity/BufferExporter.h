// A Python object of the plugin's own type that exports host memory through
// the buffer protocol: a one-dimensional array of items of one struct format,
// read-write. Its memory is either a copy that it owns or the memory of a
// MemoryBlock on which it holds a lock until Python frees it (the last large
// copy freed is kept for the next copy that fits it): every view and
// array made from it (a memoryview, numpy.frombuffer) keeps it alive, so the
// block outlives the last of them.
#pragma once

#include <cstdint>

#include "PythonLibrary/PythonObjects.h"
#include "REALplugin.h"

struct ExportedItems {
  int64_t length;      // bytes, a multiple of itemSize
  int64_t itemSize;    // bytes of one item of the format, at least 1
  PyObjectRef format;  // bytes holding the struct format; borrowed, the exporter takes its own reference
};

// A new exporter of a copy of `length` bytes at `bytes`; null with Python's
// error set when memory or Python refuses.
PyObjectRef NewCopyExporter(const void* bytes, const ExportedItems& items);
// A new exporter of the block's own memory, which stays valid while the
// block lives and keeps its size; the exporter locks the block. Null with
// Python's error set when Python refuses.
PyObjectRef NewBlockExporter(REALobjectStruct* block, void* memory, const ExportedItems& items);
