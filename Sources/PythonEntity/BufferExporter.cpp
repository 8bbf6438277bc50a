// The exporter's type, readied once per interpreter, and its instances: copies in memory of their own
// (the last large one kept for the next) or a locked MemoryBlock's memory.

#include "PythonEntity/BufferExporter.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "HostHandles.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/VisibleState.h"
#include "PythonValues/PythonValues.h"

namespace {

// The memory of a copy: a header that tells its capacity, then the bytes.
struct alignas(16) CopyMemory {
  size_t capacity;  // bytes after the header
};

CopyMemory* HeaderOf(void* bytes) { return static_cast<CopyMemory*>(bytes) - 1; }

// The last large copy freed, kept for the next copy that fits it: fresh
// memory of a megabyte and more comes from the kernel a page at a time,
// which costs more than the copy itself, while an application handing over
// frames or signals copies blocks of the same size again and again. At most
// one is kept, and none above a quarter gigabyte; it goes when a copy does
// not fit it. Exchanged atomically:
// Python frees copies on whichever thread drops the last view.
constexpr size_t kKeptCopyMinimum = size_t{1} << 20;
constexpr size_t kKeptCopyMaximum = size_t{1} << 28;
std::atomic<CopyMemory*> gKeptCopy{nullptr};

void* AllocateCopy(size_t length) {
  if (CopyMemory* kept = gKeptCopy.exchange(nullptr, std::memory_order_acquire)) {
    if (kept->capacity >= length && length >= kept->capacity / 2) return kept + 1;
    std::free(kept);
  }
  auto* memory = static_cast<CopyMemory*>(std::malloc(sizeof(CopyMemory) + length));
  if (!memory) return nullptr;
  memory->capacity = length;
  return memory + 1;
}

void FreeCopy(void* bytes) {
  if (!bytes) return;
  CopyMemory* memory = HeaderOf(bytes);
  CopyMemory* empty = nullptr;
  if (memory->capacity < kKeptCopyMinimum || memory->capacity > kKeptCopyMaximum ||
      !gKeptCopy.compare_exchange_strong(empty, memory, std::memory_order_release, std::memory_order_relaxed))
    std::free(memory);
}

// An instance. Python's allocation zero-fills it: an empty block field.
struct Exporter {
  PyObjectHeader header;
  void* memory;        // what views read and write; a copy of its own (AllocateCopy) when `block` is empty
  int64_t length;      // bytes
  int64_t itemSize;    // the views' itemsize and stride
  int64_t itemCount;   // the views' one extent: length / itemSize
  PyObjectRef format;  // bytes holding the struct format; owned
  ObjectField block;   // the MemoryBlock whose memory it is, locked; empty for a copy
};

Exporter* ExporterOf(PyObjectRef self) { return reinterpret_cast<Exporter*>(self); }

// Python's rule for exporters: a view owns a reference to its exporter; the
// format, shape and strides are given only to a consumer that asks for them,
// whose absence means unsigned bytes (as array.array answers).
int GetBuffer(PyObjectRef self, Py_buffer* view, int flags) noexcept {
  if (!view) {
    RaisePythonError(e__PyExc_BufferError, "a buffer request without a view");
    return -1;
  }
  Exporter* exporter = ExporterOf(self);
  view->buf = exporter->memory;
  view->obj = NewReference(self);
  view->len = exporter->length;
  view->itemsize = exporter->itemSize;
  view->readonly = 0;
  view->ndim = 1;
  view->format = (flags & PyBUF_FORMAT) ? EPyBytes_AsString(exporter->format) : nullptr;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? &exporter->itemCount : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &exporter->itemSize : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

PyBufferProcs gExporterBufferProcs = {&GetBuffer, nullptr};

// Runs on whichever thread drops the last view: the block is unlocked on the
// host's thread (ReleaseHostObjectForPython), after the memory is gone from Python.
void Dealloc(PyObjectRef self) noexcept {
  Exporter* exporter = ExporterOf(self);
  REALobjectStruct* block = exporter->block.HandOver();
  if (!block) FreeCopy(exporter->memory);
  if (exporter->format) ReleasePythonRef(exporter->format);
  TypeOf(self)->tp_free(self);
  ReleaseHostObjectForPython(block);
}

// The type readied for the running interpreter and the interpreter it was
// readied for. Each interpreter gets a type object of its own, never freed:
// exporters that outlive Finalize keep pointing to theirs.
PyTypeObjectLayout* gExporterType = nullptr;
uint64_t gExporterTypeInterpreter = 0;

PyTypeObjectLayout* ReadiedExporterType() noexcept {
  if (gExporterType && gExporterTypeInterpreter == CurrentInterpreter()) return gExporterType;
  if (!HasPythonEntries(EPyType_Ready, EPyBytes_AsString)) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot make types");
    return nullptr;
  }
  auto* type = static_cast<PyTypeObjectLayout*>(AllocateStaticPythonObject(PythonTypeObjectSize()));
  if (!type) {
    RaisePythonError(e__PyExc_MemoryError, "no memory for a type object");
    return nullptr;
  }
  type->ob_base.ob_refcnt = 1;
  type->tp_name = "Python3Plugin.MemoryBuffer";
  type->tp_basicsize = sizeof(Exporter);
  type->tp_dealloc = &Dealloc;
  type->tp_as_buffer = &gExporterBufferProcs;
  type->tp_flags = Py_TPFLAGS_DEFAULT;
  type->tp_doc = "Memory of the Xojo application, or a copy of it, exported as a one-dimensional buffer.";
  // No tp_new: Python code cannot make one. A type the library refused stays
  // allocated, as every type object does.
  if (EPyType_Ready(reinterpret_cast<PyTypeObjectHeader*>(type)) < 0) return nullptr;
  gExporterType = type;
  gExporterTypeInterpreter = CurrentInterpreter();
  return type;
}

PyObjectRef NewExporter(const ExportedItems& items) {
  if (!items.format || items.itemSize < 1 || items.length < 0 || items.length % items.itemSize != 0) {
    RaisePythonError(e__PyExc_SystemError, "an exported buffer without whole items");
    return nullptr;
  }
  PyTypeObjectLayout* type = ReadiedExporterType();
  if (!type) return nullptr;
  auto allocate = reinterpret_cast<PyAllocFunction>(type->tp_alloc);
  PyObjectRef self = allocate ? allocate(type, 0) : nullptr;
  if (!self) return nullptr;
  Exporter* exporter = ExporterOf(self);
  exporter->length = items.length;
  exporter->itemSize = items.itemSize;
  exporter->itemCount = items.length / items.itemSize;
  exporter->format = NewReference(items.format);
  return self;
}

}  // namespace

PyObjectRef NewCopyExporter(const void* bytes, const ExportedItems& items) {
  PyObjectRef self = NewExporter(items);
  if (!self) return nullptr;
  const size_t length = static_cast<size_t>(items.length);
  void* copy = AllocateCopy(length);
  if (!copy) {
    ReleasePythonRef(self);
    RaisePythonError(e__PyExc_MemoryError, "no memory for a copy of ", std::to_string(length), " bytes");
    return nullptr;
  }
  if (length > 0) std::memcpy(copy, bytes, length);
  ExporterOf(self)->memory = copy;
  return self;
}

PyObjectRef NewBlockExporter(REALobjectStruct* block, void* memory, const ExportedItems& items) {
  PyObjectRef self = NewExporter(items);
  if (!self) return nullptr;
  ExporterOf(self)->memory = memory;
  ExporterOf(self)->block.Borrow(block);
  return self;
}
