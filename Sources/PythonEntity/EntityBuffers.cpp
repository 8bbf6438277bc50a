// The members of EntityBuffers.h: reading an object's buffer, copying it into a MemoryBlock or viewing it
// in place, and memoryviews made of a MemoryBlock.

#include "PythonEntity/EntityBuffers.h"

#include <cstring>
#include <string>

#include "Exceptions/Exceptions.h"
#include "HostHandles.h"
#include "PythonEntity/BufferExporter.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonValues.h"
#include "Registration/ClassRecords.h"

namespace {

EntityBufferData* EntityBufferDataOf(REALobjectStruct* instance) {
  return static_cast<EntityBufferData*>(REALGetClassData(instance, &PythonEntityClass));
}

// An object's buffer for the length of one member call. Getting and giving
// back a buffer can run Python code (a class's __buffer__ from 3.12 on): the
// caller holds the object, and whatever it uses afterwards.
class AcquiredBuffer {
 public:
  AcquiredBuffer(PyObjectRef object, int flags) noexcept {
    if (!object) return;
    if (!HasPythonEntries(EPyObject_GetBuffer, EPyBuffer_Release)) {
      RaisePythonError(e__PyExc_SystemError, "the Python library lacks the buffer protocol");
      return;
    }
    acquired_ = EPyObject_GetBuffer(object, &view_, flags) == 0;
  }
  ~AcquiredBuffer() {
    if (acquired_) EPyBuffer_Release(&view_);
  }
  AcquiredBuffer(const AcquiredBuffer&) = delete;
  AcquiredBuffer& operator=(const AcquiredBuffer&) = delete;
  explicit operator bool() const noexcept { return acquired_; }
  const Py_buffer& View() const noexcept { return view_; }

 private:
  Py_buffer view_{};
  bool acquired_ = false;
};

REALstringStruct* HostText(const std::string& text) {
  return HostStringOfBytes(text.data(), static_cast<int64_t>(text.size()), kREALTextEncodingUTF8);
}

// ---------------------------------------------------------------------------
// Reading an exporter. Any layout is accepted (strided, indirect, read-only).

int64_t BufferSize(REALobjectStruct* self, intptr_t) {
  ScopedReference object = ScopedEntityObject(self);
  AcquiredBuffer buffer(object.Get(), PyBUF_FULL_RO);
  return buffer ? buffer.View().len : -1;
}

REALstringStruct* BufferFormat(REALobjectStruct* self, intptr_t) {
  ScopedReference object = ScopedEntityObject(self);
  AcquiredBuffer buffer(object.Get(), PyBUF_FULL_RO);
  if (!buffer) return nullptr;
  return HostText(buffer.View().format ? buffer.View().format : "B");  // no format means unsigned bytes
}

// The extents joined by commas ("480,640,3"); empty for a scalar (no dimension).
REALstringStruct* BufferShape(REALobjectStruct* self, intptr_t) {
  ScopedReference object = ScopedEntityObject(self);
  AcquiredBuffer buffer(object.Get(), PyBUF_FULL_RO);
  if (!buffer) return nullptr;
  const Py_buffer& view = buffer.View();
  std::string shape;
  if (!view.shape) {
    if (view.ndim > 0) shape = std::to_string(view.len / (view.itemsize > 0 ? view.itemsize : 1));
  } else {
    for (int dimension = 0; dimension < view.ndim; ++dimension)
      shape += (dimension ? "," : "") + std::to_string(view.shape[dimension]);
  }
  return HostText(shape);
}

// A MemoryBlock's size and memory as the host tells them; a size of -1 is
// unknown (a MemoryBlock made from a Ptr).
struct BlockMemory {
  int64_t size;
  void* address;
};
BlockMemory MemoryOf(REALobjectStruct* block) { return {REALMemoryBlockGetSize(block), MemoryBlockAddress(block)}; }

bool RefuseNilBlock(REALobjectStruct* block, const char* member) {
  if (block) return false;
  RaisePythonError(e__PyExc_TypeError, member, ": a MemoryBlock is required, not Nil");
  return true;
}

// The items in C order: one copy when they lie that way already.
bool CopyInCOrder(void* destination, const Py_buffer& view) {
  if (EPyBuffer_IsContiguous && EPyBuffer_IsContiguous(&view, 'C')) {
    std::memcpy(destination, view.buf, static_cast<size_t>(view.len));
    return true;
  }
  if (!EPyBuffer_ToContiguous) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot copy a buffer");
    return false;
  }
  return EPyBuffer_ToContiguous(destination, &view, view.len, 'C') == 0;
}

// Items that are Python object pointers ("O", "<O", "2O", "T{O:x:}", numpy's
// dtype=object): copying them hands out addresses without references, and
// writing over them corrupts reference counts. Field names (":name:") may
// hold any letter and are skipped.
bool HoldsObjectPointers(const char* format) {
  for (const char* at = format; at && *at; ++at) {
    if (*at == ':') {
      const char* end = std::strchr(at + 1, ':');
      if (!end) return false;
      at = end;
    } else if (*at == 'O') {
      return true;
    }
  }
  return false;
}

bool RefuseObjectPointers(const Py_buffer& view, const char* member) {
  if (!HoldsObjectPointers(view.format)) return false;
  RaisePythonError(e__PyExc_TypeError, member, ": the buffer's items are Python objects (format \"",
                   std::string(view.format), "\"), not data");
  return true;
}

// Nothing is written unless every byte fits.
int64_t CopyBuffer(REALobjectStruct* self, REALobjectStruct* into) {
  // Getting the buffer may run Python code that drops the last host reference to the block.
  const ScopedObject keptBlock = ScopedObject::Borrow(into);
  ScopedReference object = ScopedEntityObject(self);
  if (!object || RefuseNilBlock(into, "CopyBuffer")) return -1;
  AcquiredBuffer buffer(object.Get(), PyBUF_FULL_RO);
  if (!buffer) return -1;
  const Py_buffer& view = buffer.View();
  if (RefuseObjectPointers(view, "CopyBuffer")) return -1;
  const BlockMemory target = MemoryOf(into);
  if (target.size < 0) {
    RaisePythonError(e__PyExc_ValueError, "CopyBuffer: the MemoryBlock's size is unknown (a MemoryBlock of a Ptr)");
    return -1;
  }
  if (view.len > target.size) {
    RaisePythonError(e__PyExc_ValueError, "CopyBuffer: the buffer holds ", std::to_string(view.len),
                     " bytes, the MemoryBlock ", std::to_string(target.size));
    return -1;
  }
  if (view.len == 0) return 0;
  if (!target.address) {
    RaisePythonError(e__PyExc_SystemError, "CopyBuffer: the host tells no address of the MemoryBlock");
    return -1;
  }
  return CopyInCOrder(target.address, view) ? view.len : -1;
}

// The entity keeps a memoryview of its object from the first BufferView that
// succeeds until it is destroyed (or Python stops): the export it holds keeps
// the memory where it is (a bytearray or an array cannot be resized while it
// is exported), whatever Python code does with the object meanwhile.
REALobjectStruct* BufferView(REALobjectStruct* self) {
  // Making the view may run Python code that drops the last host reference to the entity.
  const ScopedObject keptSelf = ScopedObject::Borrow(self);
  ScopedReference object = ScopedEntityObject(self);
  if (!object) return nullptr;
  if (!EPyMemoryView_FromObject) {
    RaisePythonError(e__PyExc_SystemError, "the Python library makes no memoryview");
    return nullptr;
  }
  ReferenceField& kept = EntityBufferDataOf(self)->view;
  const bool firstView = !kept;
  if (firstView) {
    ScopedReference view = ScopedReference::Adopt(EPyMemoryView_FromObject(object.Get()));
    if (!view) return nullptr;
    // Unless a BufferView that the exporter's code called kept one meanwhile.
    if (!kept) StoreReferenceField(kept, view.HandOver());
  }
  AcquiredBuffer writable(kept, PyBUF_C_CONTIGUOUS | PyBUF_WRITABLE | PyBUF_FORMAT);
  const bool refused = writable && RefuseObjectPointers(writable.View(), "BufferView");
  REALobjectStruct* block = writable && !refused ? REALPtrToMemoryBlock(writable.View().buf) : nullptr;
  if (writable && !refused && !block)
    RaisePythonError(e__PyExc_SystemError, "BufferView: the host made no MemoryBlock of a Ptr");
  // A refused first view keeps nothing exported; an earlier one stays for the blocks it gave.
  if (!block && firstView) ReleaseOwnedPythonRef(kept);
  return block;
}

// ---------------------------------------------------------------------------
// Views of a MemoryBlock.

// The size of one item of a struct format, as Python's struct module counts
// it; the format as bytes in `format`. 0 with Python's error set when the
// format is no struct format or describes no bytes.
int64_t ItemSizeOf(REALstringStruct* formatText, ScopedReference* format) {
  *format = ScopedReference();
  if (!HasPythonEntries(EPyBytes_FromStringAndSize, EPyImport_ImportModule, EPyObject_GetAttrString, EPy_BuildValue,
                        EPyObject_CallObject, EPyLong_AsLongLong)) {
    RaisePythonError(e__PyExc_SystemError, "the Python library cannot read a struct format");
    return 0;
  }
  HostStringBytes text(formatText, HostStringBytes::kUtf8);
  if (!text.Available()) {
    RaisePythonError(e__PyExc_UnicodeError, "the format cannot be converted to UTF-8 text");
    return 0;
  }
  const std::string_view chosen = text.Size() ? text.View() : std::string_view("B");  // bytes by default
  *format = ScopedReference::Adopt(EPyBytes_FromStringAndSize(chosen.data(), static_cast<Py_ssize_t>(chosen.size())));
  const ScopedReference structModule = ScopedReference::Adopt(*format ? EPyImport_ImportModule("struct") : nullptr);
  const ScopedReference calcsize =
      ScopedReference::Adopt(structModule ? EPyObject_GetAttrString(structModule.Get(), "calcsize") : nullptr);
  const ScopedReference arguments = ScopedReference::Adopt(calcsize ? EPy_BuildValue("(O)", format->Get()) : nullptr);
  const ScopedReference size =
      ScopedReference::Adopt(arguments ? EPyObject_CallObject(calcsize.Get(), arguments.Get()) : nullptr);
  const int64_t itemSize = size ? EPyLong_AsLongLong(size.Get()) : 0;
  if (size && itemSize <= 0)
    RaisePythonError(e__PyExc_ValueError, "the format \"", std::string(chosen), "\" describes no bytes");
  return itemSize > 0 ? itemSize : 0;
}

// A Python3Entity holding a memoryview of the block's bytes as items of the
// format: of a copy, or of the block's own memory (Shared).
template <bool Shared>
REALobjectStruct* FromMemoryBlock(REALobjectStruct* block, REALstringStruct* formatText) {
  if (!PythonIsRunning()) return nullptr;
  const char* member = Shared ? "FromMemoryBlockShared" : "FromMemoryBlock";
  if (RefuseNilBlock(block, member)) return nullptr;
  // Reading the format runs Python code, which may drop the last host reference to the block.
  const ScopedObject keptBlock = ScopedObject::Borrow(block);
  ScopedReference format;  // the exporter takes its own
  const int64_t itemSize = ItemSizeOf(formatText, &format);
  if (itemSize == 0 || !EPyMemoryView_FromObject) return nullptr;
  const BlockMemory memory = MemoryOf(block);
  if (memory.size < 0) {
    RaisePythonError(e__PyExc_ValueError, member, ": the MemoryBlock's size is unknown (a MemoryBlock of a Ptr)");
    return nullptr;
  }
  if (memory.size % itemSize != 0) {
    RaisePythonError(e__PyExc_ValueError, member, ": the MemoryBlock's ", std::to_string(memory.size),
                     " bytes are no whole number of ", std::to_string(itemSize), "-byte items");
    return nullptr;
  }
  if (!memory.address && memory.size > 0) {
    RaisePythonError(e__PyExc_SystemError, member, ": the host tells no address of the MemoryBlock");
    return nullptr;
  }
  const ExportedItems items{memory.size, itemSize, format.Get()};
  const ScopedReference exporter = ScopedReference::Adopt(Shared ? NewBlockExporter(block, memory.address, items)
                                                                 : NewCopyExporter(memory.address, items));
  if (!exporter) return nullptr;
  PyObjectRef view = EPyMemoryView_FromObject(exporter.Get());  // the view holds the exporter
  return view ? NewEntity(view) : nullptr;
}

}  // namespace

void EntityBuffersDestructor(REALobjectStruct* instance) { ReleaseOwnedPythonRef(EntityBufferDataOf(instance)->view); }

bool EntityHoldsBufferView(REALobjectStruct* instance) noexcept {
  const EntityBufferData* data = EntityBufferDataOf(instance);
  return data && data->view;
}

std::vector<REALproperty> EntityBufferProperties() {
  return {
      records::ReadOnlyProperty<BufferSize>(
          "BufferSize", "Integer",
          "The bytes of the held object's buffer (bytes, bytearray, memoryview, array.array, a numpy array...); -1 "
          "with a TypeError set for an object that exports no buffer, -1 when it holds none."),
      records::ReadOnlyProperty<BufferFormat>(
          "BufferFormat", "String",
          "The struct format of the buffer's items (\"B\", \"d\", \"<i\"...); empty with a TypeError set for an "
          "object that exports no buffer, empty when it holds none."),
      records::ReadOnlyProperty<BufferShape>(
          "BufferShape", "String",
          "The buffer's extents joined by commas (\"480,640,3\"); empty for a scalar, and with a TypeError set for an "
          "object that exports no buffer."),
  };
}

std::vector<REALmethodDefinition> EntityBufferMethods() {
  return {
      records::Method<CopyBuffer>(
          "CopyBuffer(into as MemoryBlock) as Integer",
          "Copies the buffer's bytes, in C order whatever its layout, to the start of the MemoryBlock and returns "
          "their number; -1 with an error set and nothing written when the block is Nil, too small or of unknown "
          "size, or the object exports no buffer or one of Python objects (format \"O\")."),
      records::Method<BufferView>(
          "BufferView() as MemoryBlock",
          "A MemoryBlock over the object's own memory, without a copy, valid while this entity lives and Python "
          "runs (its Size is -1: BufferSize tells); Nil with a BufferError set for a read-only or non-contiguous "
          "buffer, a TypeError for an object that exports none or one of Python objects (format \"O\")."),
  };
}

std::vector<REALmethodDefinition> EntityBufferSharedMethods() {
  return {
      records::Method<FromMemoryBlock<false>>(
          "FromMemoryBlock(block as MemoryBlock, format as String) as Python3Entity",
          "A Python memoryview of a copy of the block's bytes, as items of the struct format (\"B\" when empty), "
          "for numpy.frombuffer and the like; Nil with an error set for a Nil block, a block of unknown size, a "
          "format that is no struct format or whose items do not fill the block."),
      records::Method<FromMemoryBlock<true>>(
          "FromMemoryBlockShared(block as MemoryBlock, format as String) as Python3Entity",
          "A read-write Python memoryview over the block's own memory, without a copy, as items of the struct "
          "format; the block stays locked while Python holds any view of it, and must keep its size. Nil as for "
          "FromMemoryBlock."),
  };
}
