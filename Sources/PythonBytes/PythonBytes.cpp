// Python3Bytes: a Python bytes object, copied in from a String or a MemoryBlock and out again. Its record
// is declared with the others' in PythonValues/RegisteredRecords.h.

#include <cstring>

#include "Exceptions/Exceptions.h"
#include "HostHandles.h"
#include "PythonEntity/PythonEntity.h"
#include "PythonLibrary/PythonLoader.h"
#include "PythonRuntime/InterpreterState.h"
#include "PythonValues/PythonValues.h"
#include "Registration/ClassRecords.h"

namespace {

// The reference lives in the Python3EntityBase block, whose destructor releases it.
void PythonBytes_Destructor(REALobjectStruct*) noexcept {}

// Copies the bytes into a new Python bytes object. Python fills a null
// pointer's bytes with garbage, so such a pointer with bytes to copy leaves
// the wrapper holding nothing.
void Store(REALobjectStruct* self, const void* bytes, int64_t size) {
  if ((!bytes && size > 0) || !PythonIsRunning() || !EPyBytes_FromStringAndSize) return;
  ReplaceReferenceField(PythonEntityDataOf(self)->object,
                        EPyBytes_FromStringAndSize(static_cast<const char*>(bytes), static_cast<Py_ssize_t>(size)));
}

// The string's bytes as the host keeps them; the empty string may come as no
// string at all.
void PythonBytes_ConstructorString(REALobjectStruct* self, REALstringStruct* value) {
  HostStringBytes bytes(value, HostStringBytes::kAsStored);
  if (bytes.Available()) Store(self, bytes.Data(), static_cast<int64_t>(bytes.Size()));
}

void PythonBytes_ConstructorMemoryBlock(REALobjectStruct* self, REALobjectStruct* memoryBlock) {
  if (memoryBlock) Store(self, MemoryBlockAddress(memoryBlock), REALMemoryBlockGetSize(memoryBlock));
}

PyObjectRef HeldBytes(REALobjectStruct* self) {
  PyObjectRef bytes = PythonEntityObjectOf(self);
  return IsPythonBytes(bytes) && EPyBytes_Size && EPyBytes_AsString ? bytes : nullptr;
}

int64_t PythonBytes_Size(REALobjectStruct* self, intptr_t) {
  PyObjectRef bytes = HeldBytes(self);
  return bytes ? EPyBytes_Size(bytes) : 0;
}

// The raw bytes, claiming no text encoding.
REALstringStruct* PythonBytes_ToString(REALobjectStruct* self) {
  PyObjectRef bytes = HeldBytes(self);
  return bytes ? HostStringOfBytes(EPyBytes_AsString(bytes), EPyBytes_Size(bytes), kREALTextEncodingUnknown) : nullptr;
}

REALobjectStruct* PythonBytes_ToMemoryBlock(REALobjectStruct* self) {
  PyObjectRef bytes = HeldBytes(self);
  if (!bytes) return nullptr;
  const Py_ssize_t size = EPyBytes_Size(bytes);
  ScopedObject block = ScopedObject::Adopt(CreateMemoryBlock(size));
  if (!block.Get() || size == 0) return block.HandOver();
  void* memory = MemoryBlockAddress(block.Get());
  if (!memory) return nullptr;
  std::memcpy(memory, EPyBytes_AsString(bytes), static_cast<size_t>(size));
  return block.HandOver();
}

REALproperty PythonBytesProperties[] = {
    records::ReadOnlyProperty<PythonBytes_Size>("Size", "Int64",
                                                "The number of bytes; 0 when it holds no bytes object."),
};

REALmethodDefinition PythonBytesMethods[] = {
    records::Method<PythonBytes_ConstructorString>(
        "Constructor(value as String)",
        "Makes a Python bytes object of a copy of the String's bytes as stored, with no text conversion."),
    records::Method<PythonBytes_ConstructorMemoryBlock>(
        "Constructor(value as MemoryBlock)", "Makes a Python bytes object of a copy of the MemoryBlock's bytes."),
    records::Method<PythonBytes_ToString>(
        "ToString() as String", "A copy of the bytes as a String with no text encoding; empty when it holds none."),
    records::Method<PythonBytes_ToMemoryBlock>("ToMemoryBlock() as MemoryBlock",
                                               "A new MemoryBlock with a copy of the bytes; Nil when it holds none."),
};

}  // namespace

REALclassDefinition PythonBytesClass =
    records::ClassRecord("Python3Bytes", "Python3EntityBase", 0)
        .Describe("A Python bytes object: raw bytes, copied in from and out to Xojo.")
        .DestructorWithoutEntry<PythonBytes_Destructor>()
        .Properties(PythonBytesProperties)
        .Methods(PythonBytesMethods);
