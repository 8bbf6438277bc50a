// SampleHostUse: shared methods that use the host services the way the
// Python plugin does (and a few that misuse them, for the ledger tests).
#include "SampleRecords.h"

namespace sample {
namespace {

REALclassDefinition gHostUseClass;
REALobjectStruct* gKept = nullptr;  // one lock while kept

using GetStringData = RBBoolean (*)(REALstringStruct*, uint32_t, StringDataRecord*);
using DisposeStringData = void (*)(StringDataRecord*);
using InsertProc = void (*)(REALarrayStruct*, int64_t, REALobjectStruct*);
using GetProc = REALobjectStruct* (*)(REALarrayStruct*, int64_t);

bool stringData(REALstringStruct* s, StringDataRecord* record) {
  return hostEntry<GetStringData>("PluginGetStringData")(s, kREALTextEncodingUTF8, record) != 0;
}
void disposeStringData(StringDataRecord* record) { hostEntry<DisposeStringData>("PluginDisposeStringData")(record); }

int64_t utf8Length(REALstringStruct* s) {
  StringDataRecord record{};
  if (!stringData(s, &record)) return -1;
  int64_t length = static_cast<int64_t>(record.length);
  disposeStringData(&record);
  return length;
}

REALstringStruct* utf8Copy(REALstringStruct* s) {
  StringDataRecord record{};
  if (!stringData(s, &record)) return nullptr;
  REALstringStruct* copy = buildString(std::string(static_cast<const char*>(record.data), record.length));
  disposeStringData(&record);
  return copy;
}

void forgetStringData(REALstringStruct* s) {
  StringDataRecord record{};
  stringData(s, &record);
}

void disposeTwice(REALstringStruct* s) {
  StringDataRecord record{};
  if (!stringData(s, &record)) return;
  disposeStringData(&record);
  disposeStringData(&record);
}

void disposeUnfilled() {
  StringDataRecord record{};
  record.hostPrivate[0] = &record;
  disposeStringData(&record);
}

int64_t compare(REALstringStruct* a, REALstringStruct* b) {
  return hostEntry<int (*)(REALstringStruct*, REALstringStruct*)>("RuntimeStringCompare")(a, b);
}

int64_t byteLength(REALstringStruct* s) { return static_cast<int64_t>(bytesOf(s).size()); }

REALstringStruct* readString(REALobjectStruct* o, const char* name) {
  REALstringStruct* value = nullptr;
  auto read = hostEntry<RBBoolean (*)(REALobjectStruct*, const char*, REALstringStruct**)>("REALGetPropValueString");
  return read(o, name, &value) ? value : nullptr;
}

REALstringStruct* pathOf(REALobjectStruct* folder) { return readString(folder, "NativePath"); }
REALstringStruct* nameOf(REALobjectStruct* folder) { return readString(folder, "Name"); }

REALobjectStruct* parentOf(REALobjectStruct* folder) {
  REALobjectStruct* parent = nullptr;
  auto read = hostEntry<RBBoolean (*)(REALobjectStruct*, const char*, REALobjectStruct**)>("REALGetPropValueObject");
  return read(folder, "Parent", &parent) ? parent : nullptr;
}

int64_t flagsOf(REALobjectStruct* folder) {
  auto read = hostEntry<RBBoolean (*)(REALobjectStruct*, const char*, RBBoolean*)>("REALGetPropValueBool");
  RBBoolean exists = 0, directory = 0;
  if (!read(folder, "Exists", &exists) || !read(folder, "Directory", &directory)) return -1;
  return (exists ? 1 : 0) + (directory ? 2 : 0);
}

signed char readsProperty(REALobjectStruct* o, REALstringStruct* name) {
  REALstringStruct* value = readString(o, bytesOf(name).c_str());
  unlockString(value);
  return value != nullptr;
}

REALproc objectMethod(REALobjectStruct* o, const char* declaration) {
  return hostEntry<REALproc (*)(REALobjectStruct*, const char*)>("REALLoadObjectMethod")(o, declaration);
}

REALobjectStruct* makeBlock(int64_t size) {
  auto classRef = hostEntry<REALclassRefStruct* (*)(const char*)>("pluginObjectType")("MemoryBlock");
  REALobjectStruct* block = hostEntry<REALobjectStruct* (*)(REALclassRefStruct*)>("CreateInstance")(classRef);
  reinterpret_cast<void (*)(REALobjectStruct*, int64_t)>(objectMethod(block, "Constructor(bytes as Integer)"))(block,
                                                                                                               size);
  return block;
}

void fillBlock(REALobjectStruct* block, int64_t value) {
  auto bytes = reinterpret_cast<void* (*)(REALobjectStruct*)>(objectMethod(block, "Operator_Convert() As Ptr"))(block);
  int64_t size = hostEntry<int64_t (*)(REALobjectStruct*)>("memoryBlockGetSize")(block);
  for (int64_t i = 0; i < size; ++i) static_cast<unsigned char*>(bytes)[i] = static_cast<unsigned char>(value + i);
}

int64_t blockSize(REALobjectStruct* block) {
  return hostEntry<int64_t (*)(REALobjectStruct*)>("memoryBlockGetSize")(block);
}

REALobjectStruct* newArray() {
  auto create = hostEntry<REALarrayStruct* (*)(int32_t, int64_t)>("RuntimeArrayCreateSingleDimBoundedArray");
  return reinterpret_cast<REALobjectStruct*>(create(kREALObjectArrayType, -1));
}

int64_t upperBound(REALobjectStruct* array) {
  return hostEntry<int64_t (*)(REALarrayStruct*)>("RuntimeUBound")(reinterpret_cast<REALarrayStruct*>(array));
}

void append(REALobjectStruct* array, REALobjectStruct* item) {
  auto* a = reinterpret_cast<REALarrayStruct*>(array);
  InsertProc insert = hostEntry<InsertProc (*)(REALarrayStruct*)>("PluginObjectArrayInsertProc")(a);
  insert(a, upperBound(array) + 1, item);
}

int64_t count(REALobjectStruct* array) { return upperBound(array) + 1; }

REALobjectStruct* itemAt(REALobjectStruct* array, int64_t index) {
  auto* a = reinterpret_cast<REALarrayStruct*>(array);
  GetProc get = hostEntry<GetProc (*)(REALarrayStruct*)>("PluginObjectArrayGetProc")(a);
  return get(a, index);
}

void leak() { newInstance(&gBaseClass); }
void overRelease(REALobjectStruct* o) { unlockObject(o); }
void useDead() {
  REALobjectStruct* base = newInstance(&gBaseClass);
  unlockObject(base);
  lockObject(base);
}
void keep(REALobjectStruct* o) {
  lockObject(o);
  unlockObject(gKept);
  gKept = o;
}
void drop() {
  unlockObject(gKept);
  gKept = nullptr;
}
REALstringStruct* negativeLength() {
  return hostEntry<REALstringStruct* (*)(const char*, int, uint32_t)>("REALBuildStringWithEncoding")(
      "x", -1, kREALTextEncodingUTF8);
}

REALmethodDefinition gShared[] = {
    {proc(utf8Length), nullptr, "Utf8Length(s as String) as Integer", REALmemberFlags, 0, {}},
    {proc(utf8Copy), nullptr, "Utf8Copy(s as String) as String", REALmemberFlags, 0, {}},
    {proc(forgetStringData), nullptr, "ForgetStringData(s as String)", REALmemberFlags, 0, {}},
    {proc(disposeTwice), nullptr, "DisposeTwice(s as String)", REALmemberFlags, 0, {}},
    {proc(disposeUnfilled), nullptr, "DisposeUnfilled()", REALmemberFlags, 0, {}},
    {proc(compare), nullptr, "Compare(a as String, b as String) as Integer", REALmemberFlags, 0, {}},
    {proc(byteLength), nullptr, "ByteLength(s as String) as Integer", REALmemberFlags, 0, {}},
    {proc(pathOf), nullptr, "PathOf(f as FolderItem) as String", REALmemberFlags, 0, {}},
    {proc(nameOf), nullptr, "NameOf(f as FolderItem) as String", REALmemberFlags, 0, {}},
    {proc(parentOf), nullptr, "ParentOf(f as FolderItem) as FolderItem", REALmemberFlags, 0, {}},
    {proc(flagsOf), nullptr, "Flags(f as FolderItem) as Integer", REALmemberFlags, 0, {}},
    {proc(readsProperty), nullptr, "ReadsProperty(o as Object, name as String) as Boolean", REALmemberFlags, 0, {}},
    {proc(makeBlock), nullptr, "MakeBlock(size as Integer) as MemoryBlock", REALmemberFlags, 0, {}},
    {proc(fillBlock), nullptr, "FillBlock(m as MemoryBlock, value as Integer)", REALmemberFlags, 0, {}},
    {proc(blockSize), nullptr, "BlockSize(m as MemoryBlock) as Integer", REALmemberFlags, 0, {}},
    {proc(newArray), nullptr, "NewArray() as Object", REALmemberFlags, 0, {}},
    {proc(append), nullptr, "Append(a as Object, item as Object)", REALmemberFlags, 0, {}},
    {proc(count), nullptr, "Count(a as Object) as Integer", REALmemberFlags, 0, {}},
    {proc(itemAt), nullptr, "ItemAt(a as Object, index as Integer) as Object", REALmemberFlags, 0, {}},
    {proc(leak), nullptr, "Leak()", REALmemberFlags, 0, {}},
    {proc(overRelease), nullptr, "OverRelease(o as Object)", REALmemberFlags, 0, {}},
    {proc(useDead), nullptr, "UseDead()", REALmemberFlags, 0, {}},
    {proc(keep), nullptr, "Keep(o as Object)", REALmemberFlags, 0, {}},
    {proc(drop), nullptr, "Drop()", REALmemberFlags, 0, {}},
    {proc(negativeLength), nullptr, "NegativeLength() as String", REALmemberFlags, 0, {}},
};

}  // namespace

void registerHostUseClasses() {
  describeClass(gHostUseClass, "SampleHostUse", nullptr, 0);
  setSharedMethods(gHostUseClass, gShared);
  registerClass(gHostUseClass);
}

}  // namespace sample
